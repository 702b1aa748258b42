#include "shell/Product.h"

namespace product {

QString defaultServerHost() { return QStringLiteral("directory.vantora.example"); }

QString serverHost()
{
    const QByteArray env = qgetenv("VANTORA_SERVER");
    return env.isEmpty() ? defaultServerHost() : QString::fromLocal8Bit(env).trimmed();
}

QString hostOf(const QString& host)
{
    const qsizetype colon = host.lastIndexOf(u':');
    return colon < 0 ? host : host.left(colon);
}

quint16 portOf(const QString& host)
{
    const qsizetype colon = host.lastIndexOf(u':');
    if (colon < 0)
        return 80;
    bool ok = false;
    const uint port = host.mid(colon + 1).toUInt(&ok);
    return ok && port > 0 && port < 65536 ? quint16(port) : 80;
}

QStringList accountDomains()
{
    return {QStringLiteral("vantora.example"), QStringLiteral("camfriends.example")};
}

QString pagePath(Page page)
{
    switch (page) {
    case Page::Help:
        return QStringLiteral("/help.html");
    case Page::Support:
        return QStringLiteral("/support.html");
    case Page::Terms:
        return QStringLiteral("/terms.html");
    case Page::Legal:
        return QStringLiteral("/legal.html");
    case Page::Download:
        return QStringLiteral("/download.html");
    case Page::Site:
        return QStringLiteral("/");
    }
    return QStringLiteral("/");
}

QUrl pageUrl(Page page) { return QUrl(QLatin1String("http://") + serverHost() + pagePath(page)); }

} // namespace product
