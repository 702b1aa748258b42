// Going online for real: the main window's switch, the test pattern camera,
// the tray, and the real vantora-directory on a loopback port. The engine logs
// on, checks its own reachability, serves frames, relogs on at the fifth
// minute and logs off; the window shows what it reports. The update check
// against the same service.

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include "capture/Capture.h"
#include "capture/Prompt.h"
#include "image/TextLabel.h"
#include "server/StreamingEngine.h"
#include "shell/Desktop.h"
#include "shell/Globals.h"
#include "shell/InfoWindows.h"
#include "shell/MainWindow.h"
#include "shell/OnlineController.h"
#include "shell/Settings.h"
#include "shell/TrayIcon.h"
#include "shell/Version.h"
#include "shell/WindowRegistry.h"
#include "tests/server/ServerTestTools.h"
#include "tests/support/DirectoryProcess.h"
#include "tests/support/TestEnvironment.h"

class TestServerOnline : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void updateCheckAgainstTheService_data();
    void updateCheckAgainstTheService();
    void goingOnlineLogsOnAndChecks();
    void servesFramesAtTheServedSize_data();
    void servesFramesAtTheServedSize();
    void timeLabelsFollowTheClock();
    void echoesTheCheckLine();
    void relogsOnAtTheFifthMinute();
    void goingOfflineLogsOff();
    void refusedChatIsShownInABox();
    void wrongPasswordEndsOnline();
    void withoutAccountTheSwitchEndsOff_data();
    void withoutAccountTheSwitchEndsOff();
    void shuttingDownEndsAfterTheLogoff();

private:
    OnlineSession* session() const { return m_main->onlineController()->session(); }
    StreamingEngine* engine() const { return static_cast<StreamingEngine*>(session()); }
    DirectoryProcess m_dir;
    MainWindow* m_main = nullptr;
    QDateTime m_now{QDate(2026, 12, 10), QTime(3, 0, 0), Qt::UTC};
};

void TestServerOnline::initTestCase()
{
    QVERIFY2(m_dir.start(), m_dir.log().constData());
    QVERIFY(m_dir.addMember(QStringLiteral("demo"), QStringLiteral("vantora.example"),
                            QStringLiteral("secret1")));
    qputenv("VANTORA_SERVER", m_dir.hostPort().toLatin1());
    resetGlobals();
    QCOMPARE(globals().ServerHost, m_dir.hostPort());
    setSettingsPath(testenv::root() + QStringLiteral("/online.ini"));
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Domain"), QStringLiteral("vantora.example"));
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Port"), QStringLiteral("0"));
    StreamingEngine::setListenAddress(QHostAddress::LocalHost);
    StreamingEngine::setClock([this] { return m_now; });
    StreamingEngine::registerFactory();

    m_main = buildMainWindow();
    QVERIFY(m_main && m_main->camera);
    loadTrayIcon();
    Capture* cap = m_main->camera;
    QVERIFY(cap->setDriverIndex(cap->driverCount() - 1)); // the test pattern
    QSignalSpy frames(cap, &Capture::frameArrived);
    cap->grabFrame();
    QTRY_VERIFY_WITH_TIMEOUT(!cap->frame().isNull(), 15000);
    QCOMPARE(cap->frame().size(), QSize(640, 480));
    m_main->userNameEdit->setText(QStringLiteral("demo"));
    m_main->passwordEdit->setText(QStringLiteral("secret1"));
}

void TestServerOnline::updateCheckAgainstTheService_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("headline"); // empty: no window
    QTest::addColumn<QString>("notes");
    QCOMPARE(version::compact(), QStringLiteral("1.01"));
    QTest::newRow("same version") << QByteArray("1.01\r\n\r\nnothing new") << QString() << QString();
    QTest::newRow("older version") << QByteArray("1.00\r\n\r\nold") << QString() << QString();
    QTest::newRow("three characters") << QByteArray("3.0\r\n\r\nshort") << QString() << QString();
    QTest::newRow("newer version") << QByteArray("1.02\r\n\r\nA line of notes")
                                   << QStringLiteral("New version: 1.02")
                                   << QStringLiteral("A line of notes");
    QTest::newRow("LF line ends") << QByteArray("1.02\n\nFirst line\nSecond line")
                                  << QStringLiteral("New version: 1.02")
                                  << QStringLiteral("First line\nSecond line");
    QTest::newRow("UTF-8 notes") << QByteArray("1.10\r\n\r\nSch\xc3\xa4rfere Bilder \xe2\x80\x93 caf\xc3\xa9")
                                 << QStringLiteral("New version: 1.10")
                                 << QStringLiteral("Sch\u00e4rfere Bilder \u2013 caf\u00e9");
    QTest::newRow("two-digit major") << QByteArray("10.0\r\n\r\nBig step")
                                     << QStringLiteral("New version: 10.0") << QStringLiteral("Big step");
}

