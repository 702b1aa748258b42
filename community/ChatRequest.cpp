#include "community/ChatRequest.h"

ChatRequest::ChatRequest(QObject* parent) : QObject(parent)
{
    answerTimer.setSingleShot(true);
    answerTimer.setInterval(kAnswerTimeoutMs);
    connect(&answerTimer, &QTimer::timeout, this, &ChatRequest::onAnswerTimeout);
    connect(&socket, &QTcpSocket::connected, this, &ChatRequest::onConnected);
    connect(&socket, &QTcpSocket::readyRead, this, &ChatRequest::onReadyRead);
    connect(&socket, &QTcpSocket::disconnected, this, &ChatRequest::onClosed);
    connect(&socket, &QTcpSocket::errorOccurred, this, &ChatRequest::onClosed);
}

bool ChatRequest::ask(const QString& request, const QString& peerAddress, bool behindRouter)
{
    if (m_state == State::Accepting || m_state == State::Rejecting)
        return false;
    const chat::Request r = chat::parseRequest(request);
    if (chat::dropRequest(r, peerAddress, behindRouter))
        return false;
    m_request = r;
    m_state = State::Asking;
    return true;
}

void ChatRequest::accept(const QString& accountName)
{
    m_line = chat::acceptLine(accountName);
    answer(State::Accepting);
}

void ChatRequest::reject()
{
    m_line = chat::rejectLine();
    answer(State::Rejecting);
}

void ChatRequest::answer(State how)
{
    if (m_state != State::Asking)
        return;
    m_state = how;
    m_reply.clear();
    socket.abort();
    answerTimer.start();
    socket.connectToHost(m_request.address, m_request.portNumber());
}

void ChatRequest::onConnected()
{
    socket.write(m_line);
    if (m_state == State::Rejecting) {
        // Sends the line, then closes; nothing comes back after a rejection.
        socket.disconnectFromHost();
    }
}

void ChatRequest::onReadyRead()
{
    m_reply += socket.read(kMaxReply - m_reply.size());
    if (m_state != State::Accepting)
        return;
    if (const std::optional<quint16> port = chat::parsePortReply(m_reply)) {
        finish(port);
        return;
    }
    if (m_reply.size() >= kMaxReply || m_reply.contains('\n'))
        finish();
}

void ChatRequest::onClosed()
{
    if (m_state == State::Accepting || m_state == State::Rejecting)
        finish();
}

void ChatRequest::onAnswerTimeout() { onClosed(); }

void ChatRequest::finish(std::optional<quint16> chatPort)
{
    const chat::Request r = m_request;
    m_state = State::Idle;
    answerTimer.stop();
    socket.abort();
    if (chatPort)
        emit chatReady(r.address, *chatPort, chat::chatPeerName(r.name));
    emit finished();
}
