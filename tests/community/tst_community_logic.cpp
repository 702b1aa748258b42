// The community logic without windows: the registration's checks, address and
// answers, the connection list's rules, its stored place and the route trace
// command.

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrlQuery>

#include "community/ConnectionList.h"
#include "community/Registration.h"
#include "shell/Settings.h"
#include "tests/support/TestEnvironment.h"

class TestCommunityLogic : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void checksInOrder_data();
    void checksInOrder();
    void requestUrlEncodesEveryValue_data();
    void requestUrlEncodesEveryValue();
    void answerWords_data();
    void answerWords();
    void refusalMessages();
    void busyBarRunsRound();
    void errorTextNeverHoldsThePassword();
    void failedRequestShowsNoPassword();
    void secondSignWhileBusyIsIgnored();
    void listAddAndRemove_data();
    void listAddAndRemove();
    void geometryDefaultsAndRoundTrip();
    void routeTracePlan_data();
    void routeTracePlan();

private:
    int m_settingsNo = 0;
};

static SignupForm validForm()
{
    SignupForm f;
    f.user = QStringLiteral("alice");
    f.password = QStringLiteral("pass1");
    f.passwordAgain = f.password;
    f.name = QStringLiteral("Alice Liddell");
    f.email = QStringLiteral("alice@example.org");
    f.domain = QStringLiteral("vantora.example");
    f.termsAccepted = true;
    return f;
}

void TestCommunityLogic::init()
{
    setSettingsPath(testenv::root() + QStringLiteral("/logic-%1.ini").arg(++m_settingsNo));
}

void TestCommunityLogic::checksInOrder_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("message");
    const QString badChars = QStringLiteral("Username contains invalid characters");
    QTest::newRow("valid") << QString() << QString() << QString();
    QTest::newRow("passwords differ, all else wrong too")
        << QStringLiteral("mismatch+wrong") << QString()
        << QStringLiteral("Passwords doesn't match. Please re-enter passwords");
    const QStringList userChars{QStringLiteral("'"), QStringLiteral(" "), QStringLiteral("\u00A0"),
                                QStringLiteral("&"), QStringLiteral("?"), QStringLiteral("^"),
                                QStringLiteral("%"), QStringLiteral("$"), QStringLiteral("#"),
                                QStringLiteral("@"), QStringLiteral("!"), QStringLiteral("("),
                                QStringLiteral(")"), QStringLiteral(":"), QStringLiteral("\"")};
    for (const QString& c : userChars)
        QTest::addRow("user with U+%04X", c.at(0).unicode())
            << QStringLiteral("user") << (QStringLiteral("al") + c + QStringLiteral("ice")) << badChars;
    QTest::newRow("user with a dot is fine")
        << QStringLiteral("user") << QStringLiteral("al.ice") << QString();
    QTest::newRow("password apostrophe, 4 chars") << QStringLiteral("password") << QStringLiteral("ab'c")
                                                  << QStringLiteral("Password contains invalid characters");
    QTest::newRow("password ampersand") << QStringLiteral("password") << QStringLiteral("abc&def")
                                        << QStringLiteral("Password contains invalid characters");
    QTest::newRow("password with blanks is fine")
        << QStringLiteral("password") << QStringLiteral("my pass 1") << QString();
    QTest::newRow("name apostrophe") << QStringLiteral("name") << QStringLiteral("O'Hara")
                                     << QStringLiteral("Name contains invalid characters");
    QTest::newRow("email ampersand") << QStringLiteral("email") << QStringLiteral("a&b@c.de")
                                     << QStringLiteral("E-Mail contains invalid characters");
    QTest::newRow("email without @") << QStringLiteral("email") << QStringLiteral("alice.example.org")
                                     << QStringLiteral("Invalid E-Mail address");
    QTest::newRow("email without point") << QStringLiteral("email") << QStringLiteral("alice@example")
                                         << QStringLiteral("Invalid E-Mail address");
    QTest::newRow("email of 3") << QStringLiteral("email") << QStringLiteral("@.a")
                                << QStringLiteral("Invalid E-Mail address");
    QTest::newRow("email of exactly 4 passes")
        << QStringLiteral("email") << QStringLiteral("a@b.") << QString();
    QTest::newRow("name of 2") << QStringLiteral("name") << QStringLiteral("Al")
                               << QStringLiteral("Invalid Name");
    QTest::newRow("name of 2 and user of 2: name first")
        << QStringLiteral("name+user") << QStringLiteral("Al") << QStringLiteral("Invalid Name");
    QTest::newRow("user of 2") << QStringLiteral("user") << QStringLiteral("al")
                               << QStringLiteral("Invalid Username (minimal 3 characters)");
    QTest::newRow("user of 3 with trailing blank counts the blank")
        << QStringLiteral("user") << QStringLiteral("al ") << badChars;
    QTest::newRow("password of 3") << QStringLiteral("password") << QStringLiteral("abc")
                                   << QStringLiteral("Invalid Password (minimal 4 characters)");
    QTest::newRow("terms not ticked")
        << QStringLiteral("terms") << QString() << QStringLiteral("You must agree the terms && conditions");
}

