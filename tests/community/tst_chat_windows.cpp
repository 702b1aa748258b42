// The chat windows in this process: the invitation's own check, the request
// window's place and text, the chat window's input box and Enter key, and
// the security option taking effect at once.

#include <QComboBox>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "capture/Prompt.h"
#include "community/ChatInvitations.h"
#include "community/ChatRequestWindow.h"
#include "community/ChatWindow.h"
#include "community/ChatWindows.h"
#include "community/InvitationWindow.h"
#include "server/EngineHooks.h"
#include "shell/Globals.h"
#include "shell/Settings.h"
#include "tests/support/TestEnvironment.h"

class TestChatWindows : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void invitationNeedsAUserName();
    void requestWindowBottomRightOnTop();
    void droppedRequestShowsNoWindow();
    void enterSendsTheBox_data();
    void enterSendsTheBox();
    void inputHoldsAtMost500();
    void answersWithoutInvitationOpenNothing();
    void disablingChatTakesEffectAtOnce();
};

void TestChatWindows::initTestCase()
{
    setSettingsPath(testenv::root() + QStringLiteral("/chat-windows.ini"));
    resetGlobals();
    initGlobalDefaults();
    globals().AccountName = QStringLiteral("me.vantora.example");
    registerChatWindows();
}

void TestChatWindows::init()
{
    MessageBox::clearHistory();
    ChatInvitations::instance().reset();
    globals().ChatDisabled = false;
    globals().BehindRouter = false;
}

void TestChatWindows::invitationNeedsAUserName()
{
    InvitationWindow* w = InvitationWindow::open(nullptr);
    QCOMPARE(w->windowTitle(), QStringLiteral("Invite someone for chat..."));
    QCOMPARE(w->domainBox->currentIndex(), 0);
    QCOMPARE(w->domainBox->count(), globals().AccountDomains.size());
    QCOMPARE(w->statusLabel->text(), QStringLiteral("Status: Idle"));
    w->okButton->click();
    QCOMPARE(MessageBox::history().size(), 1);
    QCOMPARE(MessageBox::history()[0].icon, QMessageBox::Critical);
    QCOMPARE(MessageBox::history()[0].title, globals().AppName);
    QCOMPARE(MessageBox::history()[0].text, QStringLiteral("Please enter a username"));
    QCOMPARE(w->statusLabel->text(), QStringLiteral("Status: Idle"));
    QCOMPARE(ChatInvitations::instance().outstanding(), 0);
    QVERIFY(w->isVisible());
    w->cancelButton->click();
    QTRY_VERIFY(!InvitationWindow::instance());
}

void TestChatWindows::requestWindowBottomRightOnTop()
{
    enginehooks::chatRequest(QStringLiteral("CHATREQUEST_198.51.100.7:2156_<b>bob</b>.vantora.example "),
                             QStringLiteral("198.51.100.7"));
    ChatRequestWindow* w = ChatRequestWindow::instance();
    QVERIFY(w && w->isVisible());
    QVERIFY(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(w->questionLabel->textFormat(), Qt::PlainText);
    QCOMPARE(
        w->questionLabel->text(),
        QStringLiteral(
            "<b>bob</b>.vantora.example  [198.51.100.7] want to chat with you. Do you accept this request?"));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(w->frameGeometry().right(), screen.right() - 7);
    QCOMPARE(w->frameGeometry().bottom(), screen.bottom() - 33);
    // A later request takes its place.
    enginehooks::chatRequest(QStringLiteral("CHATREQUEST_198.51.100.8:2156_jill.vantora.example "),
                             QStringLiteral("198.51.100.8"));
    QCOMPARE(ChatRequestWindow::instance(), w);
    QVERIFY(w->questionLabel->text().startsWith(QStringLiteral("jill.vantora.example  [198.51.100.8]")));
    w->close();
    QTRY_VERIFY(!ChatRequestWindow::instance());
}

void TestChatWindows::droppedRequestShowsNoWindow()
{
    enginehooks::chatRequest(QStringLiteral("CHATREQUEST_198.51.100.7:2156_bob.vantora.example "),
                             QStringLiteral("203.0.113.1"));
    QVERIFY(!ChatRequestWindow::instance());
    globals().BehindRouter = true;
    enginehooks::chatRequest(QStringLiteral("CHATREQUEST_198.51.100.7:2156_bob.vantora.example "),
                             QStringLiteral("203.0.113.1"));
    QVERIFY(ChatRequestWindow::instance());
    ChatRequestWindow::instance()->close();
    QTRY_VERIFY(!ChatRequestWindow::instance());
}

void TestChatWindows::enterSendsTheBox_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("a line") << "hi" << QByteArray("me.vantora.example: hi\r\n");
    // Enter itself puts a line break in the box, so it is never empty.
    QTest::newRow("Enter alone") << "" << QByteArray("me.vantora.example: \r\n");
    QTest::newRow("any language") << QStringLiteral("zoë")
                                  << QByteArray("me.vantora.example: zo\xc3\xab\r\n");
}

