// The streaming engine against a scripted directory stand-in on loopback:
// logon bytes and answers, the reachability check, the minute timer, logoff,
// what it reports through its signals, and what connection handlers answer.
// The frame composer's reuse of encodes.

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include "capture/Capture.h"
#include "image/FrameBuffer.h"
#include "server/EngineHooks.h"
#include "server/FrameComposer.h"
#include "server/StreamingEngine.h"
#include "shell/Globals.h"
#include "shell/Product.h"
#include "shell/Settings.h"
#include "tests/server/ServerTestTools.h"
#include "tests/support/TestEnvironment.h"

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
    void fullCapDoesNotLockOut_data();
    void fullCapDoesNotLockOut();
    void shortConnectionsAreAllAnswered();
    void answersEndAsTheRequestAsks_data();
    void answersEndAsTheRequestAsks();
    void byteByByteRequestGetsOneAnswer();
    void pipelinedReadIsAnsweredInOrder();
    void oversizedHeaderClosesTheConnection();
    void peerThatDoesNotReadIsHeldBack();
    void activeConnectionsSeeEachPeerOnce_data();
    void activeConnectionsSeeEachPeerOnce();
    void deadlines_data();
    void deadlines();
    void connectionsEndWithTheEngine();
    void listensOnTheConfiguredAddress_data();
    void listensOnTheConfiguredAddress();
    void busyPortIsReportedAndTheEngineUnloads();
    void referenceFrameComesFromTheCamera();
    void socketErrorIsShownWhenAsked_data();
    void socketErrorIsShownWhenAsked();
    void failedLogonIsRetriedWithBackOff_data();
    void failedLogonIsRetriedWithBackOff();
    void relogonRunsAfterAFailedCheck();
    void checksAnIPv6Address_data();
    void checksAnIPv6Address();
    void addressLinkShowsWhereViewersOpen_data();
    void addressLinkShowsWhereViewersOpen();
    void unansweredLogoffEndsTheEngine_data();
    void unansweredLogoffEndsTheEngine();

private:
    // Starts an engine serving `camera`, recording what it reports.
    StreamingEngine* goOnline(Capture* camera = nullptr);
    QPointer<StreamingEngine> m_engine;
    QString m_status;    // the last status text
    QString m_lastError; // the last message for the error window
    QStringList m_errors;
    QStringList m_addresses; // what the address link showed, in order
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
    m_errors.clear();
    m_addresses.clear();
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
    // Handlers end with their engine.
    QTRY_COMPARE(ClientConnection::liveCount(), 0);
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
    connect(m_engine, &OnlineSession::errorOccurred, this, [this](const QString& text) {
        m_lastError = text;
        m_errors << text;
    });
    connect(m_engine, &OnlineSession::addressKnown, this, [this](const QString& url) { m_addresses << url; });
    connect(m_engine, &OnlineSession::noticeWanted, this, [this](const QString& text) { m_notices << text; });
    connect(m_engine, &OnlineSession::startFailed, this,
            [this](const QString& text) { m_startFailures << text; });
    connect(m_engine, &OnlineSession::accountMissing, this, [this] { ++m_accountMissing; });
    m_engine->start();
    return m_engine;
}

