// The streaming engine against a scripted directory stand-in on loopback:
// logon bytes and answers, the reachability check, the minute timer, logoff,
// what it reports through its signals, and what connection handlers answer.
// The frame composer's reuse of encodes.

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include "capture/Capture.h"
#include "server/EngineHooks.h"
#include "server/FrameComposer.h"
#include "shell/Globals.h"
#include "server/StreamingEngine.h"
#include "shell/Product.h"
#include "shell/Settings.h"
#include "tests/server/ServerTestTools.h"
#include "tests/support/TestEnvironment.h"
#include "image/FrameBuffer.h"

using Verdict = logon::LogonAnswer::Verdict;

namespace {
const QByteArray okHead = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";

TextLabel label(const QString& caption, float x, float y)
{
    TextLabel l;
    l.caption = caption;
    l.color = 0x00FFFFFF;
    l.x = x;
    l.y = y;
    return l;
}

quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}
} // namespace

class TestServerEngine : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void composerReusesEncodesUntilInputsChange();
    void logonRequestIsFramedByteForByte();
    void logonAnswers_data();
    void logonAnswers();
    void relogonRunsAtTheFifthMinute();
    void logoffUnloadsTheEngine();
    void connectionWhileGoingOfflineIsRefused();
    void neverLoggedInGoesOfflineAtOnce();
    void withoutAccountNothingStarts();
    void loadReadsDefaultsAndTemplates();
    void splitAndPipelinedRequestsAreAnsweredOnceEach();
    void checkLinesAreEchoed_data();
    void checkLinesAreEchoed();
    void chatInputs();
    void handlerCapClosesTheExcess();
    void oversizedHeaderClosesTheConnection();
    void peerThatDoesNotReadIsHeldBack();
    void activeConnectionsSeeEachPeerOnce_data();
    void activeConnectionsSeeEachPeerOnce();
    void idleConnectionIsDropped();
    void busyPortIsReportedAndTheEngineUnloads();
    void referenceFrameComesFromTheCamera();
    void socketErrorIsShownWhenAsked_data();
    void socketErrorIsShownWhenAsked();

private:
    // Starts an engine serving `camera`, recording what it reports.
    StreamingEngine* goOnline(Capture* camera = nullptr);
    QPointer<StreamingEngine> m_engine;
    QString m_status;    // the last status text
    QString m_lastError; // the last message for the error window
    QStringList m_notices;
    QStringList m_startFailures;
    int m_accountMissing = 0;
    std::unique_ptr<StandInDirectory> m_dir;
    int m_settingsNo = 0;
};

void TestServerEngine::init()
{
    resetGlobals();
    setSettingsPath(testenv::root() + QStringLiteral("/settings-%1.ini").arg(++m_settingsNo));
    m_status.clear();
    m_lastError.clear();
    m_notices.clear();
    m_startFailures.clear();
    m_accountMissing = 0;
    StreamingEngine::setListenAddress(QHostAddress::LocalHost);
    StreamingEngine::setMaxHandlers(StreamingEngine::DefaultMaxHandlers);
    enginehooks::setChatAcceptHandler({});
    enginehooks::setChatRequestHandler({});
    m_dir = std::make_unique<StandInDirectory>();
    globals().ServerHost = m_dir->hostPort();
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Username"), QStringLiteral("demo"));
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Domain"), QStringLiteral("vantora.example"));
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Password"), QStringLiteral("secret"));
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Port"), QStringLiteral("0"));
}

void TestServerEngine::cleanup()
{
    if (m_engine)
        m_engine->unload();
    QTRY_VERIFY(m_engine.isNull());
    m_dir.reset();
    // Handlers outlive their engine; each ends by its own timers.
    QTRY_COMPARE_WITH_TIMEOUT(ClientConnection::liveCount(), 0, 40000);
}

// Connects `browser` to the engine and returns the handler made for it.
static ClientConnection* connectBrowser(StreamingEngine* e, QTcpSocket& browser)
{
    QSignalSpy created(e, &StreamingEngine::handlerCreated);
    browser.connectToHost(QHostAddress::LocalHost, e->listenPort());
    if (!QTest::qWaitFor([&] { return created.size() == 1; }, 5000))
        return nullptr;
    return created.first().first().value<ClientConnection*>();
}

