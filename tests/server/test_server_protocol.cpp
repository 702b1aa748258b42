// What a served connection receives and answers, and the directory requests
// and answers, checked byte by byte without sockets or windows.

#include <QTest>

#include "server/ConnectionProtocol.h"
#include "server/DirectoryRequest.h"
#include "tests/support/TestEnvironment.h"

using request::Kind;
using Verdict = logon::LogonAnswer::Verdict;
Q_DECLARE_METATYPE(request::Kind)
Q_DECLARE_METATYPE(logon::LogonAnswer::Verdict)

class TestServerProtocol : public QObject
{
    Q_OBJECT
private slots:
    void classifiesInputsInOrder_data();
    void classifiesInputsInOrder();
    void echoesTheCheckNumber_data();
    void echoesTheCheckNumber();
    void frameHeaderIsByteExact();
    void chatPageCountsItsBody();
    void chatRequestStringAndAcceptName();
    void collectsRequestsOncePerRequest_data();
    void collectsRequestsOncePerRequest();
    void pipelinedReadIsCutInOrder();
    void requestsSayHowToAnswer_data();
    void requestsSayHowToAnswer();
    void oversizedHeaderOverflows();
    void directoryRequestFraming();
    void queryValuesArePercentEncoded();
    void readsLogonAnswers_data();
    void readsLogonAnswers();
    void splitsAddressAndPort_data();
    void splitsAddressAndPort();
    void readsCheckEcho_data();
    void readsCheckEcho();
};

void TestServerProtocol::classifiesInputsInOrder_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("chatDisabled");
    QTest::addColumn<Kind>("kind");
    const QByteArray chatGet = "GET /CHATREQUEST_10.0.0.2_2156_bob HTTP/1.1\r\nHost: x\r\n\r\n";
    QTest::newRow("diag") << QByteArray("DIAG 42\r\n") << false << Kind::Diag;
    QTest::newRow("diag with chat off") << QByteArray("DIAG 42\r\n") << true << Kind::Diag;
    QTest::newRow("diag before chat request") << QByteArray("DIAG /CHATREQUEST_") << false << Kind::Diag;
    QTest::newRow("diag is case-sensitive") << QByteArray("diag 42\r\n") << false << Kind::Frame;
    QTest::newRow("reject") << QByteArray("CHAT REJECT") << false << Kind::ChatReject;
    QTest::newRow("reject with chat off gets a frame") << QByteArray("CHAT REJECT") << true << Kind::Frame;
    QTest::newRow("accept") << QByteArray("CHAT ACCEPT bob") << false << Kind::ChatAccept;
    QTest::newRow("reject wins over request")
        << QByteArray("CHAT REJECT /CHATREQUEST_") << false << Kind::ChatReject;
    QTest::newRow("chat request") << chatGet << false << Kind::ChatRequest;
    QTest::newRow("chat request in a header")
        << QByteArray("GET / HTTP/1.1\r\nReferer: /CHATREQUEST_x\r\n\r\n") << false << Kind::ChatRequest;
    QTest::newRow("chat request with chat off") << chatGet << true << Kind::ChatRefused;
    QTest::newRow("root") << QByteArray("GET / HTTP/1.1\r\n\r\n") << false << Kind::Frame;
    QTest::newRow("other path") << QByteArray("GET /cam.jpg HTTP/1.0\r\n\r\n") << true << Kind::Frame;
    QTest::newRow("any text") << QByteArray("hello") << false << Kind::Frame;
    QTest::newRow("short chat prefix") << QByteArray("CHAT ACCEP") << false << Kind::Frame;
}

void TestServerProtocol::classifiesInputsInOrder()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, chatDisabled);
    QFETCH(Kind, kind);
    QCOMPARE(request::classify(data, chatDisabled), kind);
}

void TestServerProtocol::echoesTheCheckNumber_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("echo");
    QTest::newRow("number") << QByteArray("DIAG 42\r\n") << QByteArray("OK 42\r\n\r\n");
    QTest::newRow("no line end") << QByteArray("DIAG 7") << QByteArray("OK 7\r\n");
    QTest::newRow("exactly five") << QByteArray("DIAG ") << QByteArray("OK \r\n");
    QTest::newRow("too short") << QByteArray("DIAG") << QByteArray();
}

void TestServerProtocol::echoesTheCheckNumber()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, echo);
    QCOMPARE(request::diagEcho(data), echo);
}

