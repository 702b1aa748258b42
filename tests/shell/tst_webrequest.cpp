// Whole-page fetches against a loopback server: the body, a refused
// connection, a server that never answers, and a bad address.
#include "shell/WebRequest.h"
#include "tests/support/TestEnvironment.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

namespace {

// Answers every request with `answer` (or never, when it is empty).
class PageServer : public QTcpServer
{
public:
    QByteArray answer;
    QByteArray lastRequest;
    explicit PageServer(QByteArray a) : answer(std::move(a))
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    lastRequest += s->readAll();
                    if (!answer.isEmpty() && lastRequest.contains("\r\n\r\n")) {
                        s->write(answer);
                        s->disconnectFromHost();
                    }
                });
            }
        });
    }
};

} // namespace

class TestWebRequest : public QObject
{
    Q_OBJECT
private slots:
    void bodyArrives_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("with length") << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nUSER!")
                                     << QByteArray("USER!");
        QTest::newRow("until close") << QByteArray("HTTP/1.0 200 OK\r\n\r\nline one\r\nline two")
                                     << QByteArray("line one\r\nline two");
        QTest::newRow("empty body") << QByteArray("HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n")
                                    << QByteArray();
    }
    void bodyArrives()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, body);
        PageServer server(answer);
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const QUrl url(
            QStringLiteral("http://127.0.0.1:%1/register.php?user=a%20b").arg(server.serverPort()));

        // Blocking form.
        const WebRequest::Result r = WebRequest::fetch(url, 5000);
        QVERIFY2(r.ok, qPrintable(r.error));
        QCOMPARE(r.body, body);
        QVERIFY(server.lastRequest.startsWith("GET /register.php?user=a%20b HTTP/1.1\r\n"));

        // Signal form.
        WebRequest request;
        QSignalSpy done(&request, &WebRequest::finished);
        request.get(url, 5000);
        QVERIFY(request.running());
        QVERIFY(done.wait(5000));
        QCOMPARE(done.size(), 1);
        const auto result = done.first().first().value<WebRequest::Result>();
        QVERIFY(result.ok);
        QCOMPARE(result.body, body);
        QVERIFY(!request.running());
    }

    void failures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("refused") << "refused";
        QTest::newRow("time-out") << "timeout";
        QTest::newRow("server error") << "500";
        QTest::newRow("not http") << "scheme";
    }
    void failures()
    {
        QFETCH(QString, kind);
        PageServer server(kind == QLatin1String("500")
                              ? QByteArray("HTTP/1.0 500 Internal Server Error\r\n\r\noops")
                              : QByteArray());
        QVERIFY(server.listen(QHostAddress::LocalHost));
        QUrl url(QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort()));
        if (kind == QLatin1String("refused"))
            server.close();
        if (kind == QLatin1String("scheme"))
            url = QUrl(QStringLiteral("file:///etc/passwd"));
        const WebRequest::Result r = WebRequest::fetch(url, 300);
        QVERIFY(!r.ok);
        QVERIFY(!r.error.isEmpty());
        QVERIFY(r.body.isEmpty());
        if (kind == QLatin1String("timeout"))
            QVERIFY2(r.error.startsWith(QLatin1String("Timed out")), qPrintable(r.error));
    }

    void abandonedRequestReportsNothing()
    {
        PageServer server({}); // never answers
        QVERIFY(server.listen(QHostAddress::LocalHost));
        WebRequest request;
        QSignalSpy done(&request, &WebRequest::finished);
        request.get(QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(server.serverPort())), 5000);
        QTRY_VERIFY(!server.lastRequest.isEmpty());
        request.abort();
        QVERIFY(!request.running());
        QVERIFY(!done.wait(200));
    }
};

VANTORA_TEST_MAIN(TestWebRequest)
#include "tst_webrequest.moc"