StreamingEngine* TestServerEngine::goOnline(Capture* camera)
{
    m_engine = new StreamingEngine(camera);
    connect(m_engine, &OnlineSession::statusChanged, this, [this](const QString& text) { m_status = text; });
    connect(m_engine, &OnlineSession::errorOccurred, this, [this](const QString& text) { m_lastError = text; });
    connect(m_engine, &OnlineSession::noticeWanted, this, [this](const QString& text) { m_notices << text; });
    connect(m_engine, &OnlineSession::startFailed, this, [this](const QString& text) { m_startFailures << text; });
    connect(m_engine, &OnlineSession::accountMissing, this, [this] { ++m_accountMissing; });
    m_engine->start();
    return m_engine;
}

void TestServerEngine::composerReusesEncodesUntilInputsChange()
{
    QDateTime now(QDate(2026, 12, 10), QTime(3, 0, 0), Qt::UTC);
    FrameComposer composer;
    composer.setClock([&] { return now; });
    const QList<TextLabel> templates{label(QStringLiteral("$time$"), 150, 150), label(QStringLiteral("fixed"), 150, 900)};
    FrameComposer::Request r;
    r.size = QSize(320, 240);
    r.templates = &templates;
    r.labelCount = 2;
    r.generation = 1;
    r.quality = 20;
    FrameBuffer buffer;

    const QByteArray first = composer.compose(r, buffer);
    QCOMPARE(jpegSize(first), QSize(320, 240));
    QCOMPARE(composer.compose(r, buffer), first);
    QCOMPARE(composer.encodeCount(), quint64(1));

    // A fresh encode of the same inputs gives the very same bytes.
    FrameComposer fresh;
    fresh.setClock([&] { return now; });
    FrameBuffer freshBuffer;
    QCOMPARE(fresh.compose(r, freshBuffer), first);

    now = now.addSecs(1); // the "$TIME$" label changes
    const QByteArray later = composer.compose(r, buffer);
    QVERIFY(later != first);
    QCOMPARE(composer.encodeCount(), quint64(2));

    r.labelCount = 1; // the count is read per request
    const QByteArray oneLabel = composer.compose(r, buffer);
    QVERIFY(oneLabel != later);
    r.generation = 2; // templates reloaded
    QCOMPARE(composer.compose(r, buffer), oneLabel);
    QCOMPARE(composer.encodeCount(), quint64(4));
    r.quality = 80;
    QVERIFY(composer.compose(r, buffer).size() > oneLabel.size());
    r.size = QSize(128, 96);
    QCOMPARE(jpegSize(composer.compose(r, buffer)), QSize(128, 96));
    QCOMPARE(composer.encodeCount(), quint64(6));
}

void TestServerEngine::logonRequestIsFramedByteForByte()
{
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Password"), QStringLiteral("a b&c"));
    StreamingEngine* e = goOnline();
    QVERIFY(e->listening());
    QCOMPARE(m_status, QStringLiteral("Logging on..."));
    QTRY_COMPARE(m_dir->requests.size(), 1);
    const QByteArray expected = "GET /client_v3/logon.php?u=demo.vantora.example&p=a%20b%26c&i=127.0.0.1:"
        + QByteArray::number(e->listenPort()) + " HTTP/1.0\r\n"
        + "Accept: */*\r\n"
        + "User-Agent: Vantora Client\r\n"
        + "Host: " + m_dir->hostPort().toLatin1() + "\r\n"
        + "\r\n";
    QCOMPARE(m_dir->requests.first(), expected);
}

