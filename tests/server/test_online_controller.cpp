// Going online and offline without a window: the online controller drives
// the real streaming engine against the real vantora-directory on a loopback
// port. What the window would show arrives as the controller's signals; the
// log-off is asked for once per going-offline, whoever turns the switch.

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include "server/StreamingEngine.h"
#include "shell/Desktop.h"
#include "shell/Globals.h"
#include "shell/OnlineController.h"
#include "shell/Settings.h"
#include "tests/server/ServerTestTools.h"
#include "tests/support/DirectoryProcess.h"
#include "tests/support/TestEnvironment.h"

namespace {
// Everything the controller reports, in order.
struct Shown
{
    QStringList engineStates;
    QStringList statuses;
    QStringList addresses;
    QStringList errors;
    int loggedOff = 0;
    int switchOff = 0;
    int accountMissing = 0;
    int ended = 0;
    int logOffs = 0;
    QList<bool> flashing;

    void watch(OnlineController& c)
    {
        QObject::connect(&c, &OnlineController::engineStateChanged,
                         [this](const QString& t) { engineStates << t; });
        QObject::connect(&c, &OnlineController::statusChanged, [this](const QString& t) { statuses << t; });
        QObject::connect(&c, &OnlineController::addressKnown, [this](const QString& t) { addresses << t; });
        QObject::connect(&c, &OnlineController::errorOccurred, [this](const QString& t) { errors << t; });
        QObject::connect(&c, &OnlineController::loggedOff, [this] { ++loggedOff; });
        QObject::connect(&c, &OnlineController::switchOffWanted, [this] { ++switchOff; });
        QObject::connect(&c, &OnlineController::accountMissing, [this] { ++accountMissing; });
        QObject::connect(&c, &OnlineController::sessionEnded, [this] { ++ended; });
        QObject::connect(&c, &OnlineController::loggingOff, [this] { ++logOffs; });
        QObject::connect(&c, &OnlineController::flashingWanted, [this](bool on) { flashing << on; });
    }
};
} // namespace

class TestOnlineController : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void goingOnlineAndOffline();
    void switchingOnAgainKeepsOneSession();
    void switchingOnWhileLoggingOffStartsAgain();
    void directoryDownRetriesUntilSwitchedOff();
    void directoryDownAnswerEndsOnline();
    void refusedLogonLogsOffOnce_data();
    void refusedLogonLogsOffOnce();
    void withoutAccountGoesBackOffline();
    void shuttingDownLogsOffOnceAndWaits_data();
    void shuttingDownLogsOffOnceAndWaits();
    void withoutSessionEndsAtOnce();

private:
    StreamingEngine* engine() const { return static_cast<StreamingEngine*>(m_controller->session()); }
    // Online and accepted by the directory.
    bool goOnline();

    DirectoryProcess m_dir;
    std::unique_ptr<OnlineController> m_controller;
    Shown m_shown;
    int m_settingsNo = 0;
};

void TestOnlineController::initTestCase()
{
    QVERIFY2(m_dir.start(), m_dir.log().constData());
    QVERIFY(m_dir.addMember(QStringLiteral("demo"), QStringLiteral("vantora.example"),
                            QStringLiteral("secret1")));
    StreamingEngine::setListenAddress(QHostAddress::LocalHost);
    StreamingEngine::registerFactory();
}

void TestOnlineController::init()
{
    resetGlobals();
    globals().ServerHost = m_dir.hostPort();
    setSettingsPath(testenv::root() + QStringLiteral("/controller-%1.ini").arg(++m_settingsNo));
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Username"), QStringLiteral("demo"));
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Domain"), QStringLiteral("vantora.example"));
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Password"), QStringLiteral("secret1"));
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Port"), QStringLiteral("0"));
    m_shown = Shown{};
    m_controller = std::make_unique<OnlineController>();
    m_shown.watch(*m_controller);
}

void TestOnlineController::cleanup()
{
    QPointer<OnlineSession> left = m_controller->session();
    if (left)
        static_cast<StreamingEngine*>(left.data())->unload();
    QTRY_VERIFY(left.isNull());
    m_controller.reset();
}

bool TestOnlineController::goOnline()
{
    m_controller->setOnline(true);
    if (!engine())
        return false;
    return QTest::qWaitFor(
        [&] { return m_shown.statuses.value(m_shown.statuses.size() - 1) == QLatin1String("OK"); }, 30000);
}

