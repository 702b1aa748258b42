#pragma once
// Speaks to the directory service the way the clients do: one raw HTTP/1.0
// request on a fresh connection, read until the server closes it.

#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>

struct RawAnswer
{
    int status = 0;
    QByteArray body;
    bool closedByServer = false;
    QByteArray raw;
};

inline QByteArray clientRequest(quint16 port, const QByteArray& target)
{
    return "GET " + target + " HTTP/1.0\r\nAccept: */*\r\nUser-Agent: Vantora Client\r\nHost: 127.0.0.1:" +
           QByteArray::number(port) + "\r\n\r\n";
}

inline RawAnswer sendRaw(quint16 port, const QByteArray& bytes)
{
    RawAnswer a;
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(5000))
        return a;
    s.write(bytes);
    while (s.state() == QAbstractSocket::ConnectedState && s.waitForReadyRead(10000))
        a.raw += s.readAll();
    a.raw += s.readAll();
    a.closedByServer = s.state() != QAbstractSocket::ConnectedState;
    const qsizetype space = a.raw.indexOf(' ');
    if (a.raw.startsWith("HTTP/1.") && space > 0)
        a.status = a.raw.mid(space + 1, 3).toInt();
    const qsizetype end = a.raw.indexOf("\r\n\r\n");
    if (end >= 0)
        a.body = a.raw.mid(end + 4);
    return a;
}

inline RawAnswer rawGet(quint16 port, const QByteArray& target)
{
    return sendRaw(port, clientRequest(port, target));
}
