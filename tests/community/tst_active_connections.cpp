// The active connections window with the real engine serving real loopback
// connections: one line per connection, closing one removes one, the View
// menu entry, the stored place across a restart, and the route trace run
// through a terminal found on the search path.

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include "capture/Prompt.h"
#include "community/CommunityWindows.h"
#include "community/ConnectionsWindow.h"
#include "server/ClientConnection.h"
#include "server/StreamingEngine.h"
#include "shell/Globals.h"
#include "shell/MainWindow.h"
#include "shell/OnlineController.h"
#include "shell/Settings.h"
#include "shell/WindowRegistry.h"
#include "tests/support/DirectoryProcess.h"
#include "tests/support/TestEnvironment.h"

namespace {
const QString kSection = QStringLiteral("Active Connections");
const QString kLocal = QStringLiteral("127.0.0.1");
const QString kOther = QStringLiteral("127.0.0.2"); // another address, still loopback

bool writeScript(const QString& path, const QByteArray& text)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write(text);
    f.close();
    return f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}
} // namespace

class TestActiveConnections : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void oneLinePerConnection();
    void viewMenuOpensAndCloses();
    void placeSurvivesARestart();
    void maximisedKeepsTheStoredPlace();
    void traceRunsInTheTerminal();
    void traceWithoutTools_data();
    void traceWithoutTools();

private:
    ClientConnection* connectFrom(QTcpSocket& browser, const QString& from);
    StreamingEngine* engine() const
    {
        return static_cast<StreamingEngine*>(m_main->onlineController()->session());
    }
    DirectoryProcess m_dir;
    MainWindow* m_main = nullptr;
    QTemporaryDir m_tools;
    QByteArray m_path;
    int m_settingsNo = 0;
};

void TestActiveConnections::initTestCase()
{
    QVERIFY2(m_dir.start(), m_dir.log().constData());
    QVERIFY(m_dir.addMember(QStringLiteral("demo"), QStringLiteral("vantora.example"),
                            QStringLiteral("secret1")));
    qputenv("VANTORA_SERVER", m_dir.hostPort().toLatin1());
    StreamingEngine::setListenAddress(QHostAddress::LocalHost);
    StreamingEngine::registerFactory();
    registerCommunityWindows();
    m_main = buildMainWindow();
    QVERIFY(m_main);
    m_path = qgetenv("PATH");
}

void TestActiveConnections::init()
{
    resetGlobals();
    setSettingsPath(testenv::root() + QStringLiteral("/connections-%1.ini").arg(++m_settingsNo));
    MessageBox::clearHistory();
}

void TestActiveConnections::cleanup()
{
    windows::unloadActiveConnections();
    if (m_main->onlineSwitch->isChecked())
        m_main->onlineSwitch->setChecked(false);
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->onlineController()->session(), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(ClientConnection::liveCount(), 0, 40000);
    qputenv("PATH", m_path);
}

// Connects from `from` and returns the handler once it has announced its peer
// (without waiting the 750 ms for the sweep that would announce it).
ClientConnection* TestActiveConnections::connectFrom(QTcpSocket& browser, const QString& from)
{
    QSignalSpy created(engine(), &StreamingEngine::handlerCreated);
    if (!browser.bind(QHostAddress(from)))
        return nullptr;
    browser.connectToHost(QHostAddress::LocalHost, engine()->listenPort());
    if (!QTest::qWaitFor([&] { return created.size() == 1; }, 10000))
        return nullptr;
    auto* handler = created.first().first().value<ClientConnection*>();
    handler->onAnnouncePeer(); // what the sweep does 750 ms after the accept

    return handler;
}

