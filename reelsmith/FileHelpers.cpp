#include "reelsmith/FileHelpers.h"

#include <QFile>
#include <QFileInfo>

namespace reel {

bool fileExists(const QString& path)
{
    QString p = path;
    if (p.endsWith(QLatin1Char('/')))
        p.chop(1);
    if (p.isEmpty())
        return false;
    // QFile happily "opens" a folder on Linux; reading one is what fails.
    if (QFileInfo(p).isDir())
        return false;
    QFile f(p);
    const bool ok = f.open(QIODevice::ReadOnly);
    f.close();
    return ok;
}

} // namespace reel