void TestServerEngine::logonAnswers_data()
{
    QTest::addColumn<QList<QByteArray>>("parts");
    QTest::addColumn<bool>("disableCheck");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("unloads");
    QTest::addColumn<bool>("minuteTimer");
    using L = QList<QByteArray>;
    const QString site = product::pageUrl(product::Page::Site).toString();
    const QString mismatch = QStringLiteral("Streaming engine has found a problem. Server could not connect your computer. "
                                            "Streaming may not work.\r\nPlease check if you are behind a network or "
                                            "firewall. See our site [")
        + site + QStringLiteral("] for more information");
    const QString wrongUser = QStringLiteral("Your username is incorrect.\r\nPlease check your information.\r\n"
                                             "Streaming is disabled");
    const QString wrongPassword = QStringLiteral("Your password is incorrect.\r\nPlease check your information.\r\n"
                                                 "Streaming is disabled");
    const QString dbDown = QStringLiteral("Database is down.\r\n----------------------\r\n"
                                          "Please try later again, contact support for more information");
    QTest::newRow("own address: OK") << L{okHead + "SELF"} << false << "OK" << "" << false << true;
    QTest::newRow("echo line end") << L{okHead + "SELF\r\n"} << false << "OK" << "" << false << true;
    QTest::newRow("another device answers") << L{okHead + "WRONG"} << false << "OK, INCORRECT ID"
                                            << mismatch << false << true;
    QTest::newRow("nobody answers") << L{okHead + "CLOSED"} << false << "NO CON" << "Reason: " << false << false;
    QTest::newRow("USER") << L{okHead + "USER\r\n"} << false << "USER" << wrongUser << true
                          << false;
    QTest::newRow("PASS") << L{okHead + "PASS"} << false << "PASS" << wrongPassword << true
                          << false;
    QTest::newRow("DB DOWN") << L{okHead + "DB DOWN"} << false << "Logging on..." << dbDown
                             << true << false;
    QTest::newRow("short answer") << L{okHead + "OK"} << false << "Logging on..." << "" << false << false;
    QTest::newRow("body in two reads") << L{okHead, "PASS"} << false << "PASS" << wrongPassword
                                       << true << false;
    QTest::newRow("check off") << L{okHead + "SELF"} << true << "OK, NO CHECK" << "" << false << true;
    QTest::newRow("check off, refused") << L{okHead + "USER"} << true << "USER" << wrongUser
                                        << true << false;
}

void TestServerEngine::logonAnswers()
{
    QFETCH(QList<QByteArray>, parts);
    QFETCH(bool, disableCheck);
    QFETCH(QString, status);
    QFETCH(QString, error);
    QFETCH(bool, unloads);
    QFETCH(bool, minuteTimer);
    globals().DisableCheck = disableCheck;

    // Another device at the public address that echoes a different number.
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::LocalHost, 0));
    connect(&other, &QTcpServer::newConnection, this, [&other] {
        QTcpSocket* s = other.nextPendingConnection();
        connect(s, &QTcpSocket::readyRead, s, [s] {
            s->readAll();
            s->write("OK 0\r\n\r\n");
        });
    });

    StreamingEngine* e = goOnline();
    QSignalSpy answered(e, &StreamingEngine::logonAnswered);
    QSignalSpy checked(e, &StreamingEngine::checkFinished);
    QSignalSpy refused(e, &OnlineSession::refused);
    QSignalSpy logOffs(e, &StreamingEngine::logOffRequested);
    QTRY_COMPARE(m_dir->requests.size(), 1);
    for (qsizetype i = 0; i < parts.size(); ++i) {
        QByteArray part = parts[i];
        part.replace("SELF", "127.0.0.1:" + QByteArray::number(e->listenPort()));
        part.replace("WRONG", "127.0.0.1:" + QByteArray::number(other.serverPort()));
        part.replace("CLOSED", "127.0.0.1:" + QByteArray::number(closedPort()));
        m_dir->current->write(part);
        if (i + 1 < parts.size())
            QTRY_VERIFY(e->awaitingBody());
    }
    QTRY_COMPARE(answered.size(), parts.size());
    if ((status.startsWith(QLatin1String("OK")) && !disableCheck) || status == QLatin1String("NO CON"))
        QTRY_COMPARE(checked.size(), 1);
    QCOMPARE(m_status, status);
    if (error.isEmpty())
        QCOMPARE(m_lastError, QString());
    else if (error == QLatin1String("Reason: "))
        QVERIFY2(m_lastError.startsWith(
                     "Streaming engine has found a problem. Server could not connect your computer. "
                     "Streaming may not work. Reason: "),
                 qPrintable(m_lastError));
    else
        QCOMPARE(m_lastError, error);
    if (unloads) {
        // Reported once; with nobody to undo going online the engine ends itself.
        QCOMPARE(refused.size(), 1);
        QCOMPARE(logOffs.size(), 1);
        QVERIFY(!e->relogonTimer.isActive());
        QTRY_VERIFY(m_engine.isNull());
        QCOMPARE(m_dir->requests.size(), 1); // never logged in: no logoff
    } else {
        QCOMPARE(refused.size(), 0);
        QVERIFY(!m_engine.isNull());
        QCOMPARE(e->relogonTimer.isActive(), minuteTimer);
        QVERIFY(globals().LoggedIn);
        QCOMPARE(globals().BehindRouter, false);
    }
}

