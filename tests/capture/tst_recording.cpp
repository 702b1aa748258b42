#include "capture/AviRepair.h"
#include "capture/AviWriter.h"
#include "capture/Capture.h"
#include "capture/CaptureDialogs.h"
#include "capture/CaptureTesting.h"
#include "tests/capture/MediaInfo.h"
#include "tests/support/TestEnvironment.h"

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QSpinBox>
#include <QtEndian>

#include <csignal>
#include <sys/resource.h>

Q_DECLARE_METATYPE(Capture::AudioFormat)

namespace {
int patternIndex(const Capture& cap) { return cap.driverCount() - 1; }

QString tempPath(const QString& name) { return testenv::root() + QLatin1Char('/') + name; }

// Records from the test pattern for about `ms` and waits for the file to be complete.
bool recordFor(Capture& cap, int ms, qint64* recordedMs = nullptr)
{
    QSignalSpy finished(&cap, &Capture::recordingFinished);
    if (!cap.startRecording())
        return false;
    QElapsedTimer t;
    t.start();
    // The test's own clock: let the event loop run while recording.
    QTest::qWait(ms);
    cap.stopRecording();
    if (recordedMs)
        *recordedMs = t.elapsed();
    if (!finished.wait(10000) && finished.isEmpty())
        return false;
    return finished.at(0).at(1).toBool();
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

void putU32(QByteArray& bytes, qint64 at, quint32 v) { qToLittleEndian(v, bytes.data() + at); }

// Every frame the headers and indexes promise is in the file, and the
// demuxer and decoder reach every one of them.
void checkComplete(const QString& file, const AviContents& c)
{
    QVERIFY2(c.ok, qPrintable(c.error));
    QVERIFY(c.sizesMatch);
    QVERIFY(c.videoChunks > 0);
    QCOMPARE(quint64(c.streamLengths.value(0)), c.videoChunks);
    QCOMPARE(quint64(c.odmlFrames), c.videoChunks);
    QCOMPARE(quint64(c.mainHeaderFrames), c.firstBlockVideoChunks);
    QCOMPARE(int(c.superIndexUsed.value(0)), c.blocks);
    QCOMPARE(c.superIndexDuration.value(0), c.videoChunks);
    if (c.streamLengths.size() > 1) {
        QCOMPARE(quint64(c.streamLengths.at(1)), c.audioBytes / quint64(c.audioAlign));
        QCOMPARE(c.superIndexDuration.value(1), c.audioBytes / quint64(c.audioAlign));
    }
    QVERIFY(c.idx1);
    const Decoded decoded = decodeMedia(file);
    QVERIFY2(decoded.ok, qPrintable(decoded.error));
    QCOMPARE(decoded.videoFrames, c.videoChunks);
}

// Picture and sound end within one frame of each other.
void checkInStep(const AviContents& c)
{
    QVERIFY2(
        qAbs(c.audioSeconds() - c.videoSeconds()) <= 1.0 / c.fps + 1e-6,
        qPrintable(QStringLiteral("sound %1 s, picture %2 s").arg(c.audioSeconds()).arg(c.videoSeconds())));
}
} // namespace

class tst_Recording : public QObject
{
    Q_OBJECT
private slots:
    void recordsAvi_data();
    void recordsAvi();
    void previewGoesOnWhileRecording();
    void statusReportsProgress();
    void badFileFails_data();
    void badFileFails();
    void stopWithoutRecordingIsHarmless();
    void disconnectWhileRecordingFinishesFile();
    void destroyingWhileRecordingFinishesFile();
    void cleanup();
    void multiBlockRecordingKeepsEveryFrame_data();
    void multiBlockRecordingKeepsEveryFrame();
    void soundKeepsStepWithPicture_data();
    void soundKeepsStepWithPicture();
    void fileFullMidwayKeepsWhatWasWritten_data();
    void fileFullMidwayKeepsWhatWasWritten();
    void repairKeepsEveryBlockOfCutFile();
    void repairEndsOnCraftedSizes_data();
    void repairEndsOnCraftedSizes();
    void repairKeepsFramesBesideSuperIndexWithoutRoom();
    void writerPadsMissingSoundInSmallChunks();
    void formatChosenWhileRecordingIsKeptForNextTake();
    void unavailableSoundInputFailsClearly();
    void refusedStartShowsNoFiguresOfTheLastTake();
    void deviceLostMidwayFinishesFile();
    void repairMakesCutFilePlayable();
    void repairRejectsNonAvi();
    void videoFormatChangesFrameSize();
    void dialogsHandBackChoices();
};

void tst_Recording::recordsAvi_data()
{
    QTest::addColumn<bool>("sound");
    QTest::addColumn<int>("compression");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("fps");
    QTest::newRow("mjpeg with sound") << true << int(Capture::Compression::Mjpeg) << QSize(640, 480) << 30;
    QTest::newRow("mjpeg without sound")
        << false << int(Capture::Compression::Mjpeg) << QSize(320, 240) << 15;
    QTest::newRow("uncompressed with sound")
        << true << int(Capture::Compression::Uncompressed) << QSize(320, 240) << 25;
}

void tst_Recording::recordsAvi()
{
    QFETCH(bool, sound);
    QFETCH(int, compression);
    QFETCH(QSize, size);
    QFETCH(int, fps);
    Capture cap;
    QVERIFY(cap.setDriverIndex(patternIndex(cap)));
    QVERIFY(cap.setVideoFormat(size, fps));
    cap.setCaptureAudio(sound);
    cap.setCompression(Capture::Compression(compression));
    cap.setAudioFormat({22050, 1, 16, {}});
    const QString file =
        tempPath(QStringLiteral("rec-%1.avi").arg(QTest::currentDataTag()).replace(' ', '-'));
    cap.setCaptureFile(file);
    // Preview for a while first, as a user would: sound must start with the
    // recording, not with the preview.
    QTRY_VERIFY(cap.frameSerial() > quint64(fps * 3 / 2));
    qint64 recorded = 0;
    QVERIFY(recordFor(cap, 2000, &recorded));
    QVERIFY(!cap.isRecording());

    const MediaInfo m = discoverMedia(file);
    QVERIFY2(m.ok, qPrintable(m.error));
    QCOMPARE(m.container, QStringLiteral("video/x-msvideo"));
    QCOMPARE(m.videoStreams, 1);
    QCOMPARE(m.videoSize, size);
    QCOMPARE(qRound(m.videoFps), fps);
    QCOMPARE(m.audioStreams, sound ? 1 : 0);
    if (sound) {
        QCOMPARE(m.audioRate, 22050);
        QCOMPARE(m.audioChannels, 1);
    }
    QVERIFY2(
        qAbs(m.durationSeconds - recorded / 1000.0) < 0.5,
        qPrintable(QStringLiteral("duration %1 s, recorded %2 ms").arg(m.durationSeconds).arg(recorded)));
    const Capture::RecordingStats st = cap.recordingStats();
    QVERIFY(st.framesWritten >= quint64(fps * 3 / 2));
    const AviHeader h = readAviHeader(file);
    QVERIFY(h.riffSizeMatches);
    QVERIFY(h.hasIndex);
    QCOMPARE(quint64(h.totalFrames), st.framesWritten);
}

void tst_Recording::previewGoesOnWhileRecording()
{
    Capture cap;
    QVERIFY(cap.setDriverIndex(patternIndex(cap)));
    cap.setCaptureAudio(false);
    cap.setCaptureFile(tempPath(QStringLiteral("preview.avi")));
    QVERIFY(cap.startRecording());
    QVERIFY(cap.isRecording());
    const quint64 serial = cap.frameSerial();
    QTRY_VERIFY(cap.frameSerial() > serial + 10);
    QSignalSpy finished(&cap, &Capture::recordingFinished);
    cap.stopRecording();
    QVERIFY(finished.wait(10000));
    const quint64 after = cap.frameSerial();
    QTRY_VERIFY(cap.frameSerial() > after + 5);
    QVERIFY(cap.connected());
}

void tst_Recording::statusReportsProgress()
{
    Capture cap;
    QVERIFY(cap.setDriverIndex(patternIndex(cap)));
    cap.setCaptureFile(tempPath(QStringLiteral("status.avi")));
    QSignalSpy status(&cap, &Capture::statusChanged);
    QVERIFY(recordFor(cap, 2200));
    QStringList texts;
    for (const auto& args : status)
        texts << args.at(0).toString();
    QVERIFY2(texts.size() >= 4, qPrintable(texts.join('|')));
    QVERIFY(texts.first().startsWith(QLatin1String("Recording 00:00:00 - 0 frames written, 0 dropped")));
    QVERIFY(texts.filter(QRegularExpression(QStringLiteral("^Recording 00:00:0[12] - \\d+ frames written")))
                .size() >= 1);
    QVERIFY2(texts.last().startsWith(QLatin1String("Stopped 00:00:02 - ")), qPrintable(texts.last()));
}

void tst_Recording::badFileFails_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("says");
    QTest::newRow("folder missing") << QStringLiteral("/nonexistent-vantora/dir/Movie.avi")
                                    << QStringLiteral("does not exist");
    QTest::newRow("no name") << QString() << QStringLiteral("No file name");
    QTest::newRow("a folder") << QStringLiteral("@root") << QStringLiteral("is a folder");
    if (::geteuid() != 0)
        QTest::newRow("folder read-only")
            << QStringLiteral("@readonly/Movie.avi") << QStringLiteral("Cannot write");
}