void TestCommunityLogic::checksInOrder()
{
    QFETCH(QString, field);
    QFETCH(QString, value);
    QFETCH(QString, message);
    SignupForm f = validForm();
    if (field == QLatin1String("user")) {
        f.user = value;
    } else if (field == QLatin1String("password")) {
        f.password = f.passwordAgain = value;
    } else if (field == QLatin1String("name")) {
        f.name = value;
    } else if (field == QLatin1String("name+user")) {
        f.name = value;
        f.user = value;
    } else if (field == QLatin1String("email")) {
        f.email = value;
    } else if (field == QLatin1String("terms")) {
        f.termsAccepted = false;
    } else if (field == QLatin1String("mismatch+wrong")) {
        f.passwordAgain = QStringLiteral("other");
        f.user = QStringLiteral("a b");
        f.email = QStringLiteral("x");
        f.termsAccepted = false;
    }
    QCOMPARE(signup::check(f), message);
}

void TestCommunityLogic::requestUrlEncodesEveryValue_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("adult");
    QTest::addColumn<QString>("expected");
    QTest::newRow("plain") << QStringLiteral("pass1") << QStringLiteral("Alice") << false
                           << QStringLiteral(
                                  "http://dir.example:8080/client_v3/register.php?u=alice.vantora.example"
                                  "&p=pass1&n=Alice&e=alice%40example.org&a=False");
    QTest::newRow("blanks, plus, hash, equals, percent")
        << QStringLiteral("a b+c#d=e%f") << QStringLiteral("Alice van Dijk") << true
        << QStringLiteral("http://dir.example:8080/client_v3/register.php?u=alice.vantora.example"
                          "&p=a%20b%2Bc%23d%3De%25f&n=Alice%20van%20Dijk&e=alice%40example.org&a=True");
    QTest::newRow("non-ASCII as UTF-8")
        << QStringLiteral("p\u00E4ss") << QStringLiteral("J\u00FCrgen") << false
        << QStringLiteral("http://dir.example:8080/client_v3/register.php?u=alice.vantora.example"
                          "&p=p%C3%A4ss&n=J%C3%BCrgen&e=alice%40example.org&a=False");
}

void TestCommunityLogic::requestUrlEncodesEveryValue()
{
    QFETCH(QString, password);
    QFETCH(QString, name);
    QFETCH(bool, adult);
    QFETCH(QString, expected);
    SignupForm f = validForm();
    f.password = f.passwordAgain = password;
    f.name = name;
    f.adult = adult;
    const QUrl url = signup::requestUrl(QStringLiteral("dir.example:8080"), f);
    QVERIFY(url.isValid());
    QCOMPARE(QString::fromLatin1(url.toEncoded()), expected);
    // A reader that decodes once gets the values back as typed.
    const QUrlQuery query(url);
    QCOMPARE(query.queryItemValue(QStringLiteral("p"), QUrl::FullyDecoded), password);
    QCOMPARE(query.queryItemValue(QStringLiteral("n"), QUrl::FullyDecoded), name);
}

