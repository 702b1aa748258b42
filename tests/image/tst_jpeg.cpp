// The JPEG encoder: what it writes, and how it treats the file it replaces.
// It links the image logic alone: no window library is loaded, so it runs
// its own small main instead of the shared test environment.

#include "image/FrameBuffer.h"
#include "image/JpegEncoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <sys/stat.h>
#include <turbojpeg.h>
#include <unistd.h>

namespace {

// Top half red, bottom half blue, a green stripe down the left edge.
QImage splitPicture(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(QColor(0, 0, 220));
    for (int y = 0; y < h / 2; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(220, 0, 0));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < 16; ++x)
            img.setPixel(x, y, qRgb(0, 200, 0));
    return img;
}

// Decoded top-down as red, green, blue; empty on failure.
QImage decode(const QByteArray& jpeg)
{
    tjhandle h = tjInitDecompress();
    int w = 0, ht = 0, sub = 0, cs = 0;
    QImage out;
    if (tjDecompressHeader3(h, reinterpret_cast<const uchar*>(jpeg.constData()), jpeg.size(), &w, &ht, &sub,
                            &cs) == 0) {
        out = QImage(w, ht, QImage::Format_RGB888);
        if (tjDecompress2(h, reinterpret_cast<const uchar*>(jpeg.constData()), jpeg.size(), out.bits(), w,
                          int(out.bytesPerLine()), ht, TJPF_RGB, 0) != 0)
            out = QImage();
    }
    tjDestroy(h);
    return out;
}

bool closeTo(QRgb a, QRgb b, int tolerance = 24)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
           qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

} // namespace

