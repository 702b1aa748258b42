#include "reelsmith/TakeMarker.h"

#include "capture/AviRepair.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <csignal>
#include <unistd.h>

namespace reel {

namespace {
QString ownNote() { return QDir(TakeMarker::folder()).filePath(QStringLiteral("%1.take").arg(::getpid())); }

bool running(qint64 pid)
{
    if (pid <= 0)
        return false;
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}
} // namespace

QString TakeMarker::folder()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || !QDir::isAbsolutePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return state + QStringLiteral("/reelsmith");
}

bool TakeMarker::begin(const QString& moviePath)
{
    if (!QDir().mkpath(folder()))
        return false;
    QSaveFile note(ownNote());
    if (!note.open(QIODevice::WriteOnly))
        return false;
    note.write(QFile::encodeName(QFileInfo(moviePath).absoluteFilePath()));
    return note.commit();
}

void TakeMarker::end() { QFile::remove(ownNote()); }

QList<RepairedTake> TakeMarker::repairLeftBehind(const QString& onlyPath)
{
    QList<RepairedTake> repaired;
    const QDir dir(folder());
    const QString wanted = onlyPath.isEmpty() ? QString() : QFileInfo(onlyPath).absoluteFilePath();
    for (const QFileInfo& info : dir.entryInfoList({QStringLiteral("*.take")}, QDir::Files)) {
        bool numeric = false;
        const qint64 pid = info.completeBaseName().toLongLong(&numeric);
        if (!numeric || running(pid))
            continue; // a take still being written
        QFile note(info.filePath());
        if (!note.open(QIODevice::ReadOnly))
            continue;
        const QString movie = QFile::decodeName(note.read(64 * 1024));
        note.close();
        if (!wanted.isEmpty() && movie != wanted)
            continue;
        if (QFileInfo::exists(movie)) {
            const AviRepairResult r = repairAviFile(movie);
            repaired.append({movie, r.ok, r.error, r.videoFrames});
        }
        QFile::remove(info.filePath());
    }
    return repaired;
}

QString repairedTakeMessage(const RepairedTake& take)
{
    if (take.ok)
        return QStringLiteral("The recording %1 was cut off. It has been repaired: %2 frames were kept.")
            .arg(QDir::toNativeSeparators(take.path))
            .arg(take.frames);
    return QStringLiteral("The recording %1 was cut off and could not be repaired: %2")
        .arg(QDir::toNativeSeparators(take.path), take.error);
}

} // namespace reel
