#pragma once
// Helpers of the engine tests: a scripted stand-in for the directory service,
// and a browser-like client that reads whole responses, waiting on the event
// loop (the engine answers from the same thread).

#include <QByteArray>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <functional>
#include <turbojpeg.h>

// Accepts connections, collects each request up to its blank line, and
// answers with whatever the reply function returns (closing afterwards).
class StandInDirectory : public QObject
{
public:
    using Reply = std::function<QList<QByteArray>(const QByteArray& request)>;

    explicit StandInDirectory(Reply reply = {}) : m_reply(std::move(reply))
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection()) {
                s->setParent(this);
                connect(s, &QTcpSocket::readyRead, this, [this, s] {
                    QByteArray& buf = m_buffers[s];
                    buf += s->readAll();
                    if (!buf.contains("\r\n\r\n") || m_answered.contains(s))
                        return;
                    m_answered.append(s);
                    requests.append(buf);
                    current = s;
                    const QList<QByteArray> parts = m_reply ? m_reply(buf) : QList<QByteArray>{};
                    if (parts.isEmpty())
                        return; // keep it open without an answer
                    for (const QByteArray& part : parts)
                        s->write(part);
                    s->disconnectFromHost();
                });
            }
        });
    }

    quint16 port() const { return m_server.serverPort(); }
    QString hostPort() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }
    void setReply(Reply reply) { m_reply = std::move(reply); }

    QList<QByteArray> requests;
    QTcpSocket* current = nullptr;

private:
    QTcpServer m_server;
    Reply m_reply;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QList<QTcpSocket*> m_answered;
};

struct FrameResponse
{
    QByteArray header; // up to and including the blank line
    QByteArray body;
};

// Reads from `socket` until `count` complete frame responses (or something
// that is not one) arrived; `rest` gets what follows them.
inline QList<FrameResponse> readFrames(QTcpSocket& socket, int count, QByteArray* rest = nullptr,
                                       int timeoutMs = 10000)
{
    QByteArray buf;
    qsizetype start = 0; // parsed so far; dropped in large steps so long reads stay linear
    QList<FrameResponse> frames;
    auto parse = [&] {
        while (frames.size() < count) {
            const qsizetype end = buf.indexOf("\r\n\r\n", start);
            if (end < 0 || !QByteArrayView(buf).sliced(start).startsWith("HTTP/1.1 200 OK\r\n"))
                return false;
            const QByteArray header = buf.mid(start, end + 4 - start);
            const qsizetype at = header.indexOf("Content-Length: ");
            if (at < 0)
                return false;
            const qint64 length = header.mid(at + 16, header.indexOf("\r\n", at) - at - 16).toLongLong();
            if (buf.size() < end + 4 + length)
                return false;
            frames.append({header, buf.mid(end + 4, length)});
            start = end + 4 + length;
            if (start > (1 << 20)) {
                buf.remove(0, start);
                start = 0;
            }
        }
        return true;
    };
    // A time-out is not an error here: the caller checks what arrived.
    (void)QTest::qWaitFor(
        [&] {
            buf += socket.readAll();
            return parse();
        },
        timeoutMs);
    if (rest)
        *rest = buf.mid(start) + socket.readAll();
    return frames;
}

// Everything the peer sends until it closes the connection.
inline QByteArray readUntilClosed(QTcpSocket& socket, int timeoutMs = 10000)
{
    QByteArray buf;
    (void)QTest::qWaitFor(
        [&] {
            buf += socket.readAll();
            return socket.state() == QAbstractSocket::UnconnectedState;
        },
        timeoutMs);
    return buf + socket.readAll();
}

inline QSize jpegSize(const QByteArray& jpeg)
{
    tjhandle h = tjInitDecompress();
    int w = 0, hgt = 0, sub = 0, cs = 0;
    const int rc = tjDecompressHeader3(h, reinterpret_cast<const unsigned char*>(jpeg.constData()),
                                       static_cast<unsigned long>(jpeg.size()), &w, &hgt, &sub, &cs);
    tjDestroy(h);
    return rc == 0 ? QSize(w, hgt) : QSize();
}

inline QByteArray expectedHeader(qsizetype length)
{
    return "HTTP/1.1 200 OK\r\nServer: Vantora HTTP Server\r\nPragma: no-cache\r\nCache-Control: no-cache\r\n"
           "Content-type: image/jpeg \r\nContent-Length: " +
           QByteArray::number(length) + "\r\n\r\n";
}
