// The settings store: case-insensitive addressing, typed values and their
// defaults, what survives a bad file, how the file is written, writes batched
// per action, and two copies of the program saving at the same time.
#include "shell/Settings.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <csignal>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(content), content.size());
}

QStringList setAside(const QString& path)
{
    return QFileInfo(path).dir().entryList({QFileInfo(path).fileName() + QStringLiteral(".corrupt-*")},
                                           QDir::AllEntries | QDir::System | QDir::Hidden);
}

} // namespace

class TestSettings : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_n = 0;
    QString m_path;

private slots:
    void init()
    {
        m_path = m_dir.path() + QStringLiteral("/case%1/vantora.conf").arg(++m_n);
        setSettingsPath(m_path);
    }

    void keysAndSectionsIgnoreCase()
    {
        Settings::instance().setValue(QStringLiteral("Captions"), QStringLiteral("index"),
                                      QStringLiteral("3"));
        QCOMPARE(Settings::instance().get(setting::LabelCount), 3);
        QCOMPARE(GetSetting(QStringLiteral("Captions"), QStringLiteral("Index"), QStringLiteral("0")),
                 QStringLiteral("3"));
        QCOMPARE(GetSetting(QStringLiteral("CAPTIONS"), QStringLiteral("INDEX")), QStringLiteral("3"));
        // Writing with another spelling replaces the value, and the first spelling stays in the file.
        SaveSetting(QStringLiteral("captions"), QStringLiteral("Index"), QStringLiteral("4"));
        setSettingsPath(m_path);
        QCOMPARE(GetSetting(QStringLiteral("Captions"), QStringLiteral("index")), QStringLiteral("4"));
        QFile f(m_path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        QVERIFY(text.contains("[Captions]"));
        QVERIFY(text.contains("index=4"));
        QVERIFY(!text.contains("Index="));
    }

    void missingKeysGiveTheDefault()
    {
        const Settings& s = Settings::instance();
        QCOMPARE(s.get(setting::Port), 2156);
        QCOMPARE(s.get(setting::UserName), QString());
        QCOMPARE(s.get(setting::Domain, QStringLiteral("vantora.example")),
                 QStringLiteral("vantora.example"));
        QCOMPARE(s.get(setting::StreamingEnabled), 1);
        QCOMPARE(s.get(setting::ShowCameraErrors), true);
        QCOMPARE(s.get(setting::JpegQuality), 20);
        QCOMPARE(s.get(setting::LabelCount), 0);
        QCOMPARE(s.value(QStringLiteral("Captions"), QStringLiteral("1caption"), QStringLiteral("none")),
                 QStringLiteral("none"));
        QVERIFY(!QFile::exists(m_path)); // reading never creates the store
    }

    // Typed values are stored in the forms existing files hold, under the
    // sections and keys they always had.
    void typedValuesKeepTheStoredForm()
    {
        Settings& s = Settings::instance();
        s.setAccount({QStringLiteral("alice"), QStringLiteral("vantora.example"), QStringLiteral("pw=1")});
        s.set(setting::StreamingEnabled, 0);
        s.set(setting::ConnectionsWindowVisible, true);
        s.set(setting::LabelCount, 3);
        s.set(setting::RunningVersion, QStringLiteral("1.01"));
        QVERIFY(s.flush());
        QFile f(m_path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(),
                 QByteArray("[Streaming]\nUsername=alice\nPassword=pw=1\nDomain=vantora.example\n"
                            "Enable=0\n\n[Active Connections]\nWindowVisible=True\n\n"
                            "[Captions]\nindex=3\n\n[AutoUpdate]\nversion=1.01\n\n"));
        setSettingsPath(m_path);
        const StreamingAccount account = Settings::instance().account();
        QCOMPARE(account.name(), QStringLiteral("alice.vantora.example"));
        QCOMPARE(account.password, QStringLiteral("pw=1"));
        QCOMPARE(Settings::instance().get(setting::StreamingEnabled), 0);
        QCOMPARE(Settings::instance().get(setting::ConnectionsWindowVisible), true);
    }

    void changesAreSignalledOnce()
    {
        Settings& s = Settings::instance();
        QSignalSpy spy(&s, &Settings::changed);
        s.set(setting::JpegQuality, 50);
        s.set(setting::JpegQuality, 50); // no change, no signal
        s.setValue(QStringLiteral("JPEG"), QStringLiteral("QUALITY"), QStringLiteral("60"));
        QCOMPARE(spy.size(), 2);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("JPEG"));
        QCOMPARE(spy.at(0).at(1).toString(), QStringLiteral("Quality"));
        QCOMPARE(s.get(setting::JpegQuality), 60);
    }

    // An action that changes many values (the label window closing with 20
    // labels sets 161) writes the file once, when control returns to the
    // event loop; readers see every value at once.
    void manyChangesWriteOnce()
    {
        Settings& s = Settings::instance();
        s.set(setting::LabelCount, 20);
        for (int n = 1; n <= 20; ++n)
            for (const char* field :
                 {"caption", "color", "font", "fontsize", "fontbold", "fontitalic", "x", "y"})
                s.setValue(QStringLiteral("Captions"), QString::number(n) + QLatin1String(field),
                           QStringLiteral("v%1").arg(n));
        QCOMPARE(s.value(QStringLiteral("Captions"), QStringLiteral("20y")), QStringLiteral("v20"));
        QCOMPARE(s.writeCount(), 0);
        QVERIFY(!QFile::exists(m_path));
        QTRY_COMPARE(s.writeCount(), 1);
        QVERIFY(!s.hasPendingWrites());
        setSettingsPath(m_path);
        QCOMPARE(Settings::instance().value(QStringLiteral("Captions"), QStringLiteral("20y")),
                 QStringLiteral("v20"));
        QCOMPARE(Settings::instance().get(setting::LabelCount), 20);
    }

    // Without an event loop in between: a batch writes once when it ends, an
    // explicit flush writes at once, and the store writes what is left when it
    // goes away.
    void writesOutsideTheEventLoop()
    {
        {
            Settings s(m_path);
            {
                SettingsBatch batch(s);
                for (int i = 0; i < 50; ++i)
                    s.setValue(QStringLiteral("Batch"), QString::number(i), QStringLiteral("x"));
                {
                    SettingsBatch inner(s);
                    s.set(setting::Port, 8080);
                }
                QCOMPARE(s.writeCount(), 0); // the outer batch still holds it
            }
            QCOMPARE(s.writeCount(), 1);
            s.set(setting::JpegQuality, 70);
            QVERIFY(s.hasPendingWrites());
            QVERIFY(s.flush());
            QCOMPARE(s.writeCount(), 2);
            QVERIFY(s.flush()); // nothing pending: no write
            QCOMPARE(s.writeCount(), 2);
            s.set(setting::FrameSizeCode, 4);
        }
        const Settings later(m_path);
        QCOMPARE(later.get(setting::Port), 8080);
        QCOMPARE(later.get(setting::JpegQuality), 70);
        QCOMPARE(later.get(setting::FrameSizeCode), 4);
        QCOMPARE(later.value(QStringLiteral("Batch"), QStringLiteral("49")), QStringLiteral("x"));
    }

    void storedFormsReadBack_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<int>("asInt");
        QTest::addColumn<bool>("asBool");
        QTest::newRow("Enable 0") << "0" << 0 << false;
        QTest::newRow("Enable 1") << "1" << 1 << true;
        QTest::newRow("True") << "True" << 7 << true;
        QTest::newRow("False") << "False" << 7 << false;
        QTest::newRow("not a number") << "abc" << 7 << true;
        QTest::newRow("spaces") << " 2156 " << 2156 << true;
    }
    void storedFormsReadBack()
    {
        QFETCH(QString, stored);
        QFETCH(int, asInt);
        QFETCH(bool, asBool);
        SaveSetting(QStringLiteral("S"), QStringLiteral("k"), stored);
        setSettingsPath(m_path); // as at the next start
        QCOMPARE(GetSetting(QStringLiteral("S"), QStringLiteral("k")), stored);
        QCOMPARE(settingInt(QStringLiteral("S"), QStringLiteral("k"), 7), asInt);
        QCOMPARE(settingBool(QStringLiteral("S"), QStringLiteral("k"), true), asBool);
    }

    void awkwardTextsRoundTrip_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("newlines") << "Captions"
                                  << "caption0"
                                  << "line one\nline two\r\n";
        QTest::newRow("equals") << "Streaming"
                                << "Password"
                                << "a=b==c";
        QTest::newRow("bracket") << "Captions"
                                 << "caption1"
                                 << "[not a section]";
        QTest::newRow("key with =") << "Odd"
                                    << "a=b"
                                    << "v";
        QTest::newRow("key with [") << "Odd"
                                    << "[k"
                                    << "v";
        QTest::newRow("section with ]") << "S]x"
                                        << "k"
                                        << "v";
        QTest::newRow("backslashes") << "Paths"
                                     << "dir"
                                     << "C:\\temp\\n";
        QTest::newRow("unicode") << "Captions"
                                 << "caption2" << QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac");
        QTest::newRow("empty") << "Streaming"
                               << "Username"
                               << "";
    }
    void awkwardTextsRoundTrip()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        SaveSetting(section, key, value);
        SaveSetting(QStringLiteral("After"), QStringLiteral("k"), QStringLiteral("still here"));
        setSettingsPath(m_path);
        QVERIFY(!settingsStore().wasCorrupt());
        QCOMPARE(GetSetting(section, key, QStringLiteral("default")), value);
        QCOMPARE(GetSetting(QStringLiteral("After"), QStringLiteral("k")), QStringLiteral("still here"));
    }

    void badFileYieldsDefaultsAndIsKept_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("binary") << QByteArray("\x00\x01\x02\xff\xfe garbage", 14);
        QTest::newRow("not utf-8") << QByteArray("[Streaming]\nEnable=\xff\xfe\n");
        QTest::newRow("line outside a section") << QByteArray("Enable=0\n");
        QTest::newRow("unclosed section") << QByteArray("[Streaming\nEnable=0\n");
        QTest::newRow("bad escape") << QByteArray("[Streaming]\nEnable=\\q\n");
        // Over the 1 MiB bound: refused without reading it whole.
        QTest::newRow("too large") << "[Streaming]\nEnable=0\n" + QByteArray(1024 * 1024, '#');
    }
    void badFileYieldsDefaultsAndIsKept()
    {
        QFETCH(QByteArray, content);
        writeFile(m_path, content);
        setSettingsPath(m_path);
        QVERIFY(settingsStore().wasCorrupt());
        QVERIFY(!settingsStore().lastError().isEmpty());
        QCOMPARE(Settings::instance().get(setting::StreamingEnabled), 1);
        // The first save sets the bad file aside instead of overwriting it.
        Settings::instance().set(setting::RunningVersion, QStringLiteral("1.01"));
        QVERIFY(Settings::instance().flush());
        const QStringList aside = setAside(m_path);
        QCOMPARE(aside.size(), 1);
        QFile kept(QFileInfo(m_path).dir().filePath(aside.first()));
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), content);
        setSettingsPath(m_path);
        QVERIFY(!settingsStore().wasCorrupt());
        QCOMPARE(GetSetting(QStringLiteral("AutoUpdate"), QStringLiteral("version")), QStringLiteral("1.01"));
    }

    void unreadableFileYieldsDefaults()
    {
        Settings::instance().set(setting::StreamingEnabled, 0);
        QVERIFY(Settings::instance().flush());
        QFile::setPermissions(m_path, QFileDevice::Permissions());
        {
            const testenv::PermissionsEnforced asAnyUser;
            setSettingsPath(m_path);
        }
        QVERIFY(settingsStore().wasCorrupt());
        QCOMPARE(Settings::instance().get(setting::StreamingEnabled), 1);
        QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    // Something other than a regular file where the settings file belongs:
    // start-up must not block on it (a FIFO would wait for a writer for ever),
    // it reads as unreadable and is set aside at the first save.
    void notARegularFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("fifo") << "fifo";
        QTest::newRow("folder") << "folder";
    }
    void notARegularFile()
    {
        QFETCH(QString, kind);
        QDir().mkpath(QFileInfo(m_path).absolutePath());
        if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(QFile::encodeName(m_path).constData(), 0600), 0);
        else
            QVERIFY(QDir().mkpath(m_path));
        setSettingsPath(m_path);
        QVERIFY(settingsStore().wasCorrupt());
        QCOMPARE(settingsStore().lastError(), QStringLiteral("not a regular file"));
        QCOMPARE(Settings::instance().get(setting::Port), 2156);
        Settings::instance().set(setting::UserName, QStringLiteral("alice"));
        QVERIFY(Settings::instance().flush());
        QCOMPARE(setAside(m_path).size(), 1);
        QVERIFY(QFileInfo(m_path).isFile());
        setSettingsPath(m_path);
        QVERIFY(!settingsStore().wasCorrupt());
        QCOMPARE(Settings::instance().get(setting::UserName), QStringLiteral("alice"));
    }

    void twoCopiesDoNotLoseEachOthersValues()
    {
        Settings first(m_path);
        Settings second(m_path);
        first.setValue(QStringLiteral("Streaming"), QStringLiteral("Username"), QStringLiteral("alice"));
        QVERIFY(first.flush());
        second.setValue(QStringLiteral("Streaming"), QStringLiteral("Enable"), QStringLiteral("0"));
        QVERIFY(second.flush());
        first.setValue(QStringLiteral("Options"), QStringLiteral("autocheck"), QStringLiteral("0"));
        QVERIFY(first.flush());
        const Settings later(m_path);
        QCOMPARE(later.value(QStringLiteral("Streaming"), QStringLiteral("Username"), {}),
                 QStringLiteral("alice"));
        QCOMPARE(later.value(QStringLiteral("Streaming"), QStringLiteral("Enable"), {}), QStringLiteral("0"));
        QCOMPARE(later.value(QStringLiteral("Options"), QStringLiteral("autocheck"), {}),
                 QStringLiteral("0"));
    }

    // Two processes saving at the same time, each value written on its own:
    // the lock around read, change and replace keeps every value.
    void twoProcessesSavingAtOnceKeepEveryValue()
    {
        const QString writer = QCoreApplication::applicationDirPath() + QStringLiteral("/settings_writer");
        QProcess a, b;
        a.start(writer, {m_path, QStringLiteral("a"), QStringLiteral("100")});
        b.start(writer, {m_path, QStringLiteral("b"), QStringLiteral("100")});
        for (QProcess* p : {&a, &b}) {
            QVERIFY2(p->waitForFinished(120000), qPrintable(p->errorString()));
            QCOMPARE(p->exitStatus(), QProcess::NormalExit);
            QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
        }
        const Settings later(m_path);
        QVERIFY(!later.wasCorrupt());
        for (const char* prefix : {"a", "b"})
            for (int i = 0; i < 100; ++i)
                QCOMPARE(later.value(QStringLiteral("Race"), QLatin1String(prefix) + QString::number(i)),
                         QString::number(i));
    }

    void fileIsPrivate()
    {
        SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Password"), QStringLiteral("secret"));
        QVERIFY(Settings::instance().flush());
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(m_path).constData(), &st) == 0);
        QCOMPARE(int(st.st_mode & 0777), 0600);
        const auto perms = QFileInfo(m_path).permissions();
        QVERIFY(perms.testFlag(QFileDevice::ReadOwner));
        QVERIFY(perms.testFlag(QFileDevice::WriteOwner));
        QVERIFY(!perms.testFlag(QFileDevice::ReadGroup));
        QVERIFY(!perms.testFlag(QFileDevice::ReadOther));
    }

    void failedWriteKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::newRow("folder not writable") << "readonly";
        QTest::newRow("disk full") << "full";
    }
    void failedWriteKeepsTheOldFile()
    {
        QFETCH(QString, cause);
        SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Username"), QStringLiteral("alice"));
        QVERIFY(Settings::instance().flush());
        QFile before(m_path);
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray old = before.readAll();
        before.close();
        const QString dir = QFileInfo(m_path).absolutePath();

        QString value = QStringLiteral("bob");
        struct rlimit saved;
        ::getrlimit(RLIMIT_FSIZE, &saved);
        std::optional<testenv::PermissionsEnforced> asAnyUser;
        if (cause == QLatin1String("readonly")) {
            asAnyUser.emplace();
            QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        } else {
            // A file size limit fails the write half-way, as a full disk does.
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit small = saved;
            small.rlim_cur = 4096;
            ::setrlimit(RLIMIT_FSIZE, &small);
            value = QString(20000, u'x');
        }
        QSignalSpy failures(&Settings::instance(), &Settings::writeFailed);
        settingsStore().setValue(QStringLiteral("Streaming"), QStringLiteral("Username"), value);
        const bool written = settingsStore().flush();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        asAnyUser.reset();
        QCOMPARE(failures.size(), 1);
        QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(!written);
        // The running program still sees the new value...
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Username")), value);
        // ...and the file is whole and old, with no leftovers beside it.
        QFile after(m_path);
        QVERIFY(after.open(QIODevice::ReadOnly));
        QCOMPARE(after.readAll(), old);
        QCOMPARE(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 1);
        after.close();

        // The next save that succeeds writes the value that could not be written.
        settingsStore().setValue(QStringLiteral("Streaming"), QStringLiteral("Enable"), QStringLiteral("0"));
        QVERIFY(settingsStore().flush());
        setSettingsPath(m_path);
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Username")), value);
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Enable")), QStringLiteral("0"));
    }
};

VANTORA_TEST_MAIN(TestSettings)
#include "tst_settings.moc"
