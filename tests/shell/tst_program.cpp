// The vantora program itself, run offscreen as a user would: its command
// line, what it prints without a display, and the demo run of scripts/run.sh
// stopping its directory only after vantora has logged off.
#include "shell/Settings.h"
#include "tests/support/DirectoryProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <array>

#include <csignal>
#include <unistd.h>

namespace {

QString vantoraPath() { return testenv::binDir() + QStringLiteral("/vantora"); }

// A free loopback port (nothing listens there once this returns).
quint16 freePort()
{
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

// A home of its own for one run of the program.
class Home
{
public:
    QTemporaryDir dir;
    QString path(const QString& name) const { return dir.filePath(name); }
    QString settingsPath() const { return path(QStringLiteral("config/Vantora/vantora.conf")); }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "VANTORA_SERVER", "VANTORA_GRAB"})
            env.remove(QString::fromLatin1(name));
        QDir().mkpath(path(QStringLiteral("run")));
        QFile::setPermissions(path(QStringLiteral("run")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QDir().mkpath(path(QStringLiteral("tmp")));
        env.insert(QStringLiteral("HOME"), dir.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_STATE_HOME"), path(QStringLiteral("state")));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), path(QStringLiteral("run")));
        env.insert(QStringLiteral("TMPDIR"), path(QStringLiteral("tmp")));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        return env;
    }

    // The values in the settings file before the program starts.
    bool store(const QList<std::array<QString, 3>>& values) const
    {
        Settings settings(settingsPath());
        for (const auto& v : values)
            settings.setValue(v[0], v[1], v[2]);
        return settings.flush();
    }
    QByteArray settingsText() const
    {
        QFile f(settingsPath());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

// The member's line of "vantora-directory list-members".
QString memberLine(const QString& db, const QString& name)
{
    QProcess list;
    list.start(DirectoryProcess::programPath(), {QStringLiteral("list-members"), QStringLiteral("--db"), db});
    if (!list.waitForFinished(30000))
        return {};
    for (const QString& line : QString::fromUtf8(list.readAllStandardOutput()).split(u'\n')) {
        if (line.startsWith(name + u'\t'))
            return line;
    }
    return {};
}

} // namespace

class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void badOptionsAreRefused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("port not a number")
            << QStringList{"--port", "web"} << "--port needs a number from 0 to 65535, not \"web\"";
        QTest::newRow("port too large")
            << QStringList{"--port=70000"} << "--port needs a number from 0 to 65535, not \"70000\"";
        QTest::newRow("port missing") << QStringList{"--port"} << "Missing value after '--port'.";
        QTest::newRow("server with a path") << QStringList{"--server", "example.org/x"}
                                            << "--server needs HOST or HOST:PORT, not \"example.org/x\"";
        QTest::newRow("server port zero")
            << QStringList{"--server", "example.org:0"} << "the port must be 1 to 65535";
        QTest::newRow("bare IPv6 server")
            << QStringList{"--server", "::1:4156"} << "write an IPv6 address in brackets";
        QTest::newRow("unknown option") << QStringList{"--colour"} << "Unknown option 'colour'.";
    }
    void badOptionsAreRefused()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        Home home;
        QProcess vantora;
        vantora.setProcessEnvironment(home.environment());
        vantora.start(vantoraPath(), args);
        QVERIFY2(vantora.waitForFinished(60000), qPrintable(vantora.errorString()));
        QCOMPARE(vantora.exitStatus(), QProcess::NormalExit);
        QCOMPARE(vantora.exitCode(), 2);
        const QString err = QString::fromLocal8Bit(vantora.readAllStandardError());
        QVERIFY2(err.startsWith(QLatin1String("vantora: ")) && err.contains(message), qPrintable(err));
        QVERIFY(!QFile::exists(home.settingsPath())); // nothing started, nothing written
    }

    // --port and --server hold for this run: vantora serves on that port and
    // logs on to that directory, writes neither into its settings, and logs
    // off when a signal ends it.
    void portAndServerForThisRun()
    {
        Home home;
        DirectoryProcess directory;
        QVERIFY2(directory.start(), directory.log().constData());
        QVERIFY(directory.addMember(QStringLiteral("demo"), QStringLiteral("vantora.example"),
                                    QStringLiteral("demo-pass")));
        QVERIFY(home.store({{"Streaming", "Username", "demo"},
                            {"Streaming", "Domain", "vantora.example"},
                            {"Streaming", "Password", "demo-pass"},
                            {"Streaming", "ListenAddress", "127.0.0.1"},
                            {"Options", "autocheck", "0"}}));
        const quint16 port = freePort();
        QVERIFY(port);
        QProcess vantora;
        vantora.setProcessEnvironment(home.environment());
        vantora.start(vantoraPath(), {QStringLiteral("--port"), QString::number(port),
                                      QStringLiteral("--server"), directory.hostPort()});
        QVERIFY(vantora.waitForStarted());
        const QString online = QStringLiteral("online 127.0.0.1:%1").arg(port);
        QTRY_VERIFY2_WITH_TIMEOUT(
            memberLine(directory.dbPath(), QStringLiteral("demo.vantora.example")).contains(online),
            vantora.readAllStandardError().constData(), 60000);
        QTcpSocket browser;
        browser.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(browser.waitForConnected(10000));
        browser.write("GET / HTTP/1.0\r\n\r\n");
        QByteArray answer;
        QTRY_VERIFY_WITH_TIMEOUT((answer += browser.readAll()).contains("\r\n\r\n"), 30000);
        QVERIFY2(answer.startsWith("HTTP/1.") && answer.contains(" 200 OK\r\n"), answer.left(80).constData());
        browser.abort();

        ::kill(pid_t(vantora.processId()), SIGTERM);
        QVERIFY(vantora.waitForFinished(60000));
        QCOMPARE(vantora.exitStatus(), QProcess::NormalExit);
        QCOMPARE(vantora.exitCode(), 0);
        QVERIFY(memberLine(directory.dbPath(), QStringLiteral("demo.vantora.example"))
                    .contains(QLatin1String("\toffline\t")));
        const QByteArray settings = home.settingsText();
        QVERIFY2(!settings.contains(QByteArray::number(port)), settings.constData());
        QVERIFY2(!settings.contains(directory.hostPort().toLatin1()), settings.constData());
    }

