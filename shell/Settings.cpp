#include "shell/Settings.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString fold(const QString& s) { return s.toCaseFolded(); }

QString escape(const QString& s)
{
    QString out;
    out.reserve(s.size());
    for (QChar c : s) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        case 0:
            out += QLatin1String("\\0");
            break;
        default:
            out += c;
        }
    }
    return out;
}

bool unescape(QStringView s, QString& out)
{
    out.clear();
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); ++i) {
        QChar c = s[i];
        if (c != u'\\') {
            out += c;
            continue;
        }
        if (++i >= s.size())
            return false;
        switch (s[i].unicode()) {
        case '\\':
            out += u'\\';
            break;
        case 'n':
            out += u'\n';
            break;
        case 'r':
            out += u'\r';
            break;
        case 't':
            out += u'\t';
            break;
        case '0':
            out += QChar(0);
            break;
        case '=':
            out += u'=';
            break;
        case '[':
            out += u'[';
            break;
        default:
            return false;
        }
    }
    return true;
}

QString escapeKey(const QString& key)
{
    QString e = escape(key);
    e.replace(u'=', QLatin1String("\\="));
    if (e.startsWith(u'['))
        e.replace(0, 1, QLatin1String("\\["));
    return e;
}

// Position of the first '=' that is not escaped, or -1.
qsizetype findSeparator(QStringView line)
{
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == u'\\')
            ++i;
        else if (line[i] == u'=')
            return i;
    }
    return -1;
}

std::unique_ptr<Settings>& storeSlot()
{
    static std::unique_ptr<Settings> store;
    return store;
}

// Closes a file descriptor when it goes out of scope.
struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// Reads the file at `path` when it is a regular file of at most `limit` bytes.
// Missing files read as empty. False with `error` set otherwise; a FIFO or a
// device in its place never blocks.
bool readRegularFile(const QString& path, qint64 limit, QByteArray& bytes, bool& missing, QString& error)
{
    missing = false;
    Descriptor f{::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)};
    if (f.fd < 0) {
        if (errno == ENOENT) {
            missing = true;
            return true;
        }
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat st;
    if (::fstat(f.fd, &st) != 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = QStringLiteral("not a regular file");
        return false;
    }
    const QString tooLarge = QStringLiteral("larger than %1 KiB").arg(limit / 1024);
    if (st.st_size > limit) {
        error = tooLarge;
        return false;
    }
    bytes.resize(qsizetype(st.st_size) + 1);
    qsizetype got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > limit) {
                error = tooLarge; // it grew while being read
                return false;
            }
            bytes.resize(qMin<qsizetype>(limit + 1, got * 2 + 4096));
        }
        const ssize_t n = ::read(f.fd, bytes.data() + got, size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        if (n == 0)
            break;
        got += n;
    }
    bytes.truncate(got);
    return true;
}

// Holds an exclusive lock on the folder of the settings file while copies of
// the program read, change and replace the file, so no save is lost between
// one copy's read and another's rename. The file itself cannot carry the lock:
// every write replaces it.
class FolderLock
{
public:
    explicit FolderLock(const QString& folder)
        : m_fd{::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)}
    {
        if (m_fd.fd >= 0)
            while (::flock(m_fd.fd, LOCK_EX) != 0 && errno == EINTR) {
            }
    }

private:
    Descriptor m_fd; // closing it releases the lock
};

} // namespace

Settings::Settings(QString path, QObject* parent) : QObject(parent), m_path(std::move(path))
{
    load();
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &Settings::flush);
}

Settings::~Settings() { flush(); }

Settings& Settings::instance()
{
    auto& slot = storeSlot();
    if (!slot)
        slot = std::make_unique<Settings>(defaultPath(QStringLiteral("Vantora")));
    return *slot;
}

void Settings::usePath(const QString& path)
{
    auto& slot = storeSlot();
    slot.reset(); // writes what is pending to the old file first
    slot = std::make_unique<Settings>(path);
}

QString Settings::defaultPath(const QString& appName)
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QLatin1String("/.config");
    return base + u'/' + appName + u'/' + appName.toLower() + QLatin1String(".conf");
}

void Settings::reload()
{
    load();
    for (const auto& p : std::as_const(m_pending))
        apply(p[0], p[1], p[2]);
}