void TestCommunityLogic::answerWords_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("answer");
    QTest::newRow("created") << QByteArray("ACCOUNT CREATED") << int(signup::Answer::Created);
    QTest::newRow("created with CR LF") << QByteArray("ACCOUNT CREATED\r\n") << int(signup::Answer::Created);
    QTest::newRow("created lower case") << QByteArray("account created") << int(signup::Answer::Unknown);
    QTest::newRow("created with LF only") << QByteArray("ACCOUNT CREATED\n") << int(signup::Answer::Unknown);
    QTest::newRow("user name in use")
        << QByteArray("USERNAME IN USE\r\n") << int(signup::Answer::UserNameInUse);
    QTest::newRow("email in use") << QByteArray("EMAIL IN USE") << int(signup::Answer::EmailInUse);
    QTest::newRow("domain closed") << QByteArray("NA") << int(signup::Answer::DomainClosed);
    QTest::newRow("store down") << QByteArray("DB DOWN") << int(signup::Answer::Unknown);
    QTest::newRow("empty") << QByteArray() << int(signup::Answer::Unknown);
}

void TestCommunityLogic::answerWords()
{
    QFETCH(QByteArray, body);
    QFETCH(int, answer);
    QCOMPARE(int(signup::parseAnswer(body)), answer);
}

void TestCommunityLogic::refusalMessages()
{
    const QString support = QStringLiteral("help@example.org");
    const QString domain = QStringLiteral("camfriends.example");
    QCOMPARE(signup::refusalMessage(signup::Answer::UserNameInUse, domain, support),
             QStringLiteral("Username is in use by another member"));
    QCOMPARE(
        signup::refusalMessage(signup::Answer::EmailInUse, domain, support),
        QStringLiteral(
            "E-Mail is in use by another account. Contact help@example.org if you have forgot you password"));
    QCOMPARE(signup::refusalMessage(signup::Answer::DomainClosed, domain, support),
             QStringLiteral(
                 "Domain camfriends.example is currently not avaible for new accounts. Try few days later "
                 "or register on another domain."));
    QVERIFY(signup::refusalMessage(signup::Answer::Created, domain, support).isEmpty());
    QVERIFY(signup::refusalMessage(signup::Answer::Unknown, domain, support).isEmpty());
}

void TestCommunityLogic::busyBarRunsRound()
{
    QList<int> values;
    int v = 0;
    for (int i = 0; i < 12; ++i)
        values << (v = signup::nextBusyValue(v));
    QCOMPARE(values, (QList<int>{10, 20, 30, 40, 50, 60, 70, 80, 90, 100, 10, 20}));
}

void TestCommunityLogic::errorTextNeverHoldsThePassword()
{
    SignupForm f = validForm();
    f.password = f.passwordAgain = QStringLiteral("sec ret+9");
    const QUrl url = signup::requestUrl(QStringLiteral("127.0.0.1:9"), f);
    const QStringList errors{
        QStringLiteral("Error transferring %1 - server replied: Bad Request").arg(url.toString()),
        QStringLiteral("Error transferring %1 - server replied: Bad Request")
            .arg(QString::fromLatin1(url.toEncoded())),
        QStringLiteral("Timed out: %1").arg(url.toDisplayString()),
        QStringLiteral("odd layer quoting sec ret+9 and sec%20ret%2B9"),
    };
    for (const QString& e : errors) {
        const QString safe = signup::safeError(e, url, f.password);
        QVERIFY2(!safe.contains(QStringLiteral("sec ret")) && !safe.contains(QStringLiteral("sec%20ret")) &&
                     !safe.contains(QStringLiteral("p=")),
                 qPrintable(safe));
    }
    QCOMPARE(
        signup::safeError(errors.first(), url, f.password),
        QStringLiteral(
            "Error transferring http://127.0.0.1:9/client_v3/register.php - server replied: Bad Request"));
}

