#include "image/JpegEncoder.h"

#include "image/FrameBuffer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QtDebug>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

namespace {

[[noreturn]] void raise(const QString& description)
{
    throw JpegError{26001, jpegErrorSource(), description};
}

[[noreturn]] void raiseSave(int code)
{
    raise(QStringLiteral("Failed to save to JPG ") + QString::number(code));
}

// A new file beside `target` that no one else has, made with mode 0666 so the
// process's umask gives it the same bits any new file would get.
int createTemporary(const QByteArray& target, QByteArray& name)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QFileInfo info(QFile::decodeName(target));
        name = QFile::encodeName(
            QDir(info.absolutePath())
                .filePath(QStringLiteral(".%1.%2")
                              .arg(info.fileName())
                              .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'))));
        const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool writeAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

QString jpegErrorSource()
{
    QString exe = QStringLiteral("vantora");
    if (QCoreApplication::instance()) {
        const QString name = QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
        if (!name.isEmpty())
            exe = name;
    }
    return exe + QStringLiteral(".JpegEncoder");
}

JpegEncoder::JpegEncoder() = default;

JpegEncoder::~JpegEncoder()
{
    if (m_handle)
        tjDestroy(static_cast<tjhandle>(m_handle));
}

QByteArray JpegEncoder::encode(const FrameBuffer& image, int quality)
{
    // Encoded into room for the worst case, handed out at its own size.
    encode(image, quality, m_scratch);
    return QByteArray(m_scratch.constData(), m_scratch.size());
}

bool JpegEncoder::encode(const FrameBuffer& image, int quality, QByteArray& out)
{
    if (!m_handle) {
        m_handle = tjInitCompress();
        if (!m_handle)
            raise(QStringLiteral("Failed to initialise the IJL library: ") + QString::number(-1));
    }
    // An empty buffer has nothing to encode; the encoder's own answer would be
    // a null-pointer error.
    if (image.isEmpty())
        raiseSave(-1);

    const int w = image.width(), h = image.height();
    const unsigned long bound = tjBufSize(w, h, TJSAMP_420);
    if (bound == static_cast<unsigned long>(-1) || bound > 0x7FFFFFFFul)
        raiseSave(-1);
    out.resize(qsizetype(bound));
    auto* dst = reinterpret_cast<unsigned char*>(out.data());
    unsigned long size = bound;
    const int rc =
        tjCompress2(static_cast<tjhandle>(m_handle), image.bits(), w, image.bytesPerLine(), h, TJPF_BGR, &dst,
                    &size, TJSAMP_420, std::clamp(quality, 1, 100), TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
    if (rc != 0) {
        qWarning("JPEG encoding failed: %s", tjGetErrorStr2(static_cast<tjhandle>(m_handle)));
        out.clear();
        raiseSave(rc);
    }
    out.resize(qsizetype(size));
    return true;
}

JpegEncoder& sharedJpegEncoder()
{
    static JpegEncoder encoder;
    return encoder;
}

bool saveJpegFile(const FrameBuffer& image, const QString& file, int quality)
{
    const QByteArray path = QFile::encodeName(file);
    struct stat old;
    const bool existed = ::stat(path.constData(), &old) == 0 && S_ISREG(old.st_mode);
    auto dropTarget = [&] {
        // A failed save leaves no file of that name, so nobody takes an old
        // picture for the new one.
        ::unlink(path.constData());
    };

    static QByteArray jpeg; // reused between calls: one thread saves
    try {
        sharedJpegEncoder().encode(image, quality, jpeg);
    } catch (const JpegError&) {
        dropTarget();
        throw;
    }

    // Written beside the target and renamed over it, so a reader never sees
    // half a file.
    QByteArray tmpl;
    const int fd = createTemporary(path, tmpl);
    if (fd < 0) {
        const int err = errno;
        dropTarget();
        raiseSave(err);
    }
    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(tmpl.constData());
        dropTarget();
        raiseSave(err);
    };
    if (!writeAll(fd, jpeg.constData(), jpeg.size()))
        fail(errno);
    if (existed) {
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            fail(errno);
        const struct timespec times[2] = {old.st_atim, old.st_mtim};
        if (::futimens(fd, times) != 0)
            fail(errno);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmpl.constData());
        dropTarget();
        raiseSave(err);
    }
    if (::rename(tmpl.constData(), path.constData()) != 0) {
        const int err = errno;
        ::unlink(tmpl.constData());
        dropTarget();
        raiseSave(err);
    }
    return true;
}
