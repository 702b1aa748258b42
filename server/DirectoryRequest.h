#pragma once
// Logon and logoff talk to the directory service as raw HTTP/1.0 requests on a
// plain socket. The framing and the reading of its answers live here, apart
// from the engine, so they can be checked byte by byte.

#include <QByteArray>
#include <QString>

namespace logon {

// The whole request for `pathAndQuery`, ready to send in one piece.
QByteArray requestBytes(const QString& pathAndQuery, const QString& appName, const QString& serverHost);

// Query values are percent-encoded (a blank or "&" in a name or password would
// otherwise break the request line); the service decodes them.
QString encodeValue(const QString& value);
QString logonPath(const QString& account, const QString& password, const QString& localIp, quint16 port);
QString logoffPath(const QString& account, const QString& password);

// "203.0.113.5:2156", "2001:db8::5:2156" or "[2001:db8::5]:2156": the port
// follows the last colon, so IPv6 addresses need no brackets. Port 0 when
// there is no valid port.
struct HostPort
{
    QString host;
    quint16 port = 0;
};
HostPort splitHostPort(const QString& text);
// The address a browser opens to see the camera at host and port.
QString cameraUrl(const QString& host, quint16 port);

// Reads the logon answer, which may come in more than one read.
class LogonAnswer
{
public:
    enum class Verdict {
        Waiting, // header without body yet: the next read is the body
        DbDown,
        User,
        Pass,
        NoCheck, // accepted, reachability check switched off (address filled when the body is one)
        Address, // accepted: check ourselves at address:port
        Nothing, // a short word (6 characters or fewer): no change
    };
    struct Result
    {
        Verdict verdict = Verdict::Nothing;
        QString body;
        QString address; // the public address, without brackets
        quint16 port = 0;
    };

    Result feed(const QByteArray& data, bool disableCheck);
    bool awaitingBody() const { return m_awaitingBody; }
    void reset() { m_awaitingBody = false; }

private:
    bool m_awaitingBody = false;
};

// The check line the engine sends to its own public address.
QByteArray checkLine(int checkId);
// The echo with its first 3 characters dropped and every CR LF removed, read as
// a number; -1 when it is no number.
qint64 echoNumber(const QByteArray& echo);

// Error window texts of the logon and the check.
QString dbDownMessage();
QString refusedMessage(bool user); // USER or PASS
QString connectFailedMessage(const QString& reason);
QString checkMismatchMessage(const QString& site);
QString checkFailedMessage(const QString& reason, const QString& site);

} // namespace logon