void TestServerProtocol::frameHeaderIsByteExact()
{
    QCOMPARE(request::frameHeader(1234), QByteArray("HTTP/1.1 200 OK\r\n"
                                                    "Server: Vantora HTTP Server\r\n"
                                                    "Pragma: no-cache\r\n"
                                                    "Cache-Control: no-cache\r\n"
                                                    "Content-type: image/jpeg \r\n"
                                                    "Content-Length: 1234\r\n"
                                                    "\r\n"));
    QVERIFY(request::frameHeader(0).contains("Content-Length: 0\r\n\r\n"));
}

void TestServerProtocol::chatPageCountsItsBody()
{
    const QByteArray page = request::chatPageResponse(QStringLiteral("Vantora"));
    const QByteArray head =
        "HTTP/1.1 200 OK\r\nServer: Vantora HTTP Server\r\nContent-type: text/html \r\nContent-Length: ";
    QVERIFY(page.startsWith(head));
    const qsizetype headerEnd = page.indexOf("\r\n\r\n");
    const int length = page.mid(head.size(), headerEnd - head.size()).toInt();
    const QByteArray body = page.mid(headerEnd + 4);
    // The body counts its own CR LF CR LF; one more CR LF follows uncounted.
    QCOMPARE(body.size(), length + 2);
    QVERIFY(body.startsWith(
        "<html><title>Vantora Chat Server</title><body>TRYING TO CONTACT CLIENT... <br><br> "));
    QVERIFY(body.endsWith("</body></html>\r\n\r\n\r\n"));
    QCOMPARE(request::chatRejectReply(), QByteArray("CHAT REJECT\r\n"));
}

void TestServerProtocol::chatRequestStringAndAcceptName()
{
    QCOMPARE(request::chatRequestString("GET /CHATREQUEST_10.0.0.2_2156_bob HTTP/1.1\r\nHost: x\r\n\r\n"),
             QStringLiteral("CHATREQUEST_10.0.0.2_2156_bob "));
    QCOMPARE(request::chatAcceptName("CHAT ACCEPT bob\r\n"), QStringLiteral(" bob\r\n"));
    QCOMPARE(request::chatAcceptName("CHAT ACCEPT"), QString());
}

namespace {
// Feeds each read, then flushes what is left as text (as the quiet deadline does).
QList<QByteArray> collect(request::Collector& collector, const QList<QByteArray>& reads)
{
    QList<QByteArray> got;
    for (const QByteArray& read : reads)
        for (const request::Piece& p : collector.feed(read))
            got.append(p.data);
    for (const request::Piece& p : collector.flush())
        got.append(p.data);
    return got;
}
} // namespace

void TestServerProtocol::collectsRequestsOncePerRequest_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QList<QByteArray>>("pieces");
    const QByteArray get = "GET / HTTP/1.1\r\nHost: cam\r\n\r\n";
    const QByteArray get2 = "GET /b HTTP/1.1\r\nHost: cam\r\n\r\n";
    QList<QByteArray> bytes;
    for (char c : get)
        bytes.append(QByteArray(1, c));
    QTest::newRow("whole") << QList<QByteArray>{get} << QList<QByteArray>{get};
    QTest::newRow("split in the header")
        << QList<QByteArray>{get.left(20), get.mid(20)} << QList<QByteArray>{get};
    QTest::newRow("split in the request line")
        << QList<QByteArray>{"GET / HT", get.mid(8)} << QList<QByteArray>{get};
    QTest::newRow("split in the method") << QList<QByteArray>{"G", "E", get.mid(2)} << QList<QByteArray>{get};
    QTest::newRow("split in the blank line")
        << QList<QByteArray>{get.chopped(1), "\n"} << QList<QByteArray>{get};
    QTest::newRow("split between CR and LF of the blank line")
        << QList<QByteArray>{get.chopped(2), "\r", "\n"} << QList<QByteArray>{get};
    QTest::newRow("byte by byte") << bytes << QList<QByteArray>{get};
    QTest::newRow("pipelined") << QList<QByteArray>{get + get2} << QList<QByteArray>{get, get2};
    QTest::newRow("pipelined and split")
        << QList<QByteArray>{get + get2.left(5), get2.mid(5)} << QList<QByteArray>{get, get2};
    QTest::newRow("bare line feeds") << QList<QByteArray>{"GET / HTTP/1.0\n\n"}
                                     << QList<QByteArray>{"GET / HTTP/1.0\n\n"};
    QTest::newRow("bare line feeds pipelined")
        << QList<QByteArray>{"A / HTTP/\n\nA / HTTP/\n\nA / HTTP/\n\n"}
        << QList<QByteArray>{"A / HTTP/\n\n", "A / HTTP/\n\n", "A / HTTP/\n\n"};
    QTest::newRow("body by length") << QList<QByteArray>{"POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nab",
                                                         "c" + get}
                                    << QList<QByteArray>{"POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc",
                                                         get};
    QTest::newRow("diag per read") << QList<QByteArray>{"DIAG 4", "2\r\n"}
                                   << QList<QByteArray>{"DIAG 4", "2\r\n"};
    QTest::newRow("chat per read") << QList<QByteArray>{"CHAT ACCEPT", " bob"}
                                   << QList<QByteArray>{"CHAT ACCEPT", " bob"};
    QTest::newRow("other text per read")
        << QList<QByteArray>{"hello\r\n", "there you"} << QList<QByteArray>{"hello\r\n", "there you"};
    // A lone word may still become a method: it is answered when nothing more comes.
    QTest::newRow("a word waits") << QList<QByteArray>{"there"} << QList<QByteArray>{"there"};
    QTest::newRow("line without version")
        << QList<QByteArray>{"GET /\r\n\r\n"} << QList<QByteArray>{"GET /\r\n\r\n"};
    QTest::newRow("empty target") << QList<QByteArray>{"GET  HTTP/1.1\r\n\r\n"}
                                  << QList<QByteArray>{"GET  HTTP/1.1\r\n\r\n"};
    QTest::newRow("text after a request")
        << QList<QByteArray>{get + "hello"} << QList<QByteArray>{get, "hello"};
}

