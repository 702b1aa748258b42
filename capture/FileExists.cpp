#include "capture/FileExists.h"

#include <QFile>
#include <QFileInfo>

bool fileExists(const QString& path)
{
    QString p = path;
    if (p.endsWith(u'/'))
        p.chop(1);
    if (p.isEmpty())
        return false;
    // A folder opens for reading on Linux; it is not a file.
    if (QFileInfo(p).isDir())
        return false;
    QFile f(p);
    const bool ok = f.open(QIODevice::ReadOnly);
    f.close();
    return ok;
}
