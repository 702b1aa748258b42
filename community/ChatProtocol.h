#pragma once
// The texts of a chat between two members, as plain functions: the invitation
// address, the request the invited side receives and whether it is shown,
// the answer lines, and the lines of the conversation itself.

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>

namespace chat {

// Appended to a requester name without a point: the directory's member host.
QString memberHostSuffix();

// "user.domain", the member the invitation names.
QString targetName(const QString& user, const QString& domain);

// The invitation request on `serverHost`: s names the invited member, f is
// "_" + address + ":" + port + "_" + own member name. Every value is
// percent-encoded, so blanks, "&" or "#" in a name cannot change the request.
QUrl invitationUrl(const QString& serverHost, const QString& target, const QString& publicAddress,
                   quint16 port, const QString& accountName);

// What a "/CHATREQUEST_" request names: the asking member's HTTP server and name.
struct Request
{
    QString address;
    QString port;
    QString name;          // as received: the blank before the protocol word stays
    bool complete = false; // both separators, a port 1..65535, a sane name
    quint16 portNumber() const { return quint16(port.toUInt()); }
};

// `request` is the first request line without "GET /" and the protocol word:
// "CHATREQUEST_" + address + ":" + port + "_" + name + " ". The name is
// percent-decoded (names in any language arrive encoded as UTF-8).
Request parseRequest(const QString& request);

// True when the request must be ignored: incomplete, no peer address, or,
// unless we are behind a router, sent from another address than the one it names.
bool dropRequest(const Request& request, const QString& peerAddress, bool behindRouter);

// The question of the request window.
QString questionText(const Request& request);

// The name the chat window is given: a name without a point loses its
// trailing blank and gets the member host; others stay as they are.
QString chatPeerName(const QString& requesterName);

// The answer lines of the invited side.
QByteArray acceptLine(const QString& accountName);
QByteArray rejectLine();

// The chat port in the inviting side's reply ("3012" CR LF); none until a
// whole line is there or when it is not a port.
std::optional<quint16> parsePortReply(const QByteArray& reply);

// The name after "CHAT ACCEPT" as the chat window shows it: every CR and LF
// removed, at most kMaxNameChars.
constexpr int kMaxNameChars = 200;
QString cleanPeerName(const QString& name);

// What a conversation shows and sends.
QString historyHeader();
QString leftText(const QString& peerName);
QString lostText();
// One message on the wire: name + ": " + text, line breaks as CR LF, UTF-8.
QByteArray messageBytes(const QString& accountName, const QString& text);

} // namespace chat