void TestServerProtocol::collectsRequestsOncePerRequest()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QList<QByteArray>, pieces);
    request::Collector collector;
    QCOMPARE(collect(collector, reads), pieces);
    QCOMPARE(collector.pending(), 0);
    QVERIFY(!collector.overflow());
}

void TestServerProtocol::pipelinedReadIsCutInOrder()
{
    // One 64 KiB read of tiny requests, numbered so the order shows.
    QByteArray read;
    QList<QByteArray> expected;
    for (int i = 0; read.size() < 64 * 1024; ++i) {
        const QByteArray r = "GET /" + QByteArray::number(i) + (i % 2 ? " HTTP/1.1\r\n\r\n" : " HTTP/\n\n");
        read += r;
        expected.append(r);
    }
    request::Collector collector;
    QCOMPARE(collect(collector, {read}), expected);
}

void TestServerProtocol::requestsSayHowToAnswer_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("http");
    QTest::addColumn<bool>("head");
    QTest::addColumn<bool>("close");
    QTest::newRow("1.1 stays open") << QByteArray("GET / HTTP/1.1\r\nHost: x\r\n\r\n") << true << false
                                    << false;
    QTest::newRow("1.0 closes") << QByteArray("GET / HTTP/1.0\r\n\r\n") << true << false << true;
    QTest::newRow("1.0 with keep-alive stays open")
        << QByteArray("GET / HTTP/1.0\r\nConnection: Keep-Alive\r\n\r\n") << true << false << false;
    QTest::newRow("1.1 asking to close")
        << QByteArray("GET / HTTP/1.1\r\nconnection:  close \r\n\r\n") << true << false << true;
    QTest::newRow("close among tokens")
        << QByteArray("GET / HTTP/1.1\r\nConnection: Upgrade, CLOSE\r\n\r\n") << true << false << true;
    QTest::newRow("close named elsewhere")
        << QByteArray("GET /close HTTP/1.1\r\nX-Connection: close\r\n\r\n") << true << false << false;
    QTest::newRow("head") << QByteArray("HEAD / HTTP/1.1\r\n\r\n") << true << true << false;
    QTest::newRow("head 1.0") << QByteArray("HEAD / HTTP/1.0\n\n") << true << true << true;
    QTest::newRow("text") << QByteArray("HEAD\r\nConnection: close\r\n\r\n") << false << false << false;
}

void TestServerProtocol::requestsSayHowToAnswer()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, http);
    QFETCH(bool, head);
    QFETCH(bool, close);
    request::Collector collector;
    const QList<request::Piece> pieces = collector.feed(data);
    QCOMPARE(pieces.size(), 1);
    QCOMPARE(pieces[0].data, data);
    QCOMPARE(pieces[0].http, http);
    QCOMPARE(pieces[0].head, head);
    QCOMPARE(pieces[0].close, close);
}

