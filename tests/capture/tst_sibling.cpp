// Finding the other program: beside this one, then the install folder, then PATH.

#include "capture/SiblingProgram.h"
#include "tests/support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace {
const char* const program = "reelsmith";
}

class TestSibling : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QByteArray m_savedPath;

    QString folder(const QString& which) const { return m_root.path() + u'/' + which; }

    // "own:x" an executable, "own:-" a plain file that is not executable,
    // "own:d" a folder of that name, "own:l" a link to nowhere.
    void place(const QString& what)
    {
        const QStringList parts = what.split(u':');
        const QString path = folder(parts[0]) + u'/' + QLatin1String(program);
        const QString kind = parts[1];
        if (kind == QLatin1String("d")) {
            QVERIFY(QDir().mkpath(path));
        } else if (kind == QLatin1String("l")) {
            QVERIFY(QFile::link(folder(parts[0]) + QLatin1String("/gone"), path));
        } else {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("#!/bin/sh\nexit 0\n");
            file.close();
            QFileDevice::Permissions perms = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
            if (kind == QLatin1String("x"))
                perms |= QFileDevice::ExeOwner;
            QVERIFY(file.setPermissions(perms));
        }
    }

private slots:
    void initTestCase() { m_savedPath = qgetenv("PATH"); }

    void init()
    {
        for (const char* sub : {"own", "install", "path"}) {
            QDir(folder(QLatin1String(sub))).removeRecursively();
            QVERIFY(QDir().mkpath(folder(QLatin1String(sub))));
        }
        qputenv("PATH", folder(QStringLiteral("path")).toLocal8Bit());
    }

    void cleanupTestCase() { qputenv("PATH", m_savedPath); }

    void findsTheFirstUsableProgram_data()
    {
        QTest::addColumn<QStringList>("placed");
        QTest::addColumn<QString>("expected"); // the folder it is found in; empty: not found

        QTest::newRow("beside this program") << QStringList{"own:x"} << "own";
        QTest::newRow("beside wins over the install folder") << QStringList{"own:x", "install:x"} << "own";
        QTest::newRow("install folder") << QStringList{"install:x"} << "install";
        QTest::newRow("install folder wins over PATH") << QStringList{"install:x", "path:x"} << "install";
        QTest::newRow("PATH last") << QStringList{"path:x"} << "path";
        QTest::newRow("not executable is passed over") << QStringList{"own:-", "install:x"} << "install";
        QTest::newRow("a folder of that name is passed over") << QStringList{"own:d", "path:x"} << "path";
        QTest::newRow("a dangling link is passed over") << QStringList{"own:l", "install:x"} << "install";
        QTest::newRow("nowhere") << QStringList{} << "";
        QTest::newRow("only unusable ones") << QStringList{"own:-", "install:d", "path:-"} << "";
    }
    void findsTheFirstUsableProgram()
    {
        QFETCH(QStringList, placed);
        QFETCH(QString, expected);
        for (const QString& p : placed)
            place(p);
        const QString found = findSiblingProgram(QLatin1String(program), {folder("own"), folder("install")});
        QCOMPARE(found, expected.isEmpty() ? QString() : folder(expected) + u'/' + QLatin1String(program));
    }

    void emptyFolderEntriesAreSkipped()
    {
        // An empty entry must not mean the current folder.
        place(QStringLiteral("path:x"));
        QVERIFY(QDir::setCurrent(folder(QStringLiteral("own"))));
        place(QStringLiteral("own:x"));
        QCOMPARE(findSiblingProgram(QLatin1String(program), {QString()}),
                 folder(QStringLiteral("path")) + QLatin1String("/reelsmith"));
        QVERIFY(QDir::setCurrent(m_root.path()));
    }

    void namesWithAFolderAreRefused_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("relative") << "../path/reelsmith";
        QTest::newRow("absolute") << folder(QStringLiteral("path")) + QLatin1String("/reelsmith");
        QTest::newRow("dot") << ".";
        QTest::newRow("dot dot") << "..";
        QTest::newRow("empty") << "";
    }
    void namesWithAFolderAreRefused()
    {
        QFETCH(QString, name);
        place(QStringLiteral("path:x"));
        QCOMPARE(findSiblingProgram(name, {folder(QStringLiteral("own"))}), QString());
    }

    void ownFolderComesFirst()
    {
        const QStringList folders = siblingProgramFolders();
        QVERIFY(!folders.isEmpty());
        QCOMPARE(folders.first(), QCoreApplication::applicationDirPath());
        QStringList unique = folders;
        QCOMPARE(unique.removeDuplicates(), qsizetype(0));
    }
};

VANTORA_TEST_MAIN(TestSibling)
#include "tst_sibling.moc"
