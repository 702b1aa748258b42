#include "directory/MemberStore.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUrlQuery>
#include <QVariant>
#include <atomic>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

namespace directory {

namespace {
std::atomic<quint64> nextSerial{1};
std::atomic<quint64> nextConnection{1};

const char* const kSchema = "CREATE TABLE IF NOT EXISTS members ("
                            " name_key VARCHAR(200) NOT NULL PRIMARY KEY,"
                            " name VARCHAR(200) NOT NULL,"
                            " domain VARCHAR(100) NOT NULL,"
                            " email_key VARCHAR(200) UNIQUE,"
                            " email VARCHAR(200),"
                            " full_name VARCHAR(200),"
                            " adult INTEGER NOT NULL DEFAULT 0,"
                            " password_hash VARCHAR(255) NOT NULL,"
                            " created_ms BIGINT NOT NULL,"
                            " address VARCHAR(64),"
                            " port INTEGER NOT NULL DEFAULT 0,"
                            " last_logon_ms BIGINT NOT NULL DEFAULT 0,"
                            " online INTEGER NOT NULL DEFAULT 0)";

const char* const kColumns =
    "name, domain, email, full_name, adult, password_hash, created_ms, address, port,"
    " last_logon_ms, online";

Member readMember(const QSqlQuery& q)
{
    Member m;
    m.name = q.value(0).toString();
    m.domain = q.value(1).toString();
    m.email = q.value(2).toString();
    m.fullName = q.value(3).toString();
    m.adult = q.value(4).toInt() != 0;
    m.passwordHash = q.value(5).toString().toLatin1();
    m.createdMs = q.value(6).toLongLong();
    m.address = q.value(7).toString();
    m.port = q.value(8).toInt();
    m.lastLogonMs = q.value(9).toLongLong();
    m.online = q.value(10).toInt() != 0;
    return m;
}
} // namespace

// One thread's connection; removed on the thread that made it when the thread
// or the store ends.
struct MemberStore::Connection
{
    QString name;
    bool ready = false;
    QString error;
    // The two statements every logon runs, compiled once per connection.
    std::optional<QSqlQuery> findQuery;
    std::optional<QSqlQuery> presenceQuery;
    std::optional<QSqlQuery> presenceIfHashQuery;

    ~Connection()
    {
        findQuery.reset();
        presenceQuery.reset();
        presenceIfHashQuery.reset();
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name);
    }
    QSqlDatabase db() const { return QSqlDatabase::database(name, false); }
};

namespace {
thread_local std::unordered_map<quint64, std::unique_ptr<MemberStore::Connection>> t_connections;
}

MemberStore::MemberStore(const QString& location, const QString& driver, int busyTimeoutMs)
    : m_path(location), m_driver(!driver.isEmpty()      ? driver
                                 : isPostgres(location) ? QStringLiteral("QPSQL")
                                                        : QStringLiteral("QSQLITE")),
      m_sqlite(m_driver == QLatin1String("QSQLITE")), m_busyTimeoutMs(busyTimeoutMs), m_serial(nextSerial++)
{}

bool MemberStore::isPostgres(const QString& location)
{
    return location.startsWith(QLatin1String("postgresql://")) ||
           location.startsWith(QLatin1String("postgres://"));
}

QString MemberStore::checkLocation(const QString& location)
{
    if (!isPostgres(location))
        return {};
    const QUrl url(location, QUrl::StrictMode);
    if (!url.isValid())
        return QStringLiteral("not a valid postgresql:// address");
    if (url.path().size() < 2)
        return QStringLiteral(
            "the postgresql:// address names no database (postgresql://user@host/database)");
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return QStringLiteral("Qt's PostgreSQL driver is not installed (Debian package libqt6sql6-psql)");
    return {};
}

QString MemberStore::displayLocation() const
{
    if (!isPostgres(m_path))
        return m_path;
    QUrl url(m_path);
    if (!url.password().isEmpty())
        url.setPassword(QStringLiteral("*"));
    return url.toString();
}