// A directory that answers with an HTTP error: the Retry box must not show the password.
void TestCommunityLogic::failedRequestShowsNoPassword()
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    connect(&server, &QTcpServer::newConnection, &server, [&server] {
        QTcpSocket* s = server.nextPendingConnection();
        connect(s, &QTcpSocket::readyRead, s, [s] {
            if (!s->readAll().contains("\r\n\r\n"))
                return;
            s->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 3\r\nConnection: close\r\n\r\nBAD");
            s->disconnectFromHost();
        });
    });
    QStringList retries;
    int created = 0;
    Registration r({[](const QString&) {},
                    [&](const QString& m) {
                        retries << m;
                        return false;
                    },
                    [&](const SignupForm&) { ++created; }});
    r.setServerHost(QStringLiteral("127.0.0.1:%1").arg(server.serverPort()));
    SignupForm f = validForm();
    f.password = f.passwordAgain = QStringLiteral("hunter two");
    QVERIFY(r.sign(f));
    QVERIFY(r.busy());
    QTRY_VERIFY_WITH_TIMEOUT(!r.busy(), 30000);
    QCOMPARE(retries.size(), 1);
    QVERIFY2(retries.first().startsWith(QStringLiteral("ERROR: ")), qPrintable(retries.first()));
    QVERIFY2(!retries.first().contains(QStringLiteral("hunter")), qPrintable(retries.first()));
    QCOMPARE(created, 0);
}

void TestCommunityLogic::secondSignWhileBusyIsIgnored()
{
    QTcpServer server; // accepts, never answers
    QVERIFY(server.listen(QHostAddress::LocalHost));
    int refusals = 0;
    Registration r({[&](const QString&) { ++refusals; }, [](const QString&) { return false; }, {}});
    r.setServerHost(QStringLiteral("127.0.0.1:%1").arg(server.serverPort()));
    QVERIFY(r.sign(validForm()));
    QVERIFY(r.busy());
    QVERIFY(!r.sign(validForm()));
    SignupForm bad = validForm();
    bad.passwordAgain = QStringLiteral("x");
    QVERIFY(!r.sign(bad)); // not even checked while the first runs
    QCOMPARE(refusals, 0);
}

void TestCommunityLogic::listAddAndRemove_data()
{
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QString>("removed");
    QTest::addColumn<QStringList>("left");
    const QString a = QStringLiteral("192.0.2.10");
    const QString b = QStringLiteral("192.0.2.101");
    QTest::newRow("two from one address, one removed") << QStringList{a, a, b} << a << QStringList{a, b};
    QTest::newRow("prefix takes the longer line first") << QStringList{b, a} << a << QStringList{a};
    QTest::newRow("only the first match") << QStringList{a, b, a} << a << QStringList{b, a};
    QTest::newRow("empty removes nothing") << QStringList{a, b} << QString() << QStringList{a, b};
    QTest::newRow("unknown removes nothing")
        << QStringList{a} << QStringLiteral("198.51.100.1") << QStringList{a};
    QTest::newRow("longer text than the line") << QStringList{a} << b << QStringList{a};
}

void TestCommunityLogic::listAddAndRemove()
{
    QFETCH(QStringList, added);
    QFETCH(QString, removed);
    QFETCH(QStringList, left);
    ConnectionList list;
    for (const QString& line : added)
        list.add(line);
    QCOMPARE(list.lines(), added);
    const qsizetype row = list.remove(removed);
    QCOMPARE(list.lines(), left);
    QCOMPARE(row >= 0, left.size() < added.size());
}

