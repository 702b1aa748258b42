#include "capture/Capture.h"
#include "capture/Prompt.h"
#include "image/FrameBuffer.h"
#include "image/JpegEncoder.h"
#include "shell/Snapshots.h"
#include "shell/SnapshotsWindow.h"
#include "tests/support/TestEnvironment.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>

namespace {

// The program's encoder, as the program hands it to the snapshots.
QByteArray encodeJpeg(const QImage& picture, int quality)
{
    FrameBuffer buffer;
    if (!buffer.createFrom(picture))
        return {};
    return sharedJpegEncoder().encode(buffer, quality);
}

QImage testFrame()
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(QColor(200, 40, 90));
    return image;
}

void touch(const QString& path, const QByteArray& content = "x")
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(content);
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

QString failureText(const QString& path)
{
    return QStringLiteral("Failed to save the picture to the file: '%1'").arg(path);
}

} // namespace

class tst_Snapshots : public QObject
{
    Q_OBJECT
private slots:
    void init() { MessageBox::clearHistory(); }
    void cleanup() { unloadSnapshotsWindow(); }

    void nextPictureTakesLowestFreeNumber_data();
    void nextPictureTakesLowestFreeNumber();
    void intervalAndUnitText_data();
    void intervalAndUnitText();
    void threeTimedPicturesFromTheCamera();
    void failedSaveLeavesNoFile_data();
    void failedSaveLeavesNoFile();
    void pictureTakenMeanwhileIsNotReplaced();
    void tickWhileFailureIsShownIsSkipped();
    void windowOpensWithTimerOff();
    void windowTimerBoxAndSlider();
    void windowBrowse_data();
    void windowBrowse();
    void windowButtonSavesAndShowsFailure();
};

void tst_Snapshots::nextPictureTakesLowestFreeNumber_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("next");
    QTest::newRow("empty folder") << QStringList{} << "Picture0.jpg";
    QTest::newRow("first taken") << QStringList{"Picture0.jpg"} << "Picture1.jpg";
    QTest::newRow("gap filled") << QStringList{"Picture0.jpg", "Picture2.jpg"} << "Picture1.jpg";
    QTest::newRow("other files ignored")
        << QStringList{"Picture00.jpg", "picture0.jpg", "Picture0.png"} << "Picture0.jpg";
}

void tst_Snapshots::nextPictureTakesLowestFreeNumber()
{
    QFETCH(QStringList, present);
    QFETCH(QString, next);
    QTemporaryDir dir;
    for (const QString& name : present)
        touch(dir.filePath(name));
    QCOMPARE(Snapshots::nextPicturePath(dir.path()), dir.filePath(next));

    // Taking it writes exactly that file.
    Snapshots snaps(testFrame, encodeJpeg);
    snaps.setFolder(dir.path());
    QSignalSpy saved(&snaps, &Snapshots::saved);
    QVERIFY(snaps.takePicture());
    QCOMPARE(saved.count(), 1);
    QCOMPARE(saved.at(0).at(0).toString(), dir.filePath(next));
    QCOMPARE(filesIn(dir.path()).size(), present.size() + 1);
}

void tst_Snapshots::intervalAndUnitText_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<int>("kept");
    QTest::addColumn<QString>("unit");
    QTest::newRow("1") << 1 << 1 << "second";
    QTest::newRow("15") << 15 << 15 << "15 seconds";
    QTest::newRow("60") << 60 << 60 << "60 seconds";
    QTest::newRow("below the range") << 0 << 1 << "second";
    QTest::newRow("above the range") << 61 << 60 << "60 seconds";
}

void tst_Snapshots::intervalAndUnitText()
{
    QFETCH(int, seconds);
    QFETCH(int, kept);
    QFETCH(QString, unit);
    Snapshots snaps(testFrame, encodeJpeg);
    QCOMPARE(snaps.interval(), 60);
    QVERIFY(!snaps.timerEnabled());
    snaps.setTimerEnabled(true);
    snaps.setInterval(seconds);
    QCOMPARE(snaps.interval(), kept);
    QCOMPARE(snaps.unitText(), unit);
    QCOMPARE(snaps.timer().interval(), kept * 1000);
    QVERIFY(snaps.timerEnabled());
    snaps.setTimerEnabled(false);
    QVERIFY(!snaps.timerEnabled());
}