QStringList MemberStore::widerModes(const QString& location)
{
    QStringList out;
    if (isPostgres(location) || location.isEmpty())
        return out;
    for (const char* suffix : {"", "-wal", "-shm"}) {
        const QString file = location + QLatin1String(suffix);
        struct stat st
        {
        };
        if (::stat(QFile::encodeName(file).constData(), &st) == 0 && S_ISREG(st.st_mode) &&
            (st.st_mode & (S_IRWXG | S_IRWXO)) != 0)
            out << QStringLiteral(
                       "%1 may be read by other users (mode %2); it holds password hashes and e-mail "
                       "addresses: chmod 600 it")
                       .arg(file)
                       .arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    }
    return out;
}

MemberStore::~MemberStore() { t_connections.erase(m_serial); }

MemberStore::Connection* MemberStore::connection()
{
    auto& slot = t_connections[m_serial];
    if (!slot) {
        slot = std::make_unique<Connection>();
        slot->name = QStringLiteral("vantora-directory-%1").arg(nextConnection++);
        QSqlDatabase db = QSqlDatabase::addDatabase(m_driver, slot->name);
        if (isPostgres(m_path)) {
            const QUrl url(m_path);
            db.setHostName(url.host());
            if (url.port() > 0)
                db.setPort(url.port());
            db.setUserName(url.userName());
            db.setPassword(url.password());
            db.setDatabaseName(url.path().mid(1));
            // Anything in the query goes to libpq as is ("host=/run/postgresql"
            // for a socket folder, "sslmode=require").
            QStringList options;
            for (const auto& [key, value] : QUrlQuery(url).queryItems(QUrl::FullyDecoded))
                options << key + u'=' + value;
            db.setConnectOptions(options.join(u';'));
        } else {
            db.setDatabaseName(m_path);
        }
        if (m_sqlite)
            db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(m_busyTimeoutMs));
    }
    Connection* c = slot.get();
    if (c->ready)
        return c;
    // Not open yet, or the last attempt failed: try again, so a store that comes
    // back (disk space freed, folder made) serves without a restart.
    QSqlDatabase db = c->db();
    if (m_sqlite && !m_path.isEmpty() && m_path != QLatin1String(":memory:")) {
        // Made owner-only before SQLite sees it: it holds password hashes and
        // e-mail addresses, and SQLite gives its -wal and -shm files the same mode.
        const int fd =
            ::open(QFile::encodeName(m_path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0)
            ::close(fd);
    }
    if (!db.isOpen() && !db.open()) {
        c->error =
            QStringLiteral("cannot open database %1: %2").arg(displayLocation(), db.lastError().text());
        return c;
    }
    QSqlQuery q(db);
    if (m_sqlite) {
        q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        q.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
        // Pages come from a shared mapping instead of a read call each time
        // another connection's write made this one's cache stale.
        q.exec(QStringLiteral("PRAGMA mmap_size=268435456"));
    }
    if (!q.exec(QString::fromLatin1(kSchema))) {
        c->error =
            QStringLiteral("cannot create schema in %1: %2").arg(displayLocation(), q.lastError().text());
        db.close();
        return c;
    }
    c->findQuery.emplace(db);
    c->presenceQuery.emplace(db);
    c->presenceIfHashQuery.emplace(db);
    if (!c->findQuery->prepare(
            QStringLiteral("SELECT %1 FROM members WHERE name_key = ?").arg(QLatin1String(kColumns))) ||
        !c->presenceQuery->prepare(
            QStringLiteral("UPDATE members SET address = ?, port = ?, last_logon_ms = ?,"
                           " online = 1 WHERE name_key = ?")) ||
        !c->presenceIfHashQuery->prepare(
            QStringLiteral("UPDATE members SET address = ?, port = ?, last_logon_ms = ?,"
                           " online = 1 WHERE name_key = ? AND password_hash = ?"))) {
        c->error = QStringLiteral("cannot prepare queries on %1: %2")
                       .arg(displayLocation(), c->findQuery->lastError().text());
        c->findQuery.reset();
        c->presenceQuery.reset();
        c->presenceIfHashQuery.reset();
        db.close();
        return c;
    }
    c->ready = true;
    c->error.clear();
    return c;
}