void TestServerEngine::relogonRunsAtTheFifthMinute()
{
    globals().DisableCheck = true;
    m_dir->setReply([](const QByteArray&) { return QList<QByteArray>{okHead + "127.0.0.1:1"}; });
    StreamingEngine* e = goOnline();
    QTRY_COMPARE(m_status, QStringLiteral("OK, NO CHECK"));
    QVERIFY(e->relogonTimer.isActive());
    QCOMPARE(e->relogonTimer.interval(), 60000);
    QCOMPARE(m_dir->requests.size(), 1);
    for (int minute = 1; minute <= 4; ++minute) {
        e->onRelogonTick();
        QCOMPARE(e->minutesSinceLogon, minute);
        QCOMPARE(e->logonSocket.state(), QAbstractSocket::UnconnectedState);
    }
    e->onRelogonTick();
    QCOMPARE(e->minutesSinceLogon, 0);
    QTRY_COMPARE(m_dir->requests.size(), 2);
    QCOMPARE(m_dir->requests[1], m_dir->requests[0]);
    for (int minute = 1; minute <= 5; ++minute)
        e->onRelogonTick();
    QTRY_COMPARE(m_dir->requests.size(), 3);
}

void TestServerEngine::logoffUnloadsTheEngine()
{
    globals().DisableCheck = true;
    m_dir->setReply([](const QByteArray&) { return QList<QByteArray>{okHead + "OK"}; });
    StreamingEngine* e = goOnline();
    QTRY_COMPARE(m_status, QStringLiteral("OK, NO CHECK"));
    QSignalSpy unloaded(e, &StreamingEngine::unloaded);
    e->logOff();
    QVERIFY(globals().GoingOffline);
    QVERIFY(!e->relogonTimer.isActive());
    QTRY_COMPARE(unloaded.size(), 1);
    QCOMPARE(m_dir->requests.size(), 2);
    QCOMPARE(m_dir->requests[1], QByteArray("GET /client_v3/logoff.php?u=demo.vantora.example&p=secret HTTP/1.0\r\n"
                                            "Accept: */*\r\nUser-Agent: Vantora Client\r\nHost: ")
                                     + m_dir->hostPort().toLatin1() + "\r\n\r\n");
    QTRY_VERIFY(m_engine.isNull());
    QVERIFY(!globals().LoggedIn);
}

void TestServerEngine::connectionWhileGoingOfflineIsRefused()
{
    globals().DisableCheck = true;
    m_dir->setReply([](const QByteArray& r) {
        // Logoff never answered: the engine waits, loaded, refusing browsers.
        return r.contains("logoff") ? QList<QByteArray>{} : QList<QByteArray>{okHead + "OK"};
    });
    StreamingEngine* e = goOnline();
    QTRY_COMPARE(m_status, QStringLiteral("OK, NO CHECK"));
    const quint16 port = e->listenPort();
    e->logOff();
    QTRY_COMPARE(m_dir->requests.size(), 2);
    QVERIFY(!m_engine.isNull());

    QTcpSocket browser;
    browser.connectToHost(QHostAddress::LocalHost, port);
    browser.write("GET / HTTP/1.1\r\n\r\n");
    QCOMPARE(readUntilClosed(browser), QByteArray());
    QTRY_VERIFY(m_engine.isNull());
}

void TestServerEngine::neverLoggedInGoesOfflineAtOnce()
{
    StreamingEngine* e = goOnline();
    QTRY_COMPARE(m_dir->requests.size(), 1); // logon sent, never answered
    e->logOff();
    QTRY_VERIFY(m_engine.isNull());
    QCOMPARE(m_dir->requests.size(), 1);
}

void TestServerEngine::withoutAccountNothingStarts()
{
    // What the user is asked then is the main window's (test_server_online).
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Username"), QString());
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Domain"), QString());
    StreamingEngine* e = goOnline();
    QCOMPARE(m_accountMissing, 1);
    QVERIFY(!e->listening());
    QVERIFY(!e->logonDelay.isActive());
    QVERIFY(!e->hasEnded()); // loaded, idle, until logged off
    QCOMPARE(m_status, QString());
    e->logOff();
    QTRY_VERIFY(m_engine.isNull());
    QCOMPARE(m_dir->requests.size(), 0);
}