void TestServerEngine::composerReusesEncodesUntilInputsChange()
{
    QDateTime now(QDate(2026, 12, 10), QTime(3, 0, 0), Qt::UTC);
    FrameComposer composer;
    composer.setClock([&] { return now; });
    const QList<TextLabel> templates{label(QStringLiteral("$time$"), 150, 150),
                                     label(QStringLiteral("fixed"), 150, 900)};
    FrameComposer::Request r;
    r.size = QSize(320, 240);
    r.templates = &templates;
    r.labelCount = 2;
    r.generation = 1;
    r.quality = 20;

    const FrameComposer::Answer first = composer.compose(r);
    QCOMPARE(first.header(), expectedHeader(first.jpeg().size()));
    QCOMPARE(jpegSize(first.jpeg()), QSize(320, 240));
    // The kept answer is the very same buffer, not a copy.
    QCOMPARE(composer.compose(r).bytes.constData(), first.bytes.constData());
    QCOMPARE(composer.encodeCount(), quint64(1));

    // A fresh encode of the same inputs gives the very same bytes.
    FrameComposer fresh;
    fresh.setClock([&] { return now; });
    QCOMPARE(fresh.compose(r).bytes, first.bytes);

    now = now.addSecs(1); // the "$TIME$" label changes
    const QByteArray later = composer.compose(r).bytes;
    QVERIFY(later != first.bytes);
    QCOMPARE(composer.encodeCount(), quint64(2));

    r.labelCount = 1; // the count comes with each request
    const QByteArray oneLabel = composer.compose(r).bytes;
    QVERIFY(oneLabel != later);
    r.generation = 2; // templates reloaded
    QCOMPARE(composer.compose(r).bytes, oneLabel);
    QCOMPARE(composer.encodeCount(), quint64(4));
    r.quality = 80;
    QVERIFY(composer.compose(r).bytes.size() > oneLabel.size());
    r.size = QSize(128, 96);
    QCOMPARE(jpegSize(composer.compose(r).jpeg()), QSize(128, 96));
    QCOMPARE(composer.encodeCount(), quint64(6));

    // Nothing to compose: a header that says so.
    r.size = QSize();
    QCOMPARE(composer.compose(r).bytes, expectedHeader(0));
}

void TestServerEngine::logonRequestIsFramedByteForByte()
{
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Password"), QStringLiteral("a b&c"));
    StreamingEngine* e = goOnline();
    QVERIFY(e->listening());
    QCOMPARE(m_status, QStringLiteral("Logging on..."));
    QTRY_COMPARE(m_dir->requests.size(), 1);
    const QByteArray expected = "GET /client_v3/logon.php?u=demo.vantora.example&p=a%20b%26c&i=127.0.0.1:" +
                                QByteArray::number(e->listenPort()) + " HTTP/1.0\r\n" + "Accept: */*\r\n" +
                                "User-Agent: Vantora Client\r\n" + "Host: " + m_dir->hostPort().toLatin1() +
                                "\r\n" + "\r\n";
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
    const QString mismatch =
        QStringLiteral("Streaming engine has found a problem. Server could not connect your computer. "
                       "Streaming may not work.\r\nPlease check if you are behind a network or "
                       "firewall. See our site [") +
        site + QStringLiteral("] for more information");
    const QString wrongUser =
        QStringLiteral("Your username is incorrect.\r\nPlease check your information.\r\n"
                       "Streaming is disabled");
    const QString wrongPassword =
        QStringLiteral("Your password is incorrect.\r\nPlease check your information.\r\n"
                       "Streaming is disabled");
    const QString dbDown = QStringLiteral("Database is down.\r\n----------------------\r\n"
                                          "Please try later again, contact support for more information");
    QTest::newRow("own address: OK") << L{okHead + "SELF"} << false << "OK"
                                     << "" << false << true;
    QTest::newRow("echo line end") << L{okHead + "SELF\r\n"} << false << "OK"
                                   << "" << false << true;
    QTest::newRow("another device answers")
        << L{okHead + "WRONG"} << false << "OK, INCORRECT ID" << mismatch << false << true;
    // Logged on all the same: the periodic logon keeps the member listed.
    QTest::newRow("nobody answers") << L{okHead + "CLOSED"} << false << "NO CON"
                                    << "Reason: " << false << true;
    QTest::newRow("USER") << L{okHead + "USER\r\n"} << false << "USER" << wrongUser << true << false;
    QTest::newRow("PASS") << L{okHead + "PASS"} << false << "PASS" << wrongPassword << true << false;
    QTest::newRow("DB DOWN") << L{okHead + "DB DOWN"} << false << "Logging on..." << dbDown << true << false;
    QTest::newRow("short answer") << L{okHead + "OK"} << false << "Logging on..."
                                  << "" << false << false;
    QTest::newRow("body in two reads")
        << L{okHead, "PASS"} << false << "PASS" << wrongPassword << true << false;
    QTest::newRow("check off") << L{okHead + "SELF"} << true << "OK, NO CHECK"
                               << "" << false << true;
    QTest::newRow("check off, refused") << L{okHead + "USER"} << true << "USER" << wrongUser << true << false;
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
        // The engine may be gone already (its deletion runs with the events above).
        QVERIFY(m_engine.isNull() || !m_engine->relogonTimer.isActive());
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
    QCOMPARE(m_dir->requests[1],
             QByteArray("GET /client_v3/logoff.php?u=demo.vantora.example&p=secret HTTP/1.0\r\n"
                        "Accept: */*\r\nUser-Agent: Vantora Client\r\nHost: ") +
                 m_dir->hostPort().toLatin1() + "\r\n\r\n");
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
        SaveSetting(QStringLiteral("Captions"), QStringLiteral("%1caption").arg(i),
                    QStringLiteral("label %1").arg(i));
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
        QCOMPARE(jpegSize(f.body), QSize(320, 240)); // no camera: the designed reference size
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
    QVERIFY(
        page.startsWith("HTTP/1.1 200 OK\r\nServer: Vantora HTTP Server\r\nContent-type: text/html \r\n"));
    QCOMPARE(requests,
             (QStringList{QStringLiteral("CHATREQUEST_10.0.0.2_2156_bob "), QStringLiteral("127.0.0.1")}));

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

void TestServerEngine::fullCapDoesNotLockOut_data()
{
    QTest::addColumn<QByteArray>("held");
    QTest::newRow("idle keep-alive connections") << QByteArray("GET / HTTP/1.1\r\n\r\n");
    QTest::newRow("silent connections") << QByteArray();
    QTest::newRow("trickling headers") << QByteArray("GET / HTTP/1.1\r\nHost: ca");
}

void TestServerEngine::fullCapDoesNotLockOut()
{
    QFETCH(QByteArray, held);
    constexpr int cap = 4;
    StreamingEngine::setMaxHandlers(cap);
    StreamingEngine* e = goOnline();
    std::vector<std::unique_ptr<QTcpSocket>> holders;
    QList<QPointer<ClientConnection>> handlers;
    for (int i = 0; i < cap; ++i) {
        holders.push_back(std::make_unique<QTcpSocket>());
        handlers.append(connectBrowser(e, *holders.back()));
        QVERIFY(handlers.back());
        if (held.startsWith("GET / HTTP/1.1\r\n\r\n")) {
            holders.back()->write(held);
            QCOMPARE(readFrames(*holders.back(), 1).size(), 1);
        } else if (!held.isEmpty()) {
            holders.back()->write(held);
            QTRY_COMPARE(handlers.back()->pendingBytes(), held.size());
        }
    }
    QCOMPARE(e->liveHandlers(), cap);

    // A new client gets its frame; the one that waited longest made room.
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, e->listenPort());
    client.write("GET / HTTP/1.1\r\n\r\n");
    QCOMPARE(readFrames(client, 1).size(), 1);
    QCOMPARE(e->liveHandlers(), cap);
    QTRY_VERIFY(handlers[0].isNull());
    QCOMPARE(readUntilClosed(*holders[0]), QByteArray());
    for (int i = 1; i < cap; ++i)
        QVERIFY(handlers[i]);
}