void TestChatWindows::enterSendsTheBox()
{
    QFETCH(QString, typed);
    QFETCH(QByteArray, sent);
    QTcpServer peer;
    QVERIFY(peer.listen(QHostAddress::LocalHost));
    ChatWindow* w = ChatWindow::connectChat(QStringLiteral("127.0.0.1"), peer.serverPort(),
                                            QStringLiteral("bob.vantora.example"));
    QCOMPARE(w->windowTitle(), QStringLiteral("bob.vantora.example - Vantora Chat"));
    QCOMPARE(w->peerLabel->text(), QStringLiteral("To: bob.vantora.example"));
    QTRY_VERIFY(peer.hasPendingConnections());
    std::unique_ptr<QTcpSocket> s(peer.nextPendingConnection());
    QTRY_VERIFY(w->conversation.connected());
    w->inputBox->insertPlainText(typed);
    QTest::keyClick(w->inputBox, Qt::Key_Return);
    QByteArray got;
    QDeadlineTimer deadline(10000);
    while (!got.endsWith('\n') && !deadline.hasExpired()) {
        QTest::qWait(5);
        got += s->readAll();
    }
    QCOMPARE(got, sent);
    QCOMPARE(w->inputBox->toPlainText(), QString());
    QVERIFY(w->historyBox->toPlainText().endsWith(QString::fromUtf8(sent).remove(u'\r')));
    s->disconnectFromHost();
    QTRY_VERIFY(!w->inputBox->isEnabled());
    QVERIFY(w->historyBox->toPlainText().endsWith(
        QStringLiteral("bob.vantora.example has left the building...\n")));
    w->close();
}

void TestChatWindows::inputHoldsAtMost500()
{
    ChatWindow* w =
        ChatWindow::connectChat(QStringLiteral("127.0.0.1"), 1, QStringLiteral("x.vantora.example"));
    w->inputBox->insertPlainText(QString(600, u'a'));
    QCOMPARE(w->inputBox->toPlainText(), QString(500, u'a'));
    w->inputBox->insertPlainText(QStringLiteral("b"));
    QCOMPARE(w->inputBox->toPlainText(), QString(500, u'a'));
    w->close();
}

void TestChatWindows::answersWithoutInvitationOpenNothing()
{
    const int windows = int(ChatWindow::openWindows().size());
    QCOMPARE(enginehooks::chatAccept(QStringLiteral("mallory.vantora.example\r\n")), quint16(0));
    QCOMPARE(ChatWindow::openWindows().size(), windows);
    enginehooks::chatReject(QStringLiteral("203.0.113.1"));
    QTest::qWait(0);
    QCOMPARE(MessageBox::history().size(), 0);

    // Once invited, one acceptance opens one chat, named without its line end.
    ChatInvitations::instance().sent();
    const quint16 port = enginehooks::chatAccept(QStringLiteral("bob.vantora.example\r\n"));
    QVERIFY(port != 0);
    QCOMPARE(ChatWindow::openWindows().size(), windows + 1);
    ChatWindow* w = ChatWindow::openWindows().last();
    QCOMPARE(w->windowTitle(), QStringLiteral("bob.vantora.example - Vantora Chat"));
    QCOMPARE(enginehooks::chatAccept(QStringLiteral("bob.vantora.example\r\n")), quint16(0));
    w->close();

    // A rejection of an invitation: one box, from the event loop.
    ChatInvitations::instance().sent();
    enginehooks::chatReject(QStringLiteral("198.51.100.7"));
    QCOMPARE(MessageBox::history().size(), 0);
    QTRY_COMPARE(MessageBox::history().size(), 1);
    QCOMPARE(MessageBox::history()[0].text, QStringLiteral("You chat request is rejected.."));
    QCOMPARE(MessageBox::history()[0].icon, QMessageBox::NoIcon);
    QVERIFY(!ChatInvitations::instance().rejectNoticeShowing());
}

void TestChatWindows::disablingChatTakesEffectAtOnce()
{
    Settings::instance().set(setting::DisableChat, 1);
    QVERIFY(globals().ChatDisabled);
    enginehooks::chatRequest(QStringLiteral("CHATREQUEST_198.51.100.7:2156_bob.vantora.example "),
                             QStringLiteral("198.51.100.7"));
    QVERIFY(!ChatRequestWindow::instance());
    ChatInvitations::instance().sent();
    QCOMPARE(enginehooks::chatAccept(QStringLiteral("bob.vantora.example\r\n")), quint16(0));
    Settings::instance().set(setting::DisableChat, 0);
    QVERIFY(!globals().ChatDisabled);
}

VANTORA_TEST_MAIN(TestChatWindows)
#include "tst_chat_windows.moc"
