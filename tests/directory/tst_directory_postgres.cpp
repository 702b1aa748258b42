// The service on a real PostgreSQL server (a throw-away cluster), alone and as
// two instances sharing one member base.

#include "tests/directory/DirectoryClient.h"
#include "tests/support/DirectoryProcess.h"
#include "tests/support/PostgresCluster.h"
#include "tests/support/TestEnvironment.h"

#include <QProcess>
#include <QtTest>

class TestDirectoryPostgres : public QObject
{
    Q_OBJECT

    PostgresCluster m_cluster{QStringLiteral(VANTORA_TEST_BUILD_DIR "/postgres")};
    int m_databases = 0;
    std::unique_ptr<DirectoryProcess> m_sequence;
    QString m_sequenceUrl;

    // A fresh database and its address.
    QString freshDatabase()
    {
        const QString name = QStringLiteral("members%1").arg(++m_databases);
        if (!m_cluster.createDatabase(name))
            return {};
        return m_cluster.url(name);
    }
    static QStringList serveOn(const QString& url)
    {
        // Every request comes from 127.0.0.1 here.
        return {QStringLiteral("--db"), url, QStringLiteral("--registrations-per-hour"), QStringLiteral("0")};
    }
    static QByteArray word(const DirectoryProcess& d, const QByteArray& target)
    {
        return rawGet(d.port(), target).body;
    }
    static QByteArray listMembers(const QString& url)
    {
        QProcess p;
        p.start(DirectoryProcess::programPath(),
                {QStringLiteral("list-members"), QStringLiteral("--db"), url});
        p.waitForFinished(30000);
        return p.readAllStandardOutput() + p.readAllStandardError();
    }

private slots:
    void initTestCase()
    {
        // No silent skip: without PostgreSQL these tests fail and say why.
        QVERIFY2(
            m_cluster.start(),
            qPrintable(QStringLiteral("cannot run a PostgreSQL server for the tests: ") + m_cluster.error()));
    }
    void cleanupTestCase()
    {
        m_sequence.reset();
        m_cluster.stop();
    }

