#pragma once
// The streaming engine: an invisible window that exists while the program is
// online. It listens for browsers (one ClientConnection per connection), logs the member
// on to the directory service, checks that its port can be reached from
// outside, logs on again every fifth minute and logs off when asked.

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

#include "server/DirectoryRequest.h"
#include "shell/Seams.h"
#include "server/ClientConnection.h"

class StreamingEngine : public QObject, public EngineWindow
{
    Q_OBJECT
public:
    // Open connections at most, so a flood cannot use up the descriptors the
    // listener needs; at the cap the longest-waiting connection makes room.
    static constexpr int DefaultMaxHandlers = 256;
    static void setMaxHandlers(int count);
    static int maxHandlers();

    explicit StreamingEngine(QObject* parent = nullptr);
    ~StreamingEngine() override;

    // Makes the program load this engine when it goes online.
    static void registerFactory();
    // Where the listener binds when Streaming/ListenAddress is empty (any
    // IPv4 address unless set).
    static void setListenAddress(const QHostAddress& address);
    // Time source of the labels on served frames of engines loaded from now on.
    static void setClock(FrameComposer::Clock clock);

    void load() override;
    void logOff() override;
    void reloadLabels() override;
    void unload();

    QTcpServer listener; // listener
    QTcpSocket logonSocket; // logon
    QTcpSocket reachabilitySocket; // reachability check
    QTcpSocket logoffSocket; // logoff
    QTimer logonDelay;       // one-shot logon starter
    QTimer relogonTimer;       // minute timer of the periodic logon
    int minutesSinceLogon = 0;
    int reachabilityToken = 0;

    void onLogonDelay();
    void onRelogonTick();
    void startLogon();

    bool isUnloaded() const { return m_unloaded; }
    bool listening() const { return listener.isListening(); }
    quint16 listenPort() const { return listener.serverPort(); }
    QSize referenceFrame() const { return m_state->referenceFrame; }
    const QList<TextLabel>& templates() const { return m_state->templates; }
    int liveHandlers() const { return m_state->liveHandlers; }
    const FrameComposer& composer() const { return m_state->composer; }
    bool awaitingBody() const { return m_answer.awaitingBody(); }

signals:
    void logonSent(const QByteArray& request);
    void logonAnswered(logon::LogonAnswer::Verdict verdict);
    void checkFinished(const QString& verdict);
    void logoffSent(const QByteArray& request);
    void unloaded();
    void handlerCreated(ClientConnection* handler);

private:
    void onNewConnection();
    void onLogonConnected();
    void onLogonReadyRead();
    void onLogonError();
    void onReachabilityConnected();
    void onReachabilityReadyRead();
    void onReachabilityError();
    void onLogoffConnected();
    void onLogoffReadyRead();
    void refuse(bool user, const QString& label);
    void endOnline();
    void loadTemplates();
    void takeReferenceFrame();
    void connectToDirectory(QTcpSocket& socket);

    std::shared_ptr<ServingState> m_state;
    logon::LogonAnswer m_answer;
    bool m_unloaded = false;
};
