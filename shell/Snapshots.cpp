#include "shell/Snapshots.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString picturePath(const QString& folder, int n)
{
    return QDir(folder).filePath(QStringLiteral("Picture%1.jpg").arg(n));
}

int firstFreeNumber(const QString& folder, int from)
{
    int n = from;
    while (QFileInfo::exists(picturePath(folder, n)))
        ++n;
    return n;
}

// Moves the finished file to its name unless something took that name
// meanwhile: an existing picture is never replaced.
bool renameNoReplace(const QString& from, const QString& to, int& error)
{
    const QByteArray src = QFile::encodeName(from), dst = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, src.constData(), AT_FDCWD, dst.constData(), RENAME_NOREPLACE) == 0)
        return true;
    error = errno;
    if (error != EINVAL && error != ENOSYS)
        return false;
    // A file system without the flag: a hard link refuses existing names too.
    if (::link(src.constData(), dst.constData()) == 0) {
        ::unlink(src.constData());
        return true;
    }
    error = errno;
    if (error != EPERM && error != ENOSYS)
        return false;
    // Neither (FAT): look, then rename.
    if (QFileInfo::exists(to)) {
        error = EEXIST;
        return false;
    }
    if (::rename(src.constData(), dst.constData()) == 0)
        return true;
    error = errno;
    return false;
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

} // namespace

Snapshots::Snapshots(FrameSource grab, JpegWriter encode, QObject* parent)
    : QObject(parent), m_grab(std::move(grab)), m_encode(std::move(encode)), m_folder(defaultFolder())
{
    m_timer.setInterval(m_interval * 1000);
    connect(&m_timer, &QTimer::timeout, this, &Snapshots::onTick);
}

QString Snapshots::defaultFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    if (folder.isEmpty())
        folder = QDir::home().filePath(QStringLiteral("Pictures"));
    return QDir::toNativeSeparators(folder);
}

void Snapshots::setInterval(int seconds)
{
    m_interval = qBound(MinInterval, seconds, MaxInterval);
    m_timer.setInterval(m_interval * 1000);
    if (m_timer.isActive())
        m_timer.start();
}

QString Snapshots::unitText() const
{
    return m_interval == 1 ? QStringLiteral("second") : QStringLiteral("%1 seconds").arg(m_interval);
}

void Snapshots::setTimerEnabled(bool on)
{
    if (on)
        m_timer.start();
    else
        m_timer.stop();
}

QString Snapshots::nextPicturePath(const QString& folder)
{
    return picturePath(folder, firstFreeNumber(folder, 0));
}

void Snapshots::onTick()
{
    if (!m_busy)
        takePicture();
}

bool Snapshots::takePicture()
{
    if (m_busy)
        return false;
    m_busy = true;
    emit busyChanged(true);
    QString path = nextPicturePath(m_folder);
    QString why;
    const bool ok = save(path, why);
    m_error = ok ? QString() : why;
    QPointer<Snapshots> alive(this);
    if (ok)
        emit saved(path);
    else
        emit failed(QStringLiteral("Failed to save the picture to the file: '%1'")
                        .arg(QDir::toNativeSeparators(path)));
    // The failure box runs its own event loop; the window may be gone after it.
    if (!alive)
        return ok;
    m_busy = false;
    emit busyChanged(false);
    return ok;
}

bool Snapshots::save(QString& path, QString& why)
{
    const QString folder = QFileInfo(path).path();
    if (m_folder.trimmed().isEmpty() || !QDir().mkpath(folder)) {
        why = QStringLiteral("cannot make the folder");
        return false;
    }
    const QImage frame = m_grab ? m_grab() : QImage();
    if (frame.isNull()) {
        why = QStringLiteral("no picture from the camera");
        return false;
    }
    const QByteArray jpeg = m_encode ? m_encode(frame, Quality) : QByteArray();
    if (jpeg.isEmpty()) {
        why = QStringLiteral("the picture could not be encoded");
        return false;
    }
    // Written beside its final name and moved there when complete: a crash or
    // a full disk never leaves half a picture under that name.
    QTemporaryFile part(QDir(folder).filePath(QStringLiteral("FotoTEMP.XXXXXX")));
    if (!part.open()) {
        why = part.errorString();
        return false;
    }
    ::fchmod(part.handle(), 0666 & ~currentUmask());
    if (part.write(jpeg) != jpeg.size() || !part.flush() || ::fsync(part.handle()) != 0) {
        why = part.errorString();
        return false;
    }
    int n = QFileInfo(path).completeBaseName().mid(int(std::strlen("Picture"))).toInt();
    QString target = path;
    for (int attempt = 0; attempt < 100; ++attempt) {
        int error = 0;
        if (renameNoReplace(part.fileName(), target, error)) {
            part.setAutoRemove(false);
            path = target;
            return true;
        }
        if (error != EEXIST) {
            why = QString::fromLocal8Bit(std::strerror(error));
            return false;
        }
        // Another program took the number meanwhile: the next free one.
        n = firstFreeNumber(folder, n + 1);
        target = picturePath(folder, n);
    }
    why = QStringLiteral("no free picture number");
    return false;
}