void TestServerEngine::loadReadsDefaultsAndTemplates()
{
    SaveSetting(QStringLiteral("Captions"), QStringLiteral("index"), QStringLiteral("3"));
    for (int i = 1; i <= 4; ++i)
        SaveSetting(QStringLiteral("Captions"), QStringLiteral("%1caption").arg(i), QStringLiteral("label %1").arg(i));
    StreamingEngine* e = goOnline();
    QCOMPARE(globals().JpegQuality, 20);
    QCOMPARE(globals().ResizeFrames, false);
    QCOMPARE(globals().AccountName, QStringLiteral("demo.vantora.example"));
    QCOMPARE(e->templates().size(), 3);
    QCOMPARE(e->templates()[2].caption, QStringLiteral("label 3"));
    SaveSetting(QStringLiteral("Captions"), QStringLiteral("index"), QStringLiteral("4"));
    SaveSetting(QStringLiteral("Captions"), QStringLiteral("1caption"), QStringLiteral("changed"));
    emit labelEvents().reloadRequested(); // the label list closed
    QCOMPARE(e->templates().size(), 4);
    QCOMPARE(e->templates()[0].caption, QStringLiteral("changed"));

    // The listener's port when none is set (asked for, not bound: 2156 may be in use here).
    QCOMPARE(StreamingEngine::configuredPort(), 0);
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Port"), QString());
    QCOMPARE(StreamingEngine::configuredPort(), 2156);
}

void TestServerEngine::splitAndPipelinedRequestsAreAnsweredOnceEach()
{
    StreamingEngine* e = goOnline();
    QTcpSocket browser;
    auto* handler = connectBrowser(e, browser);
    QVERIFY(handler);
    QCOMPARE(handler->servedSize(), QSize(320, 240)); // no camera: the designed reference size

    const QByteArray get = "GET / HTTP/1.1\r\nHost: cam\r\nUser-Agent: t\r\n\r\n";
    browser.write(get.left(10));
    QTRY_COMPARE(handler->pendingBytes(), 10);
    browser.write(get.mid(10, 20));
    QTRY_COMPARE(handler->pendingBytes(), 30);
    browser.write(get.mid(30) + get + get); // the rest, then two pipelined
    QByteArray rest;
    const QList<FrameResponse> frames = readFrames(browser, 3, &rest);
    QCOMPARE(frames.size(), 3);
    for (const FrameResponse& f : frames) {
        QCOMPARE(f.header, expectedHeader(f.body.size()));
        QCOMPARE(jpegSize(f.body), QSize(320, 240));
    }
    // Nothing more comes, and the connection stays open for the next request.
    browser.write("DIAG 7\r\n");
    QCOMPARE(rest + readUntilClosed(browser), QByteArray("OK 7\r\n\r\n"));
}

void TestServerEngine::checkLinesAreEchoed_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QByteArray>("echo");
    QTest::newRow("DIAG 42") << QByteArray("DIAG 42\r\n") << QByteArray("OK 42\r\n\r\n");
    QTest::newRow("DIAG alone") << QByteArray("DIAG") << QByteArray();
}

void TestServerEngine::checkLinesAreEchoed()
{
    QFETCH(QByteArray, line);
    QFETCH(QByteArray, echo);
    globals().ChatDisabled = true; // the check is answered whatever chat says
    StreamingEngine* e = goOnline();
    QTcpSocket peer;
    peer.connectToHost(QHostAddress::LocalHost, e->listenPort());
    peer.write(line);
    QCOMPARE(readUntilClosed(peer), echo);
}