void tst_Recording::badFileFails()
{
    QFETCH(QString, file);
    QFETCH(QString, says);
    if (file == QLatin1String("@root"))
        file = testenv::root();
    if (file.startsWith(QLatin1String("@readonly"))) {
        const QString dir = tempPath(QStringLiteral("readonly"));
        QDir().mkpath(dir);
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        file.replace(QLatin1String("@readonly"), dir);
    }
    Capture cap;
    QVERIFY(cap.setDriverIndex(patternIndex(cap)));
    cap.setCaptureFile(file);
    QSignalSpy errors(&cap, &Capture::errorOccurred);
    QVERIFY(!cap.startRecording());
    QVERIFY(!cap.isRecording());
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toInt(), int(Capture::RecordingFailed));
    QVERIFY2(errors.at(0).at(1).toString().contains(says), qPrintable(errors.at(0).at(1).toString()));
    QCOMPARE(cap.lastError(), errors.at(0).at(1).toString());
    QVERIFY(cap.connected()); // the preview is untouched
}

void tst_Recording::stopWithoutRecordingIsHarmless()
{
    Capture cap;
    QSignalSpy finished(&cap, &Capture::recordingFinished);
    cap.stopRecording();
    QVERIFY(cap.setDriverIndex(patternIndex(cap)));
    cap.stopRecording();
    QVERIFY(!cap.isRecording());
    QVERIFY(finished.isEmpty());
}

