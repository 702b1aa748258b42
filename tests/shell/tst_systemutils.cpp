// Small system routines, the frame-size table and the update-check reader.
#include "shell/Globals.h"
#include "shell/SystemUtils.h"
#include "shell/UpdateCheck.h"
#include "shell/WindowPlacement.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QWidget>

class TestSystemUtils : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

private slots:
    void addBackslash_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << ""
                               << "/";
        QTest::newRow("ends in /") << "/tmp/"
                                   << "/tmp/";
        QTest::newRow("no /") << "/tmp"
                              << "/tmp/";
        QTest::newRow("root") << "/"
                              << "/";
        QTest::newRow("relative") << "a/b"
                                  << "a/b/";
    }
    void addBackslash()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(withTrailingSlash(path), expected);
    }

    void fileExists_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<bool>("expected");
        QTest::newRow("file") << "file.txt" << true;
        QTest::newRow("file with one trailing /") << "file.txt/" << true;
        QTest::newRow("file with two trailing /") << "file.txt//" << false;
        QTest::newRow("folder") << "folder" << false;
        QTest::newRow("folder ending in /") << "folder/" << false;
        QTest::newRow("missing") << "missing.txt" << false;
        QTest::newRow("missing folder") << "nowhere/file.txt" << false;
        QTest::newRow("empty") << "" << false;
    }
    void fileExists()
    {
        QFETCH(QString, relative);
        QFETCH(bool, expected);
        QDir(m_dir.path()).mkpath(QStringLiteral("folder"));
        QFile f(m_dir.filePath(QStringLiteral("file.txt")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.close();
        const QString path = relative.isEmpty() ? QString() : m_dir.path() + u'/' + relative;
        QCOMPARE(::fileExists(path), expected);
    }

    void tempDirEndsInSlash()
    {
        const QString dir = tempDir();
        QVERIFY(dir.endsWith(u'/'));
        QVERIFY(QFileInfo(dir).isDir());
        QCOMPARE(QDir(dir).canonicalPath(), QDir(QDir::tempPath()).canonicalPath());
    }

    void tempFileNamesAreNewEmptyFiles()
    {
        QSet<QString> names;
        for (int i = 0; i < 20; ++i) {
            const QString name = makeTempFile();
            QVERIFY(!name.isEmpty());
            QVERIFY(!names.contains(name));
            names.insert(name);
            QFileInfo info(name);
            QVERIFY(info.isFile());
            QCOMPARE(info.size(), 0);
            QCOMPARE(info.absolutePath() + u'/', tempDir());
            QVERIFY(
                info.fileName().startsWith(QFileInfo(QCoreApplication::applicationFilePath()).fileName()));
        }
        for (const QString& n : names)
            QFile::remove(n);
    }

    void osName_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("expected");
        QTest::newRow("debian")
            << QByteArray("NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n")
            << "Debian GNU/Linux 12 (bookworm)";
        QTest::newRow("unquoted") << QByteArray("PRETTY_NAME=Alpine\n") << "Alpine";
        QTest::newRow("single quotes") << QByteArray("PRETTY_NAME='Some OS 1'\n") << "Some OS 1";
        QTest::newRow("name only") << QByteArray("NAME=Fedora\n") << "Fedora";
        QTest::newRow("nothing") << QByteArray("ID=x\n") << "Linux";
        QTest::newRow("empty pretty name") << QByteArray("PRETTY_NAME=\"\"\n") << "Linux";
    }
    void osName()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, expected);
        const QString path = m_dir.filePath(QStringLiteral("os-release"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(content);
        f.close();
        QCOMPARE(osNameFromRelease(path), expected);
        QCOMPARE(osNameFromRelease(m_dir.filePath(QStringLiteral("missing"))), QStringLiteral("Linux"));
        QVERIFY(!::osName().isEmpty());
    }

    void alwaysOnTopKeepsGeometry()
    {
        QWidget w;
        w.setGeometry(100, 120, 300, 200);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect before = w.geometry();
        setAlwaysOnTop(&w, true);
        QVERIFY(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(w.isVisible());
        QCOMPARE(w.geometry(), before);
        setAlwaysOnTop(&w, false);
        QVERIFY(!w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(w.isVisible());
        QCOMPARE(w.geometry(), before);
    }

    void frameSizes_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("0 unchanged") << 0 << -1 << -1;
        QTest::newRow("1") << 1 << 128 << 96;
        QTest::newRow("2") << 2 << 160 << 120;
        QTest::newRow("3") << 3 << 176 << 144;
        QTest::newRow("4") << 4 << 240 << 180;
        QTest::newRow("5") << 5 << 320 << 240;
        QTest::newRow("6") << 6 << 352 << 288;
        QTest::newRow("7 unchanged") << 7 << -1 << -1;
        QTest::newRow("negative unchanged") << -3 << -1 << -1;
    }
    void frameSizes()
    {
        QFETCH(int, code);
        QFETCH(int, width);
        QFETCH(int, height);
        int w = -1, h = -1;
        QCOMPARE(FrameSizeForCode(code, w, h), width != -1);
        QCOMPARE(w, width);
        QCOMPARE(h, height);
    }

    void updateRequestBytes()
    {
        QCOMPARE(updatecheck::request(QStringLiteral("127.0.0.1:8080")),
                 QByteArray("GET /autoupdate/autoupdate.txt HTTP/1.0\r\nAccept: */*\r\n"
                            "User-Agent: VTR Webcam Client\r\nHost: 127.0.0.1:8080\r\n\r\n"));
    }

    void updateAnswers_data()
    {
        QTest::addColumn<QByteArray>("response");
        QTest::addColumn<QString>("running");
        QTest::addColumn<bool>("offered");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("notes");
        const QByteArray head("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n");
        QTest::newRow("newer") << head + "2.32\r\n\r\nFaster frames."
                               << "2.31" << true << "2.32"
                               << "Faster frames.";
        QTest::newRow("same") << head + "2.31\r\n\r\nnotes"
                              << "2.31" << false << ""
                              << "";
        QTest::newRow("older") << head + "2.30\r\n\r\nnotes"
                               << "2.31" << false << ""
                               << "";
        QTest::newRow("3 characters") << head + "3.0\r\n\r\nnotes"
                                      << "2.31" << false << ""
                                      << "";
        // Versions compare as numbers: the major number whole, the rest as a fraction.
        QTest::newRow("two-digit major, 5 characters") << head + "10.01\r\n\r\nnotes"
                                                       << "2.31" << true << "10.01"
                                                       << "notes";
        QTest::newRow("10.0 is newer than 9.99") << head + "10.0\r\n\r\nn"
                                                 << "9.99" << true << "10.0"
                                                 << "n";
        QTest::newRow("9.99 is older than 10.0") << head + "9.99\r\n\r\nn"
                                                 << "10.0" << false << ""
                                                 << "";
        QTest::newRow("2.4 is 2.40, newer than 2.31") << head + "2.40\r\n\r\nn"
                                                      << "2.31" << true << "2.40"
                                                      << "n";
        QTest::newRow("2.310 equals 2.31") << head + "2.310\r\n\r\nn"
                                           << "2.31" << false << ""
                                           << "";
        QTest::newRow("not a number") << head + "2.3a\r\n\r\nn"
                                      << "2.31" << false << ""
                                      << "";
        QTest::newRow("no point") << head + "2323\r\n\r\nn"
                                  << "2.31" << false << ""
                                  << "";
        QTest::newRow("LF line ends")
            << QByteArray("HTTP/1.0 200 OK\nContent-Type: text/plain\n\n2.32\n\nOne\nTwo") << "2.31" << true
            << "2.32"
            << "One\nTwo";
        QTest::newRow("LF body, CR LF header") << head + "2.32\nX-Build: 7\n\nnotes"
                                               << "2.31" << true << "2.32"
                                               << "notes";
        QTest::newRow("UTF-8 notes")
            << head + "2.32\r\n\r\nNeu: sch\xc3\xa4rfer \xe2\x80\x93 \xe6\x9b\xb4\xe5\xa5\xbd"
            << "2.31" << true << "2.32" << QStringLiteral("Neu: sch\u00e4rfer \u2013 \u66f4\u597d");
        QTest::newRow("Latin-1 notes kept") << head + "2.32\r\n\r\nsch\xe4rfer"
                                            << "2.31" << true << "2.32" << QStringLiteral("sch\u00e4rfer");
        QTest::newRow("byte order mark") << head + "\xef\xbb\xbf"
                                                   "2.32\r\n\r\nnotes"
                                         << "2.31" << true << "2.32"
                                         << "notes";
        QTest::newRow("not found") << QByteArray("HTTP/1.0 404 Not Found\r\n\r\n2.32\r\n\r\nnotes") << "2.31"
                                   << false << ""
                                   << "";
        QTest::newRow("no CR after the version") << head + "2.32"
                                                 << "2.31" << false << ""
                                                 << "";
        QTest::newRow("no empty line at all")
            << QByteArray("HTTP/1.0 200 OK\r\n2.32\r\n") << "2.31" << false << ""
            << "";
        QTest::newRow("header lines after the version")
            << head + "2.32\r\nX-Build: 7\r\n\r\nLine one\r\nLine two"
            << "2.31" << true << "2.32"
            << "Line one\r\nLine two";
        QTest::newRow("no notes") << head + "2.32\r\n"
                                  << "2.31" << true << "2.32"
                                  << "";
        QTest::newRow("empty") << QByteArray() << "2.31" << false << ""
                               << "";
        QTest::newRow("the running form") << head + "1.02\r\n\r\nfix"
                                          << "1.01" << true << "1.02"
                                          << "fix";
    }
    void updateAnswers()
    {
        QFETCH(QByteArray, response);
        QFETCH(QString, running);
        QFETCH(bool, offered);
        QFETCH(QString, version);
        QFETCH(QString, notes);
        const auto offer = updatecheck::parse(response, running);
        QCOMPARE(offer.has_value(), offered);
        if (offer) {
            QCOMPARE(offer->version, version);
            QCOMPARE(offer->notes, notes);
        }
    }
};

VANTORA_TEST_MAIN(TestSystemUtils)
#include "tst_systemutils.moc"
