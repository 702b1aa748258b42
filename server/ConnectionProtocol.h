#pragma once
// What arrives on a served connection and what goes back, as plain functions:
// the handler window only moves bytes between these and its socket.

#include <QByteArray>
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
// The name after "CHAT ACCEPT", untrimmed.
QString chatAcceptName(const QByteArray& data);
// The first line with its CR, every "GET /" removed, the last 9 characters
// dropped: "GET /CHATREQUEST_x HTTP/1.1" gives "CHATREQUEST_x ".
QString chatRequestString(const QByteArray& data);

// Cuts the byte stream of one connection into the pieces that get one answer
// each. An HTTP request (method, target, "HTTP/") is collected up to the blank
// line that ends its header, so a request split over reads is answered once and
// pipelined requests are answered in order. Anything else ("DIAG", "CHAT ...",
// stray text) is answered per read, as it arrives.
class Collector
{
public:
    static constexpr qsizetype MaxHeader = 16 * 1024;
    static constexpr qsizetype MaxBody = 64 * 1024;

    // Appends one read; returns the pieces now complete, in order. Sets
    // overflow() when a header or body grows past its limit: close then.
    QList<QByteArray> feed(const QByteArray& data);
    bool overflow() const { return m_overflow; }
    qsizetype pending() const { return m_buffer.size(); }

    // Does `data` open like an HTTP request line? Yes, No, or Maybe when the
    // line is still incomplete and could become one.
    enum class Looks { Yes, No, Maybe };
    static Looks looksLikeHttp(const QByteArray& data);

private:
    QByteArray m_buffer;
    bool m_overflow = false;
};

} // namespace request
