#include "capture/Capture.h"
#include "capture/CaptureTesting.h"
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
    void missingDriverServesNothing_data();
    void missingDriverServesNothing();
    void findsCameraByIdentity_data();
    void findsCameraByIdentity();
    void choosingReportsTheDriver();
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

namespace {
// A camera list as a machine could report it: "path|name|bus" per camera
// (none of these nodes exists here), then the test pattern.
QList<std::shared_ptr<CameraSource>> cameraList(const QStringList& cameras)
{
    QList<std::shared_ptr<CameraSource>> out;
    for (const QString& c : cameras) {
        const QStringList f = c.split(u'|');
        out.append(CameraSource::camera(f.at(0), f.at(1), f.at(2)));
    }
    out.append(std::make_shared<TestPatternSource>());
    return out;
}

const QString builtIn = QStringLiteral("/dev/video0|Integrated Camera|usb-0000:00:14.0-5");
const QString external = QStringLiteral("/dev/video2|USB Camera|usb-0000:00:14.0-1");
} // namespace

void tst_Capture::missingDriverServesNothing_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("message");
    QTest::newRow("number past the end") << "index"
                                         << "No capture driver number 5";
    QTest::newRow("remembered camera unplugged") << "identity"
                                                 << "The camera USB Camera (/dev/video2) is not connected";
}

void tst_Capture::missingDriverServesNothing()
{
    QFETCH(QString, how);
    QFETCH(QString, message);
    Capture cap;
    // Driver 0 works (the pattern stands in for the built-in camera): it must not be served instead.
    captureTesting::setSources(&cap, {std::make_shared<TestPatternSource>()});
    QSignalSpy errors(&cap, &Capture::errorOccurred);
    QSignalSpy arrived(&cap, &Capture::frameArrived);
    if (how == QLatin1String("index"))
        QVERIFY(!cap.setDriverIndex(5));
    else
        QVERIFY(!cap.selectDriver({QStringLiteral("/dev/video2"), QStringLiteral("USB Camera"),
                                   QStringLiteral("usb-0000:00:14.0-1")}));
    QCOMPARE(cap.driverIndex(), -1);
    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.at(0).at(0).toInt(), int(Capture::NoSuchDriver));
    QCOMPARE(errors.at(0).at(1).toString(), message);
    // What the server and the start-up do next: grab, and record.
    QVERIFY(!cap.grabFrame());
    QVERIFY(!cap.connected());
    QCOMPARE(cap.driverIndex(), -1);
    QCOMPARE(errors.count(), 2);
    QCOMPARE(errors.at(1).at(1).toString(), message);
    cap.setCaptureFile(testenv::root() + QStringLiteral("/none.avi"));
    QVERIFY(!cap.startRecording());
    QVERIFY(!cap.connected());
    QVERIFY(!arrived.wait(300));
    QVERIFY(cap.frame().isNull());
    QVERIFY(!cap.hasVideoSourceDialog());
    QVERIFY(!cap.hasVideoFormatDialog());
    // Choosing a driver that is there works again.
    QVERIFY(cap.setDriverIndex(0));
    QTRY_VERIFY(cap.grabFrame());
}

void tst_Capture::findsCameraByIdentity_data()
{
    QTest::addColumn<QStringList>("cameras");
    QTest::addColumn<QString>("remembered"); // path|name|bus
    QTest::addColumn<QString>("found");      // device path, "pattern", or empty for none
    QTest::newRow("same node") << QStringList{builtIn, external} << external << "/dev/video2";
    QTest::newRow("replugged, another node")
        << QStringList{builtIn, "/dev/video4|USB Camera|usb-0000:00:14.0-1"} << external << "/dev/video4";
    QTest::newRow("unplugged: not the built-in one") << QStringList{builtIn} << external << "";
    QTest::newRow("same model in another socket")
        << QStringList{builtIn, "/dev/video2|USB Camera|usb-0000:00:14.0-2"} << external << "";
    QTest::newRow("another camera on that node")
        << QStringList{"/dev/video2|Other Camera|usb-0000:00:14.0-1"} << external << "";
    QTest::newRow("bus not known, same node and name")
        << QStringList{"/dev/video2|USB Camera|"} << external << "/dev/video2";
    QTest::newRow("remembered without bus") << QStringList{builtIn, external} << "/dev/video2|USB Camera|"
                                            << "/dev/video2";
    QTest::newRow("second node of the same camera")
        << QStringList{external, "/dev/video3|USB Camera|usb-0000:00:14.0-1"}
        << "/dev/video3|USB Camera|usb-0000:00:14.0-1"
        << "/dev/video3";
    QTest::newRow("test pattern") << QStringList{builtIn} << "|Test pattern|"
                                  << "pattern";
}

void tst_Capture::findsCameraByIdentity()
{
    QFETCH(QStringList, cameras);
    QFETCH(QString, remembered);
    QFETCH(QString, found);
    Capture cap;
    captureTesting::setSources(&cap, cameraList(cameras));
    const QStringList f = remembered.split(u'|');
    const CameraIdentity identity{f.at(0), f.at(1), f.at(2)};
    const int index = cap.findDriver(identity);
    if (found.isEmpty()) {
        QCOMPARE(index, -1);
        return;
    }
    QVERIFY(index >= 0);
    QCOMPARE(cap.driver(index).device, found == QLatin1String("pattern") ? QString() : found);
    // What is stored for a driver finds it again.
    QCOMPARE(cap.findDriver(cap.driverIdentity(index)), index);
}

void tst_Capture::choosingReportsTheDriver()
{
    Capture cap;
    captureTesting::setSources(&cap, cameraList({builtIn}));
    QSignalSpy chosen(&cap, &Capture::driverChosen);
    QVERIFY(cap.setDriverIndex(1));
    QVERIFY(!cap.setDriverIndex(0)); // there, but does not open: still chosen
    QVERIFY(!cap.setDriverIndex(7));
    QCOMPARE(chosen.count(), 2);
    QCOMPARE(chosen.at(0).at(0).toInt(), 1);
    QCOMPARE(chosen.at(1).at(0).toInt(), 0);
    QCOMPARE(cap.driverIdentity(0),
             (CameraIdentity{QStringLiteral("/dev/video0"), QStringLiteral("Integrated Camera"),
                             QStringLiteral("usb-0000:00:14.0-5")}));
    QVERIFY(cap.driverIdentity(7).isEmpty());
}

VANTORA_TEST_MAIN(tst_Capture)
#include "tst_capture.moc"
