#include "community/ChatProtocol.h"

#include "shell/Product.h"

namespace chat {

namespace {
bool hasControl(const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}
} // namespace

QString memberHostSuffix() { return u'.' + product::accountDomains().value(0); }

QString targetName(const QString& user, const QString& domain) { return user + u'.' + domain; }

QUrl invitationUrl(const QString& serverHost, const QString& target, const QString& publicAddress,
                   quint16 port, const QString& accountName)
{
    QUrl url(QStringLiteral("http://") + serverHost + QStringLiteral("/client_v3/askchat.php"));
    const auto enc = [](const QString& v) { return QString::fromLatin1(QUrl::toPercentEncoding(v)); };
    const QString sender = u'_' + publicAddress + u':' + QString::number(port) + u'_' + accountName;
    url.setQuery(QStringLiteral("s=") + enc(target) + QStringLiteral("&f=") + enc(sender), QUrl::StrictMode);
    return url;
}

Request parseRequest(const QString& request)
{
    Request r;
    QString rest = request;
    rest.remove(QStringLiteral("CHATREQUEST_"));
    const qsizetype underscore = rest.indexOf(u'_');
    const QString host = underscore < 0 ? rest : rest.left(underscore);
    const qsizetype colon = host.indexOf(u':');
    r.address = colon < 0 ? host : host.left(colon);
    r.port = colon < 0 ? QString() : host.mid(colon + 1);
    if (underscore >= 0)
        r.name = QString::fromUtf8(QByteArray::fromPercentEncoding(rest.mid(underscore + 1).toUtf8()));
    bool portOk = false;
    const uint port = r.port.toUInt(&portOk);
    r.complete = underscore >= 0 && colon >= 0 && !r.address.isEmpty() && portOk && port > 0 &&
                 port < 65536 && !r.name.trimmed().isEmpty() && r.name.size() <= kMaxNameChars + 1 &&
                 !hasControl(r.name);
    return r;
}

bool dropRequest(const Request& request, const QString& peerAddress, bool behindRouter)
{
    if (!request.complete || peerAddress.isEmpty())
        return true;
    return !behindRouter && request.address != peerAddress;
}

QString questionText(const Request& request)
{
    QString text = QStringLiteral("$U want to chat with you. Do you accept this request?");
    return text.replace(QStringLiteral("$U"), request.name + QStringLiteral(" [") + request.address + u']');
}

QString chatPeerName(const QString& requesterName)
{
    if (requesterName.contains(u'.'))
        return requesterName;
    return requesterName.chopped(requesterName.isEmpty() ? 0 : 1) + memberHostSuffix();
}

QByteArray acceptLine(const QString& accountName) { return "CHAT ACCEPT" + accountName.toUtf8() + "\r\n"; }

QByteArray rejectLine() { return "CHAT REJECT\r\n"; }

std::optional<quint16> parsePortReply(const QByteArray& reply)
{
    const qsizetype end = reply.indexOf("\r\n");
    if (end < 0)
        return std::nullopt;
    bool ok = false;
    const uint port = reply.left(end).toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return std::nullopt;
    return quint16(port);
}

QString cleanPeerName(const QString& name)
{
    QString clean = name;
    clean.remove(u'\r');
    clean.remove(u'\n');
    if (clean.size() > kMaxNameChars) {
        clean.truncate(kMaxNameChars);
        if (clean.back().isHighSurrogate())
            clean.chop(1);
    }
    return clean;
}

QString historyHeader()
{
    const QString rule(29, u'-');
    return rule + QStringLiteral("\n Vantora Chat\n") + rule + u'\n';
}

QString leftText(const QString& peerName)
{
    return QStringLiteral("\n\n") + peerName + QStringLiteral(" has left the building...\n");
}

QString lostText() { return QStringLiteral("\n\nCONNECTION LOST\n"); }

QByteArray messageBytes(const QString& accountName, const QString& text)
{
    QString line = accountName + QStringLiteral(": ") + text;
    line.remove(u'\r');
    line.replace(u'\n', QStringLiteral("\r\n"));
    return line.toUtf8();
}

} // namespace chat
