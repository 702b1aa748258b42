#include "capture/Capture.h"
#include "capture/CaptureTesting.h"
#include "capture/Prompt.h"
#include "reelsmith/FileHelpers.h"
#include "reelsmith/RecorderSplash.h"
#include "reelsmith/RecorderWindow.h"
#include "reelsmith/ReelLayout.h"
#include "reelsmith/TakeMarker.h"
#include "tests/capture/MediaInfo.h"
#include "tests/support/TestEnvironment.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScreen>
#include <QSignalSpy>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {
QString tempPath(const QString& name) { return testenv::root() + QLatin1Char('/') + name; }

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A main window whose restarts are recorded instead of run.
struct Recorder
{
    QStringList launched;
    RecorderWindow::Launcher launcher()
    {
        return [this](const QString& folder, const QString& program) {
            launched << QDir(folder).filePath(program);
            return true;
        };
    }
};
} // namespace

class tst_Reelsmith : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void fileExists_data();
    void fileExists();
    void fitsLargeControl();
    void keepsDesignedSizeForSmallControl();
    void restartCommandLine_data();
    void restartCommandLine();
    void startsStandInProgram();
    void startProgramFailsWithReason();
    void closingRestartsOnlyWithReload_data();
    void closingRestartsOnlyWithReload();

    void splashOpensMainWindow();
    void mainWindowStartsAsDesigned();
    void optionsTogglesViews();
    void captureSoundSwitchesAudioFormat();
    void browse_data();
    void browse();
    void overwriteAnsweredNoChangesNothing();
    void recordsThroughWindow_data();
    void recordsThroughWindow();
    void missingFolderShowsRetryCancel();
    void closingWhileRecordingFinishesFile();
    void quittingWhileRecordingFinishesFile();
    void failureMidwayReportedAndFileKept_data();
    void failureMidwayReportedAndFileKept();

    void controlFitsScreen_data();
    void controlFitsScreen();
    void takeSpaceText_data();
    void takeSpaceText();
    void movieFilePath_data();
    void movieFilePath();
    void bareNameLandsInDialogFolder();
    void killedRecorderTakeIsRepairedOnNextStart();
    void reloadStartsVantoraFromItsFolder();
    void reloadWithoutVantoraSaysSo();
};

void tst_Reelsmith::initTestCase()
{
    // Notes of takes and the home folder stay inside the test's own folder.
    const QString home = tempPath(QStringLiteral("home"));
    QDir().mkpath(home);
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_STATE_HOME", QFile::encodeName(tempPath(QStringLiteral("state"))));
}

void tst_Reelsmith::init() { MessageBox::clearHistory(); }

void tst_Reelsmith::fileExists_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("exists");
    const QString file = tempPath(QStringLiteral("exists.txt"));
    writeFile(file, "x");
    QTest::newRow("file") << file << true;
    QTest::newRow("file with trailing slash") << file + QLatin1Char('/') << true;
    QTest::newRow("missing") << tempPath(QStringLiteral("missing.txt")) << false;
    QTest::newRow("folder with slash") << testenv::root() + QLatin1Char('/') << false;
    QTest::newRow("folder") << testenv::root() << false;
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("only a slash") << QStringLiteral("/") << false;
    if (::geteuid() != 0) { // root reads everything
        const QString locked = tempPath(QStringLiteral("locked.txt"));
        writeFile(locked, "x");
        QFile::setPermissions(locked, QFileDevice::WriteOwner);
        QTest::newRow("unreadable") << locked << false;
    }
}

void tst_Reelsmith::fileExists()
{
    QFETCH(QString, path);
    QFETCH(bool, exists);
    QCOMPARE(reel::fileExists(path), exists);
}

void tst_Reelsmith::fitsLargeControl()
{
    // 640 x 480 pixels.
    const reel::Layout l = reel::fitToControl(reel::Layout{}, 9600, 7200);
    QCOMPARE(l.frameWidth, 9770);
    QCOMPARE(l.windowWidth, 10100);
    QCOMPARE(l.frameHeight, 7480);
    QCOMPARE(l.windowHeight, 375 + 7480 + 1200);
    QCOMPARE(l.buttonTop, l.windowHeight - 2 * 375 - 375 - 200);
    QCOMPARE(l.closeLeft, 10100 - 1095 - 200);
    QCOMPARE(l.goLeft, l.closeLeft - 1695 - 150);
    QCOMPARE(l.optionsLeft, l.goLeft - 1095 - 150);
    // Only one side larger: only that side grows.
    const reel::Layout wide = reel::fitToControl(reel::Layout{}, 9600, 1800);
    QCOMPARE(wide.windowWidth, 10100);
    QCOMPARE(wide.windowHeight, reel::Layout{}.windowHeight);
}

