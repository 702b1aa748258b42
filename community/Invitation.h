#pragma once
// Inviting another member: the request to the directory, which sends us on
// to the invited member's own server, and the status texts the window shows.
// The request runs in the background; the window closes 1500 ms after it
// has come back, whatever the answer was.

#include <QObject>
#include <QString>
#include <QTimer>

class WebRequest;

class Invitation : public QObject
{
    Q_OBJECT
public:
    // Who we are, as the invited member's program will call back.
    struct Sender
    {
        QString serverHost;
        QString publicAddress;
        quint16 port = 0; // our HTTP server's listening port
        QString accountName;
    };
    enum class State { Idle, Sending, Sent };

    explicit Invitation(QObject* parent = nullptr);
    ~Invitation() override;

    // False (and nothing sent) when the user name is empty or a request is
    // running already.
    bool send(const QString& user, const QString& domain, const Sender& from);
    State state() const { return m_state; }
    QString status() const { return m_status; }
    QString lastUrl() const { return m_url; }
    void setTimeout(int ms) { m_timeoutMs = ms; }

    QTimer closeTimer; // one shot, 1500 ms after the answer
    void onCloseTick();

signals:
    void statusChanged(const QString& text);
    void closeWanted();

private:
    void setStatus(const QString& text);

    State m_state = State::Idle;
    QString m_status = QStringLiteral("Status: Idle");
    QString m_url;
    int m_timeoutMs = 30000;
    WebRequest* m_request = nullptr;
};