void TestOnlineController::goingOnlineAndOffline()
{
    QVERIFY(goOnline());
    QVERIFY(m_controller->isOnline());
    QVERIFY(globals().OnlineSwitch);
    QVERIFY(!globals().GoingOffline);
    QVERIFY(globals().LoggedIn);
    QCOMPARE(m_shown.engineStates, QStringList{QStringLiteral("ON")});
    // Where a viewer opens the camera: the address and port the directory saw.
    QCOMPARE(m_shown.addresses.last(), QStringLiteral("http://127.0.0.1:%1/").arg(engine()->listenPort()));
    QCOMPARE(m_shown.statuses, (QStringList{QStringLiteral("Logging on..."), QStringLiteral("OK")}));
    QCOMPARE(m_shown.errors, QStringList());

    QPointer<StreamingEngine> e = engine();
    QSignalSpy logoffs(e.data(), &StreamingEngine::logoffSent);
    QSignalSpy logOffCalls(e.data(), &StreamingEngine::logOffRequested);
    m_controller->setOnline(false);
    QVERIFY(!m_controller->isOnline());
    QVERIFY(!globals().OnlineSwitch);
    QVERIFY(globals().GoingOffline);
    QCOMPARE(m_shown.engineStates.last(), QStringLiteral("OFF"));
    QCOMPARE(m_shown.statuses.last(), QStringLiteral("Logging off..."));
    // The session stays until the directory has answered the log-off.
    QVERIFY(m_controller->session());
    QTRY_COMPARE_WITH_TIMEOUT(m_shown.ended, 1, 30000);
    QCOMPARE(logoffs.size(), 1);
    QCOMPARE(logOffCalls.size(), 1);
    QCOMPARE(m_shown.logOffs, 1);
    QCOMPARE(m_shown.loggedOff, 1);
    QCOMPARE(m_shown.flashing.last(), false);
    QVERIFY(!m_controller->session());
    QVERIFY(!globals().LoggedIn);
    QTRY_VERIFY(e.isNull());

    // Going offline again with nothing running asks nothing of anyone.
    m_controller->setOnline(false);
    QCOMPARE(m_shown.logOffs, 1);
}

void TestOnlineController::switchingOnAgainKeepsOneSession()
{
    QVERIFY(goOnline());
    OnlineSession* first = m_controller->session();
    // Start-up starts the session before the switch shows it: both end in one.
    m_controller->startSession();
    m_controller->setOnline(true);
    QCOMPARE(m_controller->session(), first);
    QCOMPARE(m_shown.addresses.size(), 1);
}

void TestOnlineController::switchingOnWhileLoggingOffStartsAgain()
{
    QVERIFY(goOnline());
    QPointer<OnlineSession> first = m_controller->session();
    m_controller->setOnline(false);
    QVERIFY(first); // waiting for the directory to answer the log-off
    m_controller->setOnline(true);
    QTRY_VERIFY_WITH_TIMEOUT(first.isNull(), 30000);
    // Not left offline behind an "ON": a fresh session logs on.
    QTRY_VERIFY(m_controller->session());
    QTRY_COMPARE_WITH_TIMEOUT(m_shown.statuses.last(), QStringLiteral("OK"), 30000);
    QVERIFY(globals().LoggedIn);
    QCOMPARE(m_shown.engineStates.last(), QStringLiteral("ON"));
}

void TestOnlineController::directoryDownRetriesUntilSwitchedOff()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    globals().ServerHost = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
    probe.close(); // nobody there
    m_controller->setOnline(true);
    StreamingEngine* e = engine();
    QVERIFY(e);
    QTRY_COMPARE(m_shown.statuses.last(), QStringLiteral("Server not reached, retrying in 15 s"));
    QCOMPARE(m_shown.errors.size(), 1);
    QVERIFY(m_shown.errors[0].startsWith(QLatin1String("Could not connect server\r\nReason: ")));
    e->onLogonRetry();
    QTRY_COMPARE(m_shown.statuses.last(), QStringLiteral("Server not reached, retrying in 30 s"));
    QCOMPARE(m_shown.errors.size(), 1);

    // Switched off: no more tries, and the status no longer says "Logging off...".
    m_controller->setOnline(false);
    QTRY_COMPARE(m_shown.ended, 1);
    QCOMPARE(m_shown.statuses.last(), QStringLiteral("Offline"));
    QCOMPARE(m_shown.engineStates.last(), QStringLiteral("OFF"));
}

void TestOnlineController::refusedLogonLogsOffOnce_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("switchFollows"); // a window turns its switch off on the signal
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("offline");
    const QString wrongPassword = QStringLiteral(
        "Your password is incorrect.\r\nPlease check your information.\r\nStreaming is disabled");
    const QString wrongUser = QStringLiteral(
        "Your username is incorrect.\r\nPlease check your information.\r\nStreaming is disabled");
    const QString noPassword = QStringLiteral("Offline: password incorrect");
    QTest::newRow("wrong password, switch follows")
        << "demo"
        << "wrong" << true << "PASS" << wrongPassword << noPassword;
    QTest::newRow("wrong password, no switch") << "demo"
                                               << "wrong" << false << "PASS" << wrongPassword << noPassword;
    QTest::newRow("unknown user, switch follows")
        << "nobody"
        << "secret1" << true << "USER" << wrongUser << "Offline: username incorrect";
}