void TestServerProtocol::oversizedHeaderOverflows()
{
    request::Collector collector;
    QVERIFY(collector.feed("GET / HTTP/1.1\r\n").isEmpty());
    const QByteArray filler = "X-Filler: " + QByteArray(1000, 'a') + "\r\n";
    for (int i = 0; i < 16; ++i) // 16 + 16 * 1012 bytes: just under 16 KiB
        QVERIFY(collector.feed(filler).isEmpty());
    QVERIFY(!collector.overflow());
    QVERIFY(!collector.undecided());
    QVERIFY(collector.flush().isEmpty()); // a request under way is not text
    QVERIFY(collector.feed(filler).isEmpty());
    QVERIFY(collector.overflow());
    QVERIFY(collector.feed("\r\n\r\n").isEmpty());

    request::Collector body;
    QVERIFY(body.feed("POST / HTTP/1.1\r\nContent-Length: 999999\r\n\r\n").isEmpty());
    QVERIFY(body.overflow());
    request::Collector badLength;
    QVERIFY(badLength.feed("POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n").isEmpty());
    QVERIFY(badLength.overflow());

    // A request line trickled past the limit.
    request::Collector line;
    for (int i = 0; i < 17; ++i)
        line.feed(i == 0 ? "GET /" + QByteArray(1019, 'a') : QByteArray(1024, 'a'));
    QVERIFY(line.overflow());
}

void TestServerProtocol::directoryRequestFraming()
{
    QCOMPARE(logon::requestBytes(QStringLiteral("/client_v3/logoff.php?u=a.b&p=c"), QStringLiteral("Vantora"),
                                 QStringLiteral("127.0.0.1:8080")),
             QByteArray("GET /client_v3/logoff.php?u=a.b&p=c HTTP/1.0\r\n"
                        "Accept: */*\r\n"
                        "User-Agent: Vantora Client\r\n"
                        "Host: 127.0.0.1:8080\r\n"
                        "\r\n"));
}

void TestServerProtocol::queryValuesArePercentEncoded()
{
    QCOMPARE(logon::logonPath(QStringLiteral("demo.vantora.example"), QStringLiteral("s3cret"),
                              QStringLiteral("192.168.0.10"), 2156),
             QStringLiteral("/client_v3/logon.php?u=demo.vantora.example&p=s3cret&i=192.168.0.10:2156"));
    QCOMPARE(logon::logonPath(QStringLiteral("a b&c.x"), QStringLiteral("p&q=r s%"),
                              QStringLiteral("10.0.0.1"), 80),
             QStringLiteral("/client_v3/logon.php?u=a%20b%26c.x&p=p%26q%3Dr%20s%25&i=10.0.0.1:80"));
    QCOMPARE(logon::logoffPath(QStringLiteral("\u00e9l\u00e8ve.x"), QStringLiteral("#?")),
             QStringLiteral("/client_v3/logoff.php?u=%C3%A9l%C3%A8ve.x&p=%23%3F"));
}

void TestServerProtocol::readsLogonAnswers_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<bool>("disableCheck");
    QTest::addColumn<QList<Verdict>>("verdicts");
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("port");
    const QByteArray head = "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n";
    using L = QList<QByteArray>;
    using VL = QList<Verdict>;
    QTest::newRow("address") << L{head + "203.0.113.5:2156"} << false << VL{Verdict::Address} << "203.0.113.5"
                             << 2156;
    QTest::newRow("address with line end")
        << L{head + "127.0.0.1:40000\r\n"} << false << VL{Verdict::Address} << "127.0.0.1" << 40000;
    QTest::newRow("db down") << L{head + "DB DOWN"} << false << VL{Verdict::DbDown} << "" << 0;
    QTest::newRow("user") << L{head + "USER\r\n"} << false << VL{Verdict::User} << "" << 0;
    QTest::newRow("pass") << L{head + "PASS"} << true << VL{Verdict::Pass} << "" << 0;
    QTest::newRow("user is case-sensitive") << L{head + "user"} << false << VL{Verdict::Nothing} << "" << 0;
    QTest::newRow("short answer") << L{head + "OK"} << false << VL{Verdict::Nothing} << "" << 0;
    QTest::newRow("six characters") << L{head + "ABCDEF"} << false << VL{Verdict::Nothing} << "" << 0;
    QTest::newRow("no check") << L{head + "OK"} << true << VL{Verdict::NoCheck} << "" << 0;
    // Without a check the address still tells where viewers find the camera.
    QTest::newRow("no check with address")
        << L{head + "1.2.3.4:5"} << true << VL{Verdict::NoCheck} << "1.2.3.4" << 5;
    QTest::newRow("IPv6 loopback") << L{head + "::1:4156"} << false << VL{Verdict::Address} << "::1" << 4156;
    QTest::newRow("IPv6 address") << L{head + "2001:db8::5:2156\r\n"} << false << VL{Verdict::Address}
                                  << "2001:db8::5" << 2156;
    QTest::newRow("bracketed IPv6") << L{head + "[2001:db8::5]:2156"} << false << VL{Verdict::Address}
                                    << "2001:db8::5" << 2156;
    QTest::newRow("body in two reads")
        << L{head, "USER"} << false << VL{Verdict::Waiting, Verdict::User} << "" << 0;
    QTest::newRow("second read taken whole")
        << L{head, "HTTP-like 1.2.3.4:9"} << false << VL{Verdict::Waiting, Verdict::Address}
        << "HTTP-like 1.2.3.4" << 9;
    QTest::newRow("no blank line drops three")
        << L{"xx:1.2.3.4:80"} << false << VL{Verdict::Address} << "1.2.3.4" << 80;
    QTest::newRow("address without port")
        << L{head + "1.2.3.4.5"} << false << VL{Verdict::Address} << "1.2.3.4.5" << 0;
}

