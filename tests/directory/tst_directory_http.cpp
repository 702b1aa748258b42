// The service as a program, spoken to with the exact bytes of the clients.

#include "tests/directory/DirectoryClient.h"
#include "tests/support/DirectoryProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

class TestDirectoryHttp : public QObject
{
    Q_OBJECT

private:
    DirectoryProcess m_dir;
    RawAnswer get(const QByteArray& target) { return rawGet(m_dir.port(), target); }
    QByteArray word(const QByteArray& target)
    {
        const RawAnswer a = get(target);
        return a.body;
    }
    QByteArray listMembers()
    {
        QProcess p;
        p.start(DirectoryProcess::programPath(),
                {QStringLiteral("list-members"), QStringLiteral("--db"), m_dir.dbPath()});
        p.waitForFinished(30000);
        return p.readAllStandardOutput();
    }

private slots:
    void initTestCase()
    {
        // Every request here comes from 127.0.0.1: the limits get tests of their own.
        QVERIFY2(m_dir.start({QStringLiteral("--failed-logons-per-address"), QStringLiteral("0"),
                              QStringLiteral("--failed-logons-per-account"), QStringLiteral("0"),
                              QStringLiteral("--registrations-per-hour"), QStringLiteral("0")}),
                 m_dir.log().constData());
        QVERIFY(m_dir.port() > 0);
        QCOMPARE(m_dir.hostPort(), QStringLiteral("127.0.0.1:%1").arg(m_dir.port()));
        QVERIFY(m_dir.addMember(QStringLiteral("alice"), QStringLiteral("vantora.example"),
                                QStringLiteral("secret1"), QStringLiteral("alice@example.org")));
    }
    void cleanupTestCase() { m_dir.stop(); }

