#pragma once
// An incoming chat request and our answer to it: whether it is shown at all,
// the question, and the connection back to the asking member's server that
// says yes (and receives the port of the chat it opened) or no.

#include <QByteArray>
#include <QObject>
#include <QTcpSocket>
#include <QTimer>

#include "community/ChatProtocol.h"

class ChatRequest : public QObject
{
    Q_OBJECT
public:
    enum class State { Idle, Asking, Accepting, Rejecting };
    // An answer that gets no reply within this time is given up silently.
    static constexpr int kAnswerTimeoutMs = 30000;
    // Bytes of a port reply at most.
    static constexpr qsizetype kMaxReply = 64;

    explicit ChatRequest(QObject* parent = nullptr);

    // A request arrived; true when it is to be shown (it replaces the one
    // shown). Dropped ones change nothing, and while an answer is on its way
    // a new request waits for nobody: it is dropped too.
    bool ask(const QString& request, const QString& peerAddress, bool behindRouter);
    const chat::Request& request() const { return m_request; }
    QString question() const { return chat::questionText(m_request); }
    State state() const { return m_state; }

    // "Yes" (we say who we are) and "No".
    void accept(const QString& accountName);
    void reject();

    QTcpSocket socket;
    QTimer answerTimer;
    void onAnswerTimeout();

signals:
    // Yes was answered with a chat port: open the chat there.
    void chatReady(const QString& address, quint16 port, const QString& peerName);
    // The answer is done with (sent, refused or failed): the window goes.
    void finished();

private:
    void answer(State how);
    void onConnected();
    void onReadyRead();
    void onClosed();
    void finish(std::optional<quint16> chatPort = std::nullopt);

    chat::Request m_request;
    State m_state = State::Idle;
    QByteArray m_line;
    QByteArray m_reply;
};
