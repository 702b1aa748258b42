// What the configuration pages change reaches the running program: the
// streaming engine (real, against the real directory service on loopback)
// serves at the stored size, quality and port once it goes offline and
// online again, and refuses chat the moment chat is switched off.

#include <QPointer>
#include <QTcpServer>
#include <QTest>

#include "config/OptionPageWindows.h"
#include "image/FrameBuffer.h"
#include "image/JpegEncoder.h"
#include "image/StreamingOptionsWindow.h"
#include "server/StreamingEngine.h"
#include "shell/Globals.h"
#include "shell/OnlineController.h"
#include "shell/Settings.h"
#include "tests/server/ServerTestTools.h"
#include "tests/support/DirectoryProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>

namespace {
// A port nobody listens on right now.
quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The JPEG the engine serves without a camera or labels: black at that size and quality.
QByteArray blackJpeg(QSize size, int quality)
{
    FrameBuffer black;
    black.create(size.width(), size.height());
    return sharedJpegEncoder().encode(black, quality);
}

QByteArray fetchFrame(quint16 port)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    s.write("GET / HTTP/1.1\r\nHost: x\r\n\r\n");
    const QList<FrameResponse> frames = readFrames(s, 1);
    return frames.isEmpty() ? QByteArray() : frames[0].body;
}
} // namespace

class TestConfigOnline : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(m_dir.start(), m_dir.log().constData());
        QVERIFY(m_dir.addMember(QStringLiteral("demo"), QStringLiteral("vantora.example"),
                                QStringLiteral("secret1")));
        StreamingEngine::setListenAddress(QHostAddress::LocalHost);
        StreamingEngine::registerFactory();
    }

    void init()
    {
        resetGlobals();
        globals().ServerHost = m_dir.hostPort();
        setSettingsPath(testenv::root() + QStringLiteral("/online-%1.ini").arg(++m_run));
        Settings::instance().setAccount(
            {QStringLiteral("demo"), QStringLiteral("vantora.example"), QStringLiteral("secret1")});
        // Served at 160 x 120, quality 20, on a random port to begin with.
        SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Port"), QStringLiteral("0"));
        SaveSetting(QStringLiteral("JPEG"), QStringLiteral("ResChange"), QStringLiteral("1"));
        SaveSetting(QStringLiteral("JPEG"), QStringLiteral("ResCode"), QStringLiteral("2"));
        m_controller = std::make_unique<OnlineController>();
    }

    void cleanup()
    {
        QPointer<OnlineSession> left = m_controller->session();
        if (left)
            static_cast<StreamingEngine*>(left.data())->unload();
        QTRY_VERIFY(left.isNull());
        m_controller.reset();
    }

    void streamingChoicesReachTheEngine_data()
    {
        QTest::addColumn<bool>("fixedPort");
        QTest::newRow("a chosen port") << true;
        QTest::newRow("0: a random port") << false;
    }
    void streamingChoicesReachTheEngine()
    {
        QFETCH(bool, fixedPort);
        QVERIFY(goOnline());
        const quint16 firstPort = engine()->listenPort();
        QCOMPARE(fetchFrame(firstPort), blackJpeg(QSize(160, 120), 20));

        const quint16 chosen = fixedPort ? freePort() : 0;
        {
            StreamingOptionsWindow page;
            page.portEdit->setText(QString::number(chosen));
            page.resolutionList->setCurrentIndex(2); // 176 x 144
            page.qualitySlider->setValue(90);
        } // unloads
        QCOMPARE(GetSetting("Streaming", "Port"), QString::number(chosen));

        // Size and quality count from the next frame; the port waits for the next start.
        QCOMPARE(fetchFrame(firstPort), blackJpeg(QSize(176, 144), 90));

        QVERIFY(goOffline());
        QVERIFY(goOnline());
        const quint16 port = engine()->listenPort();
        if (fixedPort)
            QCOMPARE(port, chosen);
        else
            QVERIFY(port != 0);
        const QByteArray jpeg = fetchFrame(port);
        QCOMPARE(jpegSize(jpeg), QSize(176, 144));
        QCOMPARE(jpeg, blackJpeg(QSize(176, 144), 90));
    }

    void servedAtTheSourceSizeOnceResizingIsOff()
    {
        QVERIFY(goOnline());
        {
            StreamingOptionsWindow page;
            QVERIFY(page.resizeBox->isChecked());
            page.resizeBox->setChecked(false);
        }
        QCOMPARE(GetSetting("JPEG", "ResChange"), QStringLiteral("0"));
        QVERIFY(!globals().ResizeFrames);
        QVERIFY(goOffline());
        QVERIFY(goOnline());
        // The source's own size: without a camera the engine's reference size.
        QCOMPARE(jpegSize(fetchFrame(engine()->listenPort())), engine()->referenceFrame());
        QVERIFY(engine()->referenceFrame() != QSize(160, 120));
    }

    void chatRefusedTheMomentItIsDisabled()
    {
        QVERIFY(goOnline());
        const quint16 port = engine()->listenPort();
        const QByteArray chatGet = "GET /CHATREQUEST_10.0.0.2_2156_bob HTTP/1.1\r\nHost: x\r\n\r\n";
        auto ask = [&] {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, port);
            s.write(chatGet);
            return readUntilClosed(s);
        };
        QVERIFY(ask().startsWith("HTTP/1.1 200 OK\r\n"));

        SecurityOptionsWindow page;
        page.box(SecurityOptions::DisableChat)->click();
        // Without a restart and before the page is saved.
        QCOMPARE(ask(), QByteArray("CHAT REJECT\r\n"));
        QCOMPARE(GetSetting("Options", "DisChat"), QString());
        page.box(SecurityOptions::DisableChat)->click();
        QVERIFY(ask().startsWith("HTTP/1.1 200 OK\r\n"));
    }

private:
    StreamingEngine* engine() const { return static_cast<StreamingEngine*>(m_controller->session()); }
    bool goOnline()
    {
        m_controller->setOnline(true);
        return engine() &&
               QTest::qWaitFor([&] { return globals().LoggedIn && engine()->listening(); }, 30000);
    }
    bool goOffline()
    {
        QPointer<OnlineSession> s = m_controller->session();
        m_controller->setOnline(false);
        return QTest::qWaitFor([&] { return s.isNull(); }, 30000);
    }

    DirectoryProcess m_dir;
    std::unique_ptr<OnlineController> m_controller;
    int m_run = 0;
};

VANTORA_TEST_MAIN(TestConfigOnline)
#include "tst_config_online.moc"
