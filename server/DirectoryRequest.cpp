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
    else if (disableCheck)
        r.verdict = Verdict::NoCheck;
    else if (body.size() > 6) {
        r.verdict = Verdict::Address;
        const qsizetype colon = body.indexOf(':');
        r.address = QString::fromLatin1(colon < 0 ? body : body.left(colon));
        if (colon >= 0) {
            bool ok = false;
            const uint port = body.mid(colon + 1).trimmed().toUInt(&ok);
            r.port = ok && port <= 65535 ? quint16(port) : 0;
        }
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
