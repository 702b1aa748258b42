#include "capture/Capture.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QImageReader>
#include <QSignalSpy>
#include <QWidget>

namespace {
int testPatternIndex(const Capture& cap) { return cap.driverCount() - 1; }

// Bits per pixel straight from the BMP header, not what the loader converts to.
int bmpBitsPerPixel(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray head = f.read(30);
    if (head.size() < 30 || !head.startsWith("BM"))
        return -1;
    return quint8(head[28]) | (quint8(head[29]) << 8);
}
} // namespace

class tst_Capture : public QObject
{
    Q_OBJECT
private slots:
    void driverListEndsWithTestPattern();
    void connectsTestPatternAndGrabsDeviceSize();
    void successiveFramesDiffer();
    void savesTwentyFourBitBitmap();
    void saveWithoutFrameFails();
    void badDriverFails_data();
    void badDriverFails();
    void disconnectReleasesAndGrabReopens();
    void previewWidgetPaintsFrames();
};

void tst_Capture::driverListEndsWithTestPattern()
{
    Capture cap;
    QVERIFY(cap.driverCount() >= 1);
    const int last = testPatternIndex(cap);
    QCOMPARE(cap.driverName(last), QStringLiteral("Test pattern"));
    QVERIFY(!cap.driverDescription(last).isEmpty());
    QVERIFY(cap.driver(last).device.isEmpty());
    for (int i = 0; i < last; ++i)
        QVERIFY(cap.driver(i).device.startsWith(QLatin1String("/dev/")));
    // Out of range: empty, no crash.
    QVERIFY(cap.driverName(-1).isEmpty());
    QVERIFY(cap.driverName(cap.driverCount()).isEmpty());

    // A camera added by hand keeps the pattern last and the order by path.
    cap.addCamera(QStringLiteral("/dev/video-zz-missing"));
    const int b = cap.addCamera(QStringLiteral("/dev/video-aa-missing"));
    QCOMPARE(cap.driver(b + 1).device, QStringLiteral("/dev/video-zz-missing"));
    QCOMPARE(cap.driverName(testPatternIndex(cap)), QStringLiteral("Test pattern"));
    QCOMPARE(cap.addCamera(QStringLiteral("/dev/video-aa-missing")), b);
}

void tst_Capture::connectsTestPatternAndGrabsDeviceSize()
{
    Capture cap;
    QSignalSpy errors(&cap, &Capture::errorOccurred);
    QVERIFY(cap.setDriverIndex(testPatternIndex(cap)));
    QCOMPARE(cap.driverIndex(), testPatternIndex(cap));
    QVERIFY(cap.connected());
    QTRY_VERIFY(cap.grabFrame());
    const QImage f = cap.frame();
    QCOMPARE(f.size(), QSize(640, 480));
    QCOMPARE(f.format(), QImage::Format_RGB32);
    QCOMPARE(cap.frameSize(), QSize(640, 480));
    QVERIFY(errors.isEmpty());
}

void tst_Capture::successiveFramesDiffer()
{
    Capture cap;
    QVERIFY(cap.setDriverIndex(testPatternIndex(cap)));
    QSignalSpy arrived(&cap, &Capture::frameArrived);
    QTRY_VERIFY(cap.grabFrame());
    const QImage first = cap.frame().copy();
    const quint64 serial = cap.frameSerial();
    QVERIFY(arrived.wait(2000));
    QTRY_VERIFY(cap.frameSerial() > serial + 3);
    QVERIFY(cap.grabFrame());
    QVERIFY(cap.frame() != first);
}

void tst_Capture::savesTwentyFourBitBitmap()
{
    Capture cap;
    QVERIFY(cap.setDriverIndex(testPatternIndex(cap)));
    QTRY_VERIFY(cap.grabFrame());
    const QString path = testenv::root() + QStringLiteral("/frame.bmp");
    QVERIFY(cap.saveFrameAsBitmap(path));
    QCOMPARE(bmpBitsPerPixel(path), 24);
    QImage loaded(path);
    QVERIFY(!loaded.isNull());
    QCOMPARE(loaded.size(), cap.frameSize());
    // Same picture, not just the same size (the saved frame may be one newer).
    QCOMPARE(loaded.pixel(5, 5), cap.frame().pixel(5, 5));
}

