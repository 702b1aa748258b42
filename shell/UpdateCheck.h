#pragma once
// The once-per-run question to the directory service whether a newer program
// exists: the request it sends, how the answer is read, and the fetch that
// waits for the whole answer before judging it.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>
#include <optional>

namespace updatecheck {

// "GET /autoupdate/autoupdate.txt HTTP/1.0" with its headers, byte for byte.
QByteArray request(const QString& serverHost);

struct NewVersion
{
    QString version; // e.g. "2.32"
    QString notes;   // the release notes, unchanged
};

// A version text: digits, ".", digits, at least 4 characters ("2.31", "10.0", "10.01").
bool isVersion(const QString& text);
// Compares two version texts as numbers: the part before the point as a whole
// number, the digits after it as a decimal fraction (2.4 is 2.40). Negative,
// zero or positive; both must be versions.
int compareVersions(const QString& a, const QString& b);

// Reads a whole response (header and body; lines may end in CR LF or LF alone)
// and returns the offered version when it is newer than `running`. Notes are
// UTF-8, or Latin-1 when they are not valid UTF-8.
std::optional<NewVersion> parse(const QByteArray& response, const QString& running);

// Fetches the update file on a plain socket and judges the answer once it is
// whole: when the server closes, or when as many bytes as the header
// announces have come. A failure, a time-out or an oversized answer ends it
// silently.
class Fetch : public QObject
{
    Q_OBJECT
public:
    static constexpr int TimeoutMs = 30000;
    static constexpr qsizetype MaxBytes = 1 << 20;

    explicit Fetch(QObject* parent = nullptr);
    // Asks `serverHost` ("host" or "host:port") and compares with `running`.
    void start(const QString& serverHost, const QString& running);
    void onTimeout();

    QTcpSocket socket;
    QTimer timeout;

signals:
    void offered(const updatecheck::NewVersion& offer);
    // Every fetch ends with this, offer or not.
    void finished();

private:
    void onReadyRead();
    void onClosed();
    void judge();
    void end();

    QByteArray m_answer;
    QString m_serverHost;
    QString m_running;
    bool m_active = false;
};

} // namespace updatecheck