void tst_Recording::disconnectWhileRecordingFinishesFile()
{
    Capture cap;
    QVERIFY(cap.setDriverIndex(patternIndex(cap)));
    const QString file = tempPath(QStringLiteral("disconnect.avi"));
    cap.setCaptureFile(file);
    QSignalSpy finished(&cap, &Capture::recordingFinished);
    QVERIFY(cap.startRecording());
    QTest::qWait(1000);
    cap.disconnectDriver();
    QVERIFY(!cap.isRecording());
    QCOMPARE(finished.count(), 1);
    QVERIFY(finished.at(0).at(1).toBool());
    const MediaInfo m = discoverMedia(file);
    QVERIFY2(m.ok, qPrintable(m.error));
    QCOMPARE(m.audioStreams, 1);
    QVERIFY(m.durationSeconds > 0.5);
}

void tst_Recording::destroyingWhileRecordingFinishesFile()
{
    const QString file = tempPath(QStringLiteral("destroyed.avi"));
    {
        Capture cap;
        QVERIFY(cap.setDriverIndex(patternIndex(cap)));
        cap.setCaptureFile(file);
        QVERIFY(cap.startRecording());
        QTest::qWait(1000);
    }
    const MediaInfo m = discoverMedia(file);
    QVERIFY2(m.ok, qPrintable(m.error));
    QCOMPARE(m.videoStreams, 1);
    QVERIFY(m.durationSeconds > 0.5);
}

void tst_Recording::cleanup() { AviWriter::setBlockLimit(qint64(1) << 30); }

void tst_Recording::multiBlockRecordingKeepsEveryFrame_data()
{
    QTest::addColumn<int>("compression");
    QTest::addColumn<bool>("sound");
    QTest::addColumn<QSize>("size");
    QTest::newRow("mjpeg with sound") << int(Capture::Compression::Mjpeg) << true << QSize(640, 480);
    QTest::newRow("uncompressed without sound")
        << int(Capture::Compression::Uncompressed) << false << QSize(320, 240);
}

void tst_Recording::multiBlockRecordingKeepsEveryFrame()
{
    QFETCH(int, compression);
    QFETCH(bool, sound);
    QFETCH(QSize, size);
    // Blocks of 256 KiB stand in for 1 GiB ones: the same path in seconds.
    AviWriter::setBlockLimit(256 * 1024);
    Capture cap;
    QVERIFY(cap.setDriverIndex(patternIndex(cap)));
    QVERIFY(cap.setVideoFormat(size, 30));
    cap.setCompression(Capture::Compression(compression));
    cap.setCaptureAudio(sound);
    const QString file = tempPath(QStringLiteral("blocks-%1.avi").arg(compression));
    cap.setCaptureFile(file);
    qint64 recorded = 0;
    QVERIFY(recordFor(cap, 2500, &recorded));
    const AviContents c = readAviContents(file);
    QVERIFY2(c.blocks >= 3, qPrintable(QString::number(c.blocks)));
    checkComplete(file, c);
    QCOMPARE(c.videoChunks, cap.recordingStats().framesWritten);
    QCOMPARE(c.streamLengths.size(), sound ? 2 : 1);
    const MediaInfo m = discoverMedia(file);
    QVERIFY2(m.ok, qPrintable(m.error));
    QCOMPARE(m.videoSize, size);
    QVERIFY2(qAbs(m.durationSeconds - recorded / 1000.0) < 0.5,
             qPrintable(QString::number(m.durationSeconds)));
}