void tst_Capture::saveWithoutFrameFails()
{
    Capture cap;
    const QString path = testenv::root() + QStringLiteral("/none.bmp");
    QVERIFY(!cap.saveFrameAsBitmap(path));
    QVERIFY(!QFile::exists(path));
}

void tst_Capture::badDriverFails_data()
{
    QTest::addColumn<QString>("missingCamera");
    QTest::addColumn<int>("offsetFromEnd"); // index = driverCount + offset
    QTest::addColumn<int>("number");
    QTest::newRow("index past the end") << QString() << 0 << int(Capture::NoSuchDriver);
    QTest::newRow("negative index") << QString() << -1000 << int(Capture::NoSuchDriver);
    QTest::newRow("camera path that does not exist")
        << QStringLiteral("/dev/video-vantora-none") << -2 << int(Capture::DeviceFailed);
}

void tst_Capture::badDriverFails()
{
    QFETCH(QString, missingCamera);
    QFETCH(int, offsetFromEnd);
    QFETCH(int, number);
    Capture cap;
    if (!missingCamera.isEmpty())
        cap.addCamera(missingCamera);
    // Connected first, so a failed switch must also drop the old connection.
    QVERIFY(cap.setDriverIndex(testPatternIndex(cap)));
    QSignalSpy errors(&cap, &Capture::errorOccurred);
    int index = cap.driverCount() + offsetFromEnd;
    if (!missingCamera.isEmpty())
        index = 0;
    QVERIFY(!cap.setDriverIndex(index));
    QVERIFY(!cap.connected());
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toInt(), number);
    QVERIFY(!errors.at(0).at(1).toString().isEmpty());
    if (!missingCamera.isEmpty()) {
        // The selected camera is still missing: grabbing reports again, no crash.
        QVERIFY(!cap.grabFrame());
        QCOMPARE(errors.count(), 2);
    }
}

void tst_Capture::disconnectReleasesAndGrabReopens()
{
    Capture cap;
    QVERIFY(cap.setDriverIndex(testPatternIndex(cap)));
    QTRY_VERIFY(cap.grabFrame());
    cap.disconnectDriver();
    QVERIFY(!cap.connected());
    const quint64 serial = cap.frameSerial();
    // Nothing arrives from a released device.
    QSignalSpy arrived(&cap, &Capture::frameArrived);
    QVERIFY(!arrived.wait(300));
    QCOMPARE(cap.frameSerial(), serial);
    cap.disconnectDriver(); // twice is harmless
    // Grabbing opens the selected driver again.
    QTRY_VERIFY(cap.grabFrame() && cap.frameSerial() > serial);
    QVERIFY(cap.connected());
}

void tst_Capture::previewWidgetPaintsFrames()
{
    Capture cap;
    QWidget window;
    window.resize(400, 400);
    QWidget* view = cap.previewWidget();
    view->setParent(&window);
    cap.setDisplayRect(QRect(0, 0, 400, 400));
    QCOMPARE(view->geometry(), QRect(0, 0, 400, 400));
    window.show();
    cap.setPreview(true);
    QVERIFY(cap.preview());
    QVERIFY(cap.setDriverIndex(testPatternIndex(cap)));
    QTRY_VERIFY(cap.grabFrame());

    // 640x480 in 400x400 keeps its aspect: black bars above and below.
    QTRY_VERIFY(view->grab().toImage().pixelColor(200, 200) != QColor(Qt::black));
    QImage shot = view->grab().toImage();
    QCOMPARE(shot.pixelColor(200, 10), QColor(Qt::black));
    // Stretched, it fills the whole rectangle.
    cap.setStretch(true);
    QTRY_VERIFY(view->grab().toImage().pixelColor(200, 10) != QColor(Qt::black));
}

VANTORA_TEST_MAIN(tst_Capture)
#include "tst_capture.moc"