void tst_Reelsmith::keepsDesignedSizeForSmallControl()
{
    const reel::Layout designed;
    for (QSize control : {QSize(2400, 1800), QSize(4575, 2775)}) {
        const reel::Layout l = reel::fitToControl(designed, control.width(), control.height());
        QCOMPARE(l.windowWidth, designed.windowWidth);
        QCOMPARE(l.windowHeight, designed.windowHeight);
        QCOMPARE(l.frameWidth, designed.frameWidth);
        QCOMPARE(l.frameHeight, designed.frameHeight);
        // The buttons are placed all the same.
        QCOMPARE(l.buttonTop, 4630 - 750 - 375 - 200);
        QCOMPARE(l.closeLeft, 5075 - 1095 - 200);
        QCOMPARE(l.optionsLeft, 5075 - 1095 - 200 - 1695 - 150 - 1095 - 150);
        QVERIFY(l.optionsLeft > 0);
    }
}

void tst_Reelsmith::restartCommandLine_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("restart");
    QTest::newRow("/reload") << QStringList{"reelsmith", "/reload"} << true;
    QTest::newRow("nothing") << QStringList{"reelsmith"} << false;
    QTest::newRow("more after it") << QStringList{"reelsmith", "/reload", "x"} << false;
    QTest::newRow("other case") << QStringList{"reelsmith", "/RELOAD"} << false;
    QTest::newRow("with a space") << QStringList{"reelsmith", "/reload "} << false;
    QTest::newRow("something else") << QStringList{"reelsmith", "-reload"} << false;
}

void tst_Reelsmith::restartCommandLine()
{
    QFETCH(QStringList, args);
    QFETCH(bool, restart);
    QCOMPARE(reel::isRestartCommandLine(args), restart);
}

void tst_Reelsmith::startsStandInProgram()
{
    // A small stand-in for the main program that leaves a mark where it runs.
    const QString folder = tempPath(QStringLiteral("standin"));
    QVERIFY(QDir().mkpath(folder));
    const QString program = folder + QStringLiteral("/vantora");
    writeFile(program, "#!/bin/sh\necho started > \"$(dirname \"$0\")/mark\"\n");
    QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QString error;
    QVERIFY2(reel::startProgram(folder, QStringLiteral("vantora"), &error), qPrintable(error));
    QTRY_VERIFY(QFile::exists(folder + QStringLiteral("/mark")));
}

void tst_Reelsmith::startProgramFailsWithReason()
{
    QString error;
    QVERIFY(!reel::startProgram(tempPath(QStringLiteral("nowhere")), QStringLiteral("vantora"), &error));
    QVERIFY(error.contains(QLatin1String("no such file")));
}

void tst_Reelsmith::closingRestartsOnlyWithReload_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("starts");
    QTest::newRow("started with /reload") << QStringList{"reelsmith", "/reload"} << 1;
    QTest::newRow("started plainly") << QStringList{"reelsmith"} << 0;
}

void tst_Reelsmith::closingRestartsOnlyWithReload()
{
    QFETCH(QStringList, args);
    QFETCH(int, starts);
    Recorder rec;
    RecorderWindow w(args);
    w.setLauncher(rec.launcher());
    w.setProgramFolder(QStringLiteral("/opt/vantora/bin"));
    w.show();
    QCOMPARE(w.restartFlag(), starts == 1);
    w.closeButton->click();
    QVERIFY(!w.isVisible());
    QCOMPARE(rec.launched.size(), starts);
    if (starts)
        QCOMPARE(rec.launched.first(), QStringLiteral("/opt/vantora/bin/vantora"));
    QVERIFY(!w.capture->connected()); // the camera is free for the main program
}