void TestActiveConnections::oneLinePerConnection()
{
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Domain"), QStringLiteral("vantora.example"));
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Port"), QStringLiteral("0"));
    m_main->userNameEdit->setText(QStringLiteral("demo"));
    m_main->passwordEdit->setText(QStringLiteral("secret1"));
    m_main->onlineSwitch->setChecked(true);
    QVERIFY(engine() && engine()->listening());
    // The reachability check connects too; let it come and go before counting.
    QTRY_VERIFY_WITH_TIMEOUT(globals().LoggedIn && engine()->relogonTimer.isActive(), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(ClientConnection::liveCount(), 0, 30000);

    // Connected before the window opened: never listed, its end removes nothing.
    QTcpSocket early;
    QPointer<ClientConnection> earlyHandler = connectFrom(early, kOther);
    QVERIFY(earlyHandler);
    QVERIFY(!globals().ActiveConnectionsOpen);

    windows::showActiveConnections(m_main);
    QVERIFY(globals().ActiveConnectionsOpen);
    ConnectionsWindow* w = ConnectionsWindow::instance();
    QVERIFY(w);
    QCOMPARE(w->listWidget()->count(), 0);

    QTcpSocket first, second, third;
    QPointer<ClientConnection> h1 = connectFrom(first, kLocal);
    QPointer<ClientConnection> h2 = connectFrom(second, kLocal);
    QPointer<ClientConnection> h3 = connectFrom(third, kOther);
    QVERIFY(h1 && h2 && h3);
    const QStringList three{kLocal, kLocal, kOther};
    QCOMPARE(w->list().lines(), three);
    QCOMPARE(w->listWidget()->count(), 3);
    for (int i = 0; i < 3; ++i)
        QCOMPARE(w->listWidget()->item(i)->text(), three.at(i));

    early.disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(earlyHandler.isNull(), 30000);
    QCOMPARE(w->list().lines(), three);

    second.disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(h2.isNull(), 30000);
    QCOMPARE(w->list().lines(), (QStringList{kLocal, kOther}));
    QCOMPARE(w->listWidget()->count(), 2);

    third.disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(h3.isNull(), 30000);
    QCOMPARE(w->list().lines(), QStringList{kLocal});
    QCOMPARE(w->listWidget()->item(0)->text(), kLocal);

    // A new opening starts empty.
    windows::unloadActiveConnections();
    QVERIFY(!globals().ActiveConnectionsOpen);
    windows::showActiveConnections(m_main);
    QCOMPARE(ConnectionsWindow::instance()->listWidget()->count(), 0);
    first.disconnectFromHost();
    QTRY_VERIFY_WITH_TIMEOUT(h1.isNull(), 30000);
}

void TestActiveConnections::viewMenuOpensAndCloses()
{
    QAction* entry = m_main->activeConnectionsAction;
    QVERIFY(!ConnectionsWindow::instance());
    entry->trigger();
    ConnectionsWindow* w = ConnectionsWindow::instance();
    QVERIFY(w && w->isVisible());
    QVERIFY(entry->isChecked());
    QCOMPARE(w->windowTitle(), QStringLiteral("Active Connections"));
    QCOMPARE(w->findChild<QGroupBox*>()->title(), QStringLiteral("Connected users"));
    QVERIFY(windows::activeConnectionsVisible());

    entry->trigger();
    QVERIFY(!ConnectionsWindow::instance());
    QVERIFY(!entry->isChecked());
    QVERIFY(!globals().ActiveConnectionsOpen);

    // Closed from its title bar: the entry loses its mark too.
    entry->trigger();
    QPointer<ConnectionsWindow> again = ConnectionsWindow::instance();
    QVERIFY(again && entry->isChecked());
    again->close();
    QVERIFY(!entry->isChecked());
    QVERIFY(!windows::activeConnectionsVisible());
    QTRY_VERIFY(again.isNull());
}

void TestActiveConnections::placeSurvivesARestart()
{
    windows::showActiveConnections(m_main);
    ConnectionsWindow* w = ConnectionsWindow::instance();
    // First opening: 2220 x 3600 twips, centred on the screen.
    QCOMPARE(w->geometry().size(), QSize(148, 240));
    const QRect screen = w->screen()->availableGeometry();
    QCOMPARE(w->geometry().center().x() / 4, screen.center().x() / 4);
    QCOMPARE(w->geometry().center().y() / 4, screen.center().y() / 4);

    const QRect placed(60, 80, 320, 260);
    w->setGeometry(placed);
    windows::unloadActiveConnections();

    // What a restart reads: the file as written.
    const QString file = settingsStore().path();
    QVERIFY(settingsStore().flush());
    Settings onDisk(file);
    QCOMPARE(onDisk.value(kSection, QStringLiteral("WindowLeft"), {}), QStringLiteral("900"));
    QCOMPARE(onDisk.value(kSection, QStringLiteral("WindowTop"), {}), QStringLiteral("1200"));
    QCOMPARE(onDisk.value(kSection, QStringLiteral("WindowWidth"), {}), QStringLiteral("4800"));
    QCOMPARE(onDisk.value(kSection, QStringLiteral("WindowHeight"), {}), QStringLiteral("3900"));
    setSettingsPath(file);
    windows::showActiveConnections(m_main);
    QCOMPARE(ConnectionsWindow::instance()->geometry(), placed);
}

void TestActiveConnections::maximisedKeepsTheStoredPlace()
{
    const QRect placed(30, 40, 200, 300);
    windows::showActiveConnections(m_main);
    ConnectionsWindow::instance()->setGeometry(placed);
    windows::unloadActiveConnections();
    windows::showActiveConnections(m_main);
    ConnectionsWindow* w = ConnectionsWindow::instance();
    w->showMaximized();
    QVERIFY(w->isMaximized());
    windows::unloadActiveConnections();
    QCOMPARE(GetSetting(kSection, QStringLiteral("WindowWidth")), QStringLiteral("3000"));
    QCOMPARE(GetSetting(kSection, QStringLiteral("WindowHeight")), QStringLiteral("4500"));
    QCOMPARE(GetSetting(kSection, QStringLiteral("WindowLeft")), QStringLiteral("450"));
}

void TestActiveConnections::traceRunsInTheTerminal()
{
    // A terminal that runs what it is given, and a trace program that notes its target.
    QTemporaryDir tools;
    const QString traced = tools.filePath(QStringLiteral("traced.txt"));
    QVERIFY(writeScript(tools.filePath(QStringLiteral("x-terminal-emulator")),
                        "#!/bin/sh\n[ \"$1\" = -e ] && shift\nexec \"$@\" </dev/null >/dev/null\n"));
    QVERIFY(writeScript(tools.filePath(QStringLiteral("traceroute")),
                        "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + traced.toLocal8Bit() + ".part'\nmv '" +
                            traced.toLocal8Bit() + ".part' '" + traced.toLocal8Bit() + "'\n"));
    qputenv("PATH", tools.path().toLocal8Bit() + ':' + m_path);
    const QStringList tempBefore = QDir(QDir::tempPath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    windows::showActiveConnections(m_main);
    ConnectionsWindow* w = ConnectionsWindow::instance();
    w->addAddress(kLocal);
    w->addAddress(kOther);
    QListWidget* list = w->listWidget();
    QListWidgetItem* item = list->item(1);
    list->setCurrentItem(item);
    const QPoint at = list->visualItemRect(item).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(traced), 30000);
    QFile f(traced);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("127.0.0.2\n"));
    QVERIFY(MessageBox::history().isEmpty());
    QCOMPARE(QDir(QDir::tempPath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), tempBefore);
}

