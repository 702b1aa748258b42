#pragma once
// Files a fuzz target writes go to memory when it can (every input is written
// and synced, thousands of times a second).

#include <QDir>
#include <QFileInfo>
#include <QString>

namespace fuzzfixture {

inline QString tempTemplate()
{
    const QString shm = QStringLiteral("/dev/shm");
    const QString base = QFileInfo(shm).isDir() && QFileInfo(shm).isWritable() ? shm : QDir::tempPath();
    return base + QLatin1String("/vantora-fuzz-XXXXXX");
}

} // namespace fuzzfixture
