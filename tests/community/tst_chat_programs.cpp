// Two real vantora programs and the real directory on loopback: alice on
// 127.0.0.1 invites bob on 127.0.0.2. Each program runs offscreen with its
// own settings folder; the test uses its windows through the control the
// program opens for tests (click, type, Enter, read what a window shows),
// and plays strangers over real sockets.

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>
#include <QTcpSocket>
#include <QTest>
#include <memory>

#include "tests/support/DirectoryProcess.h"
#include "tests/support/TestEnvironment.h"

namespace {

// One vantora program with its own settings, temporary folder and control.
class Program
{
public:
    ~Program() { stop(); }

    bool start(const QString& name, const QString& user, const QString& listenAddress,
               const QString& directory)
    {
        m_name = name;
        const QString home = testenv::root() + u'/' + name;
        QDir(home).removeRecursively();
        for (const char* sub : {"config/Vantora", "runtime", "tmp", "cache"})
            QDir().mkpath(home + u'/' + QLatin1String(sub));
        QFile::setPermissions(home + QStringLiteral("/runtime"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QFile conf(home + QStringLiteral("/config/Vantora/vantora.conf"));
        if (!conf.open(QIODevice::WriteOnly))
            return false;
        conf.write(QStringLiteral("[Streaming]\nUsername=%1\nDomain=vantora.example\nPassword=secret1\n"
                                  "Enable=1\nPort=0\nListenAddress=%2\n\n[Options]\nautocheck=0\n"
                                  "DisMessenger=0\n")
                       .arg(user, listenAddress)
                       .toUtf8());
        conf.close();
        m_control = home + QStringLiteral("/control");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/runtime"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
        env.insert(QStringLiteral("TMPDIR"), home + QStringLiteral("/tmp"));
        env.insert(QStringLiteral("VANTORA_SERVER"), directory);
        env.insert(QStringLiteral("VANTORA_TEST_CONTROL"), m_control);
        m_process.setProcessEnvironment(env);
        QString dir = testenv::binDir();
        if (dir.isEmpty())
            dir = QCoreApplication::applicationDirPath();
        m_process.setProgram(dir + QStringLiteral("/vantora"));
        m_process.start();
        if (!m_process.waitForStarted(10000))
            return false;
        QDeadlineTimer deadline(30000);
        while (!deadline.hasExpired()) {
            m_socket.abort();
            m_socket.connectToServer(m_control);
            if (m_socket.waitForConnected(1000))
                return true;
            if (m_process.state() != QProcess::Running)
                break;
            QTest::qWait(50);
        }
        qWarning("%s did not open its control %s: %s", qPrintable(name), qPrintable(m_control),
                 m_process.readAllStandardError().constData());
        return false;
    }

    QJsonObject ask(QJsonObject q)
    {
        if (m_socket.state() != QLocalSocket::ConnectedState)
            return {};
        m_socket.write(QJsonDocument(q).toJson(QJsonDocument::Compact) + '\n');
        m_socket.flush();
        while (!m_socket.canReadLine()) {
            if (!m_socket.waitForReadyRead(10000))
                return {};
        }
        return QJsonDocument::fromJson(m_socket.readLine()).object();
    }
    QJsonObject state() { return ask({{"op", "state"}}); }
    bool visible(const QString& window)
    {
        return ask({{"op", "text"}, {"window", window}}).value("ok").toBool();
    }
    QString text(const QString& window, const QString& child)
    {
        return ask({{"op", "text"}, {"window", window}, {"child", child}}).value("text").toString();
    }
    QString title(const QString& window)
    {
        return ask({{"op", "text"}, {"window", window}}).value("title").toString();
    }
    bool enabled(const QString& window, const QString& child)
    {
        return ask({{"op", "text"}, {"window", window}, {"child", child}}).value("enabled").toBool();
    }
    bool set(const QString& window, const QString& child, const QString& text)
    {
        return ask({{"op", "set"}, {"window", window}, {"child", child}, {"text", text}})
            .value("ok")
            .toBool();
    }
    bool click(const QString& window, const QString& child)
    {
        return ask({{"op", "click"}, {"window", window}, {"child", child}}).value("ok").toBool();
    }
    // Types `line` into the chat's input box and presses Enter.
    bool say(const QString& line)
    {
        return set(QStringLiteral("chat"), QStringLiteral("input"), line) &&
               ask({{"op", "enter"}, {"window", "chat"}, {"child", "input"}}).value("ok").toBool();
    }
    bool trigger(const QString& action)
    {
        return ask({{"op", "action"}, {"text", action}}).value("ok").toBool();
    }
    bool close(const QString& window)
    {
        return ask({{"op", "close"}, {"window", window}}).value("ok").toBool();
    }
    QStringList boxes()
    {
        QStringList list;
        for (const QJsonValue& v : ask({{"op", "boxes"}}).value("boxes").toArray())
            list << v.toString();
        return list;
    }
    bool grab(const QString& window, const QString& path)
    {
        return ask({{"op", "grab"}, {"window", window}, {"path", path}}).value("ok").toBool();
    }
    quint16 port() { return quint16(state().value("port").toInt()); }
    QByteArray log() { return m_process.readAllStandardError(); }

    void stop()
    {
        m_socket.abort();
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.terminate();
        if (!m_process.waitForFinished(30000)) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }

private:
    QString m_name;
    QString m_control;
    QProcess m_process;
    QLocalSocket m_socket;
};

// Sends `bytes` from `from` to `to`:`port` and reads until the program closes.
QByteArray sendFrom(const QString& from, const QString& to, quint16 port, const QByteArray& bytes)
{
    QTcpSocket s;
    if (!s.bind(QHostAddress(from)))
        return "cannot bind";
    s.connectToHost(QHostAddress(to), port);
    if (!s.waitForConnected(10000))
        return "cannot connect";
    s.write(bytes);
    QByteArray all;
    while (s.state() == QAbstractSocket::ConnectedState && s.waitForReadyRead(10000))
        all += s.readAll();
    return all + s.readAll();
}

const QString kInvite = QStringLiteral("&Invite someone for chat");
const QString kRejected = QStringLiteral("You chat request is rejected..");

} // namespace

class TestChatPrograms : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void inviteAcceptTalkAndLeave();
    void inviteRejectedShowsOneBox();
    void strangersShowNothing();

private:
    void invite(const QString& user);
    DirectoryProcess m_dir;
    Program m_alice;
    Program m_bob;
};

void TestChatPrograms::initTestCase()
{
    QVERIFY2(m_dir.start(), m_dir.log().constData());
    for (const char* user : {"alice", "bob"})
        QVERIFY(m_dir.addMember(QLatin1String(user), QStringLiteral("vantora.example"),
                                QStringLiteral("secret1")));
    QVERIFY(m_alice.start(QStringLiteral("alice"), QStringLiteral("alice"), QStringLiteral("127.0.0.1"),
                          m_dir.hostPort()));
    QVERIFY(m_bob.start(QStringLiteral("bob"), QStringLiteral("bob"), QStringLiteral("127.0.0.2"),
                        m_dir.hostPort()));
    // Both logged on and checked: the directory knows each at its own address.
    QTRY_COMPARE_WITH_TIMEOUT(m_alice.state().value("lastResponse").toString(), QStringLiteral("OK"), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(m_bob.state().value("lastResponse").toString(), QStringLiteral("OK"), 30000);
    QCOMPARE(m_alice.state().value("publicAddress").toString(), QStringLiteral("127.0.0.1"));
    QCOMPARE(m_bob.state().value("publicAddress").toString(), QStringLiteral("127.0.0.2"));
    QCOMPARE(m_bob.state().value("behindRouter").toBool(), false);
    QVERIFY(m_alice.port() != 0 && m_bob.port() != 0);
}

void TestChatPrograms::cleanupTestCase()
{
    m_alice.stop();
    m_bob.stop();
}

void TestChatPrograms::invite(const QString& user)
{
    QVERIFY(m_alice.trigger(kInvite));
    QTRY_VERIFY(m_alice.visible(QStringLiteral("invitation")));
    QCOMPARE(m_alice.title(QStringLiteral("invitation")), QStringLiteral("Invite someone for chat..."));
    QCOMPARE(m_alice.text(QStringLiteral("invitation"), QStringLiteral("domain")),
             QStringLiteral("vantora.example"));
    QVERIFY(m_alice.set(QStringLiteral("invitation"), QStringLiteral("userName"), user));
    const QString pictures = qEnvironmentVariable("VANTORA_CHAT_PICTURES");
    if (!pictures.isEmpty())
        QVERIFY(m_alice.grab(QStringLiteral("invitation"), pictures + QStringLiteral("/invitation.png")));
    QVERIFY(m_alice.click(QStringLiteral("invitation"), QStringLiteral("ok")));
    QTRY_COMPARE_WITH_TIMEOUT(m_alice.text(QStringLiteral("invitation"), QStringLiteral("status")),
                              QStringLiteral("Status: Request sent"), 30000);
    // It closes by itself a moment later.
    QTRY_VERIFY(!m_alice.visible(QStringLiteral("invitation")));
}

void TestChatPrograms::inviteAcceptTalkAndLeave()
{
    invite(QStringLiteral("bob"));
    QTRY_VERIFY_WITH_TIMEOUT(m_bob.visible(QStringLiteral("chatRequest")), 30000);
    QCOMPARE(m_bob.text(QStringLiteral("chatRequest"), QStringLiteral("question")),
             QStringLiteral(
                 "alice.vantora.example  [127.0.0.1] want to chat with you. Do you accept this request?"));
    // Pictures of the windows for a look by eye, when asked for.
    const QString shots = qEnvironmentVariable("VANTORA_CHAT_PICTURES");
    if (!shots.isEmpty())
        QVERIFY(m_bob.grab(QStringLiteral("chatRequest"), shots + QStringLiteral("/request.png")));
    QVERIFY(m_bob.click(QStringLiteral("chatRequest"), QStringLiteral("yes")));

    QTRY_VERIFY_WITH_TIMEOUT(m_alice.visible(QStringLiteral("chat")), 30000);
    QTRY_VERIFY_WITH_TIMEOUT(m_bob.visible(QStringLiteral("chat")), 30000);
    QTRY_VERIFY(!m_bob.visible(QStringLiteral("chatRequest")));
    QCOMPARE(m_alice.title(QStringLiteral("chat")), QStringLiteral("bob.vantora.example - Vantora Chat"));
    QCOMPARE(m_alice.text(QStringLiteral("chat"), QStringLiteral("peer")),
             QStringLiteral("To: bob.vantora.example"));
    // The name as the request carried it, with the blank before the protocol word.
    QCOMPARE(m_bob.title(QStringLiteral("chat")), QStringLiteral("alice.vantora.example  - Vantora Chat"));

    const QString header =
        QString(29, u'-') + QStringLiteral("\n Vantora Chat\n") + QString(29, u'-') + u'\n';
    QVERIFY(m_alice.say(QStringLiteral("Hello Bob")));
    const QString fromAlice = QStringLiteral("alice.vantora.example: Hello Bob\n");
    QTRY_COMPARE_WITH_TIMEOUT(m_bob.text(QStringLiteral("chat"), QStringLiteral("history")),
                              header + fromAlice, 30000);
    QCOMPARE(m_alice.text(QStringLiteral("chat"), QStringLiteral("history")), header + fromAlice);
    QCOMPARE(m_alice.text(QStringLiteral("chat"), QStringLiteral("input")), QString());

    const QString words = QStringLiteral("Grüße aus Köln — 日本語 🙂");
    QVERIFY(m_bob.say(words));
    const QString fromBob = QStringLiteral("bob.vantora.example: ") + words + u'\n';
    QTRY_COMPARE_WITH_TIMEOUT(m_alice.text(QStringLiteral("chat"), QStringLiteral("history")),
                              header + fromAlice + fromBob, 30000);
    QCOMPARE(m_bob.text(QStringLiteral("chat"), QStringLiteral("history")), header + fromAlice + fromBob);
    if (!shots.isEmpty())
        QVERIFY(m_alice.grab(QStringLiteral("chat"), shots + QStringLiteral("/chat.png")));

    QVERIFY(m_bob.close(QStringLiteral("chat")));
    QTRY_COMPARE_WITH_TIMEOUT(m_alice.text(QStringLiteral("chat"), QStringLiteral("history")),
                              header + fromAlice + fromBob +
                                  QStringLiteral("\n\nbob.vantora.example has left the building...\n"),
                              30000);
    QVERIFY(!m_alice.enabled(QStringLiteral("chat"), QStringLiteral("input")));
    QVERIFY(m_alice.close(QStringLiteral("chat")));
    QTRY_VERIFY(!m_alice.visible(QStringLiteral("chat")));
    QCOMPARE(m_alice.boxes(), QStringList());
}

void TestChatPrograms::inviteRejectedShowsOneBox()
{
    invite(QStringLiteral("bob"));
    QTRY_VERIFY_WITH_TIMEOUT(m_bob.visible(QStringLiteral("chatRequest")), 30000);
    QVERIFY(m_bob.click(QStringLiteral("chatRequest"), QStringLiteral("no")));
    QTRY_VERIFY(!m_bob.visible(QStringLiteral("chatRequest")));
    QTRY_COMPARE_WITH_TIMEOUT(m_alice.boxes(), QStringList{kRejected}, 30000);
    // The invitation is answered: a second rejection shows nothing.
    QCOMPARE(
        sendFrom(QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.1"), m_alice.port(), "CHAT REJECT\r\n"),
        QByteArray());
    QCOMPARE(m_alice.boxes(), QStringList{kRejected});
    QVERIFY(!m_alice.visible(QStringLiteral("chat")));
}

void TestChatPrograms::strangersShowNothing()
{
    const quint16 alicePort = m_alice.port();
    const int before = int(m_alice.boxes().size());
    // Rejections and acceptances nobody was asked for: no box, no chat, no port.
    for (int i = 0; i < 20; ++i)
        QCOMPARE(
            sendFrom(QStringLiteral("127.0.0.3"), QStringLiteral("127.0.0.1"), alicePort, "CHAT REJECT\r\n"),
            QByteArray());
    QCOMPARE(sendFrom(QStringLiteral("127.0.0.3"), QStringLiteral("127.0.0.1"), alicePort,
                      "CHAT ACCEPTmallory.vantora.example\r\n"),
             QByteArray());
    QCOMPARE(m_alice.boxes().size(), before);
    QVERIFY(!m_alice.visible(QStringLiteral("chat")));

    // A request naming alice but coming from another address (as one passed
    // on by the directory would) is not shown; the same from alice's address is.
    const QByteArray request = "GET /CHATREQUEST_127.0.0.1:" + QByteArray::number(alicePort) +
                               "_alice.vantora.example HTTP/1.1\r\nHost: x\r\n\r\n";
    const quint16 bobPort = m_bob.port();
    QVERIFY(sendFrom(QStringLiteral("127.0.0.3"), QStringLiteral("127.0.0.2"), bobPort, request)
                .contains("TRYING TO CONTACT CLIENT"));
    QVERIFY(!m_bob.visible(QStringLiteral("chatRequest")));
    QVERIFY(sendFrom(QStringLiteral("127.0.0.1"), QStringLiteral("127.0.0.2"), bobPort, request)
                .contains("TRYING TO CONTACT CLIENT"));
    QTRY_VERIFY(m_bob.visible(QStringLiteral("chatRequest")));
    // Yes now reaches alice, who invited nobody: the answer gets no chat port.
    QVERIFY(m_bob.click(QStringLiteral("chatRequest"), QStringLiteral("yes")));
    QTRY_VERIFY_WITH_TIMEOUT(!m_bob.visible(QStringLiteral("chatRequest")), 30000);
    QVERIFY(!m_bob.visible(QStringLiteral("chat")));
    QVERIFY(!m_alice.visible(QStringLiteral("chat")));
    QCOMPARE(m_alice.boxes().size(), before);
}

VANTORA_TEST_MAIN(TestChatPrograms)
#include "tst_chat_programs.moc"