void TestActiveConnections::traceWithoutTools_data()
{
    QTest::addColumn<QString>("tool"); // the only program on the search path
    QTest::addColumn<QString>("message");
    QTest::newRow("no terminal") << QStringLiteral("tracepath")
                                 << QStringLiteral(
                                        "The route to 127.0.0.2 cannot be traced: no terminal program was "
                                        "found (x-terminal-emulator, xterm, ...).");
    QTest::newRow("no trace program")
        << QStringLiteral("x-terminal-emulator")
        << QStringLiteral("The route to 127.0.0.2 cannot be traced: neither traceroute "
                          "nor tracepath is installed.");
}

void TestActiveConnections::traceWithoutTools()
{
    QFETCH(QString, tool);
    QFETCH(QString, message);
    QTemporaryDir tools;
    QVERIFY(writeScript(tools.filePath(tool), "#!/bin/sh\nexit 0\n"));
    qputenv("PATH", tools.path().toLocal8Bit());
    windows::showActiveConnections(m_main);
    ConnectionsWindow* w = ConnectionsWindow::instance();
    w->addAddress(kOther);
    w->listWidget()->setCurrentRow(0);
    w->traceSelected();
    QCOMPARE(MessageBox::history().size(), 1);
    QCOMPARE(MessageBox::history()[0].icon, QMessageBox::Information);
    QCOMPARE(MessageBox::history()[0].title, QStringLiteral("Vantora"));
    QCOMPARE(MessageBox::history()[0].text, message);
}

VANTORA_TEST_MAIN(TestActiveConnections)
#include "tst_active_connections.moc"