void tst_Recording::soundKeepsStepWithPicture_data()
{
    QTest::addColumn<Capture::AudioFormat>("format");
    QTest::addColumn<int>("fps");
    QTest::newRow("8 kHz mono 8 bit") << Capture::AudioFormat{8000, 1, 8, {}} << 30;
    QTest::newRow("11 kHz stereo at 15 fps") << Capture::AudioFormat{11025, 2, 16, {}} << 15;
    QTest::newRow("48 kHz stereo") << Capture::AudioFormat{48000, 2, 16, {}} << 25;
}

void tst_Recording::soundKeepsStepWithPicture()
{
    QFETCH(Capture::AudioFormat, format);
    QFETCH(int, fps);
    Capture cap;
    QVERIFY(cap.setDriverIndex(patternIndex(cap)));
    QVERIFY(cap.setVideoFormat(QSize(320, 240), fps));
    cap.setAudioFormat(format);
    const QString file = tempPath(QStringLiteral("step-%1.avi").arg(format.rate));
    cap.setCaptureFile(file);
    QTRY_VERIFY(cap.frameSerial() > 10); // sound starts with the recording, not the preview
    QVERIFY(recordFor(cap, 1500));
    const AviContents c = readAviContents(file);
    checkComplete(file, c);
    QCOMPARE(c.audioRate, format.rate);
    QCOMPARE(c.fps, fps);
    checkInStep(c);
    // The pattern moves: a take starts with two different pictures.
    QVERIFY(!c.firstFrame.isEmpty());
    QVERIFY(c.firstFrame != c.secondFrame);
}

void tst_Recording::fileFullMidwayKeepsWhatWasWritten_data()
{
    QTest::addColumn<qint64>("blockLimit");
    QTest::newRow("in the first block") << (qint64(1) << 30);
    QTest::newRow("in a later block") << qint64(256 * 1024);
}

void tst_Recording::fileFullMidwayKeepsWhatWasWritten()
{
    QFETCH(qint64, blockLimit);
    AviWriter::setBlockLimit(blockLimit);
    // A file size limit stands in for a full disk: writes past it fail with EFBIG.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    Capture cap;
    QVERIFY(cap.setDriverIndex(patternIndex(cap)));
    const QString file = tempPath(QStringLiteral("full-%1.avi").arg(blockLimit));
    cap.setCaptureFile(file);
    QSignalSpy errors(&cap, &Capture::errorOccurred);
    QSignalSpy finished(&cap, &Capture::recordingFinished);
    rlimit small = old;
    small.rlim_cur = 1500 * 1024;
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool started = cap.startRecording();
    if (started)
        finished.wait(15000);
    setrlimit(RLIMIT_FSIZE, &old);
    QVERIFY(started);
    QCOMPARE(finished.count(), 1);
    QVERIFY(finished.at(0).at(1).toBool()); // saved, although cut short
    QVERIFY(!cap.isRecording());
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toInt(), int(Capture::RecordingFailed));
    QVERIFY(cap.connected());
    // Everything up to the full disk is kept, less room for the index.
    const qint64 kept = QFileInfo(file).size();
    QVERIFY2(kept > qint64(small.rlim_cur) * 3 / 4, qPrintable(QString::number(kept)));
    const AviContents c = readAviContents(file);
    checkComplete(file, c);
    if (blockLimit < qint64(small.rlim_cur))
        QVERIFY(c.blocks >= 3);
    checkInStep(c);
    const MediaInfo m = discoverMedia(file);
    QVERIFY2(m.ok, qPrintable(m.error));
    QCOMPARE(m.container, QStringLiteral("video/x-msvideo"));
    QCOMPARE(m.videoSize, QSize(640, 480));
    QVERIFY2(m.durationSeconds > 0.1, qPrintable(QString::number(m.durationSeconds)));
}

