// The service's logic in-process: query decoding, member checks, sessions,
// presence expiry on a driven clock, chat delivery and a store that fails.

#include "ChatDelivery.h"
#include "Clock.h"
#include "DirectoryService.h"
#include "HttpFrontend.h"
#include "MemberStore.h"
#include "Passwords.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using namespace directory;

namespace {
Params query(const char* q)
{
    return Params::fromQuery(std::string_view(q));
}
} // namespace

class TestDirectoryService : public QObject
{
    Q_OBJECT

    QTemporaryDir m_tmp{testenv::root() + QLatin1String("/svc-XXXXXX")};

    struct Fixture
    {
        explicit Fixture(const QString& db, ChatDelivery* delivery = nullptr)
            : store(db), service(store, clock, delivery, options())
        {}
        static DirectoryService::Options options()
        {
            DirectoryService::Options o;
            o.hashLimits = HashLimits::minimal();
            return o;
        }
        ManualClock clock;
        MemberStore store;
        DirectoryService service;
    };

    QString freshDb()
    {
        static int n = 0;
        return m_tmp.filePath(QStringLiteral("db%1.sqlite").arg(++n));
    }

    static void addMember(DirectoryService& s, const char* user, const char* password)
    {
        const Reply r = s.registerMember(Params::fromQuery(
            QByteArray("u=") + user + "&p=" + password + "&n=Some%20One&e=" + user + "@example.org&a=False"));
        QCOMPARE(r.body, QByteArray("ACCOUNT CREATED"));
    }

private slots:
    void decodesQueries_data()
    {
        QTest::addColumn<QByteArray>("query");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("plain") << QByteArray("u=bob.vantora.example&p=x") << "u"
                               << QByteArray("bob.vantora.example");
        QTest::newRow("encoded") << QByteArray("p=a%20b%26c%3D") << "p" << QByteArray("a b&c=");
        QTest::newRow("plus stays") << QByteArray("p=a+b") << "p" << QByteArray("a+b");
        QTest::newRow("lower-case hex") << QByteArray("p=%c3%a9") << "p" << QByteArray("\xc3\xa9");
        QTest::newRow("lone percent") << QByteArray("p=50%") << "p" << QByteArray("50%");
        QTest::newRow("bad hex") << QByteArray("p=%zz1") << "p" << QByteArray("%zz1");
        QTest::newRow("short escape") << QByteArray("p=%4") << "p" << QByteArray("%4");
        QTest::newRow("first wins") << QByteArray("p=one&p=two") << "p" << QByteArray("one");
        QTest::newRow("no value") << QByteArray("p&u=x") << "p" << QByteArray();
        QTest::newRow("empty pairs") << QByteArray("&&p=v&") << "p" << QByteArray("v");
        QTest::newRow("encoded key") << QByteArray("%70=v") << "p" << QByteArray("v");
        QTest::newRow("equals in value") << QByteArray("f=_a=b") << "f" << QByteArray("_a=b");
        QTest::newRow("NUL") << QByteArray("u=a%00b") << "u" << QByteArray("a\0b", 3);
    }
    void decodesQueries()
    {
        QFETCH(QByteArray, query);
        QFETCH(QString, key);
        QFETCH(QByteArray, value);
        const Params p = Params::fromQuery(std::string_view(query.constData(), size_t(query.size())));
        QCOMPARE(p.bytes(key), value);
    }

    void logLinesHideThePassword_data()
    {
        QTest::addColumn<QByteArray>("target");
        QTest::addColumn<QString>("logged");
        QTest::newRow("logon") << QByteArray("/client_v3/logon.php?u=bob.x&p=secret&i=1.2.3.4:2156")
                               << "/client_v3/logon.php?u=bob.x&p=*&i=1.2.3.4:2156";
        QTest::newRow("encoded key") << QByteArray("/a?%70=secret&p2=x") << "/a?%70=*&p2=x";
        QTest::newRow("every p") << QByteArray("/a?p=one&p=two") << "/a?p=*&p=*";
        QTest::newRow("empty p") << QByteArray("/a?p=") << "/a?p=*";
        QTest::newRow("no query") << QByteArray("/help.html") << "/help.html";
        QTest::newRow("control characters") << QByteArray("/a?u=x\r\ny\x01") << "/a?u=x%0D%0Ay%01";
        QTest::newRow("long") << "/a?u=" + QByteArray(1000, 'x') << "/a?u=" + QString(396, u'x') + "...";
    }
    void logLinesHideThePassword()
    {
        QFETCH(QByteArray, target);
        QFETCH(QString, logged);
        QCOMPARE(HttpFrontend::loggableTarget(target.toStdString()), logged);
    }

