#include "shell/UpdateCheck.h"

namespace updatecheck {

QByteArray request(const QString& serverHost)
{
    return "GET /autoupdate/autoupdate.txt HTTP/1.0\r\n"
           "Accept: */*\r\n"
           "User-Agent: VTR Webcam Client\r\n"
           "Host: " +
           serverHost.toLatin1() + "\r\n\r\n";
}

std::optional<NewVersion> parse(const QByteArray& response, const QString& running)
{
    // Every byte is one character, as the socket delivers it.
    const QString text = QString::fromLatin1(response);
    const QLatin1String blank("\r\n\r\n");
    const qsizetype headerEnd = text.indexOf(blank);
    if (headerEnd < 0)
        return std::nullopt;
    const QString body = text.mid(headerEnd + blank.size());
    const qsizetype cr = body.indexOf(u'\r');
    if (cr < 0)
        return std::nullopt;
    const QString version = body.left(cr);
    if (version.size() != 4)
        return std::nullopt;
    if (QString::compare(version, running, Qt::CaseSensitive) <= 0)
        return std::nullopt;
    const qsizetype notesAt = body.indexOf(blank);
    // No empty line in the body: no notes (rather than a stray piece of the version).
    return NewVersion{version, notesAt < 0 ? QString() : body.mid(notesAt + blank.size())};
}

} // namespace updatecheck
