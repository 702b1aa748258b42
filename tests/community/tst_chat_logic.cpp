// The chat without windows: the invitation address and request, what an
// incoming request names and whether it is shown, the answers, the
// invitations still waiting for one, and a conversation over real sockets.

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrlQuery>
#include <functional>

#include "community/ChatConversation.h"
#include "community/ChatInvitations.h"
#include "community/ChatProtocol.h"
#include "community/ChatRequest.h"
#include "community/Invitation.h"
#include "tests/support/TestEnvironment.h"

class TestChatLogic : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void invitationUrl_data();
    void invitationUrl();
    void parseRequest_data();
    void parseRequest();
    void dropRule_data();
    void dropRule();
    void questionAndPeerName_data();
    void questionAndPeerName();
    void portReply_data();
    void portReply();
    void messageBytes_data();
    void messageBytes();
    void outstandingInvitations_data();
    void outstandingInvitations();
    void invitationFollowsTheDirectory();
    void invitationWithoutUserSendsNothing();
    void failedInvitationIsWithdrawn();
    void answerConnection_data();
    void answerConnection();
    void droppedRequestKeepsTheShownOne();
    void conversationBothWays();
    void conversationEnds_data();
    void conversationEnds();
    void receivedTextIsBounded();
    void inputIsBounded();

private:
    qint64 m_now = 1000;
};

namespace {
const QString first = QStringLiteral("vantora.example");
const QString second = QStringLiteral("camfriends.example");

// Reads with the event loop running, so our own side of the connection moves too.
QByteArray readUntil(QTcpSocket& s, const std::function<bool(const QByteArray&)>& done)
{
    QByteArray all;
    QDeadlineTimer deadline(15000);
    while (!done(all) && !deadline.hasExpired()) {
        QTest::qWait(5);
        all += s.readAll();
        if (s.state() == QAbstractSocket::UnconnectedState)
            break;
    }
    return all + s.readAll();
}

QByteArray readLine(QTcpSocket& s)
{
    return readUntil(s, [](const QByteArray& b) { return b.endsWith('\n'); });
}

QByteArray readUntilClosed(QTcpSocket& s)
{
    return readUntil(s, [](const QByteArray&) { return false; });
}

QTcpSocket* nextConnection(QTcpServer& server)
{
    QDeadlineTimer deadline(15000);
    while (!server.hasPendingConnections() && !deadline.hasExpired())
        QTest::qWait(5);
    return server.nextPendingConnection();
}
} // namespace

void TestChatLogic::init()
{
    ChatInvitations::instance().reset();
    ChatInvitations::instance().setClock([this] { return m_now; });
}

void TestChatLogic::invitationUrl_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("s");
    QTest::addColumn<QString>("f");
    QTest::newRow("second domain") << "bob" << second << "203.0.113.5"
                                   << "bob." + second << "_203.0.113.5:2156_me." + first;
    QTest::newRow("before any logon answer") << "bob" << first << ""
                                             << "bob." + first << "_:2156_me." + first;
    // Encoded, these cannot add a parameter or cut the request short.
    QTest::newRow("blank, & and #") << "b b&f=_x#y" << first << "203.0.113.5"
                                    << "b b&f=_x#y." + first << "_203.0.113.5:2156_me." + first;
    QTest::newRow("any language") << QStringLiteral("zoë") << first << "203.0.113.5"
                                  << QStringLiteral("zoë.") + first << "_203.0.113.5:2156_me." + first;
}

void TestChatLogic::invitationUrl()
{
    QFETCH(QString, user);
    QFETCH(QString, domain);
    QFETCH(QString, address);
    QFETCH(QString, s);
    QFETCH(QString, f);
    const QUrl url = chat::invitationUrl(QStringLiteral("dir.example:8080"), chat::targetName(user, domain),
                                         address, 2156, QStringLiteral("me.") + first);
    QCOMPARE(url.toString(QUrl::RemoveQuery),
             QStringLiteral("http://dir.example:8080/client_v3/askchat.php"));
    const QString query = url.query(QUrl::FullyEncoded);
    QCOMPARE(query.count(u'&'), 1);
    QVERIFY(!query.contains(u'#') && !query.contains(u' '));
    const QUrlQuery q(url);
    QCOMPARE(q.queryItems(QUrl::FullyDecoded).size(), 2);
    QCOMPARE(q.queryItemValue(QStringLiteral("s"), QUrl::FullyDecoded), s);
    QCOMPARE(q.queryItemValue(QStringLiteral("f"), QUrl::FullyDecoded), f);
}

