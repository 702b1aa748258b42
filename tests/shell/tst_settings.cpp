// The settings store: case-insensitive addressing, defaults, what survives a
// bad file, and how the file is written.
#include "shell/Settings.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
        SaveSetting(QStringLiteral("Captions"), QStringLiteral("index"), QStringLiteral("3"));
        QCOMPARE(GetSetting(QStringLiteral("Captions"), QStringLiteral("Index"), QStringLiteral("0")), QStringLiteral("3"));
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
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Port"), QStringLiteral("2156")), QStringLiteral("2156"));
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Username")), QString());
        QCOMPARE(settingInt(QStringLiteral("Streaming"), QStringLiteral("Enable"), 1), 1);
        QCOMPARE(settingBool(QStringLiteral("Settings"), QStringLiteral("ShowCamError"), true), true);
        QVERIFY(!QFile::exists(m_path)); // reading never creates the store
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
        QTest::newRow("newlines") << "Captions" << "caption0" << "line one\nline two\r\n";
        QTest::newRow("equals") << "Streaming" << "Password" << "a=b==c";
        QTest::newRow("bracket") << "Captions" << "caption1" << "[not a section]";
        QTest::newRow("key with =") << "Odd" << "a=b" << "v";
        QTest::newRow("key with [") << "Odd" << "[k" << "v";
        QTest::newRow("section with ]") << "S]x" << "k" << "v";
        QTest::newRow("backslashes") << "Paths" << "dir" << "C:\\temp\\n";
        QTest::newRow("unicode") << "Captions" << "caption2" << QString::fromUtf8("caf\xc3\xa9 \xe2\x82\xac");
        QTest::newRow("empty") << "Streaming" << "Username" << "";
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
    }
    void badFileYieldsDefaultsAndIsKept()
    {
        QFETCH(QByteArray, content);
        QDir().mkpath(QFileInfo(m_path).absolutePath());
        {
            QFile f(m_path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        setSettingsPath(m_path);
        QVERIFY(settingsStore().wasCorrupt());
        QCOMPARE(settingInt(QStringLiteral("Streaming"), QStringLiteral("Enable"), 1), 1);
        // The first save sets the bad file aside instead of overwriting it.
        SaveSetting(QStringLiteral("AutoUpdate"), QStringLiteral("version"), QStringLiteral("1.01"));
        const QStringList aside = QFileInfo(m_path).dir().entryList({QStringLiteral("vantora.conf.corrupt-*")});
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
        if (::geteuid() == 0)
            QSKIP("root reads every file");
        SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Enable"), QStringLiteral("0"));
        QFile::setPermissions(m_path, QFileDevice::Permissions());
        setSettingsPath(m_path);
        QVERIFY(settingsStore().wasCorrupt());
        QCOMPARE(settingInt(QStringLiteral("Streaming"), QStringLiteral("Enable"), 1), 1);
        QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }

    void twoCopiesDoNotLoseEachOthersValues()
    {
        SettingsStore first(m_path);
        SettingsStore second(m_path);
        QVERIFY(first.setValue(QStringLiteral("Streaming"), QStringLiteral("Username"), QStringLiteral("alice")));
        QVERIFY(second.setValue(QStringLiteral("Streaming"), QStringLiteral("Enable"), QStringLiteral("0")));
        QVERIFY(first.setValue(QStringLiteral("Options"), QStringLiteral("autocheck"), QStringLiteral("0")));
        const SettingsStore later(m_path);
        QCOMPARE(later.value(QStringLiteral("Streaming"), QStringLiteral("Username"), {}), QStringLiteral("alice"));
        QCOMPARE(later.value(QStringLiteral("Streaming"), QStringLiteral("Enable"), {}), QStringLiteral("0"));
        QCOMPARE(later.value(QStringLiteral("Options"), QStringLiteral("autocheck"), {}), QStringLiteral("0"));
    }

    void fileIsPrivate()
    {
        SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Password"), QStringLiteral("secret"));
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
        QFile before(m_path);
        QVERIFY(before.open(QIODevice::ReadOnly));
        const QByteArray old = before.readAll();
        before.close();
        const QString dir = QFileInfo(m_path).absolutePath();

        QString value = QStringLiteral("bob");
        struct rlimit saved;
        ::getrlimit(RLIMIT_FSIZE, &saved);
        if (cause == QLatin1String("readonly")) {
            if (::geteuid() == 0)
                QSKIP("root writes into read-only folders");
            QFile::setPermissions(dir, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        } else {
            // A file size limit fails the write half-way, as a full disk does.
            std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit small = saved;
            small.rlim_cur = 4096;
            ::setrlimit(RLIMIT_FSIZE, &small);
            value = QString(20000, u'x');
        }
        const bool written = settingsStore().setValue(QStringLiteral("Streaming"), QStringLiteral("Username"), value);
        ::setrlimit(RLIMIT_FSIZE, &saved);
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
        QVERIFY(settingsStore().setValue(QStringLiteral("Streaming"), QStringLiteral("Enable"), QStringLiteral("0")));
        setSettingsPath(m_path);
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Username")), value);
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Enable")), QStringLiteral("0"));
    }
};

VANTORA_TEST_MAIN(TestSettings)
#include "tst_settings.moc"
