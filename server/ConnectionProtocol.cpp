#include "server/ConnectionProtocol.h"

#include <cstring>

namespace request {

namespace {
const QByteArray crlf("\r\n");

bool isTokenChar(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           QByteArrayView("!#$%&'*+-.^_`|~").contains(c);
}

bool equalsFolded(QByteArrayView a, QByteArrayView lowerCase)
{
    if (a.size() != lowerCase.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != lowerCase[i])
            return false;
    }
    return true;
}

QByteArrayView trimmedView(QByteArrayView v)
{
    while (!v.isEmpty() && (v.front() == ' ' || v.front() == '\t' || v.front() == '\r'))
        v = v.sliced(1);
    while (!v.isEmpty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r'))
        v.chop(1);
    return v;
}

// What the answer depends on, read from a complete header in one pass.
struct HeaderFacts
{
    qint64 contentLength = 0; // -1: not a length
    bool head = false;
    bool close = false;
};

HeaderFacts readHeader(QByteArrayView header)
{
    HeaderFacts facts;
    const qsizetype firstEnd = header.indexOf('\n');
    const QByteArrayView requestLine = trimmedView(header.first(firstEnd < 0 ? header.size() : firstEnd));
    facts.head = requestLine.startsWith("HEAD ");
    const bool oldVersion = requestLine.endsWith(" HTTP/1.0");
    bool close = false;
    bool keepAlive = false;
    qsizetype at = firstEnd < 0 ? header.size() : firstEnd + 1;
    while (at < header.size()) {
        qsizetype end = header.indexOf('\n', at);
        if (end < 0)
            end = header.size();
        const QByteArrayView line = header.sliced(at, end - at);
        at = end + 1;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            continue;
        const QByteArrayView name = trimmedView(line.first(colon));
        const QByteArrayView value = trimmedView(line.sliced(colon + 1));
        if (equalsFolded(name, "content-length")) {
            bool ok = false;
            const qint64 n = value.toLongLong(&ok);
            facts.contentLength = ok && n >= 0 ? n : -1;
        } else if (equalsFolded(name, "connection")) {
            qsizetype from = 0;
            while (from <= value.size()) {
                qsizetype comma = value.indexOf(',', from);
                if (comma < 0)
                    comma = value.size();
                const QByteArrayView token = trimmedView(value.sliced(from, comma - from));
                close = close || equalsFolded(token, "close");
                keepAlive = keepAlive || equalsFolded(token, "keep-alive");
                from = comma + 1;
            }
        }
    }
    facts.close = close || (oldVersion && !keepAlive);
    return facts;
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
           "Content-Length: " +
           QByteArray::number(length) + "\r\n\r\n";
}

QByteArray chatPageResponse(const QString& appName)
{
    const QByteArray body =
        "<html><title>Vantora Chat Server</title><body>TRYING TO CONTACT CLIENT... <br><br> " +
        appName.toLatin1() + " passes your chat request on to the member you invited.</body></html>\r\n\r\n";
    return "HTTP/1.1 200 OK\r\n"
           "Server: Vantora HTTP Server\r\n"
           "Content-type: text/html \r\n"
           "Content-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body + crlf;
}

QByteArray chatRejectReply() { return "CHAT REJECT\r\n"; }

QString chatAcceptName(const QByteArray& data) { return QString::fromUtf8(data.mid(11)); }

QString chatRequestString(const QByteArray& data)
{
    const qsizetype eol = data.indexOf(crlf);
    QByteArray line = eol < 0 ? data : data.left(eol + 1);
    line.replace("GET /", "");
    line.chop(9);
    return QString::fromUtf8(line);
}

void Collector::reset(qsizetype start)
{
    m_start = start;
    m_at = start;
    m_phase = Phase::Method;
    m_matched = 0;
    m_headerEnd = 0;
    m_bodyLength = 0;
}

void Collector::takeRest(QList<Piece>& pieces)
{
    pieces.append(Piece{m_buffer.mid(m_start), false, false, false});
    reset(m_buffer.size());
}

QList<Piece> Collector::flush()
{
    QList<Piece> pieces;
    if (!undecided())
        return pieces;
    takeRest(pieces);
    m_buffer.clear();
    reset(0);
    return pieces;
}

bool Collector::step(QList<Piece>& pieces)
{
    const char* d = m_buffer.constData();
    const qsizetype size = m_buffer.size();
    // Every byte is looked at once: each phase goes on from m_at.
    auto needMore = [&] {
        if (size - m_start > MaxHeader && m_phase != Phase::Body)
            m_overflow = true;
        return false;
    };
    switch (m_phase) {
    case Phase::Method: {
        // The engine's own check and chat answers never wait for more data.
        const QByteArrayView rest(d + m_start, size - m_start);
        if (rest.startsWith("DIAG") || rest.startsWith("CHAT")) {
            takeRest(pieces);
            return false;
        }
        while (m_at < size && isTokenChar(d[m_at]))
            ++m_at;
        if (m_at == size)
            return needMore(); // a word so far: it may become a method
        if (d[m_at] != ' ' || m_at == m_start) {
            takeRest(pieces);
            return false;
        }
        ++m_at;
        m_phase = Phase::Target;
        [[fallthrough]];
    }
    case Phase::Target:
        while (m_at < size && d[m_at] != ' ' && d[m_at] != '\r' && d[m_at] != '\n')
            ++m_at;
        if (m_at == size)
            return needMore();
        // The method ends with one blank, so a blank before this one means no target.
        if (d[m_at] != ' ' || d[m_at - 1] == ' ') {
            takeRest(pieces);
            return false;
        }
        ++m_at;
        m_phase = Phase::Version;
        [[fallthrough]];
    case Phase::Version: {
        static constexpr char word[] = "HTTP/";
        while (m_matched < 5 && m_at < size) {
            if (d[m_at] != word[m_matched]) {
                takeRest(pieces);
                return false;
            }
            ++m_at;
            ++m_matched;
        }
        if (m_matched < 5)
            return needMore();
        m_phase = Phase::Header;
        [[fallthrough]];
    }
    case Phase::Header: {
        // The header ends with an empty line: LF LF or LF CR LF.
        qsizetype end = -1;
        while (end < 0) {
            const void* nl = m_at < size ? std::memchr(d + m_at, '\n', size_t(size - m_at)) : nullptr;
            if (!nl) {
                m_at = size;
                return needMore();
            }
            const qsizetype k = static_cast<const char*>(nl) - d;
            if (k + 1 < size && d[k + 1] == '\n') {
                end = k + 2;
            } else if (k + 2 < size && d[k + 1] == '\r' && d[k + 2] == '\n') {
                end = k + 3;
            } else if (k + 1 >= size || (d[k + 1] == '\r' && k + 2 >= size)) {
                m_at = k; // look at this line end again when more has come
                return needMore();
            } else {
                m_at = k + 1;
            }
        }
        if (end - m_start > MaxHeader) {
            m_overflow = true;
            return false;
        }
        const HeaderFacts facts = readHeader(QByteArrayView(d + m_start, end - m_start));
        if (facts.contentLength < 0 || facts.contentLength > MaxBody) {
            m_overflow = true;
            return false;
        }
        m_headerEnd = end;
        m_bodyLength = facts.contentLength;
        m_head = facts.head;
        m_close = facts.close;
        m_at = end;
        m_phase = Phase::Body;
        [[fallthrough]];
    }
    case Phase::Body: {
        const qsizetype end = m_headerEnd + qsizetype(m_bodyLength);
        if (size < end)
            return false;
        pieces.append(Piece{m_buffer.mid(m_start, end - m_start), true, m_head, m_close});
        reset(end);
        return true;
    }
    }
    return false;
}

QList<Piece> Collector::feed(QByteArrayView data)
{
    QList<Piece> pieces;
    if (m_overflow)
        return pieces;
    m_buffer.append(data);
    while (m_start < m_buffer.size() && step(pieces)) {
    }
    if (m_overflow) {
        m_buffer.clear();
        reset(0);
        return pieces;
    }
    // Drop what was answered; what stays came with this read or is one
    // unfinished request, so this stays linear too.
    if (m_start > 0) {
        const qsizetype done = m_start;
        m_buffer.remove(0, done);
        m_start = 0;
        m_at -= done;
        if (m_phase == Phase::Body)
            m_headerEnd -= done;
    }
    return pieces;
}

} // namespace request