void TestServerOnline::updateCheckAgainstTheService()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, headline);
    QFETCH(QString, notes);
    unloadNewVersionWindow();
    m_dir.setUpdateFile(file);
    m_main->onUpdateCheckDue();
    QVERIFY(m_main->updateSocket->state() != QAbstractSocket::UnconnectedState);
    QTRY_COMPARE_WITH_TIMEOUT(m_main->updateSocket->state(), QAbstractSocket::UnconnectedState, 30000);
    NewVersionWindow* w = loadedNewVersionWindow();
    if (headline.isEmpty()) {
        QVERIFY(!w);
        return;
    }
    QVERIFY(w);
    QCOMPARE(w->versionLabel->text(), headline);
    QCOMPARE(w->releaseNotesEdit->toPlainText(), notes);
    unloadNewVersionWindow();
}

void TestServerOnline::goingOnlineLogsOnAndChecks()
{
    m_main->onlineSwitch->setChecked(true);
    StreamingEngine* e = engine();
    QVERIFY(e);
    QVERIFY(e->listening());
    QCOMPARE(m_main->engineStateLabel->text(), QStringLiteral("ON"));
    QTRY_COMPARE_WITH_TIMEOUT(m_main->lastResponseLabel->text(), QStringLiteral("OK"), 30000);
    // The link opens the camera where the directory sees it.
    QCOMPARE(m_main->addressLabel->text(), QStringLiteral("http://127.0.0.1:%1/").arg(e->listenPort()));
    QVERIFY(m_main->addressLabel->isVisibleTo(m_main));
    QVERIFY(globals().LoggedIn);
    QCOMPARE(globals().PublicAddress, QStringLiteral("127.0.0.1"));
    QVERIFY(!globals().BehindRouter);
    QVERIFY(e->relogonTimer.isActive());
    QCOMPARE(e->referenceFrame(), QSize(640, 480));
}

void TestServerOnline::servesFramesAtTheServedSize_data()
{
    QTest::addColumn<bool>("resize");
    QTest::addColumn<int>("code");
    QTest::addColumn<QSize>("size");
    QTest::newRow("camera size") << false << 5 << QSize(640, 480);
    QTest::newRow("resized, code 5") << true << 5 << QSize(320, 240);
    QTest::newRow("resized, code 1") << true << 1 << QSize(128, 96);
}

void TestServerOnline::servesFramesAtTheServedSize()
{
    QFETCH(bool, resize);
    QFETCH(int, code);
    QFETCH(QSize, size);
    StreamingEngine* e = engine();
    QVERIFY(e);
    globals().ResizeFrames = resize;
    globals().FrameSizeCode = code;
    trayIcon()->setFlashing(false);
    QTcpSocket browser;
    browser.connectToHost(QHostAddress::LocalHost, e->listenPort());
    browser.write("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const QList<FrameResponse> frames = readFrames(browser, 1);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(frames[0].header, expectedHeader(frames[0].body.size()));
    QCOMPARE(jpegSize(frames[0].body), size);
    QVERIFY(trayIcon()->flashing()); // the camera is being watched
    // The connection stays open for the next request, on any path.
    browser.write("GET /any/other HTTP/1.1\r\n\r\n");
    const QList<FrameResponse> again = readFrames(browser, 1);
    QCOMPARE(again.size(), 1);
    QCOMPARE(jpegSize(again[0].body), size);
    QCOMPARE(browser.state(), QAbstractSocket::ConnectedState);
    globals().ResizeFrames = false;
}

void TestServerOnline::timeLabelsFollowTheClock()
{
    SaveSetting(QStringLiteral("Captions"), QStringLiteral("index"), QStringLiteral("2"));
    SaveSetting(QStringLiteral("Captions"), QStringLiteral("1caption"), QStringLiteral("$TIME$"));
    SaveSetting(QStringLiteral("Captions"), QStringLiteral("1color"), QStringLiteral("16777215"));
    SaveSetting(QStringLiteral("Captions"), QStringLiteral("2caption"), QStringLiteral("Vantora cam"));
    SaveSetting(QStringLiteral("Captions"), QStringLiteral("2y"), QStringLiteral("300"));
    emit labelEvents().reloadRequested();
    StreamingEngine* e = engine();
    QVERIFY(e);
    QCOMPARE(e->templates().size(), 2);

    QTcpSocket browser;
    browser.connectToHost(QHostAddress::LocalHost, e->listenPort());
    QStringList seen;
    for (int i = 0; i < 2; ++i) {
        browser.write("GET / HTTP/1.1\r\n\r\n");
        QCOMPARE(readFrames(browser, 1).size(), 1);
        QCOMPARE(e->composer().lastTexts(),
                 (QStringList{captionText(QStringLiteral("$TIME$"), m_now), QStringLiteral("Vantora cam")}));
        seen << e->composer().lastTexts().first();
        m_now = m_now.addSecs(61);
    }
    QVERIFY(seen[0] != seen[1]);
    SaveSetting(QStringLiteral("Captions"), QStringLiteral("index"), QStringLiteral("0"));
}

void TestServerOnline::echoesTheCheckLine()
{
    StreamingEngine* e = engine();
    QVERIFY(e);
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, e->listenPort());
    peer.write("DIAG 42\r\n");
    QCOMPARE(readUntilClosed(peer), QByteArray("OK 42\r\n\r\n"));
}

