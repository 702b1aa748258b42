#pragma once
// Members and their presence in an SQL database (SQLite by default). Every
// thread gets its own named connection; writes from this process are taken one
// at a time so worker threads never sit in SQLite's busy back-off.

#include <QByteArray>
#include <QList>
#include <QString>
#include <mutex>
#include <optional>

namespace directory {

struct Member
{
    QString name; // as registered: user + "." + domain
    QString domain;
    QString email;
    QString fullName;
    bool adult = false;
    QByteArray passwordHash;
    qint64 createdMs = 0;
    QString address; // public address of the camera
    int port = 0;
    qint64 lastLogonMs = 0;
    bool online = false;
};

class MemberStore
{
public:
    enum class AddResult { Created, NameInUse, EmailInUse, Failed };
    enum class Lookup { Found, Missing, Failed };

    // driver: a Qt SQL driver name; the schema is plain SQL. busyTimeoutMs: how
    // long a write waits for another process's lock before it fails.
    explicit MemberStore(const QString& databasePath, const QString& driver = QStringLiteral("QSQLITE"),
                         int busyTimeoutMs = 5000);
    ~MemberStore();
    MemberStore(const MemberStore&) = delete;
    MemberStore& operator=(const MemberStore&) = delete;

    // Opens the calling thread's connection and makes the schema if needed.
    bool open();
    QString databasePath() const { return m_path; }
    // Why the last operation on the calling thread failed.
    QString lastError() const;

    static QString keyFor(const QString& name) { return name.toLower(); }

    Lookup find(const QString& name, Member* out);
    AddResult add(const Member& member);
    bool setPresence(const QString& name, const QString& address, int port, qint64 lastLogonMs);
    bool setOffline(const QString& name);
    std::optional<QList<Member>> list();

    // One thread's connection (defined in the .cpp file).
    struct Connection;

private:
    Connection* connection();

    QString m_path;
    QString m_driver;
    int m_busyTimeoutMs;
    quint64 m_serial;
    std::mutex m_writeLock;
};

} // namespace directory
