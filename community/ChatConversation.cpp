#include "community/ChatConversation.h"

#include "community/ChatProtocol.h"

ChatConversation::ChatConversation(QObject* parent) : QObject(parent), m_history(chat::historyHeader())
{
    connect(&m_server, &QTcpServer::newConnection, this, &ChatConversation::onNewConnection);
}

ChatConversation::~ChatConversation() { close(); }

quint16 ChatConversation::listen(const QString& peerName, const QHostAddress& address)
{
    m_peerName = peerName;
    m_server.setMaxPendingConnections(1);
    if (!m_server.listen(address, 0))
        return 0;
    return m_server.serverPort();
}

void ChatConversation::connectTo(const QString& address, quint16 port, const QString& peerName)
{
    m_peerName = peerName;
    auto* socket = new QTcpSocket(this);
    adopt(socket);
    socket->connectToHost(address, port);
}

void ChatConversation::adopt(QTcpSocket* socket)
{
    m_socket = socket;
    socket->setParent(this);
    connect(socket, &QTcpSocket::readyRead, this, &ChatConversation::onReadyRead);
    connect(socket, &QTcpSocket::disconnected, this, &ChatConversation::onDisconnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &ChatConversation::onError);
}

void ChatConversation::onNewConnection()
{
    QTcpSocket* socket = m_server.nextPendingConnection();
    // One connection per conversation: nobody else gets in after the first.
    m_server.close();
    if (!socket || m_socket || m_ended) {
        if (socket)
            socket->deleteLater();
        return;
    }
    adopt(socket);
    if (socket->bytesAvailable() > 0)
        onReadyRead();
}

void ChatConversation::onReadyRead()
{
    if (!m_socket)
        return;
    const QString text = m_decoder.decode(m_socket->readAll());
    // Lines are kept whole up to the cap; control characters other than line
    // breaks and tabs are not shown.
    QString shown;
    shown.reserve(text.size());
    for (QChar c : text) {
        if (c == u'\r')
            continue;
        if (c == u'\n') {
            m_lineChars = 0;
            shown += c;
            continue;
        }
        if ((c.unicode() < 0x20 && c != u'\t') || c.unicode() == 0x7f)
            continue;
        if (m_lineChars >= kMaxLineChars)
            continue;
        ++m_lineChars;
        shown += c;
    }
    if (!shown.isEmpty())
        append(shown);
}

void ChatConversation::append(const QString& text)
{
    m_history += text;
    if (m_history.size() > kMaxHistoryChars) {
        // Whole lines go from the start, the newest text stays.
        qsizetype cut = m_history.size() - kMaxHistoryChars;
        const qsizetype lineEnd = m_history.indexOf(u'\n', cut);
        if (lineEnd >= 0 && lineEnd - cut < kMaxLineChars)
            cut = lineEnd + 1;
        if (cut < m_history.size() && m_history.at(cut).isLowSurrogate())
            ++cut;
        m_history.remove(0, cut);
        emit historyReset();
        return;
    }
    emit appended(text);
}

void ChatConversation::send(const QString& accountName, const QString& text)
{
    if (text.isEmpty() || m_ended)
        return;
    // The line break of the Enter key stays even on a full box.
    QString body = text;
    const bool lineBreak = body.endsWith(u'\n');
    if (lineBreak)
        body.chop(1);
    if (body.size() > kMaxInputChars) {
        body.truncate(kMaxInputChars);
        if (body.back().isHighSurrogate())
            body.chop(1);
    }
    if (lineBreak)
        body += u'\n';
    if (connected())
        m_socket->write(chat::messageBytes(accountName, body));
    QString own = accountName + QStringLiteral(": ") + body;
    own.remove(u'\r');
    append(own);
}

void ChatConversation::end(const QString& text)
{
    if (m_ended)
        return;
    m_ended = true;
    append(text);
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
    emit conversationEnded();
}

void ChatConversation::onDisconnected()
{
    // What came with the close is shown before the farewell.
    if (m_socket && m_socket->bytesAvailable() > 0)
        onReadyRead();
    end(chat::leftText(m_peerName));
}

void ChatConversation::onError()
{
    if (m_socket && m_socket->error() == QAbstractSocket::RemoteHostClosedError)
        return; // the close follows
    end(chat::lostText());
}

void ChatConversation::close()
{
    m_server.close();
    if (m_socket && !m_ended) {
        m_ended = true;
        m_socket->disconnect(this);
        // What was written goes out first, then the peer sees us leave.
        m_socket->flush();
        m_socket->disconnectFromHost();
    }
}