void TestServerEngine::shortConnectionsAreAllAnswered()
{
    // 300 clients one after another, ten at a time, each reading one answer
    // and closing: a handler that is done stops counting at once.
    StreamingEngine::setMaxHandlers(20);
    StreamingEngine* e = goOnline();
    const quint16 port = e->listenPort();
    constexpr int total = 300;
    constexpr int inFlight = 10;
    int started = 0;
    int answered = 0;
    int failed = 0;
    std::function<void()> start = [&] {
        if (started == total)
            return;
        ++started;
        auto* client = new QTcpSocket(this);
        auto* buf = new QByteArray;
        connect(client, &QTcpSocket::connected, client,
                [client] { client->write("GET / HTTP/1.1\r\n\r\n"); });
        connect(client, &QTcpSocket::readyRead, client, [&, client, buf] {
            *buf += client->readAll();
            const qsizetype end = buf->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            const qsizetype at = buf->indexOf("Content-Length: ");
            const qint64 length = buf->mid(at + 16, buf->indexOf("\r\n", at) - at - 16).toLongLong();
            if (buf->size() < end + 4 + length)
                return;
            ++answered;
            QObject::disconnect(client, nullptr, client, nullptr);
            client->disconnectFromHost();
            client->deleteLater();
            delete buf;
            start();
        });
        auto fail = [&, client, buf] {
            ++failed; // closed or failed before its answer came
            QObject::disconnect(client, nullptr, client, nullptr);
            client->deleteLater();
            delete buf;
            start();
        };
        connect(client, &QTcpSocket::disconnected, client, fail);
        connect(client, &QTcpSocket::errorOccurred, client, fail);
        client->connectToHost(QHostAddress::LocalHost, port);
    };
    for (int i = 0; i < inFlight; ++i)
        start();
    QTRY_COMPARE_WITH_TIMEOUT(answered + failed, total, 60000);
    QCOMPARE(failed, 0);
    QCOMPARE(answered, total);
    QTRY_COMPARE(e->liveHandlers(), 0);
}

