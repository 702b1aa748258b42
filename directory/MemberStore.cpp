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

struct MemberStore::Presence
{
    QString key;
    QString address;
    int port = 0;
    qint64 lastLogonMs = 0;
    QByteArray expectedHash; // empty: written whatever the hash
    PresenceDone done;
    bool written = false;
};

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

MemberStore::~MemberStore()
{
    // Whatever was queued is written and answered first.
    {
        std::lock_guard lock(m_queueLock);
        m_stopping = true;
    }
    m_queueWake.notify_all();
    if (m_writer.joinable())
        m_writer.join();
    {
        std::lock_guard lock(m_checkpointLock);
        m_checkpointStopping = true;
    }
    m_checkpointWake.notify_all();
    if (m_checkpointer.joinable())
        m_checkpointer.join();
    t_connections.erase(m_serial);
}

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
        // Copied back by the checkpoint thread instead (see noteWritten).
        q.exec(QStringLiteral("PRAGMA wal_autocheckpoint=0"));
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
    if (lock.owns_lock())
        lock.unlock();
    noteWritten(1);
    return AddResult::Created;
}

void MemberStore::setPresenceLater(const QString& name, const QByteArray& passwordHash,
                                   const QString& address, int port, qint64 lastLogonMs, PresenceDone done)
{
    {
        std::lock_guard lock(m_queueLock);
        m_queue.push_back({keyFor(name), address, port, lastLogonMs, passwordHash, std::move(done), false});
        if (!m_writer.joinable())
            m_writer = std::thread([this] { writeLoop(); });
    }
    m_queueWake.notify_one();
}

MemberStore::Write MemberStore::setPresenceIfHash(const QString& name, const QByteArray& passwordHash,
                                                  const QString& address, int port, qint64 lastLogonMs)
{
    struct Outcome
    {
        std::mutex lock;
        std::condition_variable wake;
        bool done = false;
        Write write = Write::Failed;
        QString error;
    };
    const auto outcome = std::make_shared<Outcome>();
    setPresenceLater(name, passwordHash, address, port, lastLogonMs,
                     [outcome](Write write, const QString& error) {
                         {
                             std::lock_guard lock(outcome->lock);
                             outcome->write = write;
                             outcome->error = error;
                             outcome->done = true;
                         }
                         outcome->wake.notify_one();
                     });
    std::unique_lock lock(outcome->lock);
    outcome->wake.wait(lock, [&] { return outcome->done; });
    if (outcome->write == Write::Failed)
        connection()->error = outcome->error;
    return outcome->write;
}

bool MemberStore::setPresence(const QString& name, const QString& address, int port, qint64 lastLogonMs)
{
    return setPresenceIfHash(name, QByteArray(), address, port, lastLogonMs) == Write::Written;
}

void MemberStore::writeLoop()
{
    std::vector<Presence> rows;
    for (;;) {
        {
            std::unique_lock lock(m_queueLock);
            m_queueWake.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
            if (m_queue.empty())
                break; // stopping, and everything asked for is written
            rows.swap(m_queue);
        }
        QString error;
        writePresence(rows, &error);
        // Outside any lock: a caller may queue its next write from here.
        for (Presence& row : rows)
            row.done(!error.isEmpty() ? Write::Failed
                     : row.written    ? Write::Written
                                      : Write::NotWritten,
                     error);
        rows.clear();
    }
    t_connections.erase(m_serial);
}

void MemberStore::writePresence(std::vector<Presence>& rows, QString* error)
{
    std::unique_lock lock(m_writeLock, std::defer_lock);
    if (m_sqlite)
        lock.lock();
    Connection* c = connection();
    if (!c->ready) {
        *error = c->error.isEmpty() ? QStringLiteral("database not open") : c->error;
        return;
    }
    QSqlDatabase db = c->db();
    const bool inTransaction = rows.size() > 1 && db.transaction();
    for (Presence& row : rows) {
        QSqlQuery& q = row.expectedHash.isEmpty() ? *c->presenceQuery : *c->presenceIfHashQuery;
        q.bindValue(0, row.address);
        q.bindValue(1, row.port);
        q.bindValue(2, row.lastLogonMs);
        q.bindValue(3, row.key);
        if (!row.expectedHash.isEmpty())
            q.bindValue(4, QString::fromLatin1(row.expectedHash));
        if (!q.exec()) {
            *error = q.lastError().text();
            break;
        }
        row.written = q.numRowsAffected() == 1;
    }
    if (inTransaction) {
        if (!error->isEmpty())
            db.rollback();
        else if (!db.commit())
            *error = db.lastError().text();
    }
    if (!error->isEmpty()) {
        c->error = *error;
        // A failed batch is not half written: nobody is told "written".
        for (Presence& row : rows)
            row.written = false;
        return;
    }
    if (lock.owns_lock())
        lock.unlock();
    noteWritten(int(rows.size()));
}

void MemberStore::noteWritten(int rows)
{
    if (!m_sqlite || m_path.isEmpty() || m_path == QLatin1String(":memory:"))
        return;
    {
        std::lock_guard lock(m_checkpointLock);
        // About a page a row: copy back every megabyte or so, well before
        // the log grows long enough to slow every read down.
        m_rowsSinceCheckpoint += rows;
        if (m_rowsSinceCheckpoint < 256 || m_checkpointDue)
            return;
        m_rowsSinceCheckpoint = 0;
        m_checkpointDue = true;
        if (!m_checkpointer.joinable())
            m_checkpointer = std::thread([this] { checkpointLoop(); });
    }
    m_checkpointWake.notify_one();
}

void MemberStore::checkpointLoop()
{
    std::unique_lock lock(m_checkpointLock);
    for (;;) {
        m_checkpointWake.wait(lock, [this] { return m_checkpointStopping || m_checkpointDue; });
        if (m_checkpointStopping)
            break;
        m_checkpointDue = false;
        lock.unlock();
        // Passive: copies what no reader still needs, never waits for a lock
        // and never holds up a writer. What it leaves goes next time.
        if (Connection* c = connection(); c->ready)
            QSqlQuery(c->db()).exec(QStringLiteral("PRAGMA wal_checkpoint(PASSIVE)"));
        lock.lock();
    }
    lock.unlock();
    t_connections.erase(m_serial);
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
    if (lock.owns_lock())
        lock.unlock();
    noteWritten(1);
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
