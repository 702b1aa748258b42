#include "tests/support/DirectoryProcess.h"

#include "tests/support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QSaveFile>

DirectoryProcess::DirectoryProcess() = default;

DirectoryProcess::~DirectoryProcess() { stop(); }

QString DirectoryProcess::programPath()
{
    QString dir = testenv::binDir();
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    return dir + QLatin1String("/vantora-directory");
}

QString DirectoryProcess::dbPath() const { return m_dir.filePath(QStringLiteral("directory.db")); }

QString DirectoryProcess::updateFilePath() const { return m_dir.filePath(QStringLiteral("autoupdate.txt")); }

QString DirectoryProcess::hostPort() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

bool DirectoryProcess::start(const QStringList& extraArgs)
{
    stop();
    m_log.clear();
    m_process = std::make_unique<QProcess>();
    m_process->setProgram(programPath());
    m_process->setArguments(QStringList{QStringLiteral("serve"), QStringLiteral("--listen"),
                                        QStringLiteral("127.0.0.1:0"), QStringLiteral("--db"), dbPath(),
                                        QStringLiteral("--update-file"), updateFilePath(),
                                        // A client that stops mid-request is dropped after two seconds
                                        // rather than the default five.
                                        QStringLiteral("--read-timeout"), QStringLiteral("2")} +
                            extraArgs);
    m_process->start();
    if (!m_process->waitForStarted(10000)) {
        m_log +=
            "cannot start " + programPath().toLocal8Bit() + ": " + m_process->errorString().toLocal8Bit();
        m_process.reset();
        return false;
    }
    // The first line on stdout names the port.
    const QDeadlineTimer deadline(15000);
    while (!m_process->canReadLine()) {
        if (m_process->state() != QProcess::Running || deadline.hasExpired() ||
            !m_process->waitForReadyRead(int(deadline.remainingTime()))) {
            m_log += m_process->readAllStandardError();
            stop();
            return false;
        }
    }
    const QByteArray line = m_process->readLine().trimmed();
    const qsizetype colon = line.lastIndexOf(':');
    bool ok = false;
    const uint port = line.startsWith("listening on ") && colon > 0 ? line.mid(colon + 1).toUInt(&ok) : 0;
    if (!ok || port == 0 || port > 65535) {
        m_log += "unexpected first line: " + line + '\n';
        stop();
        return false;
    }
    m_port = quint16(port);
    return true;
}

bool DirectoryProcess::addMember(const QString& user, const QString& domain, const QString& password,
                                 const QString& email)
{
    QStringList args{QStringLiteral("add-member"),
                     QStringLiteral("--db"),
                     dbPath(),
                     QStringLiteral("--user"),
                     user,
                     QStringLiteral("--domain"),
                     domain,
                     QStringLiteral("--password"),
                     password};
    if (!email.isEmpty())
        args << QStringLiteral("--email") << email;
    QProcess p;
    p.start(programPath(), args);
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        return false;
    }
    m_log += p.readAllStandardError();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

void DirectoryProcess::setUpdateFile(const QByteArray& bytes)
{
    QSaveFile f(updateFilePath());
    if (f.open(QIODevice::WriteOnly)) {
        f.write(bytes);
        f.commit();
    }
}

QByteArray DirectoryProcess::log() const
{
    if (m_process)
        m_log += m_process->readAllStandardError();
    return m_log;
}

void DirectoryProcess::stop()
{
    if (!m_process)
        return;
    m_stoppedCleanly = false;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (m_process->waitForFinished(10000)) {
            m_stoppedCleanly = m_process->exitStatus() == QProcess::NormalExit && m_process->exitCode() == 0;
        } else {
            m_process->kill();
            m_process->waitForFinished();
        }
    }
    m_log += m_process->readAllStandardError();
    m_process.reset();
    m_port = 0;
}
