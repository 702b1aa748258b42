// A crafted or damaged recording handed to the repair: it must end, leave a
// file it refuses as it was, and leave a file it repairs so that a second
// repair finds nothing more to change.

#include "FuzzCheck.h"
#include "FuzzFiles.h"
#include "capture/AviRepair.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstdint>

namespace {

QByteArray readAll(const QString& path)
{
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    static QTemporaryDir dir(fuzzfixture::tempTemplate());
    FUZZ_CHECK(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("take.avi"));
    const QByteArray input(reinterpret_cast<const char*>(bytes), qsizetype(size));
    {
        QFile f(path);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(input) == input.size());
    }
    const AviRepairResult first = repairAviFile(path);
    if (!first.ok) {
        FUZZ_CHECK(!first.error.isEmpty());
        FUZZ_CHECK(readAll(path) == input);
        return 0;
    }
    const QByteArray repaired = readAll(path);
    const AviRepairResult again = repairAviFile(path);
    FUZZ_CHECK(again.ok && again.videoFrames == first.videoFrames && again.audioChunks == first.audioChunks &&
               again.blocks == first.blocks);
    FUZZ_CHECK(readAll(path) == repaired);
    return 0;
}