    void checksNewMembers_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("email");
        QTest::addColumn<bool>("fine");
        QTest::newRow("fine") << "bob" << QByteArray("pass") << "Bob"
                              << "b@x." << true;
        QTest::newRow("dot and underscore") << "bob_b.x" << QByteArray("pass") << "Bob"
                                            << "b@x.org" << true;
        for (QChar c : QStringLiteral("' \u00a0&?^%$#@!():\""))
            QTest::addRow("user with U+%04x", c.unicode())
                << QStringLiteral("bo") + c + QStringLiteral("b") << QByteArray("pass") << "Bob"
                << "b@x.org" << false;
        QTest::newRow("user with tab") << "bo\tb" << QByteArray("pass") << "Bob"
                                       << "b@x.org" << false;
        QTest::newRow("user with slash") << "bo/b" << QByteArray("pass") << "Bob"
                                         << "b@x.org" << false;
        QTest::newRow("user too short") << "bo" << QByteArray("pass") << "Bob"
                                        << "b@x.org" << false;
        QTest::newRow("user too long") << QString(65, u'b') << QByteArray("pass") << "Bob"
                                       << "b@x.org" << false;
        QTest::newRow("password quote") << "bob" << QByteArray("pa'ss") << "Bob"
                                        << "b@x.org" << false;
        QTest::newRow("password amp") << "bob" << QByteArray("pa&ss") << "Bob"
                                      << "b@x.org" << false;
        QTest::newRow("password blank") << "bob" << QByteArray("pa ss") << "Bob"
                                        << "b@x.org" << false;
        QTest::newRow("password CR") << "bob" << QByteArray("pa\rss") << "Bob"
                                     << "b@x.org" << false;
        QTest::newRow("password short") << "bob" << QByteArray("pas") << "Bob"
                                        << "b@x.org" << false;
        QTest::newRow("name short") << "bob" << QByteArray("pass") << "Bo"
                                    << "b@x.org" << false;
        QTest::newRow("name amp") << "bob" << QByteArray("pass") << "B&b"
                                  << "b@x.org" << false;
        QTest::newRow("email no at") << "bob" << QByteArray("pass") << "Bob"
                                     << "bx.org" << false;
        QTest::newRow("email no point") << "bob" << QByteArray("pass") << "Bob"
                                        << "b@xorg" << false;
        QTest::newRow("email short") << "bob" << QByteArray("pass") << "Bob"
                                     << "@x." << false;
        QTest::newRow("email quote") << "bob" << QByteArray("pass") << "Bob"
                                     << "b'@x.org" << false;
    }
    void checksNewMembers()
    {
        QFETCH(QString, user);
        QFETCH(QByteArray, password);
        QFETCH(QString, name);
        QFETCH(QString, email);
        QFETCH(bool, fine);
        QCOMPARE(checkNewMember(user, password, name, email, true).isEmpty(), fine);
    }

    void passwordsHashWithArgon2id()
    {
        const QByteArray h = passwords::hash("secret", HashLimits::interactive());
        QVERIFY(h.startsWith("$argon2id$"));
        QVERIFY(passwords::verify(h, "secret"));
        QVERIFY(!passwords::verify(h, "Secret"));
        QVERIFY(!passwords::verify("garbage", "secret"));
        QVERIFY(!passwords::verify(QByteArray(), "secret"));
        QVERIFY(passwords::hash("secret", HashLimits::interactive()) != h); // salted
    }

    void relogonSkipsTheFullCheck()
    {
        Fixture f(freshDb());
        addMember(f.service, "bob.vantora.example", "pass1");
        const quint64 before = f.service.fullVerifications();
        QCOMPARE(f.service.logon(query("u=bob.vantora.example&p=pass1&i=10.0.0.1:2156"), "127.0.0.1").body,
                 QByteArray("127.0.0.1:2156"));
        QCOMPARE(f.service.fullVerifications(), before + 1);
        for (int i = 0; i < 5; ++i)
            QCOMPARE(
                f.service.logon(query("u=BOB.vantora.example&p=pass1&i=10.0.0.1:2156"), "127.0.0.1").body,
                QByteArray("127.0.0.1:2156"));
        QCOMPARE(f.service.fullVerifications(), before + 1);
        // Another password is checked in full, and refused.
        QCOMPARE(f.service.logon(query("u=bob.vantora.example&p=pass2&i=10.0.0.1:2156"), "127.0.0.1").body,
                 QByteArray("PASS"));
        QCOMPARE(f.service.fullVerifications(), before + 2);
        // Logging off ends the session.
        QCOMPARE(f.service.logoff(query("u=bob.vantora.example&p=pass1")).body, QByteArray("OK"));
        QCOMPARE(
            f.service.logon(query("u=bob.vantora.example&p=pass1&i=10.0.0.1:2156"), "::ffff:192.0.2.4").body,
            QByteArray("192.0.2.4:2156"));
        QCOMPARE(f.service.fullVerifications(), before + 3);
    }

    void passwordChangedInTheStoreIsCheckedAgain()
    {
        const QString db = freshDb();
        Fixture f(db);
        addMember(f.service, "bob.vantora.example", "pass1");
        QCOMPARE(f.service.logon(query("u=bob.vantora.example&p=pass1&i=10.0.0.1:2156"), "127.0.0.1").body,
                 QByteArray("127.0.0.1:2156"));
        // The operator replaces the hash behind the service's back.
        QVERIFY(setHash(db, passwords::hash("pass9", HashLimits::minimal())));
        QCOMPARE(f.service.logon(query("u=bob.vantora.example&p=pass1&i=10.0.0.1:2156"), "127.0.0.1").body,
                 QByteArray("PASS"));
        QCOMPARE(f.service.logon(query("u=bob.vantora.example&p=pass9&i=10.0.0.1:2156"), "127.0.0.1").body,
                 QByteArray("127.0.0.1:2156"));
    }

    void presenceExpiresAfterFifteenMinutes()
    {
        Fixture f(freshDb());
        addMember(f.service, "bob.vantora.example", "pass1");
        QVERIFY(!f.service.isOnline(QStringLiteral("bob.vantora.example")));
        f.service.logon(query("u=bob.vantora.example&p=pass1&i=10.0.0.1:2156"), "127.0.0.1");
        QVERIFY(f.service.isOnline(QStringLiteral("bob.vantora.example")));
        f.clock.advanceMs(15 * 60 * 1000 - 1);
        QVERIFY(f.service.isOnline(QStringLiteral("bob.vantora.example")));
        f.clock.advanceMs(1);
        QVERIFY(!f.service.isOnline(QStringLiteral("bob.vantora.example")));
        // The periodic logon every five minutes keeps the member online.
        f.service.logon(query("u=bob.vantora.example&p=pass1&i=10.0.0.1:2156"), "127.0.0.1");
        for (int i = 0; i < 4; ++i) {
            f.clock.advanceMs(5 * 60 * 1000);
            QVERIFY(f.service.isOnline(QStringLiteral("bob.vantora.example")));
            f.service.logon(query("u=bob.vantora.example&p=pass1&i=10.0.0.1:2156"), "127.0.0.1");
        }
        QCOMPARE(f.service.logoff(query("u=bob.vantora.example&p=pass1")).body, QByteArray("OK"));
        QVERIFY(!f.service.isOnline(QStringLiteral("bob.vantora.example")));
    }

    void chatRequestReachesOnlyOnlineMembers()
    {
        QTcpServer member;
        QVERIFY(member.listen(QHostAddress::LocalHost, 0));
        const QByteArray port = QByteArray::number(member.serverPort());
        ChatDelivery delivery(ChatDelivery::Options{1, 8, 2000, 2000});
        Fixture f(freshDb(), &delivery);
        addMember(f.service, "bob.vantora.example", "pass1");
        const Params ask = query("s=bob.vantora.example&f=_198.51.100.7:2156_joe.vantora.example");

        // Never logged on, then expired, then logged off: nothing arrives.
        QCOMPARE(f.service.askChat(ask).body, QByteArray("OK"));
        f.service.logon(Params::fromQuery("u=bob.vantora.example&p=pass1&i=10.0.0.1:" + port), "127.0.0.1");
        f.clock.advanceMs(15 * 60 * 1000);
        QCOMPARE(f.service.askChat(ask).body, QByteArray("OK"));
        f.clock.advanceMs(-15 * 60 * 1000);
        QCOMPARE(f.service.logoff(query("u=bob.vantora.example&p=pass1")).body, QByteArray("OK"));
        QCOMPARE(f.service.askChat(ask).body, QByteArray("OK"));
        delivery.drain();
        QCoreApplication::processEvents();
        QVERIFY(!member.hasPendingConnections());

        // Online: the request line arrives.
        f.service.logon(Params::fromQuery("u=bob.vantora.example&p=pass1&i=10.0.0.1:" + port), "127.0.0.1");
        QCOMPARE(f.service.askChat(ask).body, QByteArray("OK"));
        QVERIFY(member.waitForNewConnection(10000));
        QTcpSocket* s = member.nextPendingConnection();
        QByteArray got;
        while (!got.contains("\r\n\r\n") && s->waitForReadyRead(10000))
            got += s->readAll();
        QCOMPARE(got, "GET /CHATREQUEST_198.51.100.7:2156_joe.vantora.example HTTP/1.1\r\nHost: 127.0.0.1:" +
                          port + "\r\n\r\n");
        s->write("HTTP/1.0 200 OK\r\n\r\nok");
        s->disconnectFromHost();
        delivery.drain();
    }

    void deliveryQueueIsBounded()
    {
        // A member that never answers: one worker stays busy, the queue fills.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
        QStringList lines;
        std::mutex lock;
        ChatDelivery delivery(ChatDelivery::Options{1, 2, 500, 300}, [&](const QString& l) {
            std::lock_guard g(lock);
            lines << l;
        });
        const QByteArray req = ChatDelivery::requestBytes("127.0.0.1", silent.serverPort(), "_1.2.3.4:1_x");
        int accepted = 0;
        for (int i = 0; i < 10; ++i)
            accepted += delivery.enqueue(QStringLiteral("127.0.0.1"), silent.serverPort(), req) ? 1 : 0;
        QVERIFY(accepted >= 2 && accepted <= 3);
        delivery.drain();
        std::lock_guard g(lock);
        QCOMPARE(lines.size(), accepted);
        // Unreachable and invalid addresses end quietly.
        QVERIFY(delivery.enqueue(QStringLiteral("not-an-address"), 80, req));
    }

    void storeThatCannotBeOpenedAnswersDbDown()
    {
        const QString folder = m_tmp.filePath(QStringLiteral("later"));
        const QString db = folder + QLatin1String("/members.db");
        QStringList logged;
        ManualClock clock;
        MemberStore store(db);
        QVERIFY(!store.open());
        QVERIFY(store.lastError().contains(QLatin1String("cannot open database")));
        DirectoryService service(store, clock, nullptr, Fixture::options(),
                                 [&](const QString& l) { logged << l; });
        QCOMPARE(service.logon(query("u=bob.vantora.example&p=pass1&i=10.0.0.1:2156"), "127.0.0.1").body,
                 QByteArray("DB DOWN"));
        QCOMPARE(service.logoff(query("u=bob.vantora.example&p=pass1")).body, QByteArray("DB DOWN"));
        QCOMPARE(service.registerMember(query("u=bob.vantora.example&p=pass1&n=Bob&e=b@x.org")).status, 503);
        QVERIFY(!logged.isEmpty());
        QVERIFY(logged.first().startsWith(QLatin1String("database unavailable: cannot open database")));
        // Once the folder exists the same service recovers without a restart.
        QVERIFY(QDir().mkpath(folder));
        addMember(service, "bob.vantora.example", "pass1");
        QCOMPARE(service.logon(query("u=bob.vantora.example&p=pass1&i=10.0.0.1:2156"), "127.0.0.1").body,
                 QByteArray("127.0.0.1:2156"));
    }

    void lockedStoreAnswersDbDown()
    {
        const QString db = freshDb();
        ManualClock clock;
        MemberStore store(db, QStringLiteral("QSQLITE"), 50);
        QStringList logged;
        DirectoryService service(store, clock, nullptr, Fixture::options(),
                                 [&](const QString& l) { logged << l; });
        addMember(service, "bob.vantora.example", "pass1");
        {
            // Another process holds the write lock: members can be read, not written.
            QSqlDatabase other =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("locker"));
            other.setDatabaseName(db);
            QVERIFY(other.open());
            QSqlQuery q(other);
            QVERIFY(q.exec(QStringLiteral("BEGIN IMMEDIATE")));
            QVERIFY(q.exec(QStringLiteral("UPDATE members SET full_name = 'x'")));
            QCOMPARE(service.logon(query("u=bob.vantora.example&p=pass1&i=10.0.0.1:2156"), "127.0.0.1").body,
                     QByteArray("DB DOWN"));
            QVERIFY(logged.last().startsWith(QLatin1String("database cannot be written:")));
            QVERIFY(!service.isOnline(QStringLiteral("bob.vantora.example")));
            QVERIFY(q.exec(QStringLiteral("ROLLBACK")));
            other.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("locker"));
        QCOMPARE(service.logon(query("u=bob.vantora.example&p=pass1&i=10.0.0.1:2156"), "127.0.0.1").body,
                 QByteArray("127.0.0.1:2156"));
    }

    void storeKeepsFieldsAsGiven()
    {
        MemberStore store(freshDb());
        QVERIFY(store.open());
        Member m;
        m.name = QStringLiteral("O'Brien;--.vantora.example");
        m.domain = QStringLiteral("vantora.example");
        m.email = QStringLiteral("x'); DROP TABLE members;--@x.org");
        m.fullName = QStringLiteral("Robert'); DELETE FROM members; --");
        m.passwordHash = "$argon2id$fake";
        QCOMPARE(store.add(m), MemberStore::AddResult::Created);
        Member back;
        QCOMPARE(store.find(QStringLiteral("o'brien;--.VANTORA.example"), &back), MemberStore::Lookup::Found);
        QCOMPARE(back.name, m.name);
        QCOMPARE(back.email, m.email);
        QCOMPARE(back.fullName, m.fullName);
        m.name = QStringLiteral("other.vantora.example");
        QCOMPARE(store.add(m), MemberStore::AddResult::EmailInUse);
        m.email.clear();
        QCOMPARE(store.add(m), MemberStore::AddResult::Created);
        m.name = QStringLiteral("third.vantora.example");
        QCOMPARE(store.add(m), MemberStore::AddResult::Created); // no e-mail twice is fine
        QCOMPARE(store.list()->size(), 3);
    }

private:
    static bool setHash(const QString& db, const QByteArray& hash)
    {
        const QString name = QStringLiteral("tamper");
        bool ok = false;
        {
            QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            d.setDatabaseName(db);
            ok = d.open();
            QSqlQuery q(d);
            q.prepare(QStringLiteral("UPDATE members SET password_hash = ?"));
            q.addBindValue(QString::fromLatin1(hash));
            ok = ok && q.exec();
        }
        QSqlDatabase::removeDatabase(name);
        return ok;
    }
};

VANTORA_TEST_MAIN(TestDirectoryService)
#include "tst_directory_service.moc"