void TestOnlineController::refusedLogonLogsOffOnce()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, switchFollows);
    QFETCH(QString, status);
    QFETCH(QString, error);
    QFETCH(QString, offline);
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Username"), user);
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Password"), password);
    if (switchFollows) // what the main window's switch does when it goes off
        connect(m_controller.get(), &OnlineController::switchOffWanted, m_controller.get(),
                [this] { m_controller->setOnline(false); });

    m_controller->setOnline(true);
    QPointer<StreamingEngine> e = engine();
    QVERIFY(e);
    QSignalSpy logOffCalls(e.data(), &StreamingEngine::logOffRequested);
    QSignalSpy logoffs(e.data(), &StreamingEngine::logoffSent);
    QTRY_COMPARE_WITH_TIMEOUT(m_shown.ended, 1, 30000);
    QCOMPARE(m_shown.switchOff, 1);
    QCOMPARE(logOffCalls.size(), 1);
    QCOMPARE(m_shown.logOffs, 1);
    QCOMPARE(logoffs.size(), 0); // never logged in: nothing to send
    QVERIFY(!m_controller->isOnline());
    QVERIFY(!globals().OnlineSwitch);
    QVERIFY(globals().GoingOffline);
    QVERIFY(!globals().LoggedIn);
    // The last word says why the switch went off.
    QCOMPARE(m_shown.statuses, (QStringList{QStringLiteral("Logging on..."), status,
                                            QStringLiteral("Logging off..."), offline}));
    QCOMPARE(m_shown.engineStates, (QStringList{QStringLiteral("ON"), QStringLiteral("OFF")}));
    QCOMPARE(m_shown.errors, QStringList{error});
    QCOMPARE(m_shown.loggedOff, 0); // the status labels stay, showing the refusal
    QTRY_VERIFY(e.isNull());
}

void TestOnlineController::directoryDownAnswerEndsOnline()
{
    // The directory's database fails: an answer our own service gives only
    // then, so a stand-in gives it.
    StandInDirectory down([](const QByteArray&) {
        return QList<QByteArray>{"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nDB DOWN"};
    });
    globals().ServerHost = down.hostPort();
    connect(m_controller.get(), &OnlineController::switchOffWanted, m_controller.get(),
            [this] { m_controller->setOnline(false); });
    m_controller->setOnline(true);
    QTRY_COMPARE(m_shown.ended, 1);
    QCOMPARE(m_shown.switchOff, 1);
    QCOMPARE(m_shown.logOffs, 1);
    QVERIFY(!m_controller->isOnline());
    QCOMPARE(m_shown.errors, QStringList{QStringLiteral("Database is down.\r\n----------------------\r\n"
                                                        "Please try later again, contact support for more "
                                                        "information")});
    QCOMPARE(m_shown.statuses.last(), QStringLiteral("Offline: database is down, try later again"));
    QCOMPARE(down.requests.size(), 1); // never logged in: no log-off sent
}

void TestOnlineController::withoutAccountGoesBackOffline()
{
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Username"), QString());
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Domain"), QString());
    m_controller->setOnline(true);
    QCOMPARE(m_shown.accountMissing, 1);
    QVERIFY(!m_controller->isOnline());
    QVERIFY(!globals().OnlineSwitch);
    QCOMPARE(m_shown.logOffs, 1);
    QCOMPARE(m_shown.ended, 1);
    QVERIFY(!m_controller->session());
    QCOMPARE(m_shown.addresses, QStringList());
    QCOMPARE(m_shown.engineStates, (QStringList{QStringLiteral("ON"), QStringLiteral("OFF")}));
    // Asked again on the next try: nothing was left behind.
    m_controller->setOnline(true);
    QCOMPARE(m_shown.accountMissing, 2);
    QCOMPARE(m_shown.ended, 2);
}

void TestOnlineController::shuttingDownLogsOffOnceAndWaits_data()
{
    QTest::addColumn<bool>("offlineFirst"); // the switch was turned off just before
    QTest::newRow("online") << false;
    QTest::newRow("already going offline") << true;
}

void TestOnlineController::shuttingDownLogsOffOnceAndWaits()
{
    QFETCH(bool, offlineFirst);
    QVERIFY(goOnline());
    QPointer<OnlineSession> session = m_controller->session();
    QSignalSpy logoffs(engine(), &StreamingEngine::logoffSent);
    if (offlineFirst)
        m_controller->setOnline(false);
    m_controller->shutDown();
    QVERIFY(globals().GoingOffline);
    QCOMPARE(m_shown.logOffs, 1);

    int endings = 0;
    bool goneWhenEnded = false;
    OnlineController::whenEnded(
        session,
        [&] {
            ++endings;
            goneWhenEnded = session.isNull() || session->hasEnded();
        },
        60000);
    // Not before the directory has answered the log-off (or the grace ran out).
    QTRY_COMPARE_WITH_TIMEOUT(endings, 1, 30000);
    QVERIFY(goneWhenEnded);
    QCOMPARE(logoffs.size(), 1);
    QTRY_VERIFY(session.isNull());
    QCOMPARE(endings, 1);
}

void TestOnlineController::withoutSessionEndsAtOnce()
{
    int endings = 0;
    m_controller->shutDown();
    QCOMPARE(m_shown.logOffs, 0);
    OnlineController::whenEnded(
        m_controller->session(), [&] { ++endings; }, 60000);
    QCOMPARE(endings, 1);
}

VANTORA_TEST_MAIN(TestOnlineController)
#include "test_online_controller.moc"