bool Settings::load()
{
    m_order.clear();
    m_sections.clear();
    m_corrupt = false;
    m_error.clear();

    QByteArray bytes;
    bool missing = false;
    if (!readRegularFile(m_path, MaxFileSize, bytes, missing, m_error)) {
        m_corrupt = true;
        qWarning(
            "settings: %s cannot be read (%s); defaults are used and the file is set aside at the next save",
            qPrintable(m_path), qPrintable(m_error));
        return false;
    }
    if (missing)
        return true;
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    if (decoder.hasError() || bytes.contains('\0')) {
        m_corrupt = true;
        m_error = QStringLiteral("not a text file");
        qWarning(
            "settings: %s is not a text file; defaults are used and the file is set aside at the next save",
            qPrintable(m_path));
        return false;
    }
    QList<QString> order;
    QHash<QString, Section> sections;
    Section* current = nullptr;
    int lineNo = 0;
    for (QStringView line : QStringView(text).split(u'\n')) {
        ++lineNo;
        if (line.endsWith(u'\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith(u'#') || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            if (!line.endsWith(u']')) {
                m_corrupt = true;
                break;
            }
            QString name;
            if (!unescape(line.mid(1, line.size() - 2), name)) {
                m_corrupt = true;
                break;
            }
            const QString f = fold(name);
            if (!sections.contains(f)) {
                order.append(f);
                sections.insert(f, Section{name, {}, {}});
            }
            current = &sections[f];
            continue;
        }
        const qsizetype eq = findSeparator(line);
        QString key, value;
        if (!current || eq <= 0 || !unescape(line.left(eq), key) || !unescape(line.mid(eq + 1), value)) {
            m_corrupt = true;
            break;
        }
        const QString fk = fold(key);
        if (!current->entries.contains(fk))
            current->order.append(fk);
        current->entries.insert(fk, Entry{key, value});
    }
    if (m_corrupt) {
        m_error = QStringLiteral("unreadable line %1").arg(lineNo);
        qWarning("settings: %s has an %s; defaults are used and the file is set aside at the next save",
                 qPrintable(m_path), qPrintable(m_error));
        return false;
    }
    m_order = std::move(order);
    m_sections = std::move(sections);
    return true;
}

QString Settings::value(const QString& section, const QString& key, const QString& fallback) const
{
    auto s = m_sections.constFind(fold(section));
    if (s == m_sections.constEnd())
        return fallback;
    auto e = s->entries.constFind(fold(key));
    return e == s->entries.constEnd() ? fallback : e->value;
}

int Settings::intValue(const QString& section, const QString& key, int fallback) const
{
    bool ok = false;
    const QString text = value(section, key, QString::number(fallback)).trimmed();
    const int v = text.toInt(&ok);
    if (ok)
        return v;
    const double d = text.toDouble(&ok);
    return ok && d > -2147483648.0 && d < 2147483648.0 ? qRound(d) : fallback;
}

double Settings::realValue(const QString& section, const QString& key, double fallback) const
{
    bool ok = false;
    const double v = value(section, key, QString::number(fallback)).trimmed().toDouble(&ok);
    return ok ? v : fallback;
}

bool Settings::boolValue(const QString& section, const QString& key, bool fallback) const
{
    return parseBool(value(section, key, fallback ? QStringLiteral("True") : QStringLiteral("False")),
                     fallback);
}

QString Settings::get(const SettingKey<const char*>& k) const
{
    return value(QLatin1String(k.section), QLatin1String(k.key), QString::fromUtf8(k.fallback));
}

QString Settings::get(const SettingKey<const char*>& k, const QString& fallback) const
{
    return value(QLatin1String(k.section), QLatin1String(k.key), fallback);
}

int Settings::get(const SettingKey<int>& k) const
{
    return intValue(QLatin1String(k.section), QLatin1String(k.key), k.fallback);
}

bool Settings::get(const SettingKey<bool>& k) const
{
    return boolValue(QLatin1String(k.section), QLatin1String(k.key), k.fallback);
}

double Settings::get(const SettingKey<double>& k) const
{
    return realValue(QLatin1String(k.section), QLatin1String(k.key), k.fallback);
}

void Settings::set(const SettingKey<const char*>& k, const QString& v)
{
    setValue(QLatin1String(k.section), QLatin1String(k.key), v);
}