void tst_Reelsmith::splashOpensMainWindow()
{
    QPointer<RecorderSplash> splash = new RecorderSplash({"reelsmith"});
    splash->show();
    QVERIFY(splash->windowTitle().isEmpty());
    QVERIFY(splash->windowFlags().testFlag(Qt::FramelessWindowHint));
    QCOMPARE(splash->messageLabel->text(), QStringLiteral("Please wait... Loading Reel Smith"));
    QCOMPARE(splash->openTimer->interval(), 5000);
    QVERIFY(splash->openTimer->isActive());
    QVERIFY(splash->openTimer->isSingleShot());
    splash->openMainWindow(); // what the timer does after five seconds
    QPointer<RecorderWindow> main = splash->mainWindow();
    QVERIFY(main);
    QVERIFY(main->isVisible());
    QCOMPARE(main->windowTitle(), QStringLiteral("Reel Smith"));
    QTRY_VERIFY(!splash); // unloaded
    main->close();
    QTRY_VERIFY(!main);
}

void tst_Reelsmith::mainWindowStartsAsDesigned()
{
    RecorderWindow w({"reelsmith"});
    w.show();
    QCOMPARE(w.windowTitle(), QStringLiteral("Reel Smith"));
    QCOMPARE(w.optionsButton->text(), QStringLiteral("Options"));
    QCOMPARE(w.recordButton->text(), QStringLiteral("Go make movie"));
    QCOMPARE(w.closeButton->text(), QStringLiteral("Close"));
    QCOMPARE(w.previewFrame->title(), QStringLiteral("Preview"));
    QCOMPARE(w.videoOptionsBox->title(), QStringLiteral("Video Options"));
    QCOMPARE(w.soundOptionsBox->title(), QStringLiteral("Sound Options"));
    QCOMPARE(w.storageBox->title(), QStringLiteral("Storage options"));
    QCOMPARE(w.compressionButton->text(), QStringLiteral("Video Compression"));
    QCOMPARE(w.videoFormatButton->text(), QStringLiteral("Video format"));
    QCOMPARE(w.audioFormatButton->text(), QStringLiteral("Audio format"));
    QCOMPARE(w.browseButton->text(), QStringLiteral("Browse"));
    QCOMPARE(w.soundSwitch->text(), QStringLiteral("Capture sound"));
    QVERIFY(w.soundSwitch->isChecked());
    QVERIFY(w.capture->captureAudio());
    QCOMPARE(w.fileEdit->text(), RecorderWindow::startFolder() + QStringLiteral("/Movie.avi"));
    QVERIFY(QFileInfo(RecorderWindow::startFolder()).isDir());
    QVERIFY(!w.restartFlag());
    // The default device (the pattern here) at 640 x 480: the window grew to fit it.
    QVERIFY(w.capture->connected());
    QVERIFY(w.capture->previewWidget()->isVisible());
    const QSize screen = w.screen()->availableGeometry().size();
    if (screen.height() * 15 >= 480 * 15 + 1855 && screen.width() * 15 >= 640 * 15 + 500) {
        QCOMPARE(w.layout().windowWidth, 640 * 15 + 170 + 330);
        QCOMPARE(w.capture->previewWidget()->size(), QSize(640, 480));
    } else {
        // A screen too small for it (offscreen is 800 x 600): the window fits it.
        QVERIFY(w.layout().windowWidth <= screen.width() * 15);
        QVERIFY(w.layout().windowHeight <= screen.height() * 15);
        QVERIFY(w.capture->previewWidget()->width() < 640);
    }
    // Buttons lie inside the window and clear of each other.
    QVERIFY(w.optionsButton->geometry().right() < w.recordButton->geometry().left());
    QVERIFY(w.recordButton->geometry().right() < w.closeButton->geometry().left());
    QVERIFY(w.rect().contains(w.closeButton->geometry()));
    QVERIFY(w.rect().contains(w.statusLabel->geometry()));
    QVERIFY(w.statusLabel->geometry().top() > w.recordButton->geometry().bottom());
    QVERIFY(w.previewFrame->geometry().bottom() < w.recordButton->geometry().top());
}

void tst_Reelsmith::optionsTogglesViews()
{
    RecorderWindow w({"reelsmith"});
    w.show();
    QVERIFY(w.previewFrame->isVisible());
    w.optionsButton->click();
    QCOMPARE(w.optionsButton->text(), QStringLiteral("OK"));
    QVERIFY(!w.previewFrame->isVisible());
    QVERIFY(w.videoOptionsBox->isVisible() && w.soundOptionsBox->isVisible() && w.storageBox->isVisible());
    w.optionsButton->click();
    QCOMPARE(w.optionsButton->text(), QStringLiteral("Options"));
    QVERIFY(w.previewFrame->isVisible());
}