void tst_Snapshots::threeTimedPicturesFromTheCamera()
{
    Capture camera;
    QVERIFY(camera.setDriverIndex(camera.driverCount() - 1)); // the test pattern
    QTRY_VERIFY(camera.grabFrame());
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("new/Pictures")); // made on the first picture
    SnapshotsWindow window(&camera, encodeJpeg);
    window.folderEdit->setText(folder);
    window.timerBox->setChecked(true);
    window.intervalSlider->setValue(1);
    QCOMPARE(window.snapshots->timer().interval(), 1000);
    QVERIFY(window.snapshots->timerEnabled());

    QSignalSpy saved(window.snapshots, &Snapshots::saved);
    for (int i = 0; i < 3; ++i) {
        // A new frame for each picture, as a second apart would give.
        const quint64 serial = camera.frameSerial();
        QTRY_VERIFY(camera.grabFrame() && camera.frameSerial() > serial);
        window.snapshots->onTick();
    }
    QCOMPARE(saved.count(), 3);
    QCOMPARE(filesIn(folder), (QStringList{"Picture0.jpg", "Picture1.jpg", "Picture2.jpg"}));
    QImage previous;
    for (const QString& name : filesIn(folder)) {
        QImageReader reader(QDir(folder).filePath(name));
        QCOMPARE(reader.format(), QByteArray("jpeg"));
        const QImage picture = reader.read();
        QVERIFY2(!picture.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(picture.size(), camera.frameSize());
        QVERIFY(picture != previous);
        previous = picture;
        // Readable by others as any new file is, not private like a temporary one.
        QVERIFY(QFile::permissions(QDir(folder).filePath(name)) & QFileDevice::ReadOther);
    }
    QVERIFY(MessageBox::history().isEmpty());
    QVERIFY(window.takeButton->isEnabled());
}

void tst_Snapshots::failedSaveLeavesNoFile_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("folder"); // under the test's folder
    QTest::newRow("folder is a file") << "file"
                                      << "taken";
    QTest::newRow("folder below a file") << "file"
                                         << "taken/deeper";
    QTest::newRow("read-only folder") << "readonly"
                                      << "locked";
    QTest::newRow("no frame from the camera") << "noframe"
                                              << "pictures";
    QTest::newRow("encoding fails") << "noencoder"
                                    << "pictures";
}