void TestServerEngine::chatInputs()
{
    StreamingEngine* e = goOnline();
    const quint16 port = e->listenPort();
    QStringList requests;
    QStringList names;
    enginehooks::setChatRequestHandler([&](const QString& r, const QString& peer) { requests << r << peer; });
    enginehooks::setChatAcceptHandler([&](const QString& name) {
        names << name;
        return quint16(40123);
    });
    const QByteArray chatGet = "GET /CHATREQUEST_10.0.0.2_2156_bob HTTP/1.1\r\nHost: x\r\n\r\n";

    QTcpSocket a;
    a.connectToHost(QHostAddress::LocalHost, port);
    a.write(chatGet);
    const QByteArray page = readUntilClosed(a);
    QVERIFY(page.startsWith("HTTP/1.1 200 OK\r\nServer: Vantora HTTP Server\r\nContent-type: text/html \r\n"));
    QCOMPARE(requests, (QStringList{QStringLiteral("CHATREQUEST_10.0.0.2_2156_bob "), QStringLiteral("127.0.0.1")}));

    QTcpSocket b;
    b.connectToHost(QHostAddress::LocalHost, port);
    b.write("CHAT ACCEPT bob");
    QCOMPARE(readUntilClosed(b), QByteArray("40123\r\n"));
    QCOMPARE(names, QStringList{QStringLiteral(" bob")});

    QTcpSocket c;
    c.connectToHost(QHostAddress::LocalHost, port);
    c.write("CHAT REJECT");
    QCOMPARE(readUntilClosed(c), QByteArray());
    // Shown by the main window in a box of its own (test_server_online).
    QCOMPARE(m_notices, QStringList{QStringLiteral("You chat request is rejected..")});

    globals().ChatDisabled = true;
    QTcpSocket d;
    d.connectToHost(QHostAddress::LocalHost, port);
    d.write(chatGet);
    QCOMPARE(readUntilClosed(d), QByteArray("CHAT REJECT\r\n"));
    QCOMPARE(requests.size(), 2);

    // With chat off, "CHAT REJECT" is just more text: a frame.
    QTcpSocket f;
    f.connectToHost(QHostAddress::LocalHost, port);
    f.write("CHAT REJECT");
    QCOMPARE(readFrames(f, 1).size(), 1);
    QCOMPARE(m_notices.size(), 1);
}

void TestServerEngine::handlerCapClosesTheExcess()
{
    StreamingEngine::setMaxHandlers(2);
    StreamingEngine* e = goOnline();
    QSignalSpy created(e, &StreamingEngine::handlerCreated);
    QTcpSocket one, two, three;
    one.connectToHost(QHostAddress::LocalHost, e->listenPort());
    two.connectToHost(QHostAddress::LocalHost, e->listenPort());
    QTRY_COMPARE(created.size(), 2);
    QCOMPARE(e->liveHandlers(), 2);
    three.connectToHost(QHostAddress::LocalHost, e->listenPort());
    three.write("GET / HTTP/1.1\r\n\r\n");
    QCOMPARE(readUntilClosed(three), QByteArray());
    QCOMPARE(created.size(), 2);
    one.write("GET / HTTP/1.1\r\n\r\n");
    QCOMPARE(readFrames(one, 1).size(), 1);
    // A place frees up when a handler ends.
    two.disconnectFromHost();
    QTRY_COMPARE(e->liveHandlers(), 1);
    QTcpSocket four;
    four.connectToHost(QHostAddress::LocalHost, e->listenPort());
    four.write("GET / HTTP/1.1\r\n\r\n");
    QCOMPARE(readFrames(four, 1).size(), 1);
}

void TestServerEngine::oversizedHeaderClosesTheConnection()
{
    StreamingEngine* e = goOnline();
    QTcpSocket browser;
    browser.connectToHost(QHostAddress::LocalHost, e->listenPort());
    browser.write("GET / HTTP/1.1\r\nX-Big: " + QByteArray(20000, 'a'));
    QCOMPARE(readUntilClosed(browser), QByteArray());
}

void TestServerEngine::peerThatDoesNotReadIsHeldBack()
{
    StreamingEngine* e = goOnline();
    QTcpSocket browser;
    QPointer<ClientConnection> handler = connectBrowser(e, browser);
    QVERIFY(handler);

    // Far more answers than socket buffers hold, asked for at once and not read.
    constexpr int requests = 20000;
    const QByteArray get = "GET / HTTP/1.0\r\n\r\n";
    browser.write(get.repeated(requests));
    QTRY_VERIFY_WITH_TIMEOUT(handler && handler->queuedRequests() > 0
                                 && handler->peerSocket->bytesToWrite() >= ClientConnection::kMaxUnsentBytes,
                             30000);
    // Held back, not piled up in memory: at most one answer past the bound.
    QVERIFY(handler->peerSocket->bytesToWrite() < ClientConnection::kMaxUnsentBytes + 256 * 1024);

    // Once the peer reads, every request is answered once, in order.
    const QList<FrameResponse> frames = readFrames(browser, requests, nullptr, 120000);
    QCOMPARE(frames.size(), qsizetype(requests));
    for (const FrameResponse& f : frames)
        QCOMPARE(f.header, expectedHeader(f.body.size()));
}

void TestServerEngine::activeConnectionsSeeEachPeerOnce_data()
{
    QTest::addColumn<bool>("listOpen");
    QTest::newRow("list open") << true;
    QTest::newRow("list closed") << false;
}

