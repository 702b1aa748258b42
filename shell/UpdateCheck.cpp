#include "shell/UpdateCheck.h"

#include "shell/Product.h"

#include <QStringDecoder>

namespace updatecheck {

namespace {

// Just past the first empty line at or after `from` (lines end in LF or CR
// LF), or -1.
qsizetype afterEmptyLine(const QByteArray& bytes, qsizetype from)
{
    qsizetype lineStart = from;
    for (;;) {
        const qsizetype lf = bytes.indexOf('\n', lineStart);
        if (lf < 0)
            return -1;
        const qsizetype length = lf - lineStart;
        if (length == 0 || (length == 1 && bytes.at(lineStart) == '\r'))
            return lf + 1;
        lineStart = lf + 1;
    }
}

QString decodeNotes(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(bytes);
    // Notes written in a Latin-1 editor still read as they were written.
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

// The announced body length, or -1.
qsizetype contentLength(const QByteArray& header)
{
    for (const QByteArray& line : header.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon < 0 || line.left(colon).trimmed().toLower() != "content-length")
            continue;
        bool ok = false;
        const qlonglong n = line.mid(colon + 1).trimmed().toLongLong(&ok);
        return ok && n >= 0 ? qsizetype(n) : -1;
    }
    return -1;
}

} // namespace

QByteArray request(const QString& serverHost)
{
    return "GET /autoupdate/autoupdate.txt HTTP/1.0\r\n"
           "Accept: */*\r\n"
           "User-Agent: VTR Webcam Client\r\n"
           "Host: " +
           serverHost.toLatin1() + "\r\n\r\n";
}

bool isVersion(const QString& text)
{
    const qsizetype point = text.indexOf(u'.');
    if (text.size() < 4 || point < 1 || point > 9 || point == text.size() - 1)
        return false;
    for (qsizetype i = 0; i < text.size(); ++i)
        if (i != point && !(text.at(i) >= u'0' && text.at(i) <= u'9'))
            return false;
    return true;
}

int compareVersions(const QString& a, const QString& b)
{
    const qsizetype pa = a.indexOf(u'.');
    const qsizetype pb = b.indexOf(u'.');
    const qulonglong majorA = a.left(pa).toULongLong();
    const qulonglong majorB = b.left(pb).toULongLong();
    if (majorA != majorB)
        return majorA < majorB ? -1 : 1;
    // Digits after the point compare as a fraction: pad to the same length.
    QString fa = a.mid(pa + 1);
    QString fb = b.mid(pb + 1);
    const qsizetype width = std::max(fa.size(), fb.size());
    fa = fa.leftJustified(width, u'0');
    fb = fb.leftJustified(width, u'0');
    return QString::compare(fa, fb);
}

std::optional<NewVersion> parse(const QByteArray& response, const QString& running)
{
    const qsizetype bodyAt = afterEmptyLine(response, 0);
    if (bodyAt < 0)
        return std::nullopt;
    // A page of another kind (404, a proxy's error) is no update file.
    if (response.startsWith("HTTP/")) {
        const QList<QByteArray> status = response.left(response.indexOf('\n')).simplified().split(' ');
        if (status.size() < 2 || status.at(1) != "200")
            return std::nullopt;
    }
    QByteArray body = response.mid(bodyAt);
    if (body.startsWith("\xEF\xBB\xBF")) // a byte order mark some editors write
        body.remove(0, 3);
    const qsizetype lineEnd = body.indexOf('\n');
    if (lineEnd < 0)
        return std::nullopt;
    QByteArray versionLine = body.left(lineEnd);
    if (versionLine.endsWith('\r'))
        versionLine.chop(1);
    const QString version = QString::fromLatin1(versionLine);
    if (!isVersion(version) || !isVersion(running) || compareVersions(version, running) <= 0)
        return std::nullopt;
    const qsizetype notesAt = afterEmptyLine(body, 0);
    // No empty line in the body: no notes (rather than a stray piece of the version).
    return NewVersion{version, notesAt < 0 ? QString() : decodeNotes(body.mid(notesAt))};
}

Fetch::Fetch(QObject* parent) : QObject(parent)
{
    timeout.setInterval(TimeoutMs);
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, this, &Fetch::onTimeout);
    connect(&socket, &QTcpSocket::connected, this, [this] { socket.write(request(m_serverHost)); });
    connect(&socket, &QTcpSocket::readyRead, this, &Fetch::onReadyRead);
    // HTTP/1.0: the server closing the connection ends the answer.
    connect(&socket, &QTcpSocket::disconnected, this, &Fetch::onClosed);
    connect(&socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            onClosed();
        else
            end();
    });
}

void Fetch::start(const QString& serverHost, const QString& running)
{
    m_active = false;
    socket.abort();
    m_answer.clear();
    m_serverHost = serverHost;
    m_running = running;
    m_active = true;
    timeout.start();
    socket.connectToHost(product::hostOf(serverHost), product::portOf(serverHost));
}

void Fetch::onReadyRead()
{
    if (!m_active)
        return;
    m_answer += socket.readAll();
    if (m_answer.size() > MaxBytes) {
        end();
        return;
    }
    const qsizetype bodyAt = afterEmptyLine(m_answer, 0);
    if (bodyAt < 0)
        return;
    const qsizetype length = contentLength(m_answer.left(bodyAt));
    if (length >= 0 && m_answer.size() - bodyAt >= length) {
        m_answer.truncate(bodyAt + length);
        judge();
    }
}

void Fetch::onTimeout() { end(); }

void Fetch::onClosed()
{
    // What came with the close belongs to the answer.
    if (m_active)
        m_answer += socket.readAll();
    if (m_answer.size() > MaxBytes)
        end();
    else
        judge();
}

void Fetch::judge()
{
    if (!m_active)
        return;
    if (const auto offer = parse(m_answer, m_running))
        emit offered(*offer);
    end();
}

void Fetch::end()
{
    if (!m_active)
        return;
    m_active = false;
    timeout.stop();
    socket.abort();
    m_answer.clear();
    emit finished();
}

} // namespace updatecheck