void tst_Snapshots::failedSaveLeavesNoFile()
{
    QFETCH(QString, how);
    QFETCH(QString, folder);
    QTemporaryDir dir;
    touch(dir.filePath(QStringLiteral("taken")));
    QDir(dir.path()).mkpath(QStringLiteral("locked"));
    QDir(dir.path()).mkpath(QStringLiteral("pictures"));
    QFile::setPermissions(dir.filePath(QStringLiteral("locked")),
                          QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    testenv::PermissionsEnforced enforced; // as root too

    Snapshots::FrameSource grab = testFrame;
    if (how == QLatin1String("noframe"))
        grab = [] { return QImage(); };
    Snapshots::JpegWriter encode = encodeJpeg;
    if (how == QLatin1String("noencoder"))
        encode = [](const QImage&, int) { return QByteArray(); };
    Snapshots snaps(grab, encode);
    const QString target = dir.filePath(folder);
    snaps.setFolder(target);
    QSignalSpy failed(&snaps, &Snapshots::failed);
    QSignalSpy busy(&snaps, &Snapshots::busyChanged);
    QVERIFY(!snaps.takePicture());
    QCOMPARE(failed.count(), 1);
    QCOMPARE(failed.at(0).at(0).toString(),
             failureText(QDir(target).filePath(QStringLiteral("Picture0.jpg"))));
    QVERIFY(!snaps.lastError().isEmpty());
    // The button is given back in every case.
    QCOMPARE(busy.count(), 2);
    QCOMPARE(busy.at(1).at(0).toBool(), false);
    QVERIFY(!snaps.busy());
    // Nothing half-written anywhere.
    QCOMPARE(filesIn(dir.path()), QStringList{"taken"});
    QVERIFY(filesIn(dir.filePath(QStringLiteral("locked"))).isEmpty());
    QVERIFY(filesIn(dir.filePath(QStringLiteral("pictures"))).isEmpty());
    QFile::setPermissions(dir.filePath(QStringLiteral("locked")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

void tst_Snapshots::pictureTakenMeanwhileIsNotReplaced()
{
    // Another program saves Picture0.jpg between the look for a free number
    // and the moment the picture is complete.
    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("Picture0.jpg"));
    Snapshots snaps(testFrame, [&](const QImage& picture, int quality) {
        touch(first, "theirs");
        return encodeJpeg(picture, quality);
    });
    snaps.setFolder(dir.path());
    QSignalSpy saved(&snaps, &Snapshots::saved);
    QVERIFY(snaps.takePicture());
    QCOMPARE(saved.at(0).at(0).toString(), dir.filePath(QStringLiteral("Picture1.jpg")));
    QFile theirs(first);
    QVERIFY(theirs.open(QIODevice::ReadOnly));
    QCOMPARE(theirs.readAll(), QByteArray("theirs"));
    QVERIFY(!QImage(dir.filePath(QStringLiteral("Picture1.jpg"))).isNull());
    QCOMPARE(filesIn(dir.path()), (QStringList{"Picture0.jpg", "Picture1.jpg"}));
}

void tst_Snapshots::tickWhileFailureIsShownIsSkipped()
{
    int grabs = 0;
    Snapshots snaps(
        [&] {
            ++grabs;
            return QImage();
        },
        encodeJpeg);
    QTemporaryDir dir;
    snaps.setFolder(dir.path());
    int nestedFailures = 0;
    // The failure box runs an event loop: timer ticks arrive while it is open.
    connect(&snaps, &Snapshots::failed, &snaps, [&] {
        snaps.onTick();
        QVERIFY(!snaps.takePicture());
        ++nestedFailures;
    });
    snaps.onTick();
    QCOMPARE(grabs, 1);
    QCOMPARE(nestedFailures, 1);
    QVERIFY(!snaps.busy());
}

void tst_Snapshots::windowOpensWithTimerOff()
{
    QWidget owner;
    owner.setWindowIcon(QIcon(QPixmap(16, 16)));
    SnapshotsWindow* w = openSnapshotsWindow(&owner, nullptr, encodeJpeg);
    QCOMPARE(loadedSnapshotsWindow(), w);
    QCOMPARE(openSnapshotsWindow(&owner, nullptr, encodeJpeg), w); // one instance
    QCOMPARE(w->windowTitle(), QStringLiteral("Make Pictures"));
    QVERIFY(!w->windowIcon().isNull());
    QCOMPARE(w->headingLabel->text(), QStringLiteral("Create picture timer"));
    QCOMPARE(w->timerBox->text(), QStringLiteral("Enable Timer"));
    QCOMPARE(w->everyLabel->text(), QStringLiteral("Take picture every"));
    QCOMPARE(w->folderLabel->text(), QStringLiteral("Save Pictures in"));
    QCOMPARE(w->browseButton->text(), QStringLiteral("Browse"));
    QCOMPARE(w->takeButton->text(), QStringLiteral("MAKE PICTURE!"));
    QCOMPARE(w->closeButton->text(), QStringLiteral("Close"));
    QVERIFY(!w->timerBox->isChecked());
    QCOMPARE(w->intervalSlider->value(), 60);
    QCOMPARE(w->unitLabel->text(), QStringLiteral("60 seconds"));
    QCOMPARE(w->snapshots->timer().interval(), 60000);
    QVERIFY(!w->snapshots->timerEnabled());
    QVERIFY(!w->intervalSlider->isEnabled());
    QVERIFY(!w->everyLabel->isEnabled());
    QVERIFY(!w->unitLabel->isEnabled());
    QCOMPARE(w->folderEdit->text(), Snapshots::defaultFolder());
    // Unloading ends the timer and the window.
    w->timerBox->setChecked(true);
    QPointer<SnapshotsWindow> gone(w);
    unloadSnapshotsWindow();
    QVERIFY(!loadedSnapshotsWindow());
    QTRY_VERIFY(!gone);
}

void tst_Snapshots::windowTimerBoxAndSlider()
{
    SnapshotsWindow w(nullptr, encodeJpeg);
    w.timerBox->setChecked(true);
    for (QWidget* c : {static_cast<QWidget*>(w.intervalSlider), static_cast<QWidget*>(w.everyLabel),
                       static_cast<QWidget*>(w.unitLabel)})
        QVERIFY(c->isEnabled());
    QVERIFY(w.snapshots->timerEnabled());
    w.intervalSlider->setValue(1);
    QCOMPARE(w.unitLabel->text(), QStringLiteral("second"));
    QCOMPARE(w.snapshots->timer().interval(), 1000);
    w.intervalSlider->setValue(15);
    QCOMPARE(w.unitLabel->text(), QStringLiteral("15 seconds"));
    QCOMPARE(w.snapshots->timer().interval(), 15000);
    // The new interval counts from now.
    QVERIFY(w.snapshots->timer().remainingTime() > 14000);
    w.timerBox->setChecked(false);
    QVERIFY(!w.snapshots->timerEnabled());
    QVERIFY(!w.intervalSlider->isEnabled());
}

void tst_Snapshots::windowBrowse_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("folder");
    QTest::newRow("a folder") << "/srv/pictures"
                              << "/srv/pictures";
    QTest::newRow("cancelled") << ""
                               << "/start/here";
}

void tst_Snapshots::windowBrowse()
{
    QFETCH(QString, chosen);
    QFETCH(QString, folder);
    SnapshotsWindow w(nullptr, encodeJpeg);
    w.folderEdit->setText(QStringLiteral("/start/here"));
    FileDialog::setNextFileName(chosen);
    w.browseButton->click();
    QCOMPARE(FileDialog::lastCaption(), QStringLiteral("Please select a folder to save your Pictures."));
    QCOMPARE(w.folderEdit->text(), folder);
    QCOMPARE(w.snapshots->folder(), folder);
}

void tst_Snapshots::windowButtonSavesAndShowsFailure()
{
    Capture camera;
    QVERIFY(camera.setDriverIndex(camera.driverCount() - 1));
    QTRY_VERIFY(camera.grabFrame());
    QTemporaryDir dir;
    SnapshotsWindow w(&camera, encodeJpeg);
    w.folderEdit->setText(dir.path());
    w.takeButton->click();
    QCOMPARE(filesIn(dir.path()), QStringList{"Picture0.jpg"});
    QVERIFY(MessageBox::history().isEmpty());

    // A folder that is a file: the message with the picture's name, the button back.
    const QString file = dir.filePath(QStringLiteral("Picture0.jpg"));
    w.folderEdit->setText(file);
    w.takeButton->click();
    QCOMPARE(MessageBox::history().size(), 1);
    const MessageBox::Shown shown = MessageBox::history().at(0);
    QCOMPARE(shown.icon, QMessageBox::Warning);
    QCOMPARE(shown.title, QStringLiteral("Vantora"));
    QCOMPARE(shown.text, failureText(file + QStringLiteral("/Picture0.jpg")));
    QVERIFY(w.takeButton->isEnabled());
    QCOMPARE(filesIn(dir.path()), QStringList{"Picture0.jpg"});
}

VANTORA_TEST_MAIN(tst_Snapshots)
#include "tst_snapshots.moc"