void TestServerEngine::answersEndAsTheRequestAsks_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("body");
    QTest::addColumn<bool>("closes");
    QTest::newRow("1.1 keeps the connection")
        << QByteArray("GET / HTTP/1.1\r\nHost: cam\r\n\r\n") << true << false;
    QTest::newRow("1.0 closes") << QByteArray("GET / HTTP/1.0\r\n\r\n") << true << true;
    QTest::newRow("1.0 keep-alive stays")
        << QByteArray("GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n") << true << false;
    QTest::newRow("connection close")
        << QByteArray("GET / HTTP/1.1\r\nConnection: close\r\n\r\n") << true << true;
    QTest::newRow("head") << QByteArray("HEAD / HTTP/1.1\r\n\r\n") << false << false;
    QTest::newRow("head and close") << QByteArray("HEAD / HTTP/1.0\r\n\r\n") << false << true;
    QTest::newRow("line feeds only") << QByteArray("GET / HTTP/1.0\n\n") << true << true;
}

void TestServerEngine::answersEndAsTheRequestAsks()
{
    QFETCH(QByteArray, request);
    QFETCH(bool, body);
    QFETCH(bool, closes);
    StreamingEngine* e = goOnline();
    QTcpSocket browser;
    browser.connectToHost(QHostAddress::LocalHost, e->listenPort());
    browser.write(request);
    QByteArray got;
    if (closes) {
        got = readUntilClosed(browser);
    } else {
        // The connection stays: a check line after it is answered on it.
        browser.write("DIAG 5\r\n");
        got = readUntilClosed(browser);
        QVERIFY2(got.endsWith("OK 5\r\n\r\n"), got.right(40).constData());
        got.chop(8);
    }
    const qsizetype end = got.indexOf("\r\n\r\n");
    QVERIFY(end > 0);
    const QByteArray header = got.left(end + 4);
    const qsizetype at = header.indexOf("Content-Length: ");
    const qint64 length = header.mid(at + 16, header.indexOf("\r\n", at) - at - 16).toLongLong();
    QVERIFY(length > 0);
    QCOMPARE(header, expectedHeader(length));
    QCOMPARE(got.size() - header.size(), body ? length : 0);
    if (body)
        QCOMPARE(jpegSize(got.mid(end + 4)), QSize(320, 240));
}

void TestServerEngine::byteByByteRequestGetsOneAnswer()
{
    StreamingEngine* e = goOnline();
    QTcpSocket browser;
    QPointer<ClientConnection> handler = connectBrowser(e, browser);
    QVERIFY(handler);
    const QByteArray get = "GET / HTTP/1.1\r\nHost: cam\r\n\r\n";
    for (qsizetype i = 0; i + 1 < get.size(); ++i) {
        browser.write(get.mid(i, 1));
        QTRY_COMPARE(handler->pendingBytes(), i + 1); // each byte arrived alone
    }
    browser.write(get.right(1));
    QByteArray rest;
    QCOMPARE(readFrames(browser, 1, &rest).size(), 1);
    browser.write("DIAG 1\r\n");
    QCOMPARE(rest + readUntilClosed(browser), QByteArray("OK 1\r\n\r\n"));
}