void tst_Recording::repairKeepsEveryBlockOfCutFile()
{
    AviWriter::setBlockLimit(128 * 1024);
    Capture cap;
    QVERIFY(cap.setDriverIndex(patternIndex(cap)));
    const QString file = tempPath(QStringLiteral("blocks-whole.avi"));
    cap.setCaptureFile(file);
    QVERIFY(recordFor(cap, 2000));
    const QByteArray whole = readAll(file);
    const AviContents before = readAviContents(file);
    QVERIFY(before.blocks >= 4);

    // What a killed recorder leaves: closed blocks, then a torn last block
    // whose sizes are placeholders, and headers that count nothing.
    QByteArray cut = whole.left(whole.size() * 3 / 5 + 5);
    const qint64 lastRiff = cut.lastIndexOf("RIFF");
    QVERIFY(lastRiff > 0);
    putU32(cut, lastRiff + 4, 16);
    putU32(cut, lastRiff + 16, 4);
    putU32(cut, cut.indexOf("avih") + 8 + 16, 0);
    for (qint64 at = cut.indexOf("strh"); at >= 0 && at < cut.indexOf("movi");
         at = cut.indexOf("strh", at + 4))
        putU32(cut, at + 8 + 32, 0);
    for (qint64 at = cut.indexOf("indx"); at >= 0 && at < cut.indexOf("movi");
         at = cut.indexOf("indx", at + 4))
        putU32(cut, at + 8 + 4, 0);
    putU32(cut, cut.indexOf("dmlh") + 8, 0);
    const QString cutFile = tempPath(QStringLiteral("blocks-cut.avi"));
    QVERIFY(writeAll(cutFile, cut));
    QVERIFY(!readAviContents(cutFile).sizesMatch);
    quint64 completeFrames = 0, completeSound = 0;
    for (qint64 end : before.videoChunkEnds)
        completeFrames += end <= cut.size() ? 1 : 0;
    for (const auto& [end, size] : before.audioChunks)
        completeSound += end <= cut.size() ? size : 0;

    const AviRepairResult r = repairAviFile(cutFile);
    QVERIFY2(r.ok, qPrintable(r.error));
    QVERIFY(r.indexWritten);
    const AviContents c = readAviContents(cutFile);
    QCOMPARE(c.blocks, r.blocks);
    QVERIFY(c.blocks >= 2);
    QCOMPARE(c.videoChunks, completeFrames); // every complete frame and sound chunk
    QCOMPARE(c.audioBytes, completeSound);
    QCOMPARE(quint64(r.videoFrames), c.videoChunks);
    checkComplete(cutFile, c);
    // Repairing twice changes nothing.
    const QByteArray once = readAll(cutFile);
    QVERIFY(repairAviFile(cutFile).ok);
    QCOMPARE(readAll(cutFile), once);
}

void tst_Recording::repairEndsOnCraftedSizes_data()
{
    QTest::addColumn<QByteArray>("chunk"); // the size after the first of these is replaced
    QTest::addColumn<int>("after");        // bytes from the tag to the size
    QTest::addColumn<quint32>("size");
    for (quint32 size : {0xFFFFFFF7u, 0xFFFFFFF8u}) {
        const QByteArray hex = QByteArray::number(size, 16);
        QTest::newRow(("header list " + hex).constData()) << QByteArray("hdrl") << -4 << size;
        QTest::newRow(("stream list " + hex).constData()) << QByteArray("strl") << -4 << size;
        QTest::newRow(("stream header " + hex).constData()) << QByteArray("strh") << 4 << size;
        QTest::newRow(("movie list " + hex).constData()) << QByteArray("movi") << -4 << size;
        QTest::newRow(("first frame " + hex).constData()) << QByteArray("00dc") << 4 << size;
    }
}

namespace {
// A short recording of the test pattern, made once, for the cases that
// alter its bytes.
QString craftingSource()
{
    const QString source = tempPath(QStringLiteral("crafted-source.avi"));
    if (!QFile::exists(source)) {
        Capture cap;
        if (!cap.setDriverIndex(patternIndex(cap)))
            return {};
        cap.setCaptureFile(source);
        if (!recordFor(cap, 600))
            return {};
    }
    return source;
}
} // namespace

void tst_Recording::repairEndsOnCraftedSizes()
{
    QFETCH(QByteArray, chunk);
    QFETCH(int, after);
    QFETCH(quint32, size);
    const QString source = craftingSource();
    QVERIFY(!source.isEmpty());
    QByteArray crafted = readAll(source);
    const qint64 at = crafted.indexOf(chunk);
    QVERIFY(at > 0);
    putU32(crafted, at + after, size);
    const QString file = tempPath(QStringLiteral("crafted.avi"));
    QVERIFY(writeAll(file, crafted));
    // Ends (a hang here is the fault), and a file it cannot read stays as it was.
    const AviRepairResult r = repairAviFile(file);
    if (!r.ok) {
        QVERIFY(!r.error.isEmpty());
        QCOMPARE(readAll(file), crafted);
    } else {
        QVERIFY(decodeMedia(file).ok);
    }
}

