#include "shell/CommandLine.h"

#include <QCommandLineParser>
#include <QUrl>

namespace cmdline {

namespace {
const QString portName = QStringLiteral("port");
const QString serverName = QStringLiteral("server");
} // namespace

void addOptions(QCommandLineParser& parser)
{
    parser.addOption({portName, QStringLiteral("Serve the camera on port N for this run (0: a free port)."),
                      QStringLiteral("N")});
    parser.addOption({serverName,
                      QStringLiteral("Log on to the directory service at HOST[:PORT] for this run."),
                      QStringLiteral("HOST[:PORT]")});
}

bool validPort(const QString& text, int* port, QString* error)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok);
    if (!ok || value < 0 || value > 65535) {
        *error = QStringLiteral("--port needs a number from 0 to 65535, not \"%1\"").arg(text);
        return false;
    }
    *port = value;
    return true;
}

bool validServer(const QString& text, QString* error)
{
    const auto fail = [&](const QString& why) {
        *error = QStringLiteral("--server needs HOST or HOST:PORT, not \"%1\": %2").arg(text, why);
        return false;
    };
    if (text.isEmpty())
        return fail(QStringLiteral("it is empty"));
    for (const QChar c : text) {
        if (c.isSpace() || c == u'/' || c == u'@' || c == u'?' || c == u'#' ||
            c.category() == QChar::Other_Control)
            return fail(QStringLiteral("it holds '%1'").arg(c.isSpace() ? QStringLiteral(" ") : QString(c)));
    }
    if (!text.startsWith(u'[') && text.count(u':') > 1)
        return fail(QStringLiteral("write an IPv6 address in brackets, [ADDRESS]:PORT"));
    const QUrl url(QLatin1String("http://") + text + u'/', QUrl::StrictMode);
    if (!url.isValid() || url.host().isEmpty())
        return fail(url.errorString().isEmpty() ? QStringLiteral("not a host name") : url.errorString());
    if (url.port() == 0 || text.endsWith(u':'))
        return fail(QStringLiteral("the port must be 1 to 65535"));
    return true;
}

bool read(const QCommandLineParser& parser, Options& options, QString* error)
{
    if (parser.isSet(portName)) {
        int port = 0;
        if (!validPort(parser.value(portName), &port, error))
            return false;
        options.port = port;
    }
    if (parser.isSet(serverName)) {
        const QString server = parser.value(serverName).trimmed();
        if (!validServer(server, error))
            return false;
        options.server = server;
    }
    return true;
}

} // namespace cmdline
