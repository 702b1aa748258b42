// The streaming engine against a scripted directory stand-in on loopback:
// logon bytes and answers, the reachability check, the minute timer, logoff,
// and what connection handlers answer. The frame composer's reuse of encodes.

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include "capture/Capture.h"
#include "server/EngineHooks.h"
#include "server/FrameComposer.h"
#include "shell/Globals.h"
#include "server/StreamingEngine.h"
#include "shell/Product.h"
#include "capture/Prompt.h"
#include "shell/Settings.h"
#include "server/ShellLink.h"
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
    void withoutAccountAsksOnce_data();
    void withoutAccountAsksOnce();
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
    StreamingEngine* goOnline();
    QPointer<StreamingEngine> m_engine;
    std::unique_ptr<StandInDirectory> m_dir;
    int m_settingsNo = 0;
};

void TestServerEngine::init()
{
    resetGlobals();
    setSettingsPath(testenv::root() + QStringLiteral("/settings-%1.ini").arg(++m_settingsNo));
    MessageBox::clearHistory();
    shelllink::clearLastError();
    shelllink::setStatus(QString());
    shelllink::setCapture(nullptr);
    StreamingEngine::setListenAddress(QHostAddress::LocalHost);
    StreamingEngine::setMaxHandlers(StreamingEngine::DefaultMaxHandlers);
    enginehooks::setChatAcceptHandler({});
    enginehooks::setChatRequestHandler({});
    enginehooks::setSignupOpener({});
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

StreamingEngine* TestServerEngine::goOnline()
{
    m_engine = new StreamingEngine;
    m_engine->load();
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
    QCOMPARE(shelllink::status(), QStringLiteral("Logging on..."));
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
    QTest::newRow("own address: OK") << L{okHead + "SELF"} << false << "OK" << "" << false << true;
    QTest::newRow("echo line end") << L{okHead + "SELF\r\n"} << false << "OK" << "" << false << true;
    QTest::newRow("another device answers") << L{okHead + "WRONG"} << false << "OK, INCORRECT ID"
                                            << logon::checkMismatchMessage(site) << false << true;
    QTest::newRow("nobody answers") << L{okHead + "CLOSED"} << false << "NO CON" << "Reason: " << false << false;
    QTest::newRow("USER") << L{okHead + "USER\r\n"} << false << "USER" << logon::refusedMessage(true) << true
                          << false;
    QTest::newRow("PASS") << L{okHead + "PASS"} << false << "PASS" << logon::refusedMessage(false) << true
                          << false;
    QTest::newRow("DB DOWN") << L{okHead + "DB DOWN"} << false << "Logging on..." << logon::dbDownMessage()
                             << true << false;
    QTest::newRow("short answer") << L{okHead + "OK"} << false << "Logging on..." << "" << false << false;
    QTest::newRow("body in two reads") << L{okHead, "PASS"} << false << "PASS" << logon::refusedMessage(false)
                                       << true << false;
    QTest::newRow("check off") << L{okHead + "SELF"} << true << "OK, NO CHECK" << "" << false << true;
    QTest::newRow("check off, refused") << L{okHead + "USER"} << true << "USER" << logon::refusedMessage(true)
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
    QCOMPARE(shelllink::status(), status);
    if (error.isEmpty())
        QCOMPARE(shelllink::lastError(), QString());
    else if (error == QLatin1String("Reason: "))
        QVERIFY2(shelllink::lastError().startsWith(
                     "Streaming engine has found a problem. Server could not connect your computer. "
                     "Streaming may not work. Reason: "),
                 qPrintable(shelllink::lastError()));
    else
        QCOMPARE(shelllink::lastError(), error);
    if (unloads) {
        QTRY_VERIFY(m_engine.isNull());
        QVERIFY(!globals().LoggedIn);
        QCOMPARE(m_dir->requests.size(), 1); // never logged in: no logoff
    } else {
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
    QTRY_COMPARE(shelllink::status(), QStringLiteral("OK, NO CHECK"));
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
    QTRY_COMPARE(shelllink::status(), QStringLiteral("OK, NO CHECK"));
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
    QTRY_COMPARE(shelllink::status(), QStringLiteral("OK, NO CHECK"));
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

void TestServerEngine::withoutAccountAsksOnce_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<bool>("wizard");
    QTest::newRow("yes opens the wizard") << int(QMessageBox::Yes) << true;
    QTest::newRow("no explains where") << int(QMessageBox::No) << false;
}

void TestServerEngine::withoutAccountAsksOnce()
{
    QFETCH(int, answer);
    QFETCH(bool, wizard);
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Username"), QString());
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Domain"), QString());
    int opened = 0;
    enginehooks::setSignupOpener([&](QWidget*) { ++opened; });
    MessageBox::setNextAnswer(MessageBox::Button(answer));
    StreamingEngine* e = goOnline();
    QVERIFY(!e->listening());
    QVERIFY(!e->logonDelay.isActive());
    QCOMPARE(opened, wizard ? 1 : 0);
    const auto& shown = MessageBox::history();
    QCOMPARE(shown.size(), wizard ? 1 : 2);
    QCOMPARE(shown[0].icon, QMessageBox::Question);
    QCOMPARE(shown[0].text, QStringLiteral("You need to create an account at Vantora to use streaming. "
                                           "Would you create an account?"));
    if (!wizard)
        QCOMPARE(shown[1].text,
                 QStringLiteral("You can create an account later in the configuration window --> Streaming Options"));
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

    // The listener's port when none is set.
    QTcpServer probe;
    const bool free = probe.listen(QHostAddress::LocalHost, 2156);
    probe.close();
    if (!free)
        QSKIP("port 2156 is taken on this machine");
    e->unload();
    QTRY_VERIFY(m_engine.isNull());
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Port"), QString());
    QCOMPARE(goOnline()->listenPort(), quint16(2156));
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
    QCOMPARE(MessageBox::history().size(), 1);
    QCOMPARE(MessageBox::history()[0].icon, QMessageBox::NoIcon);
    QCOMPARE(MessageBox::history()[0].title, QStringLiteral("Vantora"));
    QCOMPARE(MessageBox::history()[0].text, QStringLiteral("You chat request is rejected.."));

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
    QCOMPARE(MessageBox::history().size(), 1);
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
    QCOMPARE(MessageBox::history().size(), 1);
    QCOMPARE(MessageBox::history()[0].buttons, MessageBox::Buttons(QMessageBox::Ok));
    QVERIFY(!MessageBox::history()[0].text.isEmpty());
    QCOMPARE(m_dir->requests.size(), 0);
}

void TestServerEngine::referenceFrameComesFromTheCamera()
{
    // Going online right as the camera opens: the size follows its first frame.
    Capture cap;
    QVERIFY(cap.setDriverIndex(cap.driverCount() - 1)); // the test pattern
    shelllink::setCapture(&cap);
    StreamingEngine* e = goOnline();
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
    shelllink::setCapture(nullptr);
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
    shelllink::clearLastError();
    handler->onSocketError(); // what the socket reports on a failure other than a close
    QCOMPARE(shelllink::lastError(),
             show ? QStringLiteral("Velora Error: \r\nWinsock: ") + handler->peerSocket->errorString() : QString());
    QVERIFY(handler->closeDelay.isActive());
    QCOMPARE(readUntilClosed(browser), QByteArray());
    QTRY_VERIFY(handler.isNull());
}

VANTORA_TEST_MAIN(TestServerEngine)
#include "test_server_engine.moc"
