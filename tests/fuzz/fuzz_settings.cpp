// A settings file as a user, another program or a torn disk may leave it. A
// file the store reads is written back in a form it reads again to the same
// file; a file it cannot read is set aside whole at the first save.

#include "FuzzCheck.h"
#include "FuzzFiles.h"
#include "shell/Settings.h"

#include <QDir>
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

// Sets the probe value and saves; returns the file as written.
QByteArray saveProbe(const QString& path, const QString& value)
{
    Settings s(path);
    FUZZ_CHECK(!s.wasCorrupt());
    s.setValue(QStringLiteral("Fuzz Probe"), QStringLiteral("Value"), value);
    FUZZ_CHECK(s.flush());
    return readAll(path);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The store warns about every unreadable file; the fuzzer makes many.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size)
{
    QTemporaryDir dir(fuzzfixture::tempTemplate());
    FUZZ_CHECK(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("vantora.conf"));
    const QByteArray input(reinterpret_cast<const char*>(bytes), qsizetype(size));
    {
        QFile f(path);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly) && f.write(input) == input.size());
    }
    bool corrupt = false;
    {
        Settings s(path);
        corrupt = s.wasCorrupt();
        // Reading any value of a file it loaded never fails.
        s.intValue(QStringLiteral("Streaming"), QStringLiteral("Port"), 2156);
        s.boolValue(QStringLiteral("Settings"), QStringLiteral("StreamError"), false);
        s.setValue(QStringLiteral("Fuzz Probe"), QStringLiteral("Value"), QStringLiteral("first"));
        FUZZ_CHECK(s.flush());
        FUZZ_CHECK(!s.wasCorrupt());
    }
    const QStringList aside = QDir(dir.path()).entryList({QStringLiteral("vantora.conf.corrupt-*")});
    if (corrupt) {
        // Nothing of an unreadable file is lost.
        FUZZ_CHECK(aside.size() == 1 && readAll(dir.filePath(aside.first())) == input);
    } else {
        FUZZ_CHECK(aside.isEmpty());
    }
    const QByteArray written = readAll(path);
    {
        Settings s(path);
        FUZZ_CHECK(!s.wasCorrupt() &&
                   s.value(QStringLiteral("Fuzz Probe"), QStringLiteral("Value")) == "first");
    }
    saveProbe(path, QStringLiteral("second"));
    FUZZ_CHECK(saveProbe(path, QStringLiteral("first")) == written);
    return 0;
}
