#include "server/ConnectionProtocol.h"

namespace request {

namespace {
const QByteArray crlf("\r\n");

bool isTokenChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')
        || QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

// End of the header (index just past the blank line), or -1.
qsizetype headerEnd(const QByteArray& data)
{
    const qsizetype crlfEnd = data.indexOf("\r\n\r\n");
    const qsizetype lfEnd = data.indexOf("\n\n");
    if (crlfEnd < 0 && lfEnd < 0)
        return -1;
    if (lfEnd < 0 || (crlfEnd >= 0 && crlfEnd < lfEnd))
        return crlfEnd + 4;
    return lfEnd + 2;
}

qint64 contentLength(const QByteArray& header)
{
    const QList<QByteArray> lines = header.split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length") {
            bool ok = false;
            const qint64 n = line.mid(colon + 1).trimmed().toLongLong(&ok);
            return ok && n >= 0 ? n : -1;
        }
    }
    return 0;
}
} // namespace

Kind classify(const QByteArray& data, bool chatDisabled)
{
    if (data.startsWith("DIAG"))
        return Kind::Diag;
    const bool hasChatRequest = data.contains("/CHATREQUEST_");
    if (!chatDisabled) {
        const QByteArray head = data.left(11);
        if (head == "CHAT REJECT")
            return Kind::ChatReject;
        if (head == "CHAT ACCEPT")
            return Kind::ChatAccept;
        if (hasChatRequest)
            return Kind::ChatRequest;
        return Kind::Frame;
    }
    return hasChatRequest ? Kind::ChatRefused : Kind::Frame;
}

QByteArray diagEcho(const QByteArray& data)
{
    if (data.size() < 5)
        return {};
    return "OK " + data.mid(5) + crlf;
}

QByteArray frameHeader(qint64 length)
{
    return "HTTP/1.1 200 OK\r\n"
           "Server: Vantora HTTP Server\r\n"
           "Pragma: no-cache\r\n"
           "Cache-Control: no-cache\r\n"
           "Content-type: image/jpeg \r\n"
           "Content-Length: "
        + QByteArray::number(length) + "\r\n\r\n";
}

QByteArray chatPageResponse(const QString& appName)
{
    const QByteArray body = "<html><title>Vantora Chat Server</title><body>TRYING TO CONTACT CLIENT... <br><br> "
        + appName.toLatin1() + " passes your chat request on to the member you invited.</body></html>\r\n\r\n";
    return "HTTP/1.1 200 OK\r\n"
           "Server: Vantora HTTP Server\r\n"
           "Content-type: text/html \r\n"
           "Content-Length: "
        + QByteArray::number(body.size()) + "\r\n\r\n" + body + crlf;
}

QByteArray chatRejectReply() { return "CHAT REJECT\r\n"; }

QString chatAcceptName(const QByteArray& data) { return QString::fromLatin1(data.mid(11)); }

QString chatRequestString(const QByteArray& data)
{
    const qsizetype eol = data.indexOf(crlf);
    QByteArray line = eol < 0 ? data : data.left(eol + 1);
    line.replace("GET /", "");
    line.chop(9);
    return QString::fromLatin1(line);
}

Collector::Looks Collector::looksLikeHttp(const QByteArray& data)
{
    // method token
    qsizetype i = 0;
    while (i < data.size() && isTokenChar(data[i]))
        ++i;
    if (i == 0)
        return Looks::No;
    if (i == data.size())
        return Looks::No; // a bare word is answered as it is
    if (data[i] != ' ')
        return Looks::No;
    ++i;
    // target
    const qsizetype targetStart = i;
    while (i < data.size() && data[i] != ' ' && data[i] != '\r' && data[i] != '\n')
        ++i;
    if (i == data.size())
        return Looks::Maybe;
    if (data[i] != ' ' || i == targetStart)
        return Looks::No;
    // version
    static const QByteArray version(" HTTP/");
    const QByteArray rest = data.mid(i, version.size());
    if (rest == version)
        return Looks::Yes;
    return version.startsWith(rest) && i + rest.size() == data.size() ? Looks::Maybe : Looks::No;
}

QList<QByteArray> Collector::feed(const QByteArray& data)
{
    QList<QByteArray> pieces;
    if (m_overflow)
        return pieces;
    m_buffer += data;
    while (!m_buffer.isEmpty()) {
        // The engine's own check and chat answers never wait for more data.
        if (m_buffer.startsWith("DIAG") || m_buffer.startsWith("CHAT")) {
            pieces.append(m_buffer);
            m_buffer.clear();
            break;
        }
        const Looks looks = looksLikeHttp(m_buffer);
        if (looks == Looks::No) {
            pieces.append(m_buffer);
            m_buffer.clear();
            break;
        }
        const qsizetype end = looks == Looks::Yes ? headerEnd(m_buffer) : -1;
        if (end < 0) {
            if (m_buffer.size() > MaxHeader)
                m_overflow = true;
            break;
        }
        if (end > MaxHeader) {
            m_overflow = true;
            break;
        }
        const qint64 bodyLength = contentLength(m_buffer.left(end));
        if (bodyLength < 0 || bodyLength > MaxBody) {
            m_overflow = true;
            break;
        }
        if (m_buffer.size() < end + bodyLength)
            break;
        pieces.append(m_buffer.left(end + bodyLength));
        m_buffer.remove(0, end + bodyLength);
    }
    if (m_overflow)
        m_buffer.clear();
    return pieces;
}

} // namespace request