void tst_Recording::repairKeepsFramesBesideSuperIndexWithoutRoom()
{
    // A super index too small for a single entry is no reason to give up
    // frames as if the disk were full, nor to give up more on each repair;
    // and the file still plays.
    const QString source = craftingSource();
    QVERIFY(!source.isEmpty());
    const QString plain = tempPath(QStringLiteral("plain.avi"));
    QVERIFY(writeAll(plain, readAll(source)));
    const AviRepairResult whole = repairAviFile(plain);
    QVERIFY2(whole.ok, qPrintable(whole.error));

    // The index keeps its header alone; the rest of its room becomes filler.
    QByteArray crafted = readAll(source);
    const qint64 at = crafted.indexOf("indx");
    QVERIFY(at > 0);
    const quint32 size = qFromLittleEndian<quint32>(crafted.constData() + at + 4);
    QVERIFY(size >= 24 + 16);
    putU32(crafted, at + 4, 24);
    crafted.replace(at + 8 + 24, 4, "JUNK");
    putU32(crafted, at + 8 + 24 + 4, size - 24 - 8);
    const QString file = tempPath(QStringLiteral("no-room.avi"));
    QVERIFY(writeAll(file, crafted));
    const AviRepairResult r = repairAviFile(file);
    QVERIFY2(r.ok, qPrintable(r.error));
    QVERIFY(!r.framesDropped);
    QCOMPARE(r.videoFrames, whole.videoFrames);
    const QByteArray repaired = readAll(file);
    const AviRepairResult again = repairAviFile(file);
    QVERIFY(again.ok);
    QCOMPARE(again.videoFrames, whole.videoFrames);
    QCOMPARE(readAll(file), repaired);
    const Decoded decoded = decodeMedia(file);
    QVERIFY2(decoded.ok, qPrintable(decoded.error));
    QCOMPARE(decoded.videoFrames, quint64(whole.videoFrames));
}

void tst_Recording::writerPadsMissingSoundInSmallChunks()
{
    // Ten seconds of picture, and the sound input delivered nothing.
    const QString file = tempPath(QStringLiteral("silent.avi"));
    AviWriter writer;
    QVERIFY(writer.open(file, {QSize(160, 120), 10, false}, AviWriter::Sound{8000, 1, 16}));
    const QByteArray frame(160 * 120 * 3 / 2, char(0x40));
    for (int i = 0; i < 100; ++i)
        writer.addFrame(frame.constData(), frame.size(), qint64(i) * 100000000);
    QVERIFY2(writer.finish(), qPrintable(writer.error()));
    const AviContents c = readAviContents(file);
    checkComplete(file, c);
    QCOMPARE(c.videoChunks, quint64(100));
    QCOMPARE(c.audioBytes, quint64(10 * 8000 * 2)); // exactly the picture's length
    for (const auto& [end, size] : c.audioChunks)
        QVERIFY(size <= 8000 * 2);
}

void tst_Recording::formatChosenWhileRecordingIsKeptForNextTake()
{
    Capture cap;
    QVERIFY(cap.setDriverIndex(patternIndex(cap)));
    cap.setCaptureAudio(false);
    const QString first = tempPath(QStringLiteral("take-1.avi"));
    cap.setCaptureFile(first);
    QSignalSpy finished(&cap, &Capture::recordingFinished);
    QVERIFY(cap.startRecording());
    QTRY_VERIFY(cap.recordingStats().framesWritten >= 5);
    // Chosen mid-take: this take keeps its size, the next one has the new one.
    QVERIFY(cap.setVideoFormat(QSize(320, 240), 15));
    QCOMPARE(cap.videoFormat().size, QSize(320, 240));
    cap.stopRecording();
    QVERIFY(finished.wait(10000));
    QCOMPARE(discoverMedia(first).videoSize, QSize(640, 480));
    QTRY_COMPARE(cap.frame().size(), QSize(320, 240));
    QCOMPARE(cap.width(), 320);
    const QString second = tempPath(QStringLiteral("take-2.avi"));
    cap.setCaptureFile(second);
    QVERIFY(recordFor(cap, 800));
    const MediaInfo m = discoverMedia(second);
    QCOMPARE(m.videoSize, QSize(320, 240));
    QCOMPARE(qRound(m.videoFps), 15);
}