void TestServerProtocol::readsLogonAnswers()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(bool, disableCheck);
    QFETCH(QList<Verdict>, verdicts);
    QFETCH(QString, address);
    QFETCH(int, port);
    logon::LogonAnswer answer;
    logon::LogonAnswer::Result r;
    QList<Verdict> got;
    for (const QByteArray& read : reads) {
        r = answer.feed(read, disableCheck);
        got.append(r.verdict);
    }
    QCOMPARE(got, verdicts);
    QCOMPARE(r.address, address);
    QCOMPARE(int(r.port), port);
    QCOMPARE(answer.awaitingBody(), verdicts.last() == Verdict::Waiting);
}

void TestServerProtocol::splitsAddressAndPort_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("url");
    QTest::newRow("IPv4") << "203.0.113.5:2156"
                          << "203.0.113.5" << 2156 << "http://203.0.113.5:2156/";
    QTest::newRow("IPv6 loopback") << "::1:4156"
                                   << "::1" << 4156 << "http://[::1]:4156/";
    QTest::newRow("IPv6") << "2001:db8::5:2156"
                          << "2001:db8::5" << 2156 << "http://[2001:db8::5]:2156/";
    QTest::newRow("bracketed") << "[2001:db8::5]:80"
                               << "2001:db8::5" << 80 << "http://[2001:db8::5]:80/";
    QTest::newRow("host name") << "cam.example:8080"
                               << "cam.example" << 8080 << "http://cam.example:8080/";
    QTest::newRow("no port") << "203.0.113.5"
                             << "203.0.113.5" << 0 << "";
    QTest::newRow("empty port") << "203.0.113.5:"
                                << "203.0.113.5" << 0 << "";
    QTest::newRow("port too big") << "203.0.113.5:65536"
                                  << "203.0.113.5" << 0 << "";
    QTest::newRow("port not a number") << "203.0.113.5:+80"
                                       << "203.0.113.5" << 0 << "";
    QTest::newRow("bracket without port") << "[::1]"
                                          << "::1" << 0 << "";
    QTest::newRow("bracket not closed") << "[::1:80"
                                        << "[::1:80" << 0 << "";
}

void TestServerProtocol::splitsAddressAndPort()
{
    QFETCH(QString, text);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(QString, url);
    const logon::HostPort split = logon::splitHostPort(text);
    QCOMPARE(split.host, host);
    QCOMPARE(int(split.port), port);
    if (!url.isEmpty())
        QCOMPARE(logon::cameraUrl(split.host, split.port), url);
}

void TestServerProtocol::readsCheckEcho_data()
{
    QTest::addColumn<QByteArray>("echo");
    QTest::addColumn<qint64>("number");
    QTest::newRow("echo") << QByteArray("OK 42\r\n\r\n") << qint64(42);
    QTest::newRow("plain") << QByteArray("OK 999999") << qint64(999999);
    QTest::newRow("garbage") << QByteArray("HTTP/1.1 200 OK\r\n") << qint64(-1);
    QTest::newRow("empty") << QByteArray() << qint64(-1);
    QCOMPARE(logon::checkLine(42), QByteArray("DIAG 42\r\n"));
}

void TestServerProtocol::readsCheckEcho()
{
    QFETCH(QByteArray, echo);
    QFETCH(qint64, number);
    QCOMPARE(logon::echoNumber(echo), number);
}

VANTORA_TEST_MAIN(TestServerProtocol)
#include "test_server_protocol.moc"
