#include "server/DirectoryRequest.h"

#include <QUrl>

namespace logon {

QByteArray requestBytes(const QString& pathAndQuery, const QString& appName, const QString& serverHost)
{
    const QString text = QLatin1String("GET ") + pathAndQuery + QLatin1String(" HTTP/1.0\r\n") +
                         QLatin1String("Accept: */*\r\n") + QLatin1String("User-Agent: ") + appName +
                         QLatin1String(" Client\r\n") + QLatin1String("Host: ") + serverHost +
                         QLatin1String("\r\n\r\n");
    return text.toUtf8();
}

QString encodeValue(const QString& value)
{
    // Everything but unreserved characters, so ":" and "." of the address stay readable.
    return QString::fromLatin1(QUrl::toPercentEncoding(value, "-._~:"));
}

QString logonPath(const QString& account, const QString& password, const QString& localIp, quint16 port)
{
    return QLatin1String("/client_v3/logon.php?u=") + encodeValue(account) + QLatin1String("&p=") +
           encodeValue(password) + QLatin1String("&i=") + encodeValue(localIp + u':' + QString::number(port));
}

QString logoffPath(const QString& account, const QString& password)
{
    return QLatin1String("/client_v3/logoff.php?u=") + encodeValue(account) + QLatin1String("&p=") +
           encodeValue(password);
}

HostPort splitHostPort(const QString& text)
{
    HostPort r;
    QString portText;
    if (text.startsWith(u'[')) {
        const qsizetype close = text.indexOf(u']');
        if (close < 0) {
            r.host = text;
            return r;
        }
        r.host = text.mid(1, close - 1);
        if (text.mid(close + 1, 1) != QLatin1String(":"))
            return r;
        portText = text.mid(close + 2);
    } else {
        const qsizetype colon = text.lastIndexOf(u':');
        if (colon < 0) {
            r.host = text;
            return r;
        }
        r.host = text.left(colon);
        portText = text.mid(colon + 1);
    }
    portText = portText.trimmed();
    bool digitsOnly = !portText.isEmpty() && portText.size() <= 5;
    for (const QChar c : std::as_const(portText))
        digitsOnly = digitsOnly && c >= u'0' && c <= u'9';
    const uint port = digitsOnly ? portText.toUInt() : 0;
    r.port = port <= 65535 ? quint16(port) : 0;
    return r;
}

QString cameraUrl(const QString& host, quint16 port)
{
    const QString shown = host.contains(u':') ? u'[' + host + u']' : host;
    return QLatin1String("http://") + shown + u':' + QString::number(port) + u'/';
}

LogonAnswer::Result LogonAnswer::feed(const QByteArray& data, bool disableCheck)
{
    Result r;
    // Without a blank line the answer reader drops the first 3 characters.
    const qsizetype p = data.indexOf("\r\n\r\n");
    QByteArray body = p < 0 ? data.mid(3) : data.mid(p + 4);
    if (m_awaitingBody) {
        body = data;
        m_awaitingBody = false;
    }
    body.replace("\r\n", "");
    r.body = QString::fromLatin1(body);
    if (body.isEmpty()) {
        m_awaitingBody = true;
        r.verdict = Verdict::Waiting;
        return r;
    }
    if (body == "DB DOWN")
        r.verdict = Verdict::DbDown;
    else if (body == "USER")
        r.verdict = Verdict::User;
    else if (body == "PASS")
        r.verdict = Verdict::Pass;
    else if (disableCheck) {
        r.verdict = Verdict::NoCheck;
        const HostPort at = splitHostPort(r.body);
        if (at.port != 0 && !at.host.isEmpty()) {
            r.address = at.host;
            r.port = at.port;
        }
    } else if (body.size() > 6) {
        r.verdict = Verdict::Address;
        const HostPort at = splitHostPort(r.body);
        r.address = at.host;
        r.port = at.port;
    } else
        r.verdict = Verdict::Nothing;
    return r;
}

QByteArray checkLine(int checkId) { return "DIAG " + QByteArray::number(checkId) + "\r\n"; }

qint64 echoNumber(const QByteArray& echo)
{
    QByteArray rest = echo.mid(3);
    rest.replace("\r\n", "");
    bool ok = false;
    const qint64 n = rest.trimmed().toLongLong(&ok);
    return ok ? n : -1;
}

QString dbDownMessage()
{
    return QStringLiteral("Database is down.\r\n----------------------\r\n"
                          "Please try later again, contact support for more information");
}

QString refusedMessage(bool user)
{
    return (user ? QStringLiteral("Your username is incorrect.")
                 : QStringLiteral("Your password is incorrect.")) +
           QStringLiteral("\r\nPlease check your information.\r\nStreaming is disabled");
}

QString connectFailedMessage(const QString& reason)
{
    return QStringLiteral("Could not connect server\r\nReason: ") + reason;
}

QString checkMismatchMessage(const QString& site)
{
    return QStringLiteral("Streaming engine has found a problem. Server could not connect your computer. "
                          "Streaming may not work.\r\nPlease check if you are behind a network or firewall. "
                          "See our site [") +
           site + QStringLiteral("] for more information");
}

QString checkFailedMessage(const QString& reason, const QString& site)
{
    return QStringLiteral("Streaming engine has found a problem. Server could not connect your computer. "
                          "Streaming may not work. Reason: ") +
           reason +
           QStringLiteral("\r\nPlease check if you are behind a network or firewall. See our site [") + site +
           QStringLiteral("] for more information");
}

} // namespace logon