void TestServerOnline::relogsOnAtTheFifthMinute()
{
    StreamingEngine* e = engine();
    QVERIFY(e);
    QSignalSpy logons(e, &StreamingEngine::logonSent);
    QSignalSpy checks(e, &StreamingEngine::checkFinished);
    for (int minute = 0; minute < 4; ++minute)
        e->onRelogonTick();
    QCOMPARE(e->logonSocket.state(), QAbstractSocket::UnconnectedState);
    e->onRelogonTick();
    QTRY_COMPARE_WITH_TIMEOUT(logons.size(), 1, 30000);
    QVERIFY(logons[0][0].toByteArray().startsWith(
        "GET /client_v3/logon.php?u=demo.vantora.example&p=secret1&i=127.0.0.1:"));
    QTRY_COMPARE_WITH_TIMEOUT(checks.size(), 1, 30000);
    QCOMPARE(checks[0][0].toString(), QStringLiteral("OK"));
    QCOMPARE(m_main->lastResponseLabel->text(), QStringLiteral("OK"));
}

void TestServerOnline::goingOfflineLogsOff()
{
    QPointer<StreamingEngine> e = engine();
    QVERIFY(e);
    const quint16 port = e->listenPort();
    QSignalSpy logoffs(e.data(), &StreamingEngine::logoffSent);
    QSignalSpy logOffCalls(e.data(), &StreamingEngine::logOffRequested);
    m_main->onlineSwitch->setChecked(false);
    QVERIFY(globals().GoingOffline);
    QCOMPARE(m_main->engineStateLabel->text(), QStringLiteral("OFF"));
    QCOMPARE(m_main->lastResponseLabel->text(), QStringLiteral("Logging off..."));
    QTRY_COMPARE_WITH_TIMEOUT(logoffs.size(), 1, 30000);
    QTRY_VERIFY_WITH_TIMEOUT(e.isNull(), 30000);
    QCOMPARE(logOffCalls.size(), 1);
    QVERIFY(!session());
    QVERIFY(!globals().LoggedIn);
    QVERIFY(m_main->lastResponseLabel->isHidden());
    QVERIFY(!trayIcon()->flashing());
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    QTRY_COMPARE(late.state(), QAbstractSocket::UnconnectedState); // nobody listens any more
}

void TestServerOnline::refusedChatIsShownInABox()
{
    m_main->onlineSwitch->setChecked(true);
    StreamingEngine* e = engine();
    QVERIFY(e);
    MessageBox::clearHistory();
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, e->listenPort());
    peer.write("CHAT REJECT");
    QCOMPARE(readUntilClosed(peer), QByteArray());
    QTRY_COMPARE(MessageBox::history().size(), 1);
    QCOMPARE(MessageBox::history()[0].icon, QMessageBox::NoIcon);
    QCOMPARE(MessageBox::history()[0].title, QStringLiteral("Vantora"));
    QCOMPARE(MessageBox::history()[0].text, QStringLiteral("You chat request is rejected.."));
    QCOMPARE(MessageBox::history()[0].buttons, MessageBox::Buttons(QMessageBox::Ok));
    QPointer<StreamingEngine> gone = e;
    m_main->onlineSwitch->setChecked(false);
    QTRY_VERIFY_WITH_TIMEOUT(gone.isNull(), 30000);
}