void tst_Reelsmith::captureSoundSwitchesAudioFormat()
{
    RecorderWindow w({"reelsmith"});
    w.show();
    w.optionsButton->click();
    w.soundSwitch->click();
    QVERIFY(!w.soundSwitch->isChecked());
    QVERIFY(!w.capture->captureAudio());
    QVERIFY(!w.audioFormatButton->isEnabled());
    w.soundSwitch->click();
    QVERIFY(w.capture->captureAudio());
    QVERIFY(w.audioFormatButton->isEnabled());
}

void tst_Reelsmith::browse_data()
{
    QTest::addColumn<QString>("returned");
    QTest::addColumn<bool>("changes");
    QTest::newRow("cancel") << QString() << false;
    QTest::newRow("bare preset name") << QStringLiteral("Movie.avi") << false;
    QTest::newRow("bare preset, other case") << QStringLiteral("MOVIE.AVI") << false;
    QTest::newRow("movie.avi in another folder") << QStringLiteral("/srv/films/movie.avi") << true;
    QTest::newRow("another name") << QStringLiteral("/srv/films/Holiday.avi") << true;
}

void tst_Reelsmith::browse()
{
    QFETCH(QString, returned);
    QFETCH(bool, changes);
    RecorderWindow w({"reelsmith"});
    const QString before = w.fileEdit->text();
    FileDialog::setNextFileName(returned);
    w.browseButton->click();
    QCOMPARE(FileDialog::lastCaption(), QStringLiteral("Save movie as..."));
    QCOMPARE(FileDialog::lastPath(), RecorderWindow::startFolder() + QStringLiteral("/Movie.avi"));
    QCOMPARE(w.fileEdit->text(), changes ? returned : before);
}

void tst_Reelsmith::overwriteAnsweredNoChangesNothing()
{
    RecorderWindow w({"reelsmith"});
    const QString file = tempPath(QStringLiteral("keep.avi"));
    writeFile(file, "precious");
    w.fileEdit->setText(file);
    MessageBox::setNextAnswer(QMessageBox::No);
    w.recordButton->click();
    QCOMPARE(MessageBox::history().size(), 1);
    const MessageBox::Shown& box = MessageBox::history().first();
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.title, QStringLiteral("Vantora"));
    QCOMPARE(box.text, QStringLiteral("File ") + file +
                           QStringLiteral(" already exist. Do you want to overwrite this file?"));
    QCOMPARE(box.buttons, MessageBox::Buttons(QMessageBox::Yes | QMessageBox::No));
    QCOMPARE(w.recordButton->text(), QStringLiteral("Go make movie"));
    QVERIFY(!w.capture->isRecording());
    QCOMPARE(readFile(file), QByteArray("precious"));
}

void tst_Reelsmith::recordsThroughWindow_data()
{
    QTest::addColumn<bool>("sound");
    QTest::addColumn<bool>("existing"); // answered Yes to the question
    QTest::newRow("with sound") << true << false;
    QTest::newRow("without sound, overwriting") << false << true;
}

