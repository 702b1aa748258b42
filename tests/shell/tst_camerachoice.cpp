#include "capture/Capture.h"
#include "capture/CaptureTesting.h"
#include "shell/CameraChoice.h"
#include "shell/Settings.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>

namespace {
// The built-in camera stands first; the test pattern plays it so that opening it works.
class BuiltInCamera : public TestPatternSource
{
public:
    QString name() const override { return QStringLiteral("Integrated Camera"); }
    CameraIdentity identity() const override
    {
        return {QStringLiteral("/dev/video0"), name(), QStringLiteral("usb-0000:00:14.0-5")};
    }
};

std::shared_ptr<CameraSource> external(const QString& node)
{
    return CameraSource::camera(node, QStringLiteral("USB Camera"), QStringLiteral("usb-0000:00:14.0-1"));
}
} // namespace

class tst_CameraChoice : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    int n = 0;

private slots:
    void init() { Settings::usePath(dir.path() + QStringLiteral("/settings%1/vantora.conf").arg(++n)); }

    void storedCamera_data();
    void storedCamera();
    void choiceIsRememberedWithIdentity();
};

void tst_CameraChoice::storedCamera_data()
{
    QTest::addColumn<QString>("settings"); // the file as an older or newer program left it
    QTest::addColumn<bool>("externalPlugged");
    QTest::addColumn<int>("selected");
    QTest::addColumn<bool>("connected");
    QTest::newRow("older file: by number") << "[Settings]\ndrivera=0\n" << false << 0 << true;
    QTest::newRow("older file: number of nothing") << "[Settings]\ndrivera=9\n" << false << -1 << false;
    QTest::newRow("remembered camera present")
        << "[Settings]\ndrivera=0\ndriverdevice=/dev/video2\ndrivername=USB Camera\n"
           "driverbus=usb-0000:00:14.0-1\n"
        << true << 1 << false;
    QTest::newRow("remembered camera unplugged: not the built-in one")
        << "[Settings]\ndrivera=0\ndriverdevice=/dev/video2\ndrivername=USB Camera\n"
           "driverbus=usb-0000:00:14.0-1\n"
        << false << -1 << false;
}

void tst_CameraChoice::storedCamera()
{
    QFETCH(QString, settings);
    QFETCH(bool, externalPlugged);
    QFETCH(int, selected);
    QFETCH(bool, connected);
    {
        QDir().mkpath(QFileInfo(Settings::instance().path()).path());
        QFile f(Settings::instance().path());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(settings.toUtf8());
    }
    Settings::instance().reload();
    Capture cap;
    QList<std::shared_ptr<CameraSource>> list{std::make_shared<BuiltInCamera>()};
    if (externalPlugged)
        list.append(external(QStringLiteral("/dev/video-vantora-none")));
    captureTesting::setSources(&cap, list);
    QSignalSpy errors(&cap, &Capture::errorOccurred);
    QCOMPARE(selectStoredCamera(cap, Settings::instance().get(setting::CaptureDriver)), connected);
    QCOMPARE(cap.driverIndex(), selected);
    // What start-up and the server do next: grab. Nothing else is opened.
    cap.grabFrame();
    QCOMPARE(cap.connected(), connected);
    QCOMPARE(cap.driverIndex(), selected);
    if (selected < 0)
        QVERIFY(cap.frame().isNull());
    if (!connected)
        QVERIFY(!errors.isEmpty());
}

void tst_CameraChoice::choiceIsRememberedWithIdentity()
{
    Capture cap;
    captureTesting::setSources(
        &cap, {std::make_shared<BuiltInCamera>(), external(QStringLiteral("/dev/video-vantora-none"))});
    rememberCameraChoices(cap);
    Settings& s = Settings::instance();
    cap.setDriverIndex(1); // chosen, even though it does not open here
    QCOMPARE(s.get(setting::CaptureDriver), 1);
    QCOMPARE(s.get(setting::CaptureDevice), QStringLiteral("/dev/video-vantora-none"));
    QCOMPARE(s.get(setting::CaptureDeviceName), QStringLiteral("USB Camera"));
    QCOMPARE(s.get(setting::CaptureDeviceBus), QStringLiteral("usb-0000:00:14.0-1"));

    // Unplugged, and the list shifts: the remembered camera stays remembered.
    captureTesting::setSources(&cap, {std::make_shared<BuiltInCamera>()});
    QVERIFY(!selectStoredCamera(cap, s.get(setting::CaptureDriver)));
    QCOMPARE(s.get(setting::CaptureDevice), QStringLiteral("/dev/video-vantora-none"));

    // Back on another node: found there, and the number follows it.
    captureTesting::setSources(&cap,
                               {std::make_shared<BuiltInCamera>(), external(QStringLiteral("/dev/video5"))});
    selectStoredCamera(cap, s.get(setting::CaptureDriver));
    QCOMPARE(cap.driverIndex(), 1);
    QCOMPARE(s.get(setting::CaptureDevice), QStringLiteral("/dev/video5"));

    // Choosing the built-in one replaces the memory; nothing written by a failed choice.
    QVERIFY(cap.setDriverIndex(0));
    QCOMPARE(s.get(setting::CaptureDriver), 0);
    QCOMPARE(s.get(setting::CaptureDeviceName), QStringLiteral("Integrated Camera"));
    cap.setDriverIndex(9);
    QCOMPARE(s.get(setting::CaptureDriver), 0);
    QVERIFY(s.flush());
}

VANTORA_TEST_MAIN(tst_CameraChoice)
#include "tst_camerachoice.moc"