void Settings::set(const SettingKey<int>& k, int v)
{
    setValue(QLatin1String(k.section), QLatin1String(k.key), QString::number(v));
}

void Settings::set(const SettingKey<bool>& k, bool v)
{
    setValue(QLatin1String(k.section), QLatin1String(k.key),
             v ? QStringLiteral("True") : QStringLiteral("False"));
}

void Settings::set(const SettingKey<double>& k, double v)
{
    setValue(QLatin1String(k.section), QLatin1String(k.key), QString::number(v));
}

StreamingAccount Settings::account() const
{
    return {get(setting::UserName), get(setting::Domain), get(setting::Password)};
}

void Settings::setAccount(const StreamingAccount& account)
{
    set(setting::UserName, account.userName);
    set(setting::Password, account.password);
    set(setting::Domain, account.domain);
}

void Settings::setValue(const QString& section, const QString& key, const QString& v)
{
    const bool differs = apply(section, key, v);
    // A value equal to what is in memory needs no write, unless the file does
    // not exist yet (the first save creates it) or an earlier write failed.
    if (!differs && m_pending.isEmpty() && QFileInfo::exists(m_path))
        return;
    m_pending.append({section, key, v});
    if (differs)
        emit changed(section, key);
    scheduleFlush();
}

void Settings::scheduleFlush()
{
    if (m_batchDepth > 0 || m_flushQueued || !QCoreApplication::instance())
        return;
    m_flushQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_flushQueued = false;
            if (m_batchDepth == 0)
                flush();
        },
        Qt::QueuedConnection);
}

bool Settings::flush()
{
    if (m_pending.isEmpty())
        return true;
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QDir().mkpath(folder)) {
        m_error = QStringLiteral("cannot create %1").arg(folder);
        emit writeFailed(m_error);
        return false;
    }
    const FolderLock lock(folder);
    // Another copy of the program may have saved since: start from what is on
    // disk so its values are not written over with old ones. (A stamp can look
    // unchanged when a freed inode is reused, so the file is always read.)
    reload();
    if (!write()) {
        emit writeFailed(m_error);
        return false;
    }
    m_pending.clear();
    return true;
}

bool Settings::apply(const QString& section, const QString& key, const QString& value)
{
    const QString fs = fold(section);
    if (!m_sections.contains(fs)) {
        m_order.append(fs);
        m_sections.insert(fs, Section{section, {}, {}});
    }
    Section& s = m_sections[fs];
    const QString fk = fold(key);
    auto e = s.entries.find(fk);
    if (e == s.entries.end()) {
        s.order.append(fk);
        s.entries.insert(fk, Entry{key, value});
    } else {
        if (e->value == value)
            return false;
        e->value = value; // the first spelling of the key stays
    }
    return true;
}

bool Settings::write()
{
    QFileInfo info(m_path);
    if (m_corrupt && (info.exists() || info.isSymLink())) {
        // Keep what could not be read instead of overwriting it.
        const QString aside = m_path + QLatin1String(".corrupt-") +
                              QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmss"));
        if (::rename(QFile::encodeName(m_path).constData(), QFile::encodeName(aside).constData()) != 0) {
            m_error = QStringLiteral("cannot set aside %1: %2")
                          .arg(m_path, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
    }

    QString text;
    for (const QString& fs : std::as_const(m_order)) {
        const Section& s = m_sections[fs];
        text += u'[' + escapeKey(s.name) + QLatin1String("]\n");
        for (const QString& fk : s.order) {
            const Entry& e = s.entries[fk];
            text += escapeKey(e.key) + u'=' + escape(e.value) + u'\n';
        }
        text += u'\n';
    }

    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly)) {
        m_error = file.errorString();
        return false;
    }
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray bytes = text.toUtf8();
    if (file.write(bytes) != bytes.size() || !file.commit()) {
        m_error = file.errorString();
        return false;
    }
    ++m_writes;
    m_corrupt = false;
    m_error.clear();
    return true;
}

SettingsBatch::SettingsBatch(Settings& settings) : m_settings(settings) { ++m_settings.m_batchDepth; }

SettingsBatch::~SettingsBatch()
{
    if (--m_settings.m_batchDepth == 0)
        m_settings.flush();
}

bool parseBool(const QString& text, bool fallback)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double v = t.toDouble(&ok);
    return ok ? v != 0 : fallback;
}