void TestServerEngine::activeConnectionsSeeEachPeerOnce()
{
    QFETCH(bool, listOpen);
    globals().ActiveConnectionsOpen = listOpen;
    QStringList added, removed;
    enginehooks::setActiveConnectionsHooks([&](const QString& ip) { added << ip; },
                                           [&](const QString& ip) { removed << ip; });
    StreamingEngine* e = goOnline();
    QTcpSocket browser;
    QPointer<ClientConnection> handler = connectBrowser(e, browser);
    QVERIFY(handler);
    QVERIFY(handler->announcePeerDelay.isActive());
    QCOMPARE(handler->announcePeerDelay.interval(), 750);
    QTRY_VERIFY(!handler->announcePeerDelay.isActive());
    QCOMPARE(added, listOpen ? QStringList{QStringLiteral("127.0.0.1")} : QStringList());
    browser.disconnectFromHost(); // peer close, then unload 750 ms later
    QTRY_VERIFY(handler.isNull());
    QVERIFY2(removed == added, qPrintable(removed.join(u'|') + u'/' + added.join(u'|')));
    enginehooks::setActiveConnectionsHooks({}, {});
}

void TestServerEngine::idleConnectionIsDropped()
{
    StreamingEngine* e = goOnline();
    QTcpSocket browser;
    QPointer<ClientConnection> handler = connectBrowser(e, browser);
    QVERIFY(handler);
    QCOMPARE(handler->idleTimer.interval(), 30000);
    QVERIFY(handler->idleTimer.isActive());
    handler->onIdleTimeout(); // 30 s without data
    QCOMPARE(readUntilClosed(browser), QByteArray());
    QTRY_VERIFY(handler.isNull());
}

void TestServerEngine::busyPortIsReportedAndTheEngineUnloads()
{
    QTcpServer taken;
    QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Port"), QString::number(taken.serverPort()));
    goOnline();
    QTRY_VERIFY(m_engine.isNull());
    QCOMPARE(m_startFailures.size(), 1);
    QVERIFY(!m_startFailures[0].isEmpty());
    QCOMPARE(m_dir->requests.size(), 0);
}

void TestServerEngine::referenceFrameComesFromTheCamera()
{
    // Going online right as the camera opens: the size follows its first frame.
    Capture cap;
    QVERIFY(cap.setDriverIndex(cap.driverCount() - 1)); // the test pattern
    StreamingEngine* e = goOnline(&cap);
    QTRY_COMPARE_WITH_TIMEOUT(e->referenceFrame(), QSize(640, 480), 15000);
    QTcpSocket browser;
    browser.connectToHost(QHostAddress::LocalHost, e->listenPort());
    browser.write("GET / HTTP/1.1\r\n\r\n");
    const QList<FrameResponse> frames = readFrames(browser, 1);
    QCOMPARE(frames.size(), 1);
    QCOMPARE(jpegSize(frames[0].body), QSize(640, 480));
    browser.disconnectFromHost();
    e->unload();
    QTRY_VERIFY(m_engine.isNull());
    QTRY_COMPARE(ClientConnection::liveCount(), 0);
}

void TestServerEngine::socketErrorIsShownWhenAsked_data()
{
    QTest::addColumn<bool>("show");
    QTest::newRow("stream errors shown") << true;
    QTest::newRow("stream errors quiet") << false;
}

void TestServerEngine::socketErrorIsShownWhenAsked()
{
    QFETCH(bool, show);
    SaveSetting(QStringLiteral("Settings"), QStringLiteral("StreamError"), show ? QStringLiteral("1") : QStringLiteral("0"));
    StreamingEngine* e = goOnline();
    QCOMPARE(globals().ShowStreamErrors, show);
    QTcpSocket browser;
    QPointer<ClientConnection> handler = connectBrowser(e, browser);
    QVERIFY(handler);
    m_lastError.clear();
    handler->onSocketError(); // what the socket reports on a failure other than a close
    QCOMPARE(m_lastError,
             show ? QStringLiteral("Velora Error: \r\nWinsock: ") + handler->peerSocket->errorString() : QString());
    QVERIFY(handler->closeDelay.isActive());
    QCOMPARE(readUntilClosed(browser), QByteArray());
    QTRY_VERIFY(handler.isNull());
}

VANTORA_TEST_MAIN(TestServerEngine)
#include "test_server_engine.moc"
