#include "shell/Settings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QStringDecoder>
#include <memory>
#include <sys/stat.h>

namespace {

QString fold(const QString& s) { return s.toCaseFolded(); }

QString escape(const QString& s)
{
    QString out;
    out.reserve(s.size());
    for (QChar c : s) {
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\t': out += QLatin1String("\\t"); break;
        case 0: out += QLatin1String("\\0"); break;
        default: out += c;
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
        case '\\': out += u'\\'; break;
        case 'n': out += u'\n'; break;
        case 'r': out += u'\r'; break;
        case 't': out += u'\t'; break;
        case '0': out += QChar(0); break;
        case '=': out += u'='; break;
        case '[': out += u'['; break;
        default: return false;
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

std::unique_ptr<SettingsStore>& storeSlot()
{
    static std::unique_ptr<SettingsStore> store;
    return store;
}

} // namespace

SettingsStore::SettingsStore(QString path) : m_path(std::move(path)) { load(); }

QString SettingsStore::defaultPath(const QString& appName)
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    if (base.isEmpty())
        base = QDir::homePath() + QLatin1String("/.config");
    return base + u'/' + appName + u'/' + appName.toLower() + QLatin1String(".conf");
}

void SettingsStore::reload() { load(); }

QString SettingsStore::diskStamp() const
{
    // Every save replaces the file, so its inode changes with each write.
    struct stat st;
    if (::stat(QFile::encodeName(m_path).constData(), &st) != 0)
        return QString();
    return QStringLiteral("%1/%2/%3.%4")
        .arg(quint64(st.st_ino))
        .arg(qint64(st.st_size))
        .arg(qint64(st.st_mtim.tv_sec))
        .arg(qint64(st.st_mtim.tv_nsec));
}

bool SettingsStore::load()
{
    m_stamp = diskStamp();
    m_order.clear();
    m_sections.clear();
    m_corrupt = false;
    m_error.clear();

    QFile file(m_path);
    if (!file.exists())
        return true;
    if (!file.open(QIODevice::ReadOnly)) {
        m_corrupt = true;
        m_error = file.errorString();
        return false;
    }
    const QByteArray bytes = file.readAll();
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    if (decoder.hasError() || bytes.contains('\0')) {
        m_corrupt = true;
        m_error = QStringLiteral("not a text file");
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
        return false;
    }
    m_order = std::move(order);
    m_sections = std::move(sections);
    return true;
}

QString SettingsStore::value(const QString& section, const QString& key, const QString& def) const
{
    auto s = m_sections.constFind(fold(section));
    if (s == m_sections.constEnd())
        return def;
    auto e = s->entries.constFind(fold(key));
    return e == s->entries.constEnd() ? def : e->value;
}

bool SettingsStore::setValue(const QString& section, const QString& key, const QString& value)
{
    // Another copy of the program may have saved since: start from what is on
    // disk so its values are not written over with old ones.
    if (diskStamp() != m_stamp) {
        const auto unsaved = m_unsaved;
        load();
        for (const auto& u : unsaved)
            apply(u[0], u[1], u[2]);
    }
    if (!apply(section, key, value) && m_unsaved.isEmpty() && QFileInfo::exists(m_path))
        return true;
    if (write()) {
        m_unsaved.clear();
        return true;
    }
    m_unsaved.append({section, key, value});
    return false;
}

bool SettingsStore::apply(const QString& section, const QString& key, const QString& value)
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

bool SettingsStore::write()
{
    QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath())) {
        m_error = QStringLiteral("cannot create %1").arg(info.absolutePath());
        return false;
    }
    if (m_corrupt && info.exists()) {
        // Keep what could not be read instead of overwriting it.
        const QString aside = m_path + QLatin1String(".corrupt-")
            + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddHHmmss"));
        QFile::rename(m_path, aside);
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
    m_corrupt = false;
    m_error.clear();
    m_stamp = diskStamp();
    return true;
}

SettingsStore& settingsStore()
{
    auto& slot = storeSlot();
    if (!slot)
        slot = std::make_unique<SettingsStore>(SettingsStore::defaultPath(QStringLiteral("Vantora")));
    return *slot;
}

void setSettingsPath(const QString& path) { storeSlot() = std::make_unique<SettingsStore>(path); }

QString GetSetting(const QString& section, const QString& key, const QString& def)
{
    return settingsStore().value(section, key, def);
}

void SaveSetting(const QString& section, const QString& key, const QString& value)
{
    settingsStore().setValue(section, key, value);
}

int settingInt(const QString& section, const QString& key, int def)
{
    bool ok = false;
    const QString text = GetSetting(section, key, QString::number(def)).trimmed();
    const int v = text.toInt(&ok);
    if (ok)
        return v;
    const double d = text.toDouble(&ok);
    return ok && d > -2147483648.0 && d < 2147483648.0 ? qRound(d) : def;
}

double settingReal(const QString& section, const QString& key, double def)
{
    bool ok = false;
    const double v = GetSetting(section, key, QString::number(def)).trimmed().toDouble(&ok);
    return ok ? v : def;
}

bool parseBool(const QString& text, bool def)
{
    const QString t = text.trimmed();
    if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double v = t.toDouble(&ok);
    return ok ? v != 0 : def;
}

bool settingBool(const QString& section, const QString& key, bool def)
{
    return parseBool(GetSetting(section, key, def ? QStringLiteral("True") : QStringLiteral("False")), def);
}