void TestServerEngine::pipelinedReadIsAnsweredInOrder()
{
    StreamingEngine* e = goOnline();
    QTcpSocket browser;
    browser.connectToHost(QHostAddress::LocalHost, e->listenPort());
    // 64 KiB of tiny requests in one write; every fifth is HEAD, so the
    // order shows in the answers.
    QByteArray requests;
    QList<bool> heads;
    while (requests.size() < 64 * 1024) {
        const bool head = heads.size() % 5 == 4;
        requests += head ? "HEAD / HTTP/\n\n" : "A / HTTP/\n\n";
        heads.append(head);
    }
    browser.write(requests);
    QByteArray buf;
    qsizetype at = 0;
    int matched = 0;
    (void)QTest::qWaitFor(
        [&] {
            buf += browser.readAll();
            while (matched < heads.size()) {
                const qsizetype end = buf.indexOf("\r\n\r\n", at);
                if (end < 0)
                    return false;
                const qsizetype cl = buf.indexOf("Content-Length: ", at);
                const qint64 length = buf.mid(cl + 16, buf.indexOf("\r\n", cl) - cl - 16).toLongLong();
                const qsizetype next = end + 4 + (heads[matched] ? 0 : length);
                if (buf.size() < next)
                    return false;
                if (!QByteArrayView(buf).sliced(at).startsWith("HTTP/1.1 200 OK\r\n"))
                    return true; // out of step: fails below
                at = next;
                ++matched;
            }
            return true;
        },
        60000);
    QCOMPARE(matched, heads.size());
    browser.write("DIAG 3\r\n");
    QCOMPARE(buf.mid(at) + readUntilClosed(browser), QByteArray("OK 3\r\n\r\n"));
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
    browser.setReadBufferSize(4096); // so this client really stops taking bytes in
    QPointer<ClientConnection> handler = connectBrowser(e, browser);
    QVERIFY(handler);

    // Far more answers than socket buffers hold, asked for at once and not read.
    constexpr int requests = 20000;
    const QByteArray get = "GET / HTTP/1.1\r\n\r\n";
    browser.write(get.repeated(requests));
    QTRY_VERIFY_WITH_TIMEOUT(handler && handler->queuedRequests() > 0 &&
                                 handler->unsentBytes() >= ClientConnection::kMaxUnsentBytes,
                             30000);
    // Held back, not piled up in memory: at most one answer past the bound,
    // and the reads stop too.
    QVERIFY(handler->peerSocket->bytesToWrite() < ClientConnection::kMaxUnsentBytes + 256 * 1024);
    QCOMPARE(handler->state().unsentTotal(), handler->unsentBytes());
    QVERIFY(handler->state().bufferedTotal() <= 2 * 16 * 1024);

    // Once the peer reads, every request is answered once, in order.
    browser.setReadBufferSize(0);
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
    ServingState& state = handler->state();
    state.sweepTimer.stop(); // the test gives the times
    const qint64 now = ServingState::clockMs();
    state.sweep(now + ServingState::kAnnounceMs - 500);
    QCOMPARE(added, QStringList());
    state.sweep(now + ServingState::kAnnounceMs);
    QCOMPARE(added, listOpen ? QStringList{QStringLiteral("127.0.0.1")} : QStringList());
    state.sweep(now + ServingState::kAnnounceMs + 1000);
    QCOMPARE(added.size(), listOpen ? 1 : 0);
    browser.disconnectFromHost(); // peer close: the handler ends
    QTRY_VERIFY(handler.isNull());
    QVERIFY2(removed == added, qPrintable(removed.join(u'|') + u'/' + added.join(u'|')));
    enginehooks::setActiveConnectionsHooks({}, {});
}

void TestServerEngine::deadlines_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<qint64>("afterMs");
    QTest::addColumn<QString>("outcome"); // "open", "closed" or "frame"
    const qint64 idle = ServingState::kIdleMs;
    const qint64 header = ServingState::kHeaderDeadlineMs;
    const qint64 quiet = ServingState::kQuietMs;
    QTest::newRow("silent, before the idle time") << QByteArray() << idle - 1000 << "open";
    QTest::newRow("silent, idle time over") << QByteArray() << idle << "closed";
    QTest::newRow("half a header, in time") << QByteArray("GET / HTTP/1.1\r\nHo") << header - 1000 << "open";
    QTest::newRow("half a header, deadline over") << QByteArray("GET / HTTP/1.1\r\nHo") << header << "closed";
    QTest::newRow("half a body, deadline over")
        << QByteArray("POST / HTTP/1.1\r\nContent-Length: 9\r\n\r\nab") << header << "closed";
    QTest::newRow("a word, still coming") << QByteArray("hello") << quiet - 500 << "open";
    QTest::newRow("a word, then quiet") << QByteArray("hello") << quiet << "frame";
}