void TestServerOnline::wrongPasswordEndsOnline()
{
    m_main->passwordEdit->setText(QStringLiteral("wrong"));
    m_main->onlineSwitch->setChecked(true);
    QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Enable")), QStringLiteral("1"));
    QPointer<StreamingEngine> e = engine();
    QVERIFY(e);
    QSignalSpy logoffs(e.data(), &StreamingEngine::logoffSent);
    QSignalSpy logOffCalls(e.data(), &StreamingEngine::logOffRequested);
    QTRY_VERIFY_WITH_TIMEOUT(e.isNull(), 30000);
    QVERIFY(!m_main->onlineSwitch->isChecked());
    QCOMPARE(m_main->engineStateLabel->text(), QStringLiteral("OFF"));
    // The final state says why; the user's choice to be online is kept, so
    // the next start tries again and says it again.
    QCOMPARE(m_main->lastResponseLabel->text(), QStringLiteral("Offline: password incorrect"));
    QVERIFY(m_main->lastResponseLabel->isVisibleTo(m_main));
    QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Enable")), QStringLiteral("1"));
    QVERIFY(!globals().LoggedIn);
    QCOMPARE(logoffs.size(), 0);     // never logged in: nothing to send
    QCOMPARE(logOffCalls.size(), 1); // the switch going off is the one way there
    ErrorWindow* error = loadedErrorWindow();
    QVERIFY(error);
    QCOMPARE(error->messageLabel->text(),
             QStringLiteral(
                 "Your password is incorrect.\r\nPlease check your information.\r\nStreaming is disabled"));
    unloadErrorWindow();
    m_main->passwordEdit->setText(QStringLiteral("secret1"));
}

void TestServerOnline::withoutAccountTheSwitchEndsOff_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("wizard");
    QTest::newRow("yes opens the wizard") << int(QMessageBox::Yes) << true;
    QTest::newRow("no explains where") << int(QMessageBox::No) << false;
}

void TestServerOnline::withoutAccountTheSwitchEndsOff()
{
    QFETCH(int, answer);
    QFETCH(bool, wizard);
    int opened = 0;
    windows::setSignupOpener([&](QWidget* owner) {
        QCOMPARE(owner, m_main);
        ++opened;
    });
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Domain"), QString());
    m_main->userNameEdit->clear();
    m_main->passwordEdit->setText(QStringLiteral("secret1"));
    const int boxes = wizard ? 1 : 2;
    for (int time = 1; time <= 2; ++time) {
        // Switching on again asks again: no engine was left behind.
        QTRY_VERIFY(!session());
        MessageBox::clearHistory();
        MessageBox::setNextAnswer(MessageBox::Button(answer));
        m_main->onlineSwitch->setChecked(true);
        QVERIFY(!m_main->onlineSwitch->isChecked());
        QCOMPARE(m_main->passwordEdit->text(), QString());
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Password")), QString());
        QCOMPARE(opened, wizard ? time : 0);
        const auto& shown = MessageBox::history();
        QCOMPARE(shown.size(), boxes);
        QCOMPARE(shown[0].icon, QMessageBox::Question);
        QCOMPARE(shown[0].title, QStringLiteral("Vantora"));
        QCOMPARE(shown[0].text, QStringLiteral("You need to create an account at Vantora to use streaming. "
                                               "Would you create an account?"));
        if (!wizard) {
            QCOMPARE(shown[1].icon, QMessageBox::Information);
            QCOMPARE(shown[1].text,
                     QStringLiteral("You can create an account later in the configuration window "
                                    "--> Streaming Options"));
        }
    }
    windows::setSignupOpener({});
}

void TestServerOnline::shuttingDownEndsAfterTheLogoff()
{
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Domain"), QStringLiteral("vantora.example"));
    m_main->userNameEdit->setText(QStringLiteral("demo"));
    m_main->passwordEdit->setText(QStringLiteral("secret1")); // going without an account cleared both
    m_main->onlineSwitch->setChecked(true);
    QPointer<StreamingEngine> e = engine();
    QVERIFY(e);
    QTRY_COMPARE_WITH_TIMEOUT(m_main->lastResponseLabel->text(), QStringLiteral("OK"), 30000);
    QSignalSpy logoffs(e.data(), &StreamingEngine::logoffSent);

    // The program must not end before the directory has answered the log-off
    // (the engine unloads on that answer).
    int endings = 0;
    bool engineGoneWhenEnded = false;
    desktop::setProgramEnd([&] {
        ++endings;
        engineGoneWhenEnded = e.isNull() || e->hasEnded();
    });
    unloadMainWindow();
    QTRY_COMPARE_WITH_TIMEOUT(endings, 1, 30000);
    QCOMPARE(logoffs.size(), 1);
    QVERIFY(engineGoneWhenEnded);
    desktop::setProgramEnd(nullptr);
    m_main = nullptr;
}

VANTORA_TEST_MAIN(TestServerOnline)
#include "test_server_online.moc"
