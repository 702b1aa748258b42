#pragma once
// Runs the real vantora-directory on a free loopback port with a fresh
// database, for tests that need the directory service.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class DirectoryProcess
{
public:
    DirectoryProcess();
    ~DirectoryProcess();
    DirectoryProcess(const DirectoryProcess&) = delete;
    DirectoryProcess& operator=(const DirectoryProcess&) = delete;

    // Starts the service; extraArgs go after the defaults and win over them
    // (e.g. "--domains", "x.example" or "--db", "postgresql://...").
    // False when it did not come up (log() says why).
    bool start(const QStringList& extraArgs = {});
    quint16 port() const { return m_port; }
    // "127.0.0.1:PORT", the value for VANTORA_SERVER.
    QString hostPort() const;
    // Adds a member with the add-member command (works while the service runs).
    bool addMember(const QString& user, const QString& domain, const QString& password,
                   const QString& email = {});
    QString dbPath() const;
    // The update file the service offers; missing until setUpdateFile().
    QString updateFilePath() const;
    void setUpdateFile(const QByteArray& bytes);
    // Everything the service wrote on stderr so far.
    QByteArray log() const;
    void stop();
    // Whether the last stop() found it ending by itself with status 0.
    bool stoppedCleanly() const { return m_stoppedCleanly; }

    static QString programPath();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    mutable QByteArray m_log;
    quint16 m_port = 0;
    bool m_stoppedCleanly = false;
};
