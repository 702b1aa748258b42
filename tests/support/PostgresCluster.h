#pragma once
// A throw-away PostgreSQL server (Debian's package) for tests and benchmarks:
// a fresh cluster in a folder of its own, listening on a free loopback port,
// trusting local connections. As root the server runs as "nobody", since
// PostgreSQL refuses to run as root.

#include <QProcess>
#include <QString>
#include <memory>

class PostgresCluster
{
public:
    // The cluster goes into a new folder under baseDir (when the server's
    // user can write there) or else under /tmp; removed again at the end.
    explicit PostgresCluster(const QString& baseDir);
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster&) = delete;
    PostgresCluster& operator=(const PostgresCluster&) = delete;

    // Makes the cluster on first use, then starts the server; false and
    // error() when PostgreSQL is missing or does not come up.
    bool start();
    // Fast shut-down; the cluster stays for another start().
    void stop();
    bool isRunning() const;
    QString error() const { return m_error; }
    quint16 port() const { return m_port; }

    bool createDatabase(const QString& name);
    // "postgresql://vantora@127.0.0.1:PORT/name"
    QString url(const QString& name) const;

private:
    bool run(const QString& program, const QStringList& args, bool unprivileged, int timeoutMs);
    void startAs(QProcess& process, const QString& program, const QStringList& args, bool unprivileged) const;

    QString m_baseDir;
    QString m_dir;
    QString m_bin;
    QString m_error;
    quint16 m_port = 0;
    bool m_made = false;
    std::unique_ptr<QProcess> m_server;
};
