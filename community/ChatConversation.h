#pragma once
// One conversation over a direct connection: the inviting side listens on a
// free port and takes the first connection, the invited side connects to it.
// What either user sends is their member name, ": " and the text, as UTF-8;
// what arrives is shown as it comes. A line and the history are bounded, so
// a peer cannot make us hold more than a little text.

#include <QHostAddress>
#include <QObject>
#include <QStringDecoder>
#include <QTcpServer>
#include <QTcpSocket>

class ChatConversation : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxInputChars = 500;
    // Characters of one received line kept; the rest of it is dropped.
    static constexpr int kMaxLineChars = 2048;
    // The history keeps the newest text up to this size.
    static constexpr qsizetype kMaxHistoryChars = 200000;

    explicit ChatConversation(QObject* parent = nullptr);
    ~ChatConversation() override;

    // Inviting side: listens on a free port of `address`; 0 when it cannot.
    quint16 listen(const QString& peerName, const QHostAddress& address = QHostAddress::Any);
    // Invited side.
    void connectTo(const QString& address, quint16 port, const QString& peerName);

    QString peerName() const { return m_peerName; }
    QString history() const { return m_history; }
    bool ended() const { return m_ended; }
    bool connected() const { return m_socket && m_socket->state() == QAbstractSocket::ConnectedState; }

    // Sends `text` (line breaks as "\n") under our own name and adds it to
    // the history; at most kMaxInputChars of it. Empty text sends nothing.
    void send(const QString& accountName, const QString& text);
    // The user closed the window: the peer sees us leave.
    void close();

signals:
    void appended(const QString& text);
    // The history lost text at its start: show history() anew.
    void historyReset();
    // The peer left or the connection broke: no more input.
    void conversationEnded();

private:
    void adopt(QTcpSocket* socket);
    void onNewConnection();
    void onReadyRead();
    void onDisconnected();
    void onError();
    void append(const QString& text);
    void end(const QString& text);

    QTcpServer m_server;
    QTcpSocket* m_socket = nullptr;
    QString m_peerName;
    QString m_history;
    QStringDecoder m_decoder{QStringDecoder::Utf8};
    int m_lineChars = 0; // characters of the current received line so far
    bool m_ended = false;
};
