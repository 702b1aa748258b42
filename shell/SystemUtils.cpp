#include "shell/SystemUtils.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <cstdlib>
#include <unistd.h>

QString withTrailingSlash(const QString& path)
{
    if (path.isEmpty())
        return QStringLiteral("/");
    return path.endsWith(u'/') ? path : path + u'/';
}

QString tempDir() { return withTrailingSlash(QDir::tempPath()); }

QString makeTempFile()
{
    QString prefix = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    if (prefix.isEmpty())
        prefix = QStringLiteral("vantora");
    QByteArray templ = QFile::encodeName(tempDir() + prefix + QLatin1String("XXXXXX"));
    // mkstemp both picks the name and creates the file, so no other process can take it.
    const int fd = ::mkstemp(templ.data());
    if (fd < 0)
        return {};
    ::close(fd);
    return QFile::decodeName(templ);
}

QString osNameFromRelease(const QString& osReleasePath)
{
    QFile f(osReleasePath);
    if (f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QString name;
        while (!f.atEnd()) {
            const QString line = QString::fromUtf8(f.readLine()).trimmed();
            const auto take = [&](QLatin1String key) {
                if (!line.startsWith(key))
                    return QString();
                QString v = line.mid(key.size()).trimmed();
                if (v.size() >= 2 && (v.startsWith(u'"') || v.startsWith(u'\'')) && v.endsWith(v.front()))
                    v = v.mid(1, v.size() - 2);
                return v.trimmed();
            };
            const QString pretty = take(QLatin1String("PRETTY_NAME="));
            if (!pretty.isEmpty())
                return pretty;
            const QString plain = take(QLatin1String("NAME="));
            if (!plain.isEmpty() && name.isEmpty())
                name = plain;
        }
        if (!name.isEmpty())
            return name;
    }
    return QStringLiteral("Linux");
}

QString osName()
{
    if (QFileInfo::exists(QStringLiteral("/etc/os-release")))
        return osNameFromRelease(QStringLiteral("/etc/os-release"));
    return osNameFromRelease(QStringLiteral("/usr/lib/os-release"));
}