void tst_Recording::unavailableSoundInputFailsClearly()
{
    Capture cap;
    QVERIFY(cap.setDriverIndex(patternIndex(cap)));
    cap.setAudioFormat({22050, 1, 16, QStringLiteral("pulsesrc device=\"no-such-input\"")});
    const QString file = tempPath(QStringLiteral("no-input.avi"));
    cap.setCaptureFile(file);
    QSignalSpy errors(&cap, &Capture::errorOccurred);
    QVERIFY(!cap.startRecording());
    QVERIFY(!cap.isRecording());
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toInt(), int(Capture::RecordingFailed));
    QVERIFY(!errors.at(0).at(1).toString().isEmpty());
    QVERIFY(!QFile::exists(file)); // nothing left behind
    QVERIFY(cap.connected());
    const quint64 serial = cap.frameSerial();
    QTRY_VERIFY(cap.frameSerial() > serial + 5); // the preview goes on
}

void tst_Recording::refusedStartShowsNoFiguresOfTheLastTake()
{
    Capture cap;
    QVERIFY(cap.setDriverIndex(patternIndex(cap)));
    cap.setCaptureFile(tempPath(QStringLiteral("before-refusal.avi")));
    QVERIFY(recordFor(cap, 1200));
    QVERIFY(cap.recordingStats().framesWritten > 0);
    QSignalSpy status(&cap, &Capture::statusChanged);
    cap.setCaptureFile(QStringLiteral("/nonexistent-vantora/Movie.avi"));
    QVERIFY(!cap.startRecording());
    QCOMPARE(status.count(), 1);
    QCOMPARE(status.at(0).at(0).toString(), QStringLiteral("Failed 00:00:00 - 0 frames written, 0 dropped"));
    QCOMPARE(cap.recordingStats().framesWritten, quint64(0));
}

void tst_Recording::deviceLostMidwayFinishesFile()
{
    Capture cap;
    QVERIFY(cap.setDriverIndex(patternIndex(cap)));
    const QString file = tempPath(QStringLiteral("unplugged.avi"));
    cap.setCaptureFile(file);
    QSignalSpy errors(&cap, &Capture::errorOccurred);
    QSignalSpy finished(&cap, &Capture::recordingFinished);
    QVERIFY(cap.startRecording());
    QTRY_VERIFY(cap.recordingStats().framesWritten >= 30);
    captureTesting::endSource(&cap);
    QVERIFY(finished.wait(10000));
    QVERIFY(finished.at(0).at(1).toBool());
    QVERIFY(!cap.isRecording());
    QTRY_COMPARE(errors.count(), 2);
    QCOMPARE(errors.at(0).at(0).toInt(), int(Capture::RecordingFailed));
    QCOMPARE(errors.at(1).at(0).toInt(), int(Capture::DeviceFailed));
    QVERIFY(!cap.connected());
    const MediaInfo m = discoverMedia(file);
    QVERIFY2(m.ok, qPrintable(m.error));
    QCOMPARE(m.audioStreams, 1);
    QVERIFY(m.durationSeconds > 0.8);
    const AviHeader h = readAviHeader(file);
    QVERIFY(h.riffSizeMatches && h.hasIndex && h.totalFrames >= 30);
}

void tst_Recording::repairMakesCutFilePlayable()
{
    Capture cap;
    QVERIFY(cap.setDriverIndex(patternIndex(cap)));
    const QString file = tempPath(QStringLiteral("whole.avi"));
    cap.setCaptureFile(file);
    QVERIFY(recordFor(cap, 1500));
    QFile whole(file);
    QVERIFY(whole.open(QIODevice::ReadOnly));
    const QByteArray bytes = whole.readAll();
    const int moviAt = bytes.indexOf("movi");
    QVERIFY(moviAt > 0);

    // What the muxer leaves when it dies: placeholder sizes, no index, a torn last chunk.
    QByteArray cut = bytes.left(moviAt + (bytes.size() - moviAt) / 2 + 7);
    const int riffSize = 0, moviSize = 4;
    memcpy(cut.data() + 4, &riffSize, 4);
    memcpy(cut.data() + moviAt - 4, &moviSize, 4);
    const QString cutFile = tempPath(QStringLiteral("cut.avi"));
    QFile out(cutFile);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(cut);
    out.close();

    QVERIFY(!readAviHeader(cutFile).riffSizeMatches);
    const AviRepairResult r = repairAviFile(cutFile);
    QVERIFY2(r.ok, qPrintable(r.error));
    QVERIFY(r.indexWritten);
    const AviHeader h = readAviHeader(cutFile);
    QVERIFY(h.riffSizeMatches);
    QVERIFY(h.hasIndex);
    QCOMPARE(h.totalFrames, r.videoFrames);
    QVERIFY(r.videoFrames > 5);
    QVERIFY(r.audioChunks > 0);
    const MediaInfo m = discoverMedia(cutFile);
    QVERIFY2(m.ok, qPrintable(m.error));
    QCOMPARE(m.videoStreams, 1);
    QCOMPARE(m.audioStreams, 1);
    QVERIFY(m.durationSeconds > 0.2 && m.durationSeconds < 1.5);
    // Repairing twice changes nothing.
    const AviRepairResult again = repairAviFile(cutFile);
    QVERIFY(again.ok);
    QCOMPARE(again.videoFrames, r.videoFrames);
}