void TestServerEngine::deadlines()
{
    QFETCH(QByteArray, sent);
    QFETCH(qint64, afterMs);
    QFETCH(QString, outcome);
    StreamingEngine* e = goOnline();
    QTcpSocket browser;
    QPointer<ClientConnection> handler = connectBrowser(e, browser);
    QVERIFY(handler);
    handler->state().sweepTimer.stop(); // the test gives the times
    if (!sent.isEmpty()) {
        browser.write(sent);
        QTRY_COMPARE(handler->pendingBytes(), sent.size());
    }
    handler->state().sweep(ServingState::clockMs() + afterMs);
    if (outcome == QLatin1String("open")) {
        QVERIFY(handler);
        QCOMPARE(handler->answered(), 0);
        QCOMPARE(browser.state(), QAbstractSocket::ConnectedState);
    } else if (outcome == QLatin1String("closed")) {
        QCOMPARE(readUntilClosed(browser), QByteArray());
        QTRY_VERIFY(handler.isNull());
    } else {
        QCOMPARE(readFrames(browser, 1).size(), 1);
        QVERIFY(handler);
    }
}

void TestServerEngine::connectionsEndWithTheEngine()
{
    StreamingEngine* e = goOnline();
    QTcpSocket browser;
    QPointer<ClientConnection> handler = connectBrowser(e, browser);
    QVERIFY(handler);
    browser.write("GET / HTTP/1.1\r\n\r\n");
    QCOMPARE(readFrames(browser, 1).size(), 1);
    e->unload();
    QVERIFY(handler.isNull()); // at once, not by a timer that may never run
    QCOMPARE(ClientConnection::liveCount(), 0);
    QCOMPARE(readUntilClosed(browser), QByteArray());
}

void TestServerEngine::listensOnTheConfiguredAddress_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("bound"); // empty: the engine does not listen
    QTest::addColumn<QString>("message");
    QTest::newRow("unset: the default") << QString() << "127.0.0.1"
                                        << "";
    QTest::newRow("one address") << "127.0.0.1"
                                 << "127.0.0.1"
                                 << "";
    QTest::newRow("blanks around") << " 127.0.0.1 "
                                   << "127.0.0.1"
                                   << "";
    QTest::newRow("not an address") << "camera.example"
                                    << ""
                                    << "Invalid listen address camera.example";
}

void TestServerEngine::listensOnTheConfiguredAddress()
{
    QFETCH(QString, setting);
    QFETCH(QString, bound);
    QFETCH(QString, message);
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("ListenAddress"), setting);
    StreamingEngine* e = goOnline();
    if (bound.isEmpty()) {
        QTRY_VERIFY(m_engine.isNull());
        QCOMPARE(m_startFailures, QStringList{message});
        QCOMPARE(m_dir->requests.size(), 0);
        return;
    }
    QVERIFY(e->listening());
    QCOMPARE(e->listener.serverAddress(), QHostAddress(bound));
    QVERIFY(m_startFailures.isEmpty());
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
    SaveSetting(QStringLiteral("Settings"), QStringLiteral("StreamError"),
                show ? QStringLiteral("1") : QStringLiteral("0"));
    StreamingEngine* e = goOnline();
    QCOMPARE(globals().ShowStreamErrors, show);
    QTcpSocket browser;
    QPointer<ClientConnection> handler = connectBrowser(e, browser);
    QVERIFY(handler);
    m_lastError.clear();
    const QString description = handler->peerSocket->errorString();
    handler->onSocketError(); // what the socket reports on a failure other than a close
    QCOMPARE(m_lastError, show ? QStringLiteral("Velora Error: \r\nWinsock: ") + description : QString());
    QVERIFY(handler.isNull() || handler->unloaded()); // ended at once
    QCOMPARE(readUntilClosed(browser), QByteArray());
    QTRY_VERIFY(handler.isNull());
}

void TestServerEngine::failedLogonIsRetriedWithBackOff_data()
{
    QTest::addColumn<QString>("failure");
    QTest::newRow("connection refused") << "refused";
    QTest::newRow("accepted, never answered") << "silent";
    QTest::newRow("closed without an answer") << "closed";
}

