#pragma once
// The streaming engine: exists while the program is online. It listens for
// browsers (one ClientConnection per connection), logs the member on to the
// directory service (trying again, less and less often, while it cannot be
// reached), checks that its port can be reached from outside, logs on again
// every fifth minute and logs off when asked. What happens is told
// through the OnlineSession signals; it touches no window.

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

#include "server/ClientConnection.h"
#include "server/DirectoryRequest.h"
#include "shell/OnlineSession.h"

class Capture;

class StreamingEngine : public OnlineSession
{
    Q_OBJECT
public:
    // Open connections at most, so a flood cannot use up the descriptors the
    // listener needs; at the cap the longest-waiting connection makes room.
    static constexpr int DefaultMaxHandlers = 256;
    static void setMaxHandlers(int count);
    static int maxHandlers();

    // `camera` gives the frames served; without one the reference size is served blank.
    explicit StreamingEngine(Capture* camera = nullptr, QObject* parent = nullptr);
    ~StreamingEngine() override;

    // Makes going online start this engine.
    static void registerFactory();
    // Where the listener binds when Streaming/ListenAddress is empty (any
    // IPv4 address unless set).
    static void setListenAddress(const QHostAddress& address);
    // Time source of the labels on served frames of engines made from now on.
    static void setClock(FrameComposer::Clock clock);
    // The port the listener asks for: the one given on the command line, else
    // the stored one, 2156 when none is stored.
    static int configuredPort();
    // A port for this run only (never stored); -1 goes back to the stored one.
    static void setPortOverride(int port);

    void start() override;
    void logOff() override;
    bool hasEnded() const override { return m_unloaded; }
    void reloadLabels();
    void unload();

    QTcpServer listener;
    QTcpSocket logonSocket;
    QTcpSocket reachabilitySocket;
    QTcpSocket logoffSocket;
    QTimer logonDelay;    // one-shot logon starter
    QTimer relogonTimer;  // minute timer of the periodic logon
    QTimer logonTimeout;  // a logon exchange that hangs ends here
    QTimer logonRetry;    // the next try after a failed logon
    QTimer logoffTimeout; // a log-off the directory never answers ends here
    int minutesSinceLogon = 0;
    int reachabilityToken = 0;
    int failedLogons = 0; // in a row; sets the back-off

    static constexpr int LogonTimeoutMs = 10000; // logon and log-off alike
    // Wait before the next try after `failures` failed logons in a row:
    // 15 s, doubling up to the five minutes of the periodic logon.
    static int retryDelayMs(int failures);

    void onLogonDelay();
    void onRelogonTick();
    void onLogonTimeout();
    void onLogonRetry();
    void onLogoffTimeout();
    void startLogon();

    bool listening() const { return listener.isListening(); }
    quint16 listenPort() const { return listener.serverPort(); }
    QSize referenceFrame() const { return m_state->referenceFrame; }
    const QList<TextLabel>& templates() const { return m_state->templates; }
    int liveHandlers() const { return m_state->liveHandlers; }
    const FrameComposer& composer() const { return m_state->composer; }
    bool awaitingBody() const { return m_answer.awaitingBody(); }
    // What the address link shows: where a viewer opens the camera.
    QString cameraAddress() const { return m_cameraAddress; }

signals:
    void logonSent(const QByteArray& request);
    void logonAnswered(logon::LogonAnswer::Verdict verdict);
    void checkFinished(const QString& verdict);
    void logoffSent(const QByteArray& request);
    // Each call of logOff, whatever it then does.
    void logOffRequested();
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
    void onLogoffError();
    void logonFailed(const QString& reason);
    void keepRelogonRunning();
    void showAddress(const QString& host, quint16 port);
    void refuse(OnlineSession::Refusal reason, const QString& label);
    void endRefused(OnlineSession::Refusal reason);
    void loadTemplates();
    void takeReferenceFrame();
    void connectToDirectory(QTcpSocket& socket);
    void bindSource(QTcpSocket& socket, const QString& destination) const;

    std::shared_ptr<ServingState> m_state;
    logon::LogonAnswer m_answer;
    QString m_cameraAddress;
    bool m_publicAddressKnown = false;
    bool m_listensEverywhere = false;
    QHostAddress m_sourceAddress; // null: the system picks
    bool m_unloaded = false;
};