void TestChatLogic::parseRequest_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("complete");
    QTest::newRow("member with domain") << "CHATREQUEST_198.51.100.7:2156_bob.vantora.example "
                                        << "198.51.100.7"
                                        << "2156"
                                        << "bob.vantora.example " << true;
    QTest::newRow("name without point") << "CHATREQUEST_198.51.100.7:2156_joe "
                                        << "198.51.100.7"
                                        << "2156"
                                        << "joe " << true;
    QTest::newRow("name arrives encoded") << "CHATREQUEST_198.51.100.7:2156_zo%C3%AB.vantora.example "
                                          << "198.51.100.7"
                                          << "2156" << QStringLiteral("zoë.vantora.example ") << true;
    QTest::newRow("no underscore") << "CHATREQUEST_198.51.100.7:2156 "
                                   << "198.51.100.7"
                                   << "2156 "
                                   << "" << false;
    QTest::newRow("no colon") << "CHATREQUEST_198.51.100.7_bob "
                              << "198.51.100.7"
                              << ""
                              << "bob " << false;
    QTest::newRow("port not a number") << "CHATREQUEST_198.51.100.7:http_bob "
                                       << "198.51.100.7"
                                       << "http"
                                       << "bob " << false;
    QTest::newRow("port out of range") << "CHATREQUEST_198.51.100.7:70000_bob "
                                       << "198.51.100.7"
                                       << "70000"
                                       << "bob " << false;
    QTest::newRow("line break in the name") << "CHATREQUEST_198.51.100.7:2156_bob%0D%0AX "
                                            << "198.51.100.7"
                                            << "2156"
                                            << "bob\r\nX " << false;
    QTest::newRow("no name") << "CHATREQUEST_198.51.100.7:2156_ "
                             << "198.51.100.7"
                             << "2156"
                             << " " << false;
}

void TestChatLogic::parseRequest()
{
    QFETCH(QString, request);
    const chat::Request r = chat::parseRequest(request);
    QTEST(r.address, "address");
    QTEST(r.port, "port");
    QTEST(r.name, "name");
    QTEST(r.complete, "complete");
}

void TestChatLogic::dropRule_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("peer");
    QTest::addColumn<bool>("behindRouter");
    QTest::addColumn<bool>("dropped");
    const QString bob = QStringLiteral("CHATREQUEST_198.51.100.7:2156_bob.vantora.example ");
    QTest::newRow("from the address it names") << bob << "198.51.100.7" << false << false;
    QTest::newRow("from elsewhere") << bob << "203.0.113.9" << false << true;
    QTest::newRow("from elsewhere, behind a router") << bob << "203.0.113.9" << true << false;
    QTest::newRow("no peer address") << bob << "" << false << true;
    QTest::newRow("no peer address, behind a router") << bob << "" << true << true;
    QTest::newRow("incomplete, behind a router") << "CHATREQUEST_198.51.100.7_bob "
                                                 << "198.51.100.7" << true << true;
}

void TestChatLogic::dropRule()
{
    QFETCH(QString, request);
    QFETCH(QString, peer);
    QFETCH(bool, behindRouter);
    QTEST(chat::dropRequest(chat::parseRequest(request), peer, behindRouter), "dropped");
}

void TestChatLogic::questionAndPeerName_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("question");
    QTest::addColumn<QString>("peerName");
    QTest::newRow("member with domain")
        << "CHATREQUEST_198.51.100.7:2156_bob.vantora.example "
        << "bob.vantora.example  [198.51.100.7] want to chat with you. Do you accept this request?"
        << "bob.vantora.example ";
    QTest::newRow("name without point gets the member host")
        << "CHATREQUEST_198.51.100.7:2156_joe "
        << "joe  [198.51.100.7] want to chat with you. Do you accept this request?"
        << "joe.vantora.example";
    QTest::newRow("markup stays text")
        << "CHATREQUEST_198.51.100.7:2156_<b>x</b>.vantora.example "
        << "<b>x</b>.vantora.example  [198.51.100.7] want to chat with you. Do you accept this request?"
        << "<b>x</b>.vantora.example ";
}

