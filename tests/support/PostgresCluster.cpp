#include "tests/support/PostgresCluster.h"

#include <QCollator>
#include <QDeadlineTimer>
#include <QDir>
#include <QTcpServer>
#include <csignal>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace {
const char* const kUnprivileged = "nobody";

// The newest installed server's programs, e.g. /usr/lib/postgresql/15/bin.
QString serverBinDir()
{
    QDir root(QStringLiteral("/usr/lib/postgresql"));
    QStringList versions = root.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QCollator numeric;
    numeric.setNumericMode(true);
    std::sort(versions.begin(), versions.end(),
              [&](const QString& a, const QString& b) { return numeric.compare(a, b) > 0; });
    for (const QString& v : versions) {
        const QString bin = root.filePath(v + QLatin1String("/bin"));
        if (QFile::exists(bin + QLatin1String("/initdb")) && QFile::exists(bin + QLatin1String("/postgres")))
            return bin;
    }
    return {};
}
} // namespace

PostgresCluster::PostgresCluster(const QString& baseDir) : m_baseDir(baseDir) {}

PostgresCluster::~PostgresCluster()
{
    stop();
    if (!m_dir.isEmpty())
        QDir(m_dir).removeRecursively();
}

void PostgresCluster::startAs(QProcess& process, const QString& program, const QStringList& args,
                              bool unprivileged) const
{
    if (unprivileged && ::geteuid() == 0) {
        const passwd* user = ::getpwnam(kUnprivileged);
        const QString uid = QString::number(user ? user->pw_uid : 65534);
        const QString gid = QString::number(user ? user->pw_gid : 65534);
        // setpriv execs the program itself, so the process we hold is the server.
        process.start(QStringLiteral("setpriv"),
                      QStringList{QStringLiteral("--reuid=") + uid, QStringLiteral("--regid=") + gid,
                                  QStringLiteral("--clear-groups"), program} +
                          args);
    } else {
        process.start(program, args);
    }
}

bool PostgresCluster::run(const QString& program, const QStringList& args, bool unprivileged, int timeoutMs)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    startAs(p, program, args, unprivileged);
    if (!p.waitForFinished(timeoutMs) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        p.kill();
        p.waitForFinished();
        m_error = QStringLiteral("%1 failed: %2 %3")
                      .arg(program, p.errorString(), QString::fromLocal8Bit(p.readAll()));
        return false;
    }
    return true;
}

bool PostgresCluster::start()
{
    if (isRunning())
        return true;
    if (m_bin.isEmpty())
        m_bin = serverBinDir();
    if (m_bin.isEmpty()) {
        m_error =
            QStringLiteral("PostgreSQL is not installed (no /usr/lib/postgresql/*/bin/initdb): install the "
                           "Debian packages postgresql and libqt6sql6-psql (scripts/packages.sh)");
        return false;
    }
    if (!m_made) {
        const bool root = ::geteuid() == 0;
        const passwd* user = root ? ::getpwnam(kUnprivileged) : nullptr;
        // Under the build folder when the server's user can reach it, else in /tmp.
        for (const QString& base : {m_baseDir, QStringLiteral("/tmp")}) {
            if (base.isEmpty() || !QDir().mkpath(base))
                continue;
            QByteArray pattern = QFile::encodeName(base + QLatin1String("/pg-XXXXXX"));
            if (!::mkdtemp(pattern.data()))
                continue;
            const QString dir = QFile::decodeName(pattern);
            if (root) {
                QProcess probe;
                if (::chown(pattern.constData(), user ? user->pw_uid : 65534, user ? user->pw_gid : 65534) !=
                    0) {
                    QDir(dir).removeRecursively();
                    continue;
                }
                startAs(probe, QStringLiteral("test"), {QStringLiteral("-w"), dir}, true);
                if (!probe.waitForFinished(10000) || probe.exitCode() != 0) {
                    QDir(dir).removeRecursively();
                    continue;
                }
            }
            m_dir = dir;
            break;
        }
        if (m_dir.isEmpty()) {
            m_error = QStringLiteral("no folder for the PostgreSQL cluster that user %1 may write")
                          .arg(kUnprivileged);
            return false;
        }
        if (!run(m_bin + QLatin1String("/initdb"),
                 {QStringLiteral("-D"), m_dir + QLatin1String("/data"), QStringLiteral("-U"),
                  QStringLiteral("vantora"), QStringLiteral("--auth=trust"), QStringLiteral("-E"),
                  QStringLiteral("UTF8"), QStringLiteral("--locale=C"), QStringLiteral("--no-sync")},
                 true, 120000))
            return false;
        m_made = true;
    }

    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0)) {
        m_error = QStringLiteral("no free port for PostgreSQL");
        return false;
    }
    m_port = probe.serverPort();
    probe.close();

    m_server = std::make_unique<QProcess>();
    m_server->setProcessChannelMode(QProcess::MergedChannels);
    startAs(*m_server, m_bin + QLatin1String("/postgres"),
            {QStringLiteral("-D"), m_dir + QLatin1String("/data"), QStringLiteral("-p"),
             QString::number(m_port), QStringLiteral("-c"), QStringLiteral("listen_addresses=127.0.0.1"),
             QStringLiteral("-c"), QStringLiteral("unix_socket_directories="), QStringLiteral("-c"),
             QStringLiteral("fsync=off"), QStringLiteral("-c"), QStringLiteral("max_connections=300")},
            true);
    if (!m_server->waitForStarted(10000)) {
        m_error = QStringLiteral("PostgreSQL does not start: %1").arg(m_server->errorString());
        m_server.reset();
        return false;
    }
    QByteArray output;
    const QDeadlineTimer deadline(60000);
    while (!output.contains("database system is ready to accept connections")) {
        if (m_server->state() != QProcess::Running || deadline.hasExpired() ||
            !m_server->waitForReadyRead(int(deadline.remainingTime()))) {
            output += m_server->readAll();
            m_error = QStringLiteral("PostgreSQL did not come up: %1").arg(QString::fromLocal8Bit(output));
            stop();
            return false;
        }
        output += m_server->readAll();
    }
    return true;
}

bool PostgresCluster::isRunning() const { return m_server && m_server->state() == QProcess::Running; }

void PostgresCluster::stop()
{
    if (!m_server)
        return;
    if (m_server->state() != QProcess::NotRunning) {
        // SIGINT: fast shut-down, open sessions are ended.
        ::kill(pid_t(m_server->processId()), SIGINT);
        if (!m_server->waitForFinished(30000)) {
            m_server->kill();
            m_server->waitForFinished();
        }
    }
    m_server.reset();
}

bool PostgresCluster::createDatabase(const QString& name)
{
    return run(m_bin + QLatin1String("/createdb"),
               {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                QString::number(m_port), QStringLiteral("-U"), QStringLiteral("vantora"), name},
               false, 60000);
}

QString PostgresCluster::url(const QString& name) const
{
    return QStringLiteral("postgresql://vantora@127.0.0.1:%1/%2").arg(m_port).arg(name);
}
