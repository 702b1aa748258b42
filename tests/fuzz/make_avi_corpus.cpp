// Writes small recordings the way the recorder does, whole and cut off, as
// seeds for the repair's fuzz corpus. Usage: make_avi_corpus FOLDER

#include "capture/AviWriter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>

namespace {

constexpr qint64 Frame = 1000000000 / 5; // 5 frames a second, in nanoseconds

bool record(const QString& path, bool sound, bool mjpeg, int frames, int frameBytes)
{
    AviWriter w;
    const std::optional<AviWriter::Sound> s =
        sound ? std::optional<AviWriter::Sound>(AviWriter::Sound{8000, 1, 8}) : std::nullopt;
    if (!w.open(path, {QSize(8, 8), 5, mjpeg}, s))
        return false;
    const QByteArray picture(frameBytes, 'v');
    const QByteArray noise(1600, 's'); // a fifth of a second at 8 kHz
    for (int i = 0; i < frames; ++i) {
        w.addFrame(picture.constData(), picture.size(), i * Frame);
        if (sound)
            w.addSound(noise.constData(), noise.size(), i * Frame);
    }
    return w.finish();
}

bool cut(const QString& from, const QString& to, qint64 keep)
{
    QFile in(from);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QFile out(to);
    return out.open(QIODevice::WriteOnly) && out.write(in.read(keep)) >= 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_avi_corpus FOLDER\n");
        return 2;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const auto at = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    bool ok = record(at("sound.avi"), true, true, 4, 21) && record(at("picture.avi"), false, false, 3, 96) &&
              cut(at("sound.avi"), at("sound-cut.avi"), QFileInfo(at("sound.avi")).size() - 30) &&
              cut(at("picture.avi"), at("picture-cut.avi"), QFileInfo(at("picture.avi")).size() / 2 + 1);
    // Past the smallest block limit: a second block (RIFF "AVIX") with its own indexes.
    AviWriter::setBlockLimit(64 * 1024);
    ok = ok && record(at("blocks.avi"), false, true, 12, 7000) &&
         cut(at("blocks.avi"), at("blocks-cut.avi"), QFileInfo(at("blocks.avi")).size() - 3000);
    return ok ? 0 : 1;
}