void TestChatLogic::questionAndPeerName()
{
    QFETCH(QString, request);
    const chat::Request r = chat::parseRequest(request);
    QTEST(chat::questionText(r), "question");
    QTEST(chat::chatPeerName(r.name), "peerName");
}

void TestChatLogic::portReply_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("port"); // 0: none
    QTest::newRow("port") << QByteArray("3012\r\n") << 3012;
    QTest::newRow("line not complete yet") << QByteArray("3012") << 0;
    QTest::newRow("no chat opened") << QByteArray("0\r\n") << 0;
    QTest::newRow("out of range") << QByteArray("70000\r\n") << 0;
    QTest::newRow("not a number") << QByteArray("OK\r\n") << 0;
}

void TestChatLogic::portReply()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, port);
    const std::optional<quint16> got = chat::parsePortReply(reply);
    QCOMPARE(got.value_or(0), quint16(port));
}

void TestChatLogic::messageBytes_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("a line") << "hi\n" << QByteArray("alice.vantora.example: hi\r\n");
    QTest::newRow("Enter alone") << "\n" << QByteArray("alice.vantora.example: \r\n");
    QTest::newRow("two lines") << "a\nb\n" << QByteArray("alice.vantora.example: a\r\nb\r\n");
    QTest::newRow("any language") << QStringLiteral("grüße, 日本\n")
                                  << QByteArray("alice.vantora.example: gr\xc3\xbc\xc3\x9f"
                                                "e, \xe6\x97\xa5\xe6\x9c\xac\r\n");
    QTest::newRow("accept line") << QString() << QByteArray("CHAT ACCEPTalice.vantora.example\r\n");
}

void TestChatLogic::messageBytes()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, bytes);
    const QString me = QStringLiteral("alice.vantora.example");
    QCOMPARE(text.isNull() ? chat::acceptLine(me) : chat::messageBytes(me, text), bytes);
}

void TestChatLogic::outstandingInvitations_data()
{
    // Steps: sent, withdraw, later (past the lifetime), end (the box closed),
    // accept+/accept- and reject+/reject- (the answer is taken / shown or not).
    QTest::addColumn<QStringList>("steps");
    QTest::newRow("a rejection nobody asked for") << QStringList{"reject-", "reject-"};
    QTest::newRow("an acceptance nobody asked for") << QStringList{"accept-"};
    QTest::newRow("one invitation, one answer") << QStringList{"sent", "reject+", "end", "reject-"};
    QTest::newRow("one box at a time")
        << QStringList{"sent", "sent", "sent", "reject+", "reject-", "reject-", "end", "reject-"};
    QTest::newRow("next box after the first closed")
        << QStringList{"sent", "sent", "reject+", "end", "reject+"};
    QTest::newRow("accepted, then nothing more") << QStringList{"sent", "accept+", "accept-", "reject-"};
    QTest::newRow("forgotten after its time") << QStringList{"sent", "later", "reject-", "accept-"};
    QTest::newRow("withdrawn when it reached nobody") << QStringList{"sent", "withdraw", "accept-"};
}

void TestChatLogic::outstandingInvitations()
{
    QFETCH(QStringList, steps);
    ChatInvitations& inv = ChatInvitations::instance();
    for (const QString& step : std::as_const(steps)) {
        if (step == QLatin1String("sent"))
            inv.sent();
        else if (step == QLatin1String("withdraw"))
            inv.withdrawLast();
        else if (step == QLatin1String("later"))
            m_now += ChatInvitations::kLifetimeMs;
        else if (step == QLatin1String("end"))
            inv.endRejectNotice();
        else if (step.startsWith(QLatin1String("accept")))
            QVERIFY2(inv.takeAnswer() == step.endsWith(u'+'), qPrintable(step));
        else
            QVERIFY2(inv.beginRejectNotice() == step.endsWith(u'+'), qPrintable(step));
    }
}