void tst_Reelsmith::recordsThroughWindow()
{
    QFETCH(bool, sound);
    QFETCH(bool, existing);
    RecorderWindow w({"reelsmith"});
    w.show();
    const QString file = tempPath(QStringLiteral("window-%1.avi").arg(sound));
    if (existing)
        writeFile(file, "old");
    w.fileEdit->setText(file);
    if (!sound)
        w.soundSwitch->click();
    if (existing)
        MessageBox::setNextAnswer(QMessageBox::Yes);
    QSignalSpy finished(w.capture, &Capture::recordingFinished);
    QElapsedTimer t;
    w.recordButton->click();
    t.start();
    QCOMPARE(w.recordButton->text(), QStringLiteral("STOP!"));
    QVERIFY(w.capture->isRecording());
    QCOMPARE(MessageBox::history().size(), existing ? 1 : 0);
    QTRY_VERIFY(w.statusLabel->text().startsWith(QLatin1String("Recording 00:00:01")));
    // What the take holds so far and the room left on the disk.
    QVERIFY2(
        QRegularExpression(
            QStringLiteral(" - \\d+ frames written, \\d+ dropped - [0-9.]+ [KMGT]B, [0-9.]+ [KMGT]B free"))
            .match(w.statusLabel->text())
            .hasMatch(),
        qPrintable(w.statusLabel->text()));
    QTRY_VERIFY(t.elapsed() >= 2000);
    w.recordButton->click();
    const qint64 recorded = t.elapsed();
    QCOMPARE(w.recordButton->text(), QStringLiteral("Go make movie"));
    QVERIFY(finished.wait(10000));
    QTRY_VERIFY(w.statusLabel->text().startsWith(QLatin1String("Stopped")));

    const MediaInfo m = discoverMedia(file);
    QVERIFY2(m.ok, qPrintable(m.error));
    QCOMPARE(m.container, QStringLiteral("video/x-msvideo"));
    QCOMPARE(m.videoSize, QSize(640, 480));
    QCOMPARE(m.audioStreams, sound ? 1 : 0);
    QVERIFY2(qAbs(m.durationSeconds - recorded / 1000.0) < 0.5,
             qPrintable(QString::number(m.durationSeconds)));
}

void tst_Reelsmith::missingFolderShowsRetryCancel()
{
    RecorderWindow w({"reelsmith"});
    const QString file = QStringLiteral("/nonexistent-vantora/Movie.avi");
    w.fileEdit->setText(file);
    MessageBox::setNextAnswer(QMessageBox::Retry);
    // Retry repeats the start (and fails again), Cancel leaves.
    QObject::connect(w.capture, &Capture::errorOccurred, &w, [] {
        if (MessageBox::history().size() == 1)
            MessageBox::setNextAnswer(QMessageBox::Cancel);
    });
    w.recordButton->click();
    QCOMPARE(MessageBox::history().size(), 2);
    for (const MessageBox::Shown& box : MessageBox::history()) {
        QCOMPARE(box.icon, QMessageBox::Critical);
        QCOMPARE(box.title, QStringLiteral("Error"));
        QCOMPARE(box.text, QStringLiteral("Error: The folder /nonexistent-vantora does not exist"));
        QCOMPARE(box.buttons, MessageBox::Buttons(QMessageBox::Retry | QMessageBox::Cancel));
    }
    QCOMPARE(MessageBox::history().at(1).answer, QMessageBox::Cancel);
    QVERIFY(!w.capture->isRecording());
    // The caption already read "STOP!"; pressing it stops nothing and goes back.
    QCOMPARE(w.recordButton->text(), QStringLiteral("STOP!"));
    w.recordButton->click();
    QCOMPARE(w.recordButton->text(), QStringLiteral("Go make movie"));
    QVERIFY(w.capture->connected());
}

void tst_Reelsmith::closingWhileRecordingFinishesFile()
{
    Recorder rec;
    auto* w = new RecorderWindow({"reelsmith", "/reload"});
    w->setAttribute(Qt::WA_DeleteOnClose);
    w->setLauncher(rec.launcher());
    QPointer<RecorderWindow> alive = w;
    w->show();
    const QString file = tempPath(QStringLiteral("closing.avi"));
    w->fileEdit->setText(file);
    w->recordButton->click();
    QVERIFY(w->capture->isRecording());
    QTRY_VERIFY(w->capture->recordingStats().framesWritten > 20);
    w->close();
    QTRY_VERIFY(!alive); // closed once the file was complete
    QCOMPARE(rec.launched.size(), 1);
    const MediaInfo m = discoverMedia(file);
    QVERIFY2(m.ok, qPrintable(m.error));
    QCOMPARE(m.audioStreams, 1);
    QVERIFY(m.durationSeconds > 0.5);
}

void tst_Reelsmith::quittingWhileRecordingFinishesFile()
{
    RecorderWindow w({"reelsmith"});
    w.show();
    const QString file = tempPath(QStringLiteral("quitting.avi"));
    w.fileEdit->setText(file);
    w.recordButton->click();
    QTRY_VERIFY(w.capture->recordingStats().framesWritten > 20);
    // What the application announces on its way out (session end, SIGTERM).
    QVERIFY(QMetaObject::invokeMethod(qApp, "aboutToQuit", Qt::DirectConnection));
    QVERIFY(!w.capture->isRecording());
    const AviHeader h = readAviHeader(file);
    QVERIFY(h.riffSizeMatches && h.hasIndex && h.totalFrames > 20);
    QVERIFY(discoverMedia(file).ok);
}