    // Offscreen nobody sees the error window: its messages go to stderr, one
    // clean line each.
    void errorWindowMessagesArePrinted()
    {
        Home home;
        QVERIFY(home.store(
            {{"Settings", "drivera", "99"}, {"Streaming", "Enable", "0"}, {"Options", "autocheck", "0"}}));
        QProcess vantora;
        vantora.setProcessEnvironment(home.environment());
        vantora.start(vantoraPath(), {});
        QVERIFY(vantora.waitForStarted());
        QByteArray err;
        const QByteArray line =
            "Vantora Error: Video Device Error: No capture driver number 99 Go to Camera Options";
        QTRY_VERIFY2_WITH_TIMEOUT((err += vantora.readAllStandardError()).contains(line), err.constData(),
                                  60000);
        ::kill(pid_t(vantora.processId()), SIGTERM);
        QVERIFY(vantora.waitForFinished(60000));
        QCOMPARE(vantora.exitCode(), 0);
        err += vantora.readAllStandardError();
        QVERIFY2(!err.contains('\r'), err.constData());
    }

    // A notification area that starts after vantora still gets the icon:
    // on a display of its own, the tray is taken only once the icon loaded.
    void trayStartedLaterGetsTheIcon()
    {
        const QString probe = testenv::binDir() + QStringLiteral("/tray_probe");
        const QString tray = testenv::binDir() + QStringLiteral("/fake_tray");
        if (!QFile::exists(probe) || !QFile::exists(tray))
            QSKIP("built without libxcb");
        QProcess xvfb;
        xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                            QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!xvfb.waitForStarted())
            QSKIP("Xvfb is not installed");
        QByteArray display;
        QTRY_VERIFY_WITH_TIMEOUT((display += xvfb.readAllStandardOutput()).endsWith('\n'), 30000);
        Home home;
        QProcessEnvironment env = home.environment();
        env.insert(QStringLiteral("DISPLAY"), u':' + QString::fromLatin1(display.trimmed()));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        QProcess vantoraTray;
        vantoraTray.setProcessEnvironment(env);
        vantoraTray.start(probe, {});
        QByteArray probeOut;
        QTRY_VERIFY_WITH_TIMEOUT((probeOut += vantoraTray.readAllStandardOutput()).contains('\n'), 30000);
        QCOMPARE(probeOut, QByteArray("loaded tray=0\n"));
        QProcess area;
        area.setProcessEnvironment(env);
        area.start(tray, {});
        QVERIFY(area.waitForFinished(30000));
        const QByteArray areaOut = area.readAllStandardOutput();
        vantoraTray.kill();
        vantoraTray.waitForFinished();
        xvfb.terminate();
        xvfb.waitForFinished();
        QCOMPARE(areaOut, QByteArray("tray\ndocked\n"));
    }

    // Ctrl-C in the terminal reaches the whole run; vantora logs off and the
    // directory, started by the script, answers before it stops.
    void demoRunLogsOffOnCtrlC()
    {
        Home home;
        QVERIFY(home.store({{"Streaming", "ListenAddress", "127.0.0.1"}, {"Options", "autocheck", "0"}}));
        const quint16 port = freePort();
        QVERIFY(port);
        QProcessEnvironment env = home.environment();
        env.insert(QStringLiteral("VANTORA_SKIP_BUILD"), QStringLiteral("1"));
        env.insert(QStringLiteral("BUILD_DIR"), QFileInfo(testenv::binDir()).absolutePath());
        env.insert(QStringLiteral("VANTORA_RUN_DIR"), home.path(QStringLiteral("demo")));
        QProcess run;
        run.setProcessEnvironment(env);
        // A process group of its own, as a terminal gives a command.
        run.setChildProcessModifier([] { ::setpgid(0, 0); });
        run.start(QStringLiteral("bash"), {QStringLiteral(VANTORA_SOURCE_DIR "/scripts/run.sh"),
                                           QStringLiteral("--port"), QString::number(port)});
        QVERIFY(run.waitForStarted());
        const QString db = home.path(QStringLiteral("demo/members.db"));
        QByteArray out;
        QTRY_VERIFY2_WITH_TIMEOUT(memberLine(db, QStringLiteral("demo.vantora.example"))
                                      .contains(QStringLiteral("online 127.0.0.1:%1").arg(port)),
                                  (out += run.readAll()).constData(), 60000);
        QVERIFY2(out.contains(QStringLiteral("Open http://127.0.0.1:%1/").arg(port).toLatin1()),
                 out.constData());
        ::kill(-pid_t(run.processId()), SIGINT);
        QVERIFY(run.waitForFinished(60000));
        out += run.readAll();
        QCOMPARE(run.exitCode(), 0);
        QVERIFY2(
            memberLine(db, QStringLiteral("demo.vantora.example")).contains(QLatin1String("\toffline\t")),
            out.constData());
    }
};

VANTORA_TEST_MAIN(TestProgram)
#include "tst_program.moc"