void TestChatLogic::invitationFollowsTheDirectory()
{
    // The directory sends us on to the invited member's own server.
    QTcpServer directory;
    QTcpServer member;
    QVERIFY(directory.listen(QHostAddress::LocalHost));
    QVERIFY(member.listen(QHostAddress::LocalHost));
    Invitation invitation;
    QStringList statuses;
    connect(&invitation, &Invitation::statusChanged, this, [&](const QString& s) { statuses << s; });
    QSignalSpy closing(&invitation, &Invitation::closeWanted);
    QCOMPARE(invitation.status(), QStringLiteral("Status: Idle"));
    const Invitation::Sender me{QStringLiteral("127.0.0.1:%1").arg(directory.serverPort()),
                                QStringLiteral("127.0.0.1"), 3000, QStringLiteral("me.") + first};
    QVERIFY(invitation.send(QStringLiteral("bob"), first, me));
    QCOMPARE(statuses, QStringList{QStringLiteral("Status: Sending request...")});
    QCOMPARE(ChatInvitations::instance().outstanding(), 1);
    QVERIFY(!invitation.send(QStringLiteral("bob"), first, me)); // one at a time

    std::unique_ptr<QTcpSocket> d(nextConnection(directory));
    QVERIFY(d);
    QTRY_VERIFY(d->canReadLine());
    QCOMPARE(
        d->readLine(),
        QByteArray("GET /client_v3/askchat.php?s=bob.vantora.example&f=_127.0.0.1%3A3000_me.vantora.example "
                   "HTTP/1.1\r\n"));
    const QByteArray location = "http://127.0.0.1:" + QByteArray::number(member.serverPort()) +
                                "/CHATREQUEST_127.0.0.1:3000_me." + first.toLatin1();
    d->write("HTTP/1.1 302 Found\r\nLocation: " + location +
             "\r\nContent-Length: 2\r\nConnection: close\r\n\r\nOK");
    d->disconnectFromHost();

    std::unique_ptr<QTcpSocket> m(nextConnection(member));
    QVERIFY(m);
    QTRY_VERIFY(m->canReadLine());
    QCOMPARE(m->readLine(), QByteArray("GET /CHATREQUEST_127.0.0.1:3000_me.vantora.example HTTP/1.1\r\n"));
    QVERIFY(statuses.size() == 1 && !invitation.closeTimer.isActive());
    m->write("HTTP/1.1 200 OK\r\nContent-Length: 4\r\nConnection: close\r\n\r\npage");
    m->disconnectFromHost();
    QTRY_COMPARE(statuses.size(), 2);
    QCOMPARE(statuses.last(), QStringLiteral("Status: Request sent"));
    QVERIFY(invitation.closeTimer.isActive());
    QCOMPARE(invitation.closeTimer.interval(), 1500);
    QCOMPARE(closing.size(), 0);
    invitation.onCloseTick();
    QCOMPARE(closing.size(), 1);
    QCOMPARE(ChatInvitations::instance().outstanding(), 1);
}

void TestChatLogic::invitationWithoutUserSendsNothing()
{
    Invitation invitation;
    QSignalSpy statuses(&invitation, &Invitation::statusChanged);
    QVERIFY(
        !invitation.send(QString(), first, {QStringLiteral("127.0.0.1:1"), {}, 1, QStringLiteral("me.x")}));
    QCOMPARE(statuses.size(), 0);
    QCOMPARE(invitation.state(), Invitation::State::Idle);
    QCOMPARE(ChatInvitations::instance().outstanding(), 0);
}

void TestChatLogic::failedInvitationIsWithdrawn()
{
    // Nobody listens there: the status reads as sent, and no answer is awaited.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    Invitation invitation;
    QVERIFY(invitation.send(QStringLiteral("bob"), first,
                            {QStringLiteral("127.0.0.1:%1").arg(port), {}, 3000, QStringLiteral("me.x")}));
    QTRY_COMPARE(invitation.status(), QStringLiteral("Status: Request sent"));
    QVERIFY(invitation.closeTimer.isActive());
    QCOMPARE(ChatInvitations::instance().outstanding(), 0);
}

void TestChatLogic::answerConnection_data()
{
    QTest::addColumn<bool>("yes");
    QTest::addColumn<QByteArray>("reply"); // what the inviting side answers
    QTest::addColumn<QByteArray>("line");  // what it receives
    QTest::addColumn<int>("chatPort");     // 0: no chat
    QTest::newRow("yes, and a port") << true << QByteArray("3012\r\n")
                                     << QByteArray("CHAT ACCEPTbob.vantora.example\r\n") << 3012;
    QTest::newRow("yes, closed without a port")
        << true << QByteArray() << QByteArray("CHAT ACCEPTbob.vantora.example\r\n") << 0;
    QTest::newRow("yes, not a port") << true << QByteArray("nonsense\r\n")
                                     << QByteArray("CHAT ACCEPTbob.vantora.example\r\n") << 0;
    QTest::newRow("no") << false << QByteArray() << QByteArray("CHAT REJECT\r\n") << 0;
}