void tst_Reelsmith::failureMidwayReportedAndFileKept_data()
{
    QTest::addColumn<bool>("diskFull"); // else the camera goes away
    QTest::newRow("disk full") << true;
    QTest::newRow("device unplugged") << false;
}

void tst_Reelsmith::failureMidwayReportedAndFileKept()
{
    QFETCH(bool, diskFull);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
    RecorderWindow w({"reelsmith"});
    w.show();
    const QString file = tempPath(QStringLiteral("midway-%1.avi").arg(diskFull));
    w.fileEdit->setText(file);
    rlimit small = old;
    small.rlim_cur = 1200 * 1024; // stands in for a full disk
    if (diskFull)
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    MessageBox::setNextAnswer(QMessageBox::Cancel);
    w.recordButton->click();
    if (!diskFull) {
        QTRY_VERIFY(w.capture->recordingStats().framesWritten >= 20);
        captureTesting::endSource(w.capture);
    }
    QTRY_VERIFY_WITH_TIMEOUT(!MessageBox::history().isEmpty(), 15000);
    setrlimit(RLIMIT_FSIZE, &old);
    const MessageBox::Shown box = MessageBox::history().first();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, QStringLiteral("Error"));
    QVERIFY2(box.text.startsWith(QLatin1String("Error: ")), qPrintable(box.text));
    QCOMPARE(box.buttons, MessageBox::Buttons(QMessageBox::Retry | QMessageBox::Cancel));
    QCOMPARE(w.recordButton->text(), QStringLiteral("Go make movie"));
    QVERIFY(!w.capture->isRecording());
    const MediaInfo m = discoverMedia(file);
    QVERIFY2(m.ok, qPrintable(m.error));
    QCOMPARE(m.videoSize, QSize(640, 480));
    QVERIFY(m.durationSeconds > 0.1);
}

void tst_Reelsmith::controlFitsScreen_data()
{
    QTest::addColumn<QSize>("picture"); // pixels
    QTest::addColumn<QSize>("screen");  // available, pixels
    QTest::addColumn<bool>("asDesigned");
    QTest::newRow("640x480 on 1920x1080") << QSize(640, 480) << QSize(1920, 1040) << true;
    QTest::newRow("1280x720 on 1920x1080") << QSize(1280, 720) << QSize(1920, 1040) << true;
    QTest::newRow("1280x720 on 1366x768") << QSize(1280, 720) << QSize(1366, 768) << false;
    QTest::newRow("1280x720 on 1366x768 less a panel") << QSize(1280, 720) << QSize(1366, 740) << false;
    QTest::newRow("800x600 on 1024x600") << QSize(800, 600) << QSize(1024, 600) << false;
    QTest::newRow("160x120 on 800x600") << QSize(160, 120) << QSize(800, 600) << true;
}

void tst_Reelsmith::controlFitsScreen()
{
    QFETCH(QSize, picture);
    QFETCH(QSize, screen);
    QFETCH(bool, asDesigned);
    const reel::ControlSize control{picture.width() * 15, picture.height() * 15};
    const reel::ControlSize fitted =
        reel::fitControlToScreen(control, {screen.width() * 15, screen.height() * 15});
    const reel::Layout l = reel::fitToControl(reel::Layout{}, fitted.width, fitted.height);
    if (asDesigned) {
        QCOMPARE(fitted.width, control.width);
        QCOMPARE(fitted.height, control.height);
        return;
    }
    // The whole window, caption and borders included, is on the screen...
    QVERIFY2(l.windowWidth <= screen.width() * 15 && l.windowHeight <= screen.height() * 15,
             qPrintable(QStringLiteral("%1 x %2 twips").arg(l.windowWidth).arg(l.windowHeight)));
    // ...with the picture as large as that allows, in its own shape.
    QVERIFY(l.windowHeight > screen.height() * 15 - 30 || l.windowWidth > screen.width() * 15 - 30);
    QVERIFY(qAbs(double(fitted.width) / fitted.height - double(picture.width()) / picture.height()) < 0.01);
    QVERIFY(l.buttonTop + l.buttonHeight < l.windowHeight);
}