bool MemberStore::open()
{
    std::unique_lock lock(m_writeLock, std::defer_lock);
    if (m_sqlite)
        lock.lock();
    return connection()->ready;
}

QString MemberStore::lastError() const
{
    auto it = t_connections.find(m_serial);
    return it == t_connections.end() || !it->second ? QString() : it->second->error;
}

MemberStore::Lookup MemberStore::find(const QString& name, Member* out)
{
    Connection* c = connection();
    if (!c->ready)
        return Lookup::Failed;
    QSqlQuery& q = *c->findQuery;
    q.bindValue(0, keyFor(name));
    if (!q.exec()) {
        c->error = q.lastError().text();
        return Lookup::Failed;
    }
    Lookup result = Lookup::Missing;
    if (q.next()) {
        if (out)
            *out = readMember(q);
        result = Lookup::Found;
    }
    // Ends the read so the connection holds no snapshot between requests.
    q.finish();
    return result;
}

MemberStore::AddResult MemberStore::add(const Member& m)
{
    std::unique_lock lock(m_writeLock, std::defer_lock);
    if (m_sqlite)
        lock.lock();
    Connection* c = connection();
    if (!c->ready)
        return AddResult::Failed;
    QSqlDatabase db = c->db();
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT 1 FROM members WHERE name_key = ?"));
    q.addBindValue(keyFor(m.name));
    if (!q.exec()) {
        c->error = q.lastError().text();
        return AddResult::Failed;
    }
    if (q.next())
        return AddResult::NameInUse;
    const QVariant emailKey = m.email.isEmpty() ? QVariant() : QVariant(m.email.toLower());
    if (!m.email.isEmpty()) {
        q.prepare(QStringLiteral("SELECT 1 FROM members WHERE email_key = ?"));
        q.addBindValue(emailKey);
        if (!q.exec()) {
            c->error = q.lastError().text();
            return AddResult::Failed;
        }
        if (q.next())
            return AddResult::EmailInUse;
    }
    q.prepare(
        QStringLiteral("INSERT INTO members (name_key, name, domain, email_key, email, full_name, adult,"
                       " password_hash, created_ms) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    q.addBindValue(keyFor(m.name));
    q.addBindValue(m.name);
    q.addBindValue(m.domain);
    q.addBindValue(emailKey);
    q.addBindValue(m.email);
    q.addBindValue(m.fullName);
    q.addBindValue(m.adult ? 1 : 0);
    q.addBindValue(QString::fromLatin1(m.passwordHash));
    q.addBindValue(m.createdMs);
    if (!q.exec()) {
        // Another process may have taken the name or address in between.
        c->error = q.lastError().text();
        const QString why = q.lastError().text();
        Member other;
        if (find(m.name, &other) == Lookup::Found)
            return AddResult::NameInUse;
        if (!m.email.isEmpty()) {
            q.prepare(QStringLiteral("SELECT 1 FROM members WHERE email_key = ?"));
            q.addBindValue(emailKey);
            if (q.exec() && q.next())
                return AddResult::EmailInUse;
        }
        c->error = why;
        return AddResult::Failed;
    }
    return AddResult::Created;
}

struct MemberStore::PresenceBatch
{
    struct Presence
    {
        QString key;
        QString address;
        int port = 0;
        qint64 lastLogonMs = 0;
        QByteArray expectedHash; // empty: written whatever the hash
        bool written = false;
    };
    // In arrival order, one per caller: two callers for the same member each
    // get their own outcome, and the later one's values stay.
    std::vector<Presence> rows;
    bool done = false;
    // Wakes only this batch's callers: all of them once it is written, one of
    // them to write it once the batch before it is done.
    std::condition_variable wake;
    QString error;
};

bool MemberStore::setPresence(const QString& name, const QString& address, int port, qint64 lastLogonMs)
{
    return setPresenceIfHash(name, QByteArray(), address, port, lastLogonMs) == Write::Written;
}

MemberStore::Write MemberStore::setPresenceIfHash(const QString& name, const QByteArray& passwordHash,
                                                  const QString& address, int port, qint64 lastLogonMs)
{
    const QString key = keyFor(name);
    std::unique_lock lock(m_batchLock);
    if (!m_openBatch)
        m_openBatch = std::make_shared<PresenceBatch>();
    const std::shared_ptr<PresenceBatch> mine = m_openBatch;
    const size_t slot = mine->rows.size();
    mine->rows.push_back({key, address, port, lastLogonMs, passwordHash, false});
    while (!mine->done) {
        if (m_writingBatch) {
            mine->wake.wait(lock);
            continue;
        }
        // Nobody is writing: this caller writes whatever has gathered.
        m_writingBatch = true;
        const std::shared_ptr<PresenceBatch> batch = std::move(m_openBatch);
        m_openBatch.reset();
        lock.unlock();
        writePresence(*batch);
        lock.lock();
        batch->done = true;
        m_writingBatch = false;
        batch->wake.notify_all();
        if (m_openBatch)
            m_openBatch->wake.notify_one();
    }
    if (!mine->error.isEmpty()) {
        if (auto it = t_connections.find(m_serial); it != t_connections.end() && it->second)
            it->second->error = mine->error;
        return Write::Failed;
    }
    return mine->rows[slot].written ? Write::Written : Write::NotWritten;
}

void MemberStore::writePresence(PresenceBatch& batch)
{
    std::unique_lock lock(m_writeLock, std::defer_lock);
    if (m_sqlite)
        lock.lock();
    Connection* c = connection();
    if (!c->ready) {
        batch.error = c->error.isEmpty() ? QStringLiteral("database not open") : c->error;
        return;
    }
    QSqlDatabase db = c->db();
    const bool inTransaction = batch.rows.size() > 1 && db.transaction();
    for (auto& row : batch.rows) {
        QSqlQuery& q = row.expectedHash.isEmpty() ? *c->presenceQuery : *c->presenceIfHashQuery;
        q.bindValue(0, row.address);
        q.bindValue(1, row.port);
        q.bindValue(2, row.lastLogonMs);
        q.bindValue(3, row.key);
        if (!row.expectedHash.isEmpty())
            q.bindValue(4, QString::fromLatin1(row.expectedHash));
        if (!q.exec()) {
            batch.error = q.lastError().text();
            break;
        }
        row.written = q.numRowsAffected() == 1;
    }
    if (inTransaction) {
        if (!batch.error.isEmpty())
            db.rollback();
        else if (!db.commit())
            batch.error = db.lastError().text();
    }
    if (!batch.error.isEmpty())
        c->error = batch.error;
}

bool MemberStore::setOffline(const QString& name)
{
    std::unique_lock lock(m_writeLock, std::defer_lock);
    if (m_sqlite)
        lock.lock();
    Connection* c = connection();
    if (!c->ready)
        return false;
    QSqlQuery q(c->db());
    q.prepare(QStringLiteral("UPDATE members SET online = 0 WHERE name_key = ?"));
    q.addBindValue(keyFor(name));
    if (!q.exec()) {
        c->error = q.lastError().text();
        return false;
    }
    return true;
}

std::optional<QList<Member>> MemberStore::list()
{
    Connection* c = connection();
    if (!c->ready)
        return std::nullopt;
    QSqlQuery q(c->db());
    if (!q.exec(QStringLiteral("SELECT %1 FROM members ORDER BY name_key").arg(QLatin1String(kColumns)))) {
        c->error = q.lastError().text();
        return std::nullopt;
    }
    QList<Member> out;
    while (q.next())
        out.append(readMember(q));
    return out;
}

} // namespace directory