void TestChatLogic::answerConnection()
{
    QFETCH(bool, yes);
    QFETCH(QByteArray, reply);
    QFETCH(int, chatPort);
    QTcpServer inviter;
    QVERIFY(inviter.listen(QHostAddress::LocalHost));
    ChatRequest request;
    QSignalSpy ready(&request, &ChatRequest::chatReady);
    QSignalSpy finished(&request, &ChatRequest::finished);
    QVERIFY(request.ask(QStringLiteral("CHATREQUEST_127.0.0.1:%1_joe ").arg(inviter.serverPort()),
                        QStringLiteral("127.0.0.1"), false));
    if (yes)
        request.accept(QStringLiteral("bob.vantora.example"));
    else
        request.reject();
    std::unique_ptr<QTcpSocket> s(nextConnection(inviter));
    QVERIFY(s);
    QTEST(readLine(*s), "line");
    if (!yes) {
        QCOMPARE(readUntilClosed(*s), QByteArray()); // closed after the line
    } else {
        s->write(reply);
        s->flush();
        if (reply.isEmpty())
            s->disconnectFromHost();
    }
    QTRY_COMPARE(finished.size(), 1);
    QCOMPARE(ready.size(), chatPort ? 1 : 0);
    if (chatPort) {
        QCOMPARE(ready[0][0].toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(ready[0][1].value<quint16>(), quint16(chatPort));
        QCOMPARE(ready[0][2].toString(), QStringLiteral("joe.vantora.example"));
    }
    QCOMPARE(request.state(), ChatRequest::State::Idle);
}

void TestChatLogic::droppedRequestKeepsTheShownOne()
{
    ChatRequest request;
    const QString bob = QStringLiteral("CHATREQUEST_198.51.100.7:2156_bob.vantora.example ");
    const QString jill = QStringLiteral("CHATREQUEST_198.51.100.8:2156_jill.vantora.example ");
    QVERIFY(request.ask(bob, QStringLiteral("198.51.100.7"), false));
    // A stranger's request neither shows nor takes the place of the one shown.
    QVERIFY(!request.ask(jill, QStringLiteral("203.0.113.1"), false));
    QCOMPARE(request.request().name, QStringLiteral("bob.vantora.example "));
    // A later request is judged on its own and replaces it.
    QVERIFY(request.ask(jill, QStringLiteral("198.51.100.8"), false));
    QCOMPARE(request.request().name, QStringLiteral("jill.vantora.example "));
    // Nobody listening: the answer ends quietly.
    QSignalSpy finished(&request, &ChatRequest::finished);
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const quint16 port = closed.serverPort();
    closed.close();
    QVERIFY(request.ask(QStringLiteral("CHATREQUEST_127.0.0.1:%1_jill.vantora.example ").arg(port),
                        QStringLiteral("127.0.0.1"), false));
    request.accept(QStringLiteral("bob.x"));
    QVERIFY(!request.ask(bob, QStringLiteral("198.51.100.7"), false)); // an answer is on its way
    QTRY_COMPARE(finished.size(), 1);
}

void TestChatLogic::conversationBothWays()
{
    ChatConversation alice;
    ChatConversation bob;
    const quint16 port = alice.listen(QStringLiteral("bob.vantora.example"), QHostAddress::LocalHost);
    QVERIFY(port != 0);
    bob.connectTo(QStringLiteral("127.0.0.1"), port, QStringLiteral("alice.vantora.example"));
    QTRY_VERIFY(bob.connected() && alice.connected());
    const QString header = chat::historyHeader();
    QCOMPARE(header, QString(29, u'-') + "\n Vantora Chat\n" + QString(29, u'-') + "\n");

    alice.send(QStringLiteral("alice.vantora.example"), QStringLiteral("hi\n"));
    bob.send(QStringLiteral("bob.vantora.example"), QStringLiteral("grüße, 日本 🙂\n"));
    // Each side shows its own line at once and the other's when it comes.
    const QString fromAlice = QStringLiteral("alice.vantora.example: hi\n");
    const QString fromBob = QStringLiteral("bob.vantora.example: grüße, 日本 🙂\n");
    QTRY_COMPARE(bob.history(), header + fromBob + fromAlice);
    QTRY_COMPARE(alice.history(), header + fromAlice + fromBob);

    // Only one connection per conversation: the port is closed now.
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(!late.waitForConnected(5000) || late.waitForDisconnected(5000));
}

void TestChatLogic::conversationEnds_data()
{
    QTest::addColumn<bool>("refused");
    QTest::addColumn<QString>("ending");
    QTest::newRow("peer closes") << false << "\n\nbob.vantora.example has left the building...\n";
    QTest::newRow("connection refused") << true << "\n\nCONNECTION LOST\n";
}

void TestChatLogic::conversationEnds()
{
    QFETCH(bool, refused);
    QFETCH(QString, ending);
    QTcpServer peer;
    QVERIFY(peer.listen(QHostAddress::LocalHost));
    const quint16 port = peer.serverPort();
    if (refused)
        peer.close();
    ChatConversation c;
    QSignalSpy ended(&c, &ChatConversation::conversationEnded);
    c.connectTo(QStringLiteral("127.0.0.1"), port, QStringLiteral("bob.vantora.example"));
    std::unique_ptr<QTcpSocket> s;
    if (!refused) {
        s.reset(nextConnection(peer));
        QVERIFY(s);
        s->write("bob.vantora.example: bye\r\n");
        s->disconnectFromHost();
    }
    QTRY_COMPARE(ended.size(), 1);
    QVERIFY(c.ended());
    QVERIFY(c.history().endsWith(ending));
    if (!refused)
        QVERIFY2(c.history().contains(QStringLiteral("bob.vantora.example: bye\n\n\n")),
                 qPrintable(c.history()));
    c.send(QStringLiteral("me.x"), QStringLiteral("late\n")); // input is off now
    QVERIFY(c.history().endsWith(ending));
}

void TestChatLogic::receivedTextIsBounded()
{
    QTcpServer peer;
    QVERIFY(peer.listen(QHostAddress::LocalHost));
    ChatConversation c;
    c.connectTo(QStringLiteral("127.0.0.1"), peer.serverPort(), QStringLiteral("x.vantora.example"));
    std::unique_ptr<QTcpSocket> s(nextConnection(peer));
    QVERIFY(s);
    // A character cut between two pieces arrives whole.
    s->write("x: \xc3");
    s->flush();
    QTRY_VERIFY(c.history().endsWith(QStringLiteral("x: ")));
    s->write("\xa9\r\n");
    s->flush();
    QTRY_VERIFY(c.history().endsWith(QStringLiteral("x: é\n")));
    // A line without end keeps its first part only.
    const QByteArray longLine(ChatConversation::kMaxLineChars * 3, 'a');
    s->write(longLine + "\r\nafter\r\n");
    QTRY_VERIFY(c.history().endsWith(QStringLiteral("after\n")));
    QVERIFY(c.history().contains(QString(ChatConversation::kMaxLineChars, u'a') + u'\n'));
    QVERIFY(!c.history().contains(QString(ChatConversation::kMaxLineChars + 1, u'a')));
    // However much arrives, the history keeps the newest text only.
    QByteArray lines;
    for (int i = 0; i < 20000; ++i)
        lines += "x: line " + QByteArray::number(i) + "\r\n";
    s->write(lines);
    QTRY_VERIFY_WITH_TIMEOUT(c.history().endsWith(QStringLiteral("x: line 19999\n")), 20000);
    QVERIFY(c.history().size() <= ChatConversation::kMaxHistoryChars);
    QVERIFY(c.history().startsWith(QStringLiteral("x: line ")));
}

void TestChatLogic::inputIsBounded()
{
    QTcpServer peer;
    QVERIFY(peer.listen(QHostAddress::LocalHost));
    ChatConversation c;
    c.connectTo(QStringLiteral("127.0.0.1"), peer.serverPort(), QStringLiteral("x.vantora.example"));
    std::unique_ptr<QTcpSocket> s(nextConnection(peer));
    QVERIFY(s);
    QTRY_VERIFY(c.connected());
    c.send(QStringLiteral("me"), QString(ChatConversation::kMaxInputChars + 100, u'b') + u'\n');
    const QByteArray expected = "me: " + QByteArray(ChatConversation::kMaxInputChars, 'b') + "\r\n";
    QCOMPARE(readLine(*s), expected);
}

VANTORA_TEST_MAIN(TestChatLogic)
#include "tst_chat_logic.moc"