void TestServerEngine::failedLogonIsRetriedWithBackOff()
{
    QFETCH(QString, failure);
    globals().DisableCheck = true;
    const QString directory = globals().ServerHost;
    if (failure == QLatin1String("refused"))
        globals().ServerHost = QStringLiteral("127.0.0.1:%1").arg(closedPort());
    else if (failure == QLatin1String("closed"))
        m_dir->setReply([](const QByteArray&) { return QList<QByteArray>{QByteArray()}; });
    // "silent": the stand-in keeps the connection open without a word.

    StreamingEngine* e = goOnline();
    QCOMPARE(e->logonTimeout.interval(), 10000);
    QVERIFY(e->logonTimeout.isSingleShot());
    const QList<int> backOff{15, 30, 60, 120, 240, 300, 300};
    for (qsizetype attempt = 0; attempt < backOff.size(); ++attempt) {
        if (attempt > 0)
            e->onLogonRetry(); // the wait is over
        if (failure != QLatin1String("refused"))
            QTRY_COMPARE(m_dir->requests.size(), attempt + 1);
        if (failure == QLatin1String("silent")) {
            QVERIFY(e->logonTimeout.isActive());
            e->onLogonTimeout(); // ten seconds without an answer
        }
        QTRY_VERIFY(e->logonRetry.isActive());
        QCOMPARE(e->logonRetry.interval(), backOff[attempt] * 1000);
        QCOMPARE(m_status, QStringLiteral("Server not reached, retrying in %1 s").arg(backOff[attempt]));
        QVERIFY(!e->logonTimeout.isActive());
        QCOMPARE(e->logonSocket.state(), QAbstractSocket::UnconnectedState);
    }
    // The error window speaks once; the status tells of every retry.
    QCOMPARE(m_errors.size(), 1);
    QVERIFY2(m_errors[0].startsWith(QLatin1String("Could not connect server\r\nReason: ")),
             qPrintable(m_errors[0]));
    if (failure == QLatin1String("silent"))
        QCOMPARE(m_errors[0],
                 QStringLiteral("Could not connect server\r\nReason: No answer within 10 seconds"));
    QVERIFY(!globals().LoggedIn);

    // The directory is back: the next try logs on and the back-off starts over.
    globals().ServerHost = directory;
    m_dir->setReply([](const QByteArray&) { return QList<QByteArray>{okHead + "OK"}; });
    e->onLogonRetry();
    QCOMPARE(m_status, QStringLiteral("Logging on..."));
    QTRY_COMPARE(m_status, QStringLiteral("OK, NO CHECK"));
    QVERIFY(globals().LoggedIn);
    QVERIFY(!e->logonRetry.isActive());
    QVERIFY(!e->logonTimeout.isActive());
    QCOMPARE(e->failedLogons, 0);
    QVERIFY(e->relogonTimer.isActive());
    QCOMPARE(m_errors.size(), 1);
}

void TestServerEngine::relogonRunsAfterAFailedCheck()
{
    // Nobody answers at the public address: the member is logged on all the
    // same and has to stay listed.
    const QByteArray answer = "127.0.0.1:" + QByteArray::number(closedPort());
    m_dir->setReply([answer](const QByteArray&) { return QList<QByteArray>{okHead + answer}; });
    StreamingEngine* e = goOnline();
    QSignalSpy checked(e, &StreamingEngine::checkFinished);
    QTRY_COMPARE(checked.size(), 1);
    QCOMPARE(m_status, QStringLiteral("NO CON"));
    QVERIFY(e->relogonTimer.isActive());
    for (int minute = 1; minute <= 5; ++minute)
        e->onRelogonTick();
    QTRY_COMPARE(m_dir->requests.size(), 2);
    QTRY_COMPARE(checked.size(), 2);
    QVERIFY(e->relogonTimer.isActive());
}

void TestServerEngine::checksAnIPv6Address_data()
{
    QTest::addColumn<QByteArray>("form"); // PORT stands for the listening port
    QTest::newRow("plain") << QByteArray("::1:PORT");
    QTest::newRow("bracketed") << QByteArray("[::1]:PORT");
    QTest::newRow("with line end") << QByteArray("::1:PORT\r\n");
}