void tst_Reelsmith::takeSpaceText_data()
{
    QTest::addColumn<qint64>("file");
    QTest::addColumn<qint64>("free");
    QTest::addColumn<double>("rate"); // bytes per second
    QTest::addColumn<QString>("text");
    QTest::newRow("plenty") << qint64(12345678) << qint64(4500000000) << 1e6
                            << QStringLiteral("12.3 MB, 4.5 GB free");
    QTest::newRow("small file") << qint64(2048) << qint64(999000000) << 0.0
                                << QStringLiteral("2.0 KB, 999.0 MB free");
    QTest::newRow("under a minute left") << qint64(1000000000) << qint64(2000000000) << 41.5e6
                                         << QStringLiteral("1.0 GB, 2.0 GB free - the disk is almost full");
    QTest::newRow("under 50 MB left") << qint64(0) << qint64(49999999) << 0.0
                                      << QStringLiteral("0.0 KB, 50.0 MB free - the disk is almost full");
}

void tst_Reelsmith::takeSpaceText()
{
    QFETCH(qint64, file);
    QFETCH(qint64, free);
    QFETCH(double, rate);
    QFETCH(QString, text);
    QCOMPARE(reel::takeSpaceText(file, free, rate), text);
}

void tst_Reelsmith::movieFilePath_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("path");
    const QString home = QDir::homePath();
    QTest::newRow("full path") << QStringLiteral("/srv/films/Holiday.avi")
                               << QStringLiteral("/srv/films/Holiday.avi");
    QTest::newRow("no extension") << QStringLiteral("/srv/films/clip")
                                  << QStringLiteral("/srv/films/clip.avi");
    QTest::newRow("bare name") << QStringLiteral("clip") << QStringLiteral("/videos/clip.avi");
    QTest::newRow("bare name with extension")
        << QStringLiteral("clip.avi") << QStringLiteral("/videos/clip.avi");
    QTest::newRow("relative folder") << QStringLiteral("takes/one.avi")
                                     << QStringLiteral("/videos/takes/one.avi");
    QTest::newRow("home") << QStringLiteral("~/x.avi") << home + QStringLiteral("/x.avi");
    QTest::newRow("home, no extension")
        << QStringLiteral("~/films/x") << home + QStringLiteral("/films/x.avi");
    QTest::newRow("other extension kept")
        << QStringLiteral("/srv/clip.mkv") << QStringLiteral("/srv/clip.mkv");
    QTest::newRow("trailing dot") << QStringLiteral("/srv/clip.") << QStringLiteral("/srv/clip.avi");
    QTest::newRow("spaces around") << QStringLiteral("  /srv/a b.avi  ") << QStringLiteral("/srv/a b.avi");
    QTest::newRow("empty") << QString() << QString();
}

void tst_Reelsmith::movieFilePath()
{
    QFETCH(QString, typed);
    QFETCH(QString, path);
    QCOMPARE(reel::movieFilePath(typed, QStringLiteral("/videos")), path);
}

void tst_Reelsmith::bareNameLandsInDialogFolder()
{
    RecorderWindow w({"reelsmith"});
    const QString expected = RecorderWindow::startFolder() + QStringLiteral("/clip.avi");
    writeFile(expected, "precious");
    w.fileEdit->setText(QStringLiteral("clip"));
    MessageBox::setNextAnswer(QMessageBox::No);
    w.recordButton->click();
    QCOMPARE(MessageBox::history().size(), 1);
    QCOMPARE(MessageBox::history().first().text,
             QStringLiteral("File ") + expected +
                 QStringLiteral(" already exist. Do you want to overwrite this file?"));
    QCOMPARE(w.fileEdit->text(), expected);
    QVERIFY(!w.capture->isRecording());
    QCOMPARE(readFile(expected), QByteArray("precious"));
}