    void registration_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("created") << QByteArray(
                                        "u=bob.vantora.example&p=pass1&n=Bob Stone&e=bob@example.org&a=False")
                                 << 200 << QByteArray("ACCOUNT CREATED");
        QTest::newRow("created, second domain, encoded")
            << QByteArray("u=carol.camfriends.example&p=a%2Bb%25c&n=Carol%20Ray&e=carol%40example.org&a=True")
            << 200 << QByteArray("ACCOUNT CREATED");
        QTest::newRow("name in use")
            << QByteArray("u=bob.vantora.example&p=other1&n=Bobby&e=bob2@example.org&a=False") << 200
            << QByteArray("USERNAME IN USE");
        QTest::newRow("name in use, other case")
            << QByteArray("u=BOB.vantora.example&p=other1&n=Bobby&e=bob3@example.org&a=False") << 200
            << QByteArray("USERNAME IN USE");
        QTest::newRow("name of add-member in use")
            << QByteArray("u=alice.vantora.example&p=other1&n=Alice&e=al@example.org&a=False") << 200
            << QByteArray("USERNAME IN USE");
        QTest::newRow("email in use")
            << QByteArray("u=dave.vantora.example&p=pass1&n=Dave&e=BOB@example.org&a=False") << 200
            << QByteArray("EMAIL IN USE");
        QTest::newRow("domain not accepted")
            << QByteArray("u=erin.elsewhere.example&p=pass1&n=Erin&e=erin@example.org&a=False") << 200
            << QByteArray("NA");
        QTest::newRow("no domain") << QByteArray("u=erin&p=pass1&n=Erin&e=erin@example.org&a=False") << 200
                                   << QByteArray("NA");
        QTest::newRow("domain alone")
            << QByteArray("u=.vantora.example&p=pass1&n=Erin&e=erin@example.org&a=False") << 200
            << QByteArray("BAD");
        QTest::newRow("blanks in the password")
            << QByteArray("u=erin.vantora.example&p=my%20pass%20word&n=Erin&e=erin@example.org&a=False")
            << 200 << QByteArray("ACCOUNT CREATED");
        QTest::newRow("missing password")
            << QByteArray("u=frank.vantora.example&n=Frank&e=f@example.org&a=False") << 200
            << QByteArray("BAD");
        QTest::newRow("empty email") << QByteArray("u=frank.vantora.example&p=pass1&n=Frank&e=&a=False")
                                     << 200 << QByteArray("BAD");
        QTest::newRow("short user name")
            << QByteArray("u=fr.vantora.example&p=pass1&n=Frank&e=f@example.org&a=False") << 200
            << QByteArray("BAD");
        QTest::newRow("quote in user name")
            << QByteArray("u=fr'ank.vantora.example&p=pass1&n=Frank&e=f@example.org") << 200
            << QByteArray("BAD");
        QTest::newRow("short password") << QByteArray("u=frank.vantora.example&p=abc&n=Frank&e=f@example.org")
                                        << 200 << QByteArray("BAD");
        QTest::newRow("email without at")
            << QByteArray("u=frank.vantora.example&p=pass1&n=Frank&e=f.example.org") << 200
            << QByteArray("BAD");
        QTest::newRow("line break in name")
            << QByteArray("u=frank.vantora.example&p=pass1&n=Fr%0D%0Aank&e=f@example.org") << 200
            << QByteArray("BAD");
    }
    void registration()
    {
        QFETCH(QByteArray, query);
        QFETCH(int, status);
        QFETCH(QByteArray, answer);
        const RawAnswer a = get("/client_v3/register.php?" + query.replace(' ', "%20"));
        QCOMPARE(a.status, status);
        QCOMPARE(a.body, answer);
        QVERIFY(a.raw.contains("Content-Type: text/plain"));
    }

    void logonAnswersPublicAddressAndPortFromI()
    {
        const RawAnswer a = get("/client_v3/logon.php?u=alice.vantora.example&p=secret1&i=192.168.0.10:2156");
        QCOMPARE(a.status, 200);
        QCOMPARE(a.body, QByteArray("127.0.0.1:2156"));
        QVERIFY(a.closedByServer);
        QVERIFY(listMembers().contains("alice.vantora.example\talice@example.org\t\tonline 127.0.0.1:2156"));
        // A relogon from another port moves the member.
        QCOMPARE(word("/client_v3/logon.php?u=alice.vantora.example&p=secret1&i=10.0.0.2:3000"),
                 QByteArray("127.0.0.1:3000"));
        QVERIFY(listMembers().contains("online 127.0.0.1:3000"));
    }

    void logonRefusals_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("unknown member")
            << QByteArray("u=nobody.vantora.example&p=secret1&i=1.2.3.4:2156") << 200 << QByteArray("USER");
        QTest::newRow("no domain") << QByteArray("u=alice&p=secret1&i=1.2.3.4:2156") << 200
                                   << QByteArray("USER");
        QTest::newRow("empty user") << QByteArray("u=&p=secret1&i=1.2.3.4:2156") << 200 << QByteArray("USER");
        QTest::newRow("no parameters") << QByteArray("") << 200 << QByteArray("USER");
        QTest::newRow("wrong password")
            << QByteArray("u=alice.vantora.example&p=secret2&i=1.2.3.4:2156") << 200 << QByteArray("PASS");
        QTest::newRow("password case")
            << QByteArray("u=alice.vantora.example&p=SECRET1&i=1.2.3.4:2156") << 200 << QByteArray("PASS");
        QTest::newRow("empty password")
            << QByteArray("u=alice.vantora.example&p=&i=1.2.3.4:2156") << 200 << QByteArray("PASS");
        QTest::newRow("no i") << QByteArray("u=alice.vantora.example&p=secret1") << 400 << QByteArray("BAD");
        QTest::newRow("i without port")
            << QByteArray("u=alice.vantora.example&p=secret1&i=1.2.3.4") << 400 << QByteArray("BAD");
        QTest::newRow("port out of range")
            << QByteArray("u=alice.vantora.example&p=secret1&i=1.2.3.4:70000") << 400 << QByteArray("BAD");
        QTest::newRow("port zero") << QByteArray("u=alice.vantora.example&p=secret1&i=1.2.3.4:0") << 400
                                   << QByteArray("BAD");
    }
    void logonRefusals()
    {
        QFETCH(QByteArray, query);
        QFETCH(int, status);
        QFETCH(QByteArray, answer);
        const RawAnswer a = get("/client_v3/logon.php?" + query);
        QCOMPARE(a.status, status);
        QCOMPARE(a.body, answer);
    }

    void plusInUnencodedPasswordIsAPlus()
    {
        // Registered through the web-request control: encoded.
        QCOMPARE(word("/client_v3/"
                      "register.php?u=gina.vantora.example&p=x%2By%25z&n=Gina&e=gina@example.org&a=False"),
                 QByteArray("ACCOUNT CREATED"));
        // Logged on through the raw request: as typed.
        QCOMPARE(word("/client_v3/logon.php?u=gina.vantora.example&p=x+y%z&i=1.2.3.4:2156"),
                 QByteArray("127.0.0.1:2156"));
        QCOMPARE(word("/client_v3/logon.php?u=gina.vantora.example&p=x%20y%25z&i=1.2.3.4:2156"),
                 QByteArray("PASS"));
    }

    void passwordWithBlanks_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::newRow("encoded") << QByteArray("two%20words%20here");
        QTest::newRow("as typed") << QByteArray("two words here");
    }
    void passwordWithBlanks()
    {
        // Registered through the web-request control (every value encoded);
        // a logon from an older client puts the blanks in as typed.
        QFETCH(QByteArray, password);
        const QByteArray reg = word(
            "/client_v3/"
            "register.php?u=hugo.vantora.example&p=two%20words%20here&n=Hugo&e=hugo@example.org&a=False");
        QVERIFY(reg == "ACCOUNT CREATED" || reg == "USERNAME IN USE");
        QCOMPARE(word("/client_v3/logon.php?u=hugo.vantora.example&p=" + password + "&i=1.2.3.4:2156"),
                 QByteArray("127.0.0.1:2156"));
        QCOMPARE(word("/client_v3/logon.php?u=hugo.vantora.example&p=two%20words&i=1.2.3.4:2156"),
                 QByteArray("PASS"));
        QVERIFY(!m_dir.log().contains("words"));
    }

    void changedPasswordIsRefusedOnRelogon()
    {
        QCOMPARE(word("/client_v3/"
                      "register.php?u=henry.vantora.example&p=first1&n=Henry&e=henry@example.org&a=False"),
                 QByteArray("ACCOUNT CREATED"));
        QCOMPARE(word("/client_v3/logon.php?u=henry.vantora.example&p=first1&i=1.2.3.4:2156"),
                 QByteArray("127.0.0.1:2156"));
        QCOMPARE(word("/client_v3/logon.php?u=henry.vantora.example&p=first1&i=1.2.3.4:2156"),
                 QByteArray("127.0.0.1:2156"));
        QCOMPARE(word("/client_v3/logon.php?u=henry.vantora.example&p=second2&i=1.2.3.4:2156"),
                 QByteArray("PASS"));
        QCOMPARE(word("/client_v3/logon.php?u=henry.vantora.example&p=first1&i=1.2.3.4:2156"),
                 QByteArray("127.0.0.1:2156"));
    }

    void relogonAfterTheHashChangedBehindTheServiceIsCheckedInFull()
    {
        QVERIFY(m_dir.addMember(QStringLiteral("kate"), QStringLiteral("vantora.example"),
                                QStringLiteral("old1")));
        QVERIFY(m_dir.addMember(QStringLiteral("kate2"), QStringLiteral("vantora.example"),
                                QStringLiteral("new2")));
        const QByteArray old = "/client_v3/logon.php?u=kate.vantora.example&p=old1&i=1.2.3.4:2156";
        const QByteArray renewed = "/client_v3/logon.php?u=kate.vantora.example&p=new2&i=1.2.3.4:2156";
        QCOMPARE(word(old), QByteArray("127.0.0.1:2156"));
        QCOMPARE(word(old), QByteArray("127.0.0.1:2156")); // a relogon: the remembered check
        // The operator gives kate another password in the database itself.
        {
            const QString name = QStringLiteral("operator");
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(m_dir.dbPath());
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY2(q.exec(QStringLiteral("UPDATE members SET password_hash = (SELECT password_hash FROM "
                                           "members WHERE name_key = 'kate2.vantora.example') WHERE name_key "
                                           "= 'kate.vantora.example'")),
                     qPrintable(q.lastError().text()));
            QCOMPARE(q.numRowsAffected(), 1);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("operator"));
        QCOMPARE(word(old), QByteArray("PASS"));
        QCOMPARE(word(renewed), QByteArray("127.0.0.1:2156"));
        QCOMPARE(word(renewed), QByteArray("127.0.0.1:2156"));
    }

    void stoppingWhileRelogonsAreWrittenAnswersEachWhole()
    {
        DirectoryProcess dir;
        QVERIFY2(dir.start(), dir.log().constData());
        QVERIFY(dir.addMember(QStringLiteral("jack"), QStringLiteral("vantora.example"),
                              QStringLiteral("pass1")));
        const QByteArray target = "/client_v3/logon.php?u=jack.vantora.example&p=pass1&i=1.2.3.4:2156";
        QCOMPARE(rawGet(dir.port(), target).body, QByteArray("127.0.0.1:2156"));
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        for (int i = 0; i < 64; ++i) {
            clients.push_back(std::make_unique<QTcpSocket>());
            clients.back()->connectToHost(QHostAddress::LocalHost, dir.port());
            QVERIFY(clients.back()->waitForConnected(5000));
            clients.back()->write(clientRequest(dir.port(), target));
            QVERIFY(clients.back()->waitForBytesWritten(5000));
        }
        dir.stop();
        QVERIFY2(dir.stoppedCleanly(), dir.log().constData());
        QVERIFY(dir.log().contains(" stopped\n"));
        // Each client has the whole answer or none: never half of one.
        int answered = 0;
        for (auto& c : clients) {
            while (c->state() == QAbstractSocket::ConnectedState && c->waitForReadyRead(5000)) {
            }
            const QByteArray raw = c->readAll();
            if (raw.isEmpty())
                continue;
            QVERIFY2(raw.startsWith("HTTP/1.1 200 OK") && raw.endsWith("\r\n\r\n127.0.0.1:2156"),
                     raw.constData());
            ++answered;
        }
        qDebug("%d of 64 answered before the stop", answered);
    }

    void logoff_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("stillOnline");
        QTest::newRow("wrong password")
            << QByteArray("u=ivy.vantora.example&p=wrong1") << QByteArray("PASS") << true;
        QTest::newRow("unknown member")
            << QByteArray("u=ivx.vantora.example&p=ivy-pass") << QByteArray("USER") << true;
        QTest::newRow("logged off") << QByteArray("u=ivy.vantora.example&p=ivy-pass") << QByteArray("OK")
                                    << false;
    }
    void logoff()
    {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, answer);
        QFETCH(bool, stillOnline);
        QByteArray reg =
            word("/client_v3/register.php?u=ivy.vantora.example&p=ivy-pass&n=Ivy&e=ivy@example.org&a=False");
        QVERIFY(reg == "ACCOUNT CREATED" || reg == "USERNAME IN USE");
        QCOMPARE(word("/client_v3/logon.php?u=ivy.vantora.example&p=ivy-pass&i=1.2.3.4:2200"),
                 QByteArray("127.0.0.1:2200"));
        QCOMPARE(word("/client_v3/logoff.php?" + query), answer);
        const QByteArray members = listMembers();
        const qsizetype line = members.indexOf("ivy.vantora.example\t");
        QVERIFY(line >= 0);
        const QByteArray ivy = members.mid(line, members.indexOf('\n', line) - line);
        QCOMPARE(ivy.contains("online 127.0.0.1:2200"), stillOnline);
    }

    // Logs a member on with its own server's port; the answer's address.
    QByteArray logOn(const QByteArray& user, const QByteArray& password, quint16 port)
    {
        const QByteArray reg = word("/client_v3/register.php?u=" + user + "&p=" + password +
                                    "&n=Some%20One&e=" + user + "@example.org&a=False");
        if (reg != "ACCOUNT CREATED" && reg != "USERNAME IN USE")
            return reg;
        return word("/client_v3/logon.php?u=" + user + "&p=" + password +
                    "&i=192.168.1.5:" + QByteArray::number(port));
    }

    void askChatRedirectsToTheInvitedMember()
    {
        QTcpServer jack;
        QVERIFY(jack.listen(QHostAddress::LocalHost, 0));
        const QByteArray jackPort = QByteArray::number(jack.serverPort());
        QCOMPARE(logOn("jack.camfriends.example", "jack-pass", jack.serverPort()), "127.0.0.1:" + jackPort);
        QCOMPARE(logOn("jill.vantora.example", "jill-pass", 2156), QByteArray("127.0.0.1:2156"));

        const QByteArray ask =
            "/client_v3/askchat.php?s=JACK.camfriends.example&f=_127.0.0.1:2156_jill.vantora.example";
        const RawAnswer a = get(ask);
        QCOMPARE(a.status, 302);
        QVERIFY2(a.raw.contains("\r\nLocation: http://127.0.0.1:" + jackPort +
                                "/CHATREQUEST_127.0.0.1:2156_jill.vantora.example\r\n"),
                 a.raw.constData());
        // The directory itself sends nothing to the member.
        QVERIFY(!jack.waitForNewConnection(200));
        QTRY_VERIFY(m_dir.log().contains(
            "chat request from jill.vantora.example for JACK.camfriends.example relayed"));

        // The inviting program's web request follows the redirect: the request
        // reaches the member from the inviter's own address.
        QNetworkAccessManager web;
        QNetworkReply* reply = web.get(QNetworkRequest(
            QUrl(QStringLiteral("http://127.0.0.1:%1").arg(m_dir.port()) + QString::fromLatin1(ask))));
        QTRY_VERIFY_WITH_TIMEOUT(jack.hasPendingConnections(), 10000);
        QTcpSocket* s = jack.nextPendingConnection();
        QByteArray got;
        QTRY_VERIFY_WITH_TIMEOUT((got += s->readAll()).contains("\r\n\r\n"), 10000);
        QVERIFY2(got.startsWith("GET /CHATREQUEST_127.0.0.1:2156_jill.vantora.example HTTP/1.1\r\n"),
                 got.constData());
        s->write("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok");
        s->disconnectFromHost();
        QTRY_VERIFY(reply->isFinished());
        reply->deleteLater();
    }

    void askChatIsPlainForOfflineUnknownAndForgedMembers_data()
    {
        QTest::addColumn<QByteArray>("invited");
        QTest::addColumn<QByteArray>("sender");
        QTest::addColumn<QByteArray>("why");
        const QByteArray jill = "_127.0.0.1:2156_jill.vantora.example";
        QTest::newRow("logged off") << QByteArray("kim.vantora.example") << jill << QByteArray("not online");
        QTest::newRow("unknown") << QByteArray("nobody.vantora.example") << jill
                                 << QByteArray("no such member");
        QTest::newRow("SQL") << QByteArray("x'%20OR%20'1'='1") << jill << QByteArray("no such member");
        QTest::newRow("made-up sender")
            << QByteArray("jack.camfriends.example") << QByteArray("_127.0.0.1:2156_mallory.vantora.example")
            << QByteArray("no such sender");
        QTest::newRow("sender at another port")
            << QByteArray("jack.camfriends.example") << QByteArray("_127.0.0.1:9999_jill.vantora.example")
            << QByteArray("sender not online");
    }
    void askChatIsPlainForOfflineUnknownAndForgedMembers()
    {
        QFETCH(QByteArray, invited);
        QFETCH(QByteArray, sender);
        QFETCH(QByteArray, why);
        QTcpServer member;
        QVERIFY(member.listen(QHostAddress::LocalHost, 0));
        QCOMPARE(logOn("jill.vantora.example", "jill-pass", 2156), QByteArray("127.0.0.1:2156"));
        QCOMPARE(logOn("kim.vantora.example", "kim-pass", member.serverPort()),
                 "127.0.0.1:" + QByteArray::number(member.serverPort()));
        QCOMPARE(word("/client_v3/logoff.php?u=kim.vantora.example&p=kim-pass"), QByteArray("OK"));

        const RawAnswer a = get("/client_v3/askchat.php?s=" + invited + "&f=" + sender);
        QCOMPARE(a.status, 200);
        QCOMPARE(a.body, QByteArray("OK"));
        QVERIFY(!a.raw.contains("Location:"));
        QTRY_VERIFY(m_dir.log().contains(" not relayed: " + why));
    }

    void askChatRefusesBadSenders_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::newRow("no s") << QByteArray("f=_1.2.3.4:2156_me.vantora.example");
        QTest::newRow("no f") << QByteArray("s=jack.camfriends.example");
        QTest::newRow("f without underscore") << QByteArray("s=jack.camfriends.example&f=1.2.3.4:2156_me");
        QTest::newRow("f without name") << QByteArray("s=jack.camfriends.example&f=_1.2.3.4:2156_");
        QTest::newRow("f without colon") << QByteArray("s=jack.camfriends.example&f=_1.2.3.4_me");
        QTest::newRow("header injection")
            << QByteArray("s=jack.camfriends.example&f=_1.2.3.4:2156_me%0D%0AX-Evil:%201");
        QTest::newRow("blank in f") << QByteArray("s=jack.camfriends.example&f=_1.2.3.4:2156_me%20HTTP/1.0");
    }
    void askChatRefusesBadSenders()
    {
        QFETCH(QByteArray, query);
        const RawAnswer a = get("/client_v3/askchat.php?" + query);
        QCOMPARE(a.status, 400);
        QCOMPARE(a.body, QByteArray("BAD"));
    }

    void updateFile()
    {
        QCOMPARE(get("/autoupdate/autoupdate.txt").status, 404);
        const QByteArray bytes = "1.02\r\n\r\nFaster frames.\r\nFewer crashes.\r\n";
        m_dir.setUpdateFile(bytes);
        const RawAnswer a = get("/autoupdate/autoupdate.txt");
        QCOMPARE(a.status, 200);
        QCOMPARE(a.body, bytes);
        QVERIFY(a.closedByServer);
        // The operator may change it while the service runs.
        m_dir.setUpdateFile("1.03\r\n\r\nMore.");
        QCOMPARE(word("/autoupdate/autoupdate.txt"), QByteArray("1.03\r\n\r\nMore."));
    }

    void answerArrivesInOnePiece_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("update file") << QByteArray("/autoupdate/autoupdate.txt")
                                     << QByteArray("1.04\r\n\r\nNotes.");
        QTest::newRow("logon") << QByteArray(
                                      "/client_v3/logon.php?u=alice.vantora.example&p=secret1&i=1.2.3.4:2156")
                               << QByteArray("127.0.0.1:2156");
        QTest::newRow("refusal")
            << QByteArray("/client_v3/logon.php?u=alice.vantora.example&p=wrong1&i=1.2.3.4:2156")
            << QByteArray("PASS");
    }
    void answerArrivesInOnePiece()
    {
        // The update check reads only the first piece that arrives; header and
        // body must come together, every time.
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, body);
        m_dir.setUpdateFile("1.04\r\n\r\nNotes.");
        for (int i = 0; i < 30; ++i) {
            QTcpSocket s;
            s.connectToHost(QHostAddress::LocalHost, m_dir.port());
            QVERIFY(s.waitForConnected(5000));
            s.write(clientRequest(m_dir.port(), target));
            QVERIFY(s.waitForReadyRead(10000));
            const QByteArray first = s.readAll();
            QVERIFY2(first.endsWith("\r\n\r\n" + body), first.constData());
        }
    }

    void unknownPathsAreNotReadAsAnAddress()
    {
        // A logon client takes any answer longer than six characters for an address.
        const RawAnswer a = get("/client_v3/nothing.php");
        QCOMPARE(a.status, 404);
        QVERIFY(a.body.size() <= 6);
    }

    void pages_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<int>("status");
        for (const char* p :
             {"/", "/help.html", "/support.html", "/terms.html", "/legal.html", "/download.html"})
            QTest::newRow(p) << QByteArray(p) << 200;
        QTest::newRow("unknown") << QByteArray("/nothing.html") << 404;
        QTest::newRow("unknown php") << QByteArray("/client_v3/other.php?u=a") << 404;
        QTest::newRow("dot is not a wildcard") << QByteArray("/client_v3/logonXphp?u=a") << 404;
        QTest::newRow("traversal") << QByteArray("/../../etc/passwd") << 404;
    }
    void pages()
    {
        QFETCH(QByteArray, path);
        QFETCH(int, status);
        const RawAnswer a = get(path);
        QCOMPARE(a.status, status);
        if (status == 200) {
            QVERIFY(a.raw.contains("Content-Type: text/html"));
            QVERIFY(a.body.contains("Vantora"));
        }
    }

    void hostileInputChangesNothing_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::newRow("SQL in u, register") << QByteArray(
            "/client_v3/register.php?u=x'%3B%20DROP%20TABLE%20members%3B--.vantora.example&p=pass1&n=Xx "
            "x&e=x@example.org&a=False");
        QTest::newRow("SQL in n, register") << QByteArray(
            "/client_v3/register.php?u=lena.vantora.example&p=pass1&n=x')%3BDELETE%20FROM%20members%3B--&e=l@"
            "example.org");
        QTest::newRow("SQL in e, register") << QByteArray(
            "/client_v3/register.php?u=lena.vantora.example&p=pass1&n=Lena&e=a@b.c'%20OR%201=1--");
        QTest::newRow("SQL in u, logon")
            << QByteArray("/client_v3/logon.php?u='%20OR%20'1'='1&p=x&i=1.2.3.4:2156");
        QTest::newRow("SQL in p, logon")
            << QByteArray("/client_v3/logon.php?u=alice.vantora.example&p='%20OR%20'1'='1&i=1.2.3.4:2156");
        QTest::newRow("SQL in i, logon") << QByteArray(
            "/client_v3/logon.php?u=alice.vantora.example&p=secret1&i=1'%3BDROP%20TABLE%20members:80x");
        QTest::newRow("SQL in u, logoff") << QByteArray("/client_v3/logoff.php?u=%25'%20OR%201=1--&p=x");
        QTest::newRow("NUL in u") << QByteArray(
            "/client_v3/logon.php?u=alice%00.vantora.example&p=secret1&i=1.2.3.4:2156");
        QTest::newRow("bad percent") << QByteArray("/client_v3/logon.php?u=%zz%&p=%&i=%%");
        QTest::newRow("huge value") << "/client_v3/logon.php?u=" + QByteArray(7000, 'a') +
                                           "&p=x&i=1.2.3.4:2156";
        QTest::newRow("oversized target") << "/client_v3/register.php?u=" + QByteArray(20000, 'a');
        QTest::newRow("repeated keys")
            << QByteArray("/client_v3/logon.php?u=alice.vantora.example&u=x&p=bad&p=secret1&i=1.2.3.4:2156");
    }
    void hostileInputChangesNothing()
    {
        QFETCH(QByteArray, target);
        const QByteArray before = listMembers();
        QVERIFY(before.contains("alice.vantora.example"));
        const RawAnswer a = get(target);
        QVERIFY2(a.status == 200 || a.status == 400 || a.status == 414 || a.status == 431,
                 a.raw.left(200).constData());
        QVERIFY(a.body != "ACCOUNT CREATED");
        QVERIFY(!a.body.startsWith("127.0.0.1"));
        QCOMPARE(listMembers(), before);
        // Still serving, and the member still logs on.
        QCOMPARE(word("/client_v3/logon.php?u=alice.vantora.example&p=secret1&i=1.2.3.4:3000"),
                 QByteArray("127.0.0.1:3000"));
    }

    void malformedRequestsDoNotStopTheService_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("garbage") << QByteArray("\x01\x02\x03 hello\r\n\r\n");
        QTest::newRow("no version") << QByteArray("GET /client_v3/logon.php\r\n\r\n");
        QTest::newRow("huge header") << "GET / HTTP/1.0\r\nX-Long: " + QByteArray(100000, 'b') + "\r\n\r\n";
        QTest::newRow("body too large")
            << "POST /client_v3/logon.php HTTP/1.0\r\nContent-Length: 10000000\r\n\r\n" +
                   QByteArray(20000, 'c');
        QTest::newRow("half a request")
            << QByteArray("GET /client_v3/logon.php?u=a HTTP/1.0\r\nAccept: */*\r\n");
    }
    void malformedRequestsDoNotStopTheService()
    {
        QFETCH(QByteArray, bytes);
        const RawAnswer a = sendRaw(m_dir.port(), bytes);
        QVERIFY(a.status != 200);
        QCOMPARE(word("/client_v3/logon.php?u=alice.vantora.example&p=secret1&i=1.2.3.4:3001"),
                 QByteArray("127.0.0.1:3001"));
    }

    void logHasOneLineWithoutPasswordPerRequest()
    {
        QCOMPARE(word("/client_v3/logon.php?u=alice.vantora.example&p=secret1&i=1.2.3.4:3002"),
                 QByteArray("127.0.0.1:3002"));
        QTRY_VERIFY(
            m_dir.log().contains("GET /client_v3/logon.php?u=alice.vantora.example&p=*&i=1.2.3.4:3002 200"));
        const QByteArray log = m_dir.log();
        for (const char* secret : {"secret1", "kim-pass", "first1", "jill-pass", "two%20words", "x%2By"})
            QVERIFY2(!log.contains(secret), secret);
        // No e-mail address or full name of a registrant either.
        for (const char* personal :
             {"bob@example.org", "carol%40example.org", "Bob%20Stone", "Bob Stone", "Carol%20Ray"})
            QVERIFY2(!log.contains(personal), personal);
    }

    void logWritesTheTargetAsData()
    {
        // Percent escapes in the target are text, not placeholders of the line.
        QCOMPARE(word("/client_v3/logon.php?u=%2B%3B%0D%1%25.vantora.example&p=x&i=1.2.3.4:2156"),
                 QByteArray("USER"));
        QTRY_VERIFY(m_dir.log().contains(
            "GET /client_v3/logon.php?u=%2B%3B%0D%1%25.vantora.example&p=*&i=1.2.3.4:2156 200 "));
        const QByteArray log = m_dir.log();
        const qsizetype at = log.indexOf("u=%2B%3B%0D%1%25.vantora.example");
        const QByteArray line = log.mid(at, log.indexOf('\n', at) - at);
        QVERIFY2(line.contains(" ms - failed logon: no such member"), line.constData());
    }

    void failedLogonsAreLoggedAsFailures_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QByteArray>("note");
        QTest::newRow("wrong password") << QByteArray("u=alice.vantora.example&p=nope1&i=1.2.3.4:4001")
                                        << QByteArray("failed logon: wrong password");
        QTest::newRow("unknown member") << QByteArray("u=nobody2.vantora.example&p=nope1&i=1.2.3.4:4002")
                                        << QByteArray("failed logon: no such member");
    }
    void failedLogonsAreLoggedAsFailures()
    {
        QFETCH(QByteArray, query);
        QFETCH(QByteArray, note);
        QCOMPARE(get("/client_v3/logon.php?" + query).status, 200);
        const QByteArray logged = QByteArray(query).replace("p=nope1", "p=*") + " 200 ";
        QTRY_VERIFY(m_dir.log().contains(logged));
        const QByteArray log = m_dir.log();
        const qsizetype at = log.lastIndexOf(logged);
        const QByteArray line = log.mid(at, log.indexOf('\n', at) - at);
        QVERIFY2(line.endsWith(" ms - " + note), line.constData());
    }

    void failedLogonsAreLimited()
    {
        DirectoryProcess limited;
        QVERIFY2(limited.start({QStringLiteral("--failed-logons-per-address"), QStringLiteral("2")}),
                 limited.log().constData());
        QVERIFY(limited.addMember(QStringLiteral("alice"), QStringLiteral("vantora.example"),
                                  QStringLiteral("secret1")));
        const QByteArray right = "/client_v3/logon.php?u=alice.vantora.example&p=secret1&i=1.2.3.4:2156";
        const QByteArray wrong = "/client_v3/logon.php?u=alice.vantora.example&p=guess&i=1.2.3.4:2156";
        QCOMPARE(rawGet(limited.port(), wrong).body, QByteArray("PASS"));
        QCOMPARE(rawGet(limited.port(), wrong).body, QByteArray("PASS"));
        // Limited: the right password is answered as the clients know a refusal.
        const RawAnswer a = rawGet(limited.port(), right);
        QCOMPARE(a.status, 200);
        QCOMPARE(a.body, QByteArray("PASS"));
        QTRY_VERIFY(limited.log().contains("failed logon: limited, too many failures from 127.0.0.1"));
    }

    void registrationsAreLimitedPerAddress()
    {
        DirectoryProcess limited;
        QVERIFY2(limited.start({QStringLiteral("--registrations-per-hour"), QStringLiteral("2")}),
                 limited.log().constData());
        for (const char* user : {"una", "ulf"})
            QCOMPARE(rawGet(limited.port(), QByteArray("/client_v3/register.php?u=") + user +
                                                ".vantora.example&p=pass1&n=Some%20One&e=" + user +
                                                "@example.org&a=False")
                         .body,
                     QByteArray("ACCOUNT CREATED"));
        const RawAnswer a =
            rawGet(limited.port(),
                   "/client_v3/register.php?u=uma.vantora.example&p=pass1&n=Uma&e=uma@example.org&a=False");
        QCOMPARE(a.status, 200);
        QCOMPARE(a.body, QByteArray("NA"));
        QTRY_VERIFY(
            limited.log().contains("registration refused: limited, 2 accounts from 127.0.0.1 within 60 min"));
    }

    void slowClientsDoNotHoldWorkers()
    {
        // One worker, a read time-out far beyond the test, and clients that
        // send half a request and then nothing: the member's logon is still
        // answered, because a worker only sees whole requests.
        DirectoryProcess busy;
        QVERIFY2(busy.start({QStringLiteral("--threads"), QStringLiteral("1"),
                             QStringLiteral("--read-timeout"), QStringLiteral("120")}),
                 busy.log().constData());
        QVERIFY(busy.addMember(QStringLiteral("alice"), QStringLiteral("vantora.example"),
                               QStringLiteral("secret1")));
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        for (int i = 0; i < 20; ++i) {
            auto s = std::make_unique<QTcpSocket>();
            s->connectToHost(QHostAddress::LocalHost, busy.port());
            QVERIFY(s->waitForConnected(5000));
            s->write("GET /client_v3/logon.php?u=alice.vantora.example&p=secret1&i=1.2.3.4:2156 "
                     "HTTP/1.0\r\nAccept:");
            QVERIFY(s->waitForBytesWritten(5000));
            slow.push_back(std::move(s));
        }
        for (int i = 0; i < 3; ++i)
            QCOMPARE(
                rawGet(busy.port(), "/client_v3/logon.php?u=alice.vantora.example&p=secret1&i=1.2.3.4:2156")
                    .body,
                QByteArray("127.0.0.1:2156"));
        for (auto& s : slow)
            QCOMPARE(s->state(), QAbstractSocket::ConnectedState);
    }

    void connectionsBeyondTheCapWaitTheirTurn()
    {
        // At the cap, newcomers wait in the listen backlog until silent
        // connections run out of time; nothing is refused.
        DirectoryProcess capped;
        QVERIFY2(capped.start({QStringLiteral("--max-connections"), QStringLiteral("16")}),
                 capped.log().constData());
        QVERIFY(capped.addMember(QStringLiteral("alice"), QStringLiteral("vantora.example"),
                                 QStringLiteral("secret1")));
        std::vector<std::unique_ptr<QTcpSocket>> silent;
        for (int i = 0; i < 20; ++i) {
            auto s = std::make_unique<QTcpSocket>();
            s->connectToHost(QHostAddress::LocalHost, capped.port());
            QVERIFY(s->waitForConnected(5000));
            s->write("GET / HTTP/1.0\r\n");
            QVERIFY(s->waitForBytesWritten(5000));
            silent.push_back(std::move(s));
        }
        QCOMPARE(
            rawGet(capped.port(), "/client_v3/logon.php?u=alice.vantora.example&p=secret1&i=1.2.3.4:2156")
                .body,
            QByteArray("127.0.0.1:2156"));
        QTRY_VERIFY(capped.log().count(" - - 408 - timed out") >= 16);
    }

    void silentClientIsClosedAfterTheReadTimeout()
    {
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, m_dir.port());
        QVERIFY(s.waitForConnected(5000));
        s.write("GET /help.html HTTP/1.0\r\n");
        // The service runs with a two-second read time-out.
        QTRY_COMPARE_WITH_TIMEOUT(s.state(), QAbstractSocket::UnconnectedState, 15000);
        QTRY_VERIFY(m_dir.log().contains("127.0.0.1 - - 408 - timed out after 25 bytes of request"));
    }

    void trustedProxyGivesTheMembersAddress_data()
    {
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("forwarded") << QByteArray("X-Forwarded-For: 203.0.113.5\r\n")
                                   << QByteArray("203.0.113.5:2156");
        QTest::newRow("no header") << QByteArray() << QByteArray("127.0.0.1:2156");
        QTest::newRow("not an address") << QByteArray("X-Forwarded-For: somewhere\r\n") << QByteArray("BAD");
    }
    void trustedProxyGivesTheMembersAddress()
    {
        QFETCH(QByteArray, header);
        QFETCH(QByteArray, answer);
        const QByteArray request =
            "GET /client_v3/logon.php?u=alice.vantora.example&p=secret1&i=1.2.3.4:2156 "
            "HTTP/1.0\r\n" +
            header + "\r\n";
        DirectoryProcess proxied;
        QVERIFY2(proxied.start({QStringLiteral("--trusted-proxies"), QStringLiteral("127.0.0.1,10.0.0.0/8")}),
                 proxied.log().constData());
        QVERIFY(proxied.addMember(QStringLiteral("alice"), QStringLiteral("vantora.example"),
                                  QStringLiteral("secret1")));
        QCOMPARE(sendRaw(proxied.port(), request).body, answer);
        // Without the option the header is the client's word, and ignored.
        QCOMPARE(sendRaw(m_dir.port(), request).body, QByteArray("127.0.0.1:2156"));
    }

    void databaseIsOwnerOnlyAndWiderModesAreReported()
    {
        for (const char* suffix : {"", "-wal", "-shm"}) {
            const QFileInfo file(m_dir.dbPath() + QLatin1String(suffix));
            QVERIFY2(file.exists(), suffix);
            QCOMPARE(file.permissions() &
                         (QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther),
                     QFileDevice::Permissions());
        }
        QVERIFY(!m_dir.log().contains("warning:"));
        DirectoryProcess other;
        QVERIFY2(other.start(), other.log().constData());
        other.stop();
        QVERIFY(QFile::setPermissions(other.dbPath(), QFile::permissions(other.dbPath()) | QFile::ReadOther));
        QVERIFY2(other.start(), other.log().constData());
        QTRY_VERIFY(other.log().contains("warning: " + other.dbPath().toLocal8Bit() +
                                         " may be read by other users (mode 0604)"));
    }

    void dbDownWhenTheDatabaseCannotBeOpened()
    {
        // A folder where the database file should be: it can be neither opened nor written.
        const QString folder = testenv::root() + QLatin1String("/not-a-database");
        QVERIFY(QDir().mkpath(folder));
        DirectoryProcess down;
        QVERIFY2(down.start({QStringLiteral("--db"), folder}), down.log().constData());
        const RawAnswer a =
            rawGet(down.port(), "/client_v3/logon.php?u=alice.vantora.example&p=secret1&i=1.2.3.4:2156");
        QCOMPARE(a.status, 200);
        QCOMPARE(a.body, QByteArray("DB DOWN"));
        QCOMPARE(rawGet(down.port(), "/client_v3/logoff.php?u=alice.vantora.example&p=secret1").body,
                 QByteArray("DB DOWN"));
        QTRY_VERIFY(down.log().contains("database unavailable: cannot open database"));
        // Pages do not need the store.
        QCOMPARE(rawGet(down.port(), "/help.html").status, 200);
        // SIGTERM ends it cleanly.
        down.stop();
        QVERIFY(down.log().contains(" stopped\n"));
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        const QString db = testenv::root() + QLatin1String("/cli.db");
        QTest::newRow("no command") << QStringList{} << 2;
        QTest::newRow("unknown command") << QStringList{"frobnicate"} << 2;
        QTest::newRow("serve without db") << QStringList{"serve", "--listen", "127.0.0.1:0"} << 2;
        QTest::newRow("serve, bad listen") << QStringList{"serve", "--listen", "nowhere", "--db", db} << 2;
        QTest::newRow("unknown option") << QStringList{"list-members", "--db", db, "--colour", "red"} << 2;
        QTest::newRow("add, short password")
            << QStringList{"add-member",      "--db",       db,   "--user", "zed", "--domain",
                           "vantora.example", "--password", "abc"}
            << 2;
        QTest::newRow("add") << QStringList{"add-member",
                                            "--db",
                                            db,
                                            "--user",
                                            "zed",
                                            "--domain",
                                            "vantora.example",
                                            "--password",
                                            "zed-pass",
                                            "--email",
                                            "zed@example.org",
                                            "--name",
                                            "Zed"}
                             << 0;
        QTest::newRow("add again") << QStringList{"add-member",      "--db",       db,
                                                  "--user",          "ZED",        "--domain",
                                                  "vantora.example", "--password", "zed-pass"}
                                   << 1;
        QTest::newRow("list") << QStringList{"list-members", "--db", db} << 0;
        QTest::newRow("serve, IPv6") << QStringList{"serve", "--listen", "[::]:0", "--db", db} << 2;
        QTest::newRow("serve, IPv6 loopback") << QStringList{"serve", "--listen", "[::1]:0", "--db", db} << 2;
        QTest::newRow("serve, host name") << QStringList{"serve", "--listen", "localhost:0", "--db", db} << 1;
        QTest::newRow("serve, bad proxy") << QStringList{"serve", "--listen",          "127.0.0.1:0",  "--db",
                                                         db,      "--trusted-proxies", "proxy.example"}
                                          << 2;
        QTest::newRow("serve, bad read timeout")
            << QStringList{"serve", "--listen", "127.0.0.1:0", "--db", db, "--read-timeout", "soon"} << 2;
        QTest::newRow("serve, no threads")
            << QStringList{"serve", "--listen", "127.0.0.1:0", "--db", db, "--threads", "0"} << 2;
        QTest::newRow("serve, postgresql without database")
            << QStringList{"serve", "--listen", "127.0.0.1:0", "--db", "postgresql://u@127.0.0.1"} << 2;
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QProcess p;
        p.start(DirectoryProcess::programPath(), args);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitCode(), exitCode);
        if (args.contains(QLatin1String("[::]:0")))
            QVERIFY(p.readAllStandardError().contains("IPv6 addresses are not supported"));
        if (exitCode == 0 && args.value(0) == QLatin1String("list-members"))
            QVERIFY(p.readAllStandardOutput().startsWith(
                "zed.vantora.example\tzed@example.org\tZed\toffline\tlast logon never"));
    }
};

VANTORA_TEST_MAIN(TestDirectoryHttp)
#include "tst_directory_http.moc"