    void registersAndLogsOn_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("created")
            << QByteArray("/client_v3/"
                          "register.php?u=bob.vantora.example&p=bob%20pass&n=Bob&e=bob@example.org&a=True")
            << QByteArray("ACCOUNT CREATED");
        QTest::newRow("name in use")
            << QByteArray("/client_v3/register.php?u=BOB.vantora.example&p=x1234&n=Bob&e=b2@example.org")
            << QByteArray("USERNAME IN USE");
        QTest::newRow("email in use")
            << QByteArray("/client_v3/register.php?u=amy.vantora.example&p=x1234&n=Amy&e=BOB@example.org")
            << QByteArray("EMAIL IN USE");
        QTest::newRow("SQL in a field") << QByteArray("/client_v3/"
                                                      "register.php?u=cid.vantora.example&p=x1234&n=Robert%"
                                                      "3B%20DROP%20TABLE%20members%3B--&e=c@example.org")
                                        << QByteArray("ACCOUNT CREATED");
        QTest::newRow("logon")
            << QByteArray("/client_v3/logon.php?u=bob.vantora.example&p=bob%20pass&i=10.0.0.1:2156")
            << QByteArray("127.0.0.1:2156");
        QTest::newRow("relogon")
            << QByteArray("/client_v3/logon.php?u=bob.vantora.example&p=bob%20pass&i=10.0.0.1:2157")
            << QByteArray("127.0.0.1:2157");
        QTest::newRow("wrong password")
            << QByteArray("/client_v3/logon.php?u=bob.vantora.example&p=nope&i=10.0.0.1:2156")
            << QByteArray("PASS");
        QTest::newRow("unknown member")
            << QByteArray("/client_v3/logon.php?u=eve.vantora.example&p=nope&i=10.0.0.1:2156")
            << QByteArray("USER");
    }
    void registersAndLogsOn()
    {
        QFETCH(QByteArray, target);
        QFETCH(QByteArray, answer);
        // The rows run in order against one instance and database.
        if (!m_sequence) {
            m_sequenceUrl = freshDatabase();
            m_sequence = std::make_unique<DirectoryProcess>();
        }
        const QString& url = m_sequenceUrl;
        DirectoryProcess& directory = *m_sequence;
        if (directory.port() == 0) {
            QVERIFY2(!url.isEmpty(), qPrintable(m_cluster.error()));
            QVERIFY2(directory.start(serveOn(url)), directory.log().constData());
        }
        const RawAnswer a = rawGet(directory.port(), target);
        QCOMPARE(a.status, 200);
        QCOMPARE(a.body, answer);
        if (answer == "127.0.0.1:2157") {
            QVERIFY(listMembers(url).contains(
                "bob.vantora.example\tbob@example.org\tBob\tonline 127.0.0.1:2157"));
            QTRY_VERIFY2(directory.log().contains("database " + url.toLatin1() + ","),
                         directory.log().constData());
        }
    }

    void twoInstancesServeOneMemberBase()
    {
        const QString url = freshDatabase();
        QVERIFY2(!url.isEmpty(), qPrintable(m_cluster.error()));
        DirectoryProcess a;
        DirectoryProcess b;
        QVERIFY2(a.start(serveOn(url)), a.log().constData());
        QVERIFY2(b.start(serveOn(url)), b.log().constData());

        QCOMPARE(word(a, "/client_v3/register.php?u=joe.vantora.example&p=joe-pass&n=Joe&e=joe@example.org"),
                 QByteArray("ACCOUNT CREATED"));
        QCOMPARE(word(b, "/client_v3/register.php?u=JOE.vantora.example&p=other&n=Joe&e=j2@example.org"),
                 QByteArray("USERNAME IN USE"));
        QCOMPARE(word(b, "/client_v3/register.php?u=bob.vantora.example&p=bob-pass&n=Bob&e=bob@example.org"),
                 QByteArray("ACCOUNT CREATED"));

        // Logged on at one, relogged on at the other: online throughout.
        QCOMPARE(word(a, "/client_v3/logon.php?u=joe.vantora.example&p=joe-pass&i=10.0.0.1:2156"),
                 QByteArray("127.0.0.1:2156"));
        QCOMPARE(word(b, "/client_v3/logon.php?u=joe.vantora.example&p=joe-pass&i=10.0.0.1:2156"),
                 QByteArray("127.0.0.1:2156"));
        QCOMPARE(word(b, "/client_v3/logon.php?u=joe.vantora.example&p=wrong&i=10.0.0.1:2156"),
                 QByteArray("PASS"));
        QCOMPARE(word(a, "/client_v3/logon.php?u=joe.vantora.example&p=joe-pass&i=10.0.0.1:2156"),
                 QByteArray("127.0.0.1:2156"));
        QVERIFY(
            listMembers(url).contains("joe.vantora.example\tjoe@example.org\tJoe\tonline 127.0.0.1:2156"));
        QCOMPARE(word(b, "/client_v3/logon.php?u=bob.vantora.example&p=bob-pass&i=10.0.0.2:3000"),
                 QByteArray("127.0.0.1:3000"));

        // An invitation through either instance finds the member.
        const QByteArray ask =
            "/client_v3/askchat.php?s=joe.vantora.example&f=_127.0.0.1:3000_bob.vantora.example";
        for (DirectoryProcess* d : {&a, &b}) {
            const RawAnswer r = rawGet(d->port(), ask);
            QCOMPARE(r.status, 302);
            QVERIFY2(
                r.raw.contains(
                    "\r\nLocation: http://127.0.0.1:2156/CHATREQUEST_127.0.0.1:3000_bob.vantora.example\r\n"),
                r.raw.constData());
        }
        // Logged off at one: offline for both.
        QCOMPARE(word(a, "/client_v3/logoff.php?u=joe.vantora.example&p=joe-pass"), QByteArray("OK"));
        for (DirectoryProcess* d : {&a, &b})
            QCOMPARE(rawGet(d->port(), ask).status, 200);
    }

    void databaseDownAndBack()
    {
        const QString url = freshDatabase();
        QVERIFY2(!url.isEmpty(), qPrintable(m_cluster.error()));
        DirectoryProcess d;
        QVERIFY2(d.start(serveOn(url)), d.log().constData());
        QCOMPARE(word(d, "/client_v3/register.php?u=kim.vantora.example&p=kim-pass&n=Kim&e=kim@example.org"),
                 QByteArray("ACCOUNT CREATED"));
        m_cluster.stop();
        QCOMPARE(word(d, "/client_v3/logon.php?u=kim.vantora.example&p=kim-pass&i=10.0.0.1:2156"),
                 QByteArray("DB DOWN"));
        const RawAnswer reg = rawGet(
            d.port(), "/client_v3/register.php?u=lou.vantora.example&p=lou-pass&n=Lou&e=lou@example.org");
        QCOMPARE(reg.status, 200);
        QCOMPARE(reg.body, QByteArray("DB DOWN"));
        QVERIFY2(m_cluster.start(), qPrintable(m_cluster.error()));
        // The same address again (the port may differ after a restart).
        DirectoryProcess again;
        QVERIFY2(again.start(serveOn(m_cluster.url(url.section(u'/', -1)))), again.log().constData());
        QCOMPARE(word(again, "/client_v3/logon.php?u=kim.vantora.example&p=kim-pass&i=10.0.0.1:2156"),
                 QByteArray("127.0.0.1:2156"));
        QVERIFY(!d.log().contains("kim-pass"));
    }
};

VANTORA_TEST_MAIN(TestDirectoryPostgres)
#include "tst_directory_postgres.moc"