void tst_Reelsmith::killedRecorderTakeIsRepairedOnNextStart()
{
    const QString file = tempPath(QStringLiteral("killed.avi"));
    QProcess child;
    child.setProgram(testenv::binDir() + QStringLiteral("/reelsmith_record_child"));
    child.setArguments({file, QString::number(256 * 1024)}); // small blocks: the take spans several
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start();
    QVERIFY2(child.waitForStarted(), qPrintable(child.errorString()));
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += child.readAllStandardOutput()).contains("Recording 00:00:02"), 30000);
    child.kill(); // SIGKILL: nothing of the recorder runs after it
    QVERIFY(child.waitForFinished());
    QCOMPARE(child.exitStatus(), QProcess::CrashExit);

    // What it left: headers that count nothing, and its note.
    const AviContents left = readAviContents(file);
    QCOMPARE(left.mainHeaderFrames, 0u);
    QVERIFY(!left.sizesMatch);
    QVERIFY(left.videoChunks >= 40);
    const QDir notes(reel::TakeMarker::folder());
    QCOMPARE(notes.entryList({QStringLiteral("*.take")}).size(), 1);

    // The next start repairs it and says so.
    RecorderWindow w({"reelsmith"});
    QTRY_COMPARE(MessageBox::history().size(), 1);
    const MessageBox::Shown box = MessageBox::history().first();
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.title, QStringLiteral("Reel Smith"));
    QVERIFY2(box.text.startsWith(QStringLiteral("The recording ") + file +
                                 QStringLiteral(" was cut off. It has been repaired: ")),
             qPrintable(box.text));
    QVERIFY(notes.entryList({QStringLiteral("*.take")}).isEmpty());

    const AviContents c = readAviContents(file);
    QVERIFY(c.sizesMatch);
    QVERIFY(c.blocks >= 2);
    QVERIFY(c.videoChunks >= left.videoChunks - 1);
    QVERIFY(box.text.contains(QStringLiteral(": %1 frames were kept.").arg(c.videoChunks)));
    QCOMPARE(quint64(c.odmlFrames), c.videoChunks);
    QCOMPARE(quint64(c.streamLengths.value(0)), c.videoChunks);
    QCOMPARE(c.superIndexDuration.value(0), c.videoChunks);
    QCOMPARE(int(c.superIndexUsed.value(0)), c.blocks);
    QVERIFY(qAbs(c.audioSeconds() - c.videoSeconds()) <= 1.0 / 30 + 1e-6);
    const MediaInfo m = discoverMedia(file);
    QVERIFY2(m.ok, qPrintable(m.error));
    QVERIFY2(qAbs(m.durationSeconds - c.videoSeconds()) < 0.1,
             qPrintable(QStringLiteral("%1 s for %2 frames").arg(m.durationSeconds).arg(c.videoChunks)));
    const Decoded decoded = decodeMedia(file);
    QVERIFY2(decoded.ok, qPrintable(decoded.error));
    QCOMPARE(decoded.videoFrames, c.videoChunks);
}

void tst_Reelsmith::reloadStartsVantoraFromItsFolder()
{
    // A stand-in for the main program that leaves a mark where it runs.
    const QString folder = tempPath(QStringLiteral("with-vantora"));
    QVERIFY(QDir().mkpath(folder));
    const QString program = folder + QStringLiteral("/vantora");
    writeFile(program, "#!/bin/sh\necho started > \"$(dirname \"$0\")/mark\"\n");
    QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    RecorderWindow w({"reelsmith", "/reload"});
    w.setProgramFolder(folder); // the window's own launcher
    w.show();
    w.closeButton->click();
    QTRY_VERIFY(QFile::exists(folder + QStringLiteral("/mark")));
    QVERIFY(MessageBox::history().isEmpty());
}

void tst_Reelsmith::reloadWithoutVantoraSaysSo()
{
    const QString folder = tempPath(QStringLiteral("no-vantora"));
    QDir().mkpath(folder);
    RecorderWindow w({"reelsmith", "/reload"});
    w.setProgramFolder(folder); // the window's own launcher: nothing there to start
    // Nor on PATH, where an installed vantora would be found.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(folder));
    auto restorePath = qScopeGuard([&] { qputenv("PATH", path); });
    w.show();
    w.closeButton->click();
    QCOMPARE(MessageBox::history().size(), 1);
    const MessageBox::Shown box = MessageBox::history().first();
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.title, QStringLiteral("Reel Smith"));
    QCOMPARE(box.text, QStringLiteral("Cannot start ") + folder + QStringLiteral("/vantora: no such file"));
}

VANTORA_TEST_MAIN(tst_Reelsmith)
#include "tst_reelsmith.moc"