void tst_Recording::repairRejectsNonAvi()
{
    const QString file = tempPath(QStringLiteral("not.avi"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("hello, this is no movie at all");
    f.close();
    const AviRepairResult r = repairAviFile(file);
    QVERIFY(!r.ok);
    QVERIFY(!r.error.isEmpty());
    QCOMPARE(QFileInfo(file).size(), qint64(30)); // untouched
    QVERIFY(!repairAviFile(tempPath(QStringLiteral("missing.avi"))).ok);
}

void tst_Recording::videoFormatChangesFrameSize()
{
    Capture cap;
    QVERIFY(cap.setDriverIndex(patternIndex(cap)));
    QVERIFY(cap.hasVideoFormatDialog());
    QVERIFY(cap.hasVideoSourceDialog()); // its pattern choices
    QVERIFY(cap.videoFormats().size() >= 3);
    QCOMPARE(cap.width(), 640);
    QVERIFY(cap.setVideoFormat(QSize(320, 240), 15));
    QVERIFY(cap.connected());
    QTRY_VERIFY(cap.grabFrame() && cap.frame().size() == QSize(320, 240));
    QCOMPARE(cap.width(), 320);
    QCOMPARE(cap.height(), 240);
    QVERIFY(!cap.setVideoFormat(QSize(333, 222), 30)); // not offered
    QCOMPARE(cap.videoFormat().size, QSize(320, 240));
}

void tst_Recording::dialogsHandBackChoices()
{
    VideoCompressionDialog comp(Capture::Compression::Mjpeg, 70);
    QCOMPARE(comp.quality(), 70);
    QVERIFY(comp.qualityBox->isEnabled());
    comp.compressor->setCurrentIndex(1);
    QCOMPARE(comp.compression(), Capture::Compression::Uncompressed);
    QVERIFY(!comp.qualityBox->isEnabled());

    Capture cap;
    VideoFormatDialog fmt(cap.videoFormats(), cap.videoFormat());
    QCOMPARE(fmt.size(), QSize(640, 480));
    QCOMPARE(fmt.fps(), 30);
    fmt.sizeBox->setCurrentIndex(fmt.sizeBox->findData(QSize(160, 120)));
    QCOMPARE(fmt.fps(), 30); // the rate is kept where the new size offers it
    QVERIFY(fmt.rateBox->count() >= 2);

    AudioFormatDialog audio({44100, 2, 16, {}});
    QCOMPARE(audio.format(), (Capture::AudioFormat{44100, 2, 16, {}}));
    audio.bitsBox->setCurrentIndex(0);
    audio.channelsBox->setCurrentIndex(0);
    QCOMPARE(audio.format(), (Capture::AudioFormat{44100, 1, 8, {}}));
    // Sound inputs: the default first, then what the system offers.
    AudioFormatDialog inputs({22050, 1, 16, {}}, {{QStringLiteral("Desk microphone"),
                                                   QStringLiteral("pulsesrc device=\"desk\"")}});
    QCOMPARE(inputs.inputBox->count(), 2);
    QCOMPARE(inputs.inputBox->itemText(0), QStringLiteral("Default input"));
    QVERIFY(inputs.format().input.isEmpty());
    inputs.inputBox->setCurrentIndex(1);
    QCOMPARE(inputs.format().input, QStringLiteral("pulsesrc device=\"desk\""));
    cap.setAudioFormat(inputs.format());
    QCOMPARE(cap.audioFormat().input, QStringLiteral("pulsesrc device=\"desk\""));
    cap.setAudioFormat({12345, 7, 12, {}}); // nonsense is bounded
    QCOMPARE(cap.audioFormat().channels, 2);
    QVERIFY(Capture::audioRates().contains(cap.audioFormat().rate));
}

VANTORA_TEST_MAIN(tst_Recording)
#include "tst_recording.moc"