void TestServerEngine::checksAnIPv6Address()
{
    QFETCH(QByteArray, form);
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHostIPv6, 0))
            QSKIP("no IPv6 loopback here");
    }
    StreamingEngine::setListenAddress(QHostAddress::LocalHostIPv6);
    m_dir->setReply([this, form](const QByteArray&) {
        QByteArray answer = form;
        answer.replace("PORT", QByteArray::number(m_engine->listenPort()));
        return QList<QByteArray>{okHead + answer};
    });
    StreamingEngine* e = goOnline();
    QSignalSpy checked(e, &StreamingEngine::checkFinished);
    QTRY_COMPARE(checked.size(), 1);
    QCOMPARE(m_status, QStringLiteral("OK"));
    QCOMPARE(m_lastError, QString());
    QCOMPARE(globals().PublicAddress, QStringLiteral("::1"));
    QCOMPARE(e->cameraAddress(), QStringLiteral("http://[::1]:%1/").arg(e->listenPort()));
    QVERIFY(e->relogonTimer.isActive());
}

void TestServerEngine::addressLinkShowsWhereViewersOpen_data()
{
    QTest::addColumn<bool>("disableCheck");
    QTest::addColumn<QByteArray>("answer"); // PORT stands for the listening port
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("status");
    QTest::newRow("checked") << false << QByteArray("127.0.0.1:PORT") << "http://127.0.0.1:PORT/"
                             << "OK";
    QTest::newRow("behind a router, check off")
        << true << QByteArray("198.51.100.7:4156") << "http://198.51.100.7:4156/"
        << "OK, NO CHECK";
    QTest::newRow("check off, no address") << true << QByteArray("OK") << "http://127.0.0.1:PORT/"
                                           << "OK, NO CHECK";
}

void TestServerEngine::addressLinkShowsWhereViewersOpen()
{
    QFETCH(bool, disableCheck);
    QFETCH(QByteArray, answer);
    QFETCH(QString, link);
    QFETCH(QString, status);
    globals().DisableCheck = disableCheck;
    m_dir->setReply([this, answer](const QByteArray&) {
        QByteArray body = answer;
        body.replace("PORT", QByteArray::number(m_engine->listenPort()));
        return QList<QByteArray>{okHead + body};
    });
    StreamingEngine* e = goOnline();
    const QString port = QString::number(e->listenPort());
    // Before the directory answers: the listener's own address.
    QCOMPARE(m_addresses, QStringList{QStringLiteral("http://127.0.0.1:%1/").arg(port)});
    QTRY_COMPARE(m_status, status);
    link.replace(QLatin1String("PORT"), port);
    QCOMPARE(m_addresses.last(), link);
    QCOMPARE(e->cameraAddress(), link);
    QCOMPARE(m_addresses.size(), m_addresses.first() == link ? 1 : 2);
}

void TestServerEngine::unansweredLogoffEndsTheEngine_data()
{
    QTest::addColumn<bool>("directoryGone");
    QTest::newRow("never answered") << false;
    QTest::newRow("directory gone") << true;
}

void TestServerEngine::unansweredLogoffEndsTheEngine()
{
    QFETCH(bool, directoryGone);
    globals().DisableCheck = true;
    m_dir->setReply([](const QByteArray& r) {
        return r.contains("logoff") ? QList<QByteArray>{} : QList<QByteArray>{okHead + "OK"};
    });
    StreamingEngine* e = goOnline();
    QTRY_COMPARE(m_status, QStringLiteral("OK, NO CHECK"));
    const quint16 port = e->listenPort();
    QSignalSpy loggedOff(e, &OnlineSession::loggedOff);
    if (directoryGone)
        globals().ServerHost = QStringLiteral("127.0.0.1:%1").arg(closedPort());
    e->logOff();
    QVERIFY(e->logoffTimeout.isActive());
    QCOMPARE(e->logoffTimeout.interval(), 10000);
    if (!directoryGone) {
        QTRY_COMPARE(m_dir->requests.size(), 2);
        QVERIFY(!m_engine.isNull());
        e->onLogoffTimeout(); // ten seconds without an answer
    }
    QTRY_VERIFY(m_engine.isNull());
    QCOMPARE(loggedOff.size(), 0);
    // The port is free again for going online anew.
    QTcpServer again;
    QVERIFY(again.listen(QHostAddress::LocalHost, port));
}

VANTORA_TEST_MAIN(TestServerEngine)
#include "test_server_engine.moc"