void TestCommunityLogic::geometryDefaultsAndRoundTrip()
{
    const QRect screen(0, 0, 1200, 900);
    // 2220 x 3600 twips = 148 x 240 pixels, centred.
    QCOMPARE(connectionsgeometry::load(screen), QRect(600 - 74, 450 - 120, 148, 240));
    const QRect placed(40, 50, 300, 200);
    connectionsgeometry::save(placed);
    QCOMPARE(GetSetting(QStringLiteral("Active Connections"), QStringLiteral("WindowLeft")),
             QStringLiteral("600"));
    QCOMPARE(GetSetting(QStringLiteral("Active Connections"), QStringLiteral("WindowTop")),
             QStringLiteral("750"));
    QCOMPARE(GetSetting(QStringLiteral("Active Connections"), QStringLiteral("WindowWidth")),
             QStringLiteral("4500"));
    QCOMPARE(GetSetting(QStringLiteral("Active Connections"), QStringLiteral("WindowHeight")),
             QStringLiteral("3000"));
    QCOMPARE(connectionsgeometry::load(screen), placed);
    // A screen further right: the stored place stays where it was.
    QCOMPARE(connectionsgeometry::load(QRect(1200, 0, 800, 600)), placed);
    // A stored size of nothing still gives a window.
    SaveSetting(QStringLiteral("Active Connections"), QStringLiteral("WindowWidth"), QStringLiteral("0"));
    QCOMPARE(connectionsgeometry::load(screen).width(), 1);
}

void TestCommunityLogic::routeTracePlan_data()
{
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("tail"); // the last arguments
    QTest::addColumn<QString>("problem");
    const QString ip = QStringLiteral("192.0.2.10");
    QTest::newRow("x-terminal-emulator and tracepath")
        << QStringList{QStringLiteral("x-terminal-emulator"), QStringLiteral("xterm"),
                       QStringLiteral("tracepath")}
        << ip << QStringLiteral("/bin/x-terminal-emulator")
        << QStringList{QStringLiteral("/bin/tracepath"), ip} << QString();
    QTest::newRow("traceroute preferred")
        << QStringList{QStringLiteral("xterm"), QStringLiteral("tracepath"), QStringLiteral("traceroute")}
        << ip << QStringLiteral("/bin/xterm") << QStringList{QStringLiteral("/bin/traceroute"), ip}
        << QString();
    QTest::newRow("IPv6 address") << QStringList{QStringLiteral("konsole"), QStringLiteral("tracepath")}
                                  << QStringLiteral("::1") << QStringLiteral("/bin/konsole")
                                  << QStringList{QStringLiteral("/bin/tracepath"), QStringLiteral("::1")}
                                  << QString();
    QTest::newRow("no trace program")
        << QStringList{QStringLiteral("xterm")} << ip << QString() << QStringList()
        << QStringLiteral("The route to 192.0.2.10 cannot be traced: neither traceroute "
                          "nor tracepath is installed.");
    QTest::newRow("no terminal") << QStringList{QStringLiteral("tracepath")} << ip << QString()
                                 << QStringList()
                                 << QStringLiteral(
                                        "The route to 192.0.2.10 cannot be traced: no terminal program was "
                                        "found (x-terminal-emulator, xterm, ...).");
    QTest::newRow("nothing selected")
        << QStringList{QStringLiteral("xterm"), QStringLiteral("tracepath")} << QString() << QString()
        << QStringList() << QStringLiteral("Select the address of a connection to trace the route to it.");
    QTest::newRow("an option is not an address")
        << QStringList{QStringLiteral("xterm"), QStringLiteral("tracepath")} << QStringLiteral("-n;rm -rf ~")
        << QString() << QStringList()
        << QStringLiteral("Select the address of a connection to trace the route to it.");
}

void TestCommunityLogic::routeTracePlan()
{
    QFETCH(QStringList, installed);
    QFETCH(QString, address);
    QFETCH(QString, program);
    QFETCH(QStringList, tail);
    QFETCH(QString, problem);
    const routetrace::Launch launch = routetrace::plan(address, [&](const QString& name) {
        return installed.contains(name) ? QStringLiteral("/bin/") + name : QString();
    });
    QCOMPARE(launch.program, program);
    QCOMPARE(launch.problem, problem);
    if (!program.isEmpty()) {
        QVERIFY(launch.arguments.size() > tail.size());
        QCOMPARE(launch.arguments.mid(launch.arguments.size() - tail.size()), tail);
        QVERIFY(launch.arguments.contains(QStringLiteral("sh")));
    }
}

VANTORA_TEST_MAIN(TestCommunityLogic)
#include "tst_community_logic.moc"