class TestJpeg : public QObject
{
    Q_OBJECT
private slots:
    void savesUprightJpegOfBufferSize_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("quality");
        QTest::addColumn<int>("padBytes");
        QTest::newRow("160x120, no row filler") << 160 << 120 << 90 << 0;
        QTest::newRow("161x121, one filler byte") << 161 << 121 << 90 << 1;
        QTest::newRow("162x50, two filler bytes") << 162 << 50 << 80 << 2;
        QTest::newRow("163x31, three filler bytes") << 163 << 31 << 80 << 3;
        QTest::newRow("low quality") << 320 << 240 << 20 << 0;
        QTest::newRow("quality 0 taken as 1") << 64 << 48 << 0 << 0;
        QTest::newRow("quality 150 taken as 100") << 64 << 48 << 150 << 0;
    }
    void savesUprightJpegOfBufferSize()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        QFETCH(int, quality);
        QFETCH(int, padBytes);
        FrameBuffer d;
        QVERIFY(d.createFrom(splitPicture(width, height)));
        QCOMPARE(d.bytesPerLine() - d.width() * 3, padBytes);

        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("frame.jpg"));
        QVERIFY(saveJpegFile(d, file, quality));
        const QByteArray bytes = readAll(file);
        QVERIFY(bytes.startsWith("\xFF\xD8"));
        const QImage img = decode(bytes);
        QCOMPARE(img.size(), QSize(width, height));
        const int tol = quality < 50 ? 60 : 24;
        QVERIFY2(closeTo(img.pixel(width * 3 / 4, 4), qRgb(220, 0, 0), tol), "top row is red");
        QVERIFY2(closeTo(img.pixel(width * 3 / 4, height - 4), qRgb(0, 0, 220), tol), "bottom row is blue");
        QVERIFY2(closeTo(img.pixel(4, height / 4), qRgb(0, 200, 0), tol), "left stripe is green");
        QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("frame.jpg")});
    }

    void encodesToMemoryReusingTheBuffer()
    {
        FrameBuffer d;
        QVERIFY(d.createFrom(splitPicture(200, 100)));
        JpegEncoder enc;
        QByteArray out;
        QVERIFY(enc.encode(d, 80, out));
        QCOMPARE(decode(out).size(), QSize(200, 100));
        const QByteArray first = out;
        QVERIFY(enc.encode(d, 80, out)); // `first` shares the old memory: must not be touched
        QCOMPARE(out, first);
        const QByteArray single = enc.encode(d, 80);
        QCOMPARE(single, first);
        QVERIFY(single.capacity() < 2 * single.size()); // not the worst-case room
        QVERIFY(enc.encode(d, 20).size() < first.size());
    }

    void newFileGetsFreshModeAndTimes()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("new.jpg"));
        FrameBuffer d;
        QVERIFY(d.createFrom(splitPicture(32, 32)));
        const mode_t old = ::umask(022);
        QVERIFY(saveJpegFile(d, file, 90));
        ::umask(old);
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(file).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), 0644);
        QVERIFY(qAbs(qint64(st.st_mtime) - qint64(::time(nullptr))) < 60);
    }

    void replacingKeepsModeAndTimes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("read-only") << 0444;
        QTest::newRow("owner only") << 0600;
        QTest::newRow("group writable") << 0664;
    }
    void replacingKeepsModeAndTimes()
    {
        QFETCH(int, mode);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("snap.jpg"));
        const QByteArray path = QFile::encodeName(file);
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("old picture");
        }
        const struct timespec times[2] = {{1000000000, 123456789}, {1100000000, 987654321}};
        QCOMPARE(::utimensat(AT_FDCWD, path.constData(), times, 0), 0);
        QCOMPARE(::chmod(path.constData(), mode_t(mode)), 0);

        FrameBuffer d;
        QVERIFY(d.createFrom(splitPicture(48, 40)));
        QVERIFY(saveJpegFile(d, file, 90));

        struct stat st;
        QCOMPARE(::stat(path.constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), mode);
        QCOMPARE(qint64(st.st_atim.tv_sec), qint64(1000000000));
        QCOMPARE(qint64(st.st_atim.tv_nsec), qint64(123456789));
        QCOMPARE(qint64(st.st_mtim.tv_sec), qint64(1100000000));
        QCOMPARE(qint64(st.st_mtim.tv_nsec), qint64(987654321));
        QCOMPARE(decode(readAll(file)).size(), QSize(48, 40));
        QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("snap.jpg")});
    }

    void failedSaveRaisesAndLeavesNoFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a folder where the file goes") << QStringLiteral("folder");
        QTest::newRow("missing directory") << QStringLiteral("missing");
        QTest::newRow("directory is a file") << QStringLiteral("notdir");
    }
    void failedSaveRaisesAndLeavesNoFile()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        QString target;
        if (kind == QLatin1String("folder")) {
            // Fails for every user, root included: a file cannot replace a folder.
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("out.jpg")));
            target = dir.filePath(QStringLiteral("out.jpg"));
        } else if (kind == QLatin1String("missing")) {
            target = dir.filePath(QStringLiteral("nowhere/out.jpg"));
        } else {
            QFile f(dir.filePath(QStringLiteral("plain")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            target = dir.filePath(QStringLiteral("plain/out.jpg"));
        }
        FrameBuffer d;
        QVERIFY(d.createFrom(splitPicture(32, 32)));
        bool raised = false;
        try {
            saveJpegFile(d, target, 80);
        } catch (const JpegError& e) {
            raised = true;
            QCOMPARE(e.number, 26001);
            QCOMPARE(e.source, QStringLiteral("tst_jpeg.JpegEncoder"));
            QVERIFY2(e.description.startsWith(QStringLiteral("Failed to save to JPG ")),
                     qPrintable(e.description));
            bool ok = false;
            e.description.mid(22).toInt(&ok);
            QVERIFY2(ok, qPrintable(e.description));
        }
        QVERIFY(raised);
        if (kind == QLatin1String("folder")) {
            // The folder and what it holds are left alone, and no half-written
            // file stays beside it.
            QVERIFY(QFileInfo(target).isDir());
            QVERIFY(entries(target).isEmpty());
            QVERIFY(entries(dir.path()).isEmpty());
        } else {
            QVERIFY(!QFileInfo::exists(target));
        }
    }

    void failedEncodeOverExistingFileLeavesNoFile()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("old.jpg"));
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("old");
        }
        FrameBuffer empty;
        try {
            saveJpegFile(empty, file, 80);
            QFAIL("an empty buffer was saved");
        } catch (const JpegError& e) {
            QCOMPARE(e.description, QStringLiteral("Failed to save to JPG -1"));
        }
        QVERIFY(!QFileInfo::exists(file));
        QVERIFY(entries(dir.path()).isEmpty());
    }
};

int main(int argc, char** argv)
{
    // The encoder's files go to fresh folders; nothing reaches the user's own.
    QTemporaryDir root(QDir::tempPath() + QStringLiteral("/vantora-test-XXXXXX"));
    for (const char* sub : {"config", "runtime", "tmp", "home"})
        QDir(root.path()).mkpath(QLatin1String(sub));
    QFile::setPermissions(root.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath(QStringLiteral("config"))));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root.filePath(QStringLiteral("runtime"))));
    qputenv("TMPDIR", QFile::encodeName(root.filePath(QStringLiteral("tmp"))));
    qputenv("HOME", QFile::encodeName(root.filePath(QStringLiteral("home"))));
    QCoreApplication app(argc, argv);
    TestJpeg tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}
#include "tst_jpeg.moc"
