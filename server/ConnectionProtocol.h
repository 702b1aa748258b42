#pragma once
// What arrives on a served connection and what goes back, as plain functions:
// the handler window only moves bytes between these and its socket.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

namespace request {

enum class Kind {
    Diag,        // reachability check of our own engine: echo the number
    ChatReject,  // the invited member refused our chat request
    ChatAccept,  // the invited member accepted: hand over a chat port
    ChatRequest, // someone invites us: answer the chat page
    ChatRefused, // someone invites us while chat is off: "CHAT REJECT"
    Frame,       // everything else gets the current camera frame
};

// Order matters: "DIAG" first whatever chat says, then the two chat answers
// (prefixes of 11 characters), then "/CHATREQUEST_" anywhere in the data.
Kind classify(const QByteArray& data, bool chatDisabled);

// "OK " + data without its first 5 bytes + CR LF; empty when the check line is
// too short to hold a number (nothing is sent then).
QByteArray diagEcho(const QByteArray& data);

// The seven header lines of a frame response for a body of `length` bytes.
QByteArray frameHeader(qint64 length);
// Whole chat page response: header, body, and one more CR LF.
QByteArray chatPageResponse(const QString& appName);
QByteArray chatRejectReply();
// The name after "CHAT ACCEPT", untrimmed (names travel as UTF-8).
QString chatAcceptName(const QByteArray& data);
// The first line with its CR, every "GET /" removed, the last 9 characters
// dropped: "GET /CHATREQUEST_x HTTP/1.1" gives "CHATREQUEST_x ".
QString chatRequestString(const QByteArray& data);

// One piece of a connection's byte stream that gets one answer.
struct Piece
{
    QByteArray data;
    bool http = false;  // a whole HTTP request (line, header and body)
    bool head = false;  // HEAD: the answer's header only
    bool close = false; // HTTP/1.0 without keep-alive, or "Connection: close"
};

// Cuts the byte stream of one connection into the pieces that get one answer
// each, in time linear in the bytes fed. An HTTP request (method, target,
// "HTTP/") is collected up to the blank line that ends its header (CR LF or
// bare LF lines), so a request split over reads, even byte by byte, is answered
// once and pipelined requests are answered in order. Anything else ("DIAG",
// "CHAT ...", stray text) is answered as it arrives; a word that may still
// become a request line waits for more, or for flush().
class Collector
{
public:
    static constexpr qsizetype MaxHeader = 16 * 1024;
    static constexpr qsizetype MaxBody = 64 * 1024;

    // Appends one read; returns the pieces now complete, in order. Sets
    // overflow() when a header or body grows past its limit: close then.
    QList<Piece> feed(QByteArrayView data);
    bool overflow() const { return m_overflow; }
    qsizetype pending() const { return m_buffer.size() - m_start; }
    // True while the pending bytes may still turn out to be plain text (no
    // request line recognised yet): flush() answers them as they are.
    bool undecided() const { return pending() > 0 && m_phase < Phase::Header; }
    // The undecided pending bytes as one piece; nothing when there are none
    // or when they are the start of a request.
    QList<Piece> flush();

private:
    enum class Phase { Method, Target, Version, Header, Body };
    // Looks at the request that starts at m_start; false when it needs more bytes.
    bool step(QList<Piece>& pieces);
    void takeRest(QList<Piece>& pieces);
    void reset(qsizetype start);

    QByteArray m_buffer;
    qsizetype m_start = 0; // first byte of the current request
    qsizetype m_at = 0;    // next byte to look at
    Phase m_phase = Phase::Method;
    int m_matched = 0; // bytes of "HTTP/" seen
    qsizetype m_headerEnd = 0;
    qint64 m_bodyLength = 0;
    bool m_head = false;
    bool m_close = false;
    bool m_overflow = false;
};

} // namespace request
