// Start-up: the ordered steps, the settings they read and write, the second
// copy question, a driver that does not connect, the splash window, the
// windows start-up raises, and a camera port that another program holds.
#include "capture/Termination.h"
#include "server/StreamingEngine.h"
#include "shell/ShellWindows.h"
#include "shell/Startup.h"
#include "shell/SystemUtils.h"
#include "tests/shell/ShellFixture.h"
#include "tests/support/TestEnvironment.h"

#include "capture/Capture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QLockFile>
#include <QPushButton>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTimer>
#include <QWindow>

#include <csignal>
#include <unistd.h>

namespace {

const QStringList fullRecord = {
    QStringLiteral("bar 20"),
    QStringLiteral("status Requesting tempory directory..."),
    QStringLiteral("status Loading Application version and addition information..."),
    QStringLiteral("bar 40"),
    QStringLiteral("status Loading Chat Settings..."),
    QStringLiteral("bar 50"),
    QStringLiteral("status Loading Driver settings..."),
    QStringLiteral("bar 60"),
    QStringLiteral("bar 70"),
    QStringLiteral("status Loading Autocheck engine..."),
    QStringLiteral("bar 75"),
    QStringLiteral("status Connecting to video driver..."),
    QStringLiteral("bar 80"),
    QStringLiteral("status Loading system tray..."),
    QStringLiteral("bar 90"),
    QStringLiteral("status Loading Velora Engine..."),
    QStringLiteral("status Loading Main window..."),
    QStringLiteral("bar 100"),
};

QStringList withoutEngine()
{
    QStringList r = fullRecord;
    r.removeAll(QStringLiteral("status Loading Velora Engine..."));
    return r;
}

QString lockPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
           QStringLiteral("/vantora.lock");
}

// Records what the steps ask of the windows, answering as a test says.
class FakeHost : public StartupHost
{
public:
    bool connects = true;
    QStringList calls;
    void status(const QString&) override {}
    void bar(int) override {}
    bool anotherCopyRunning() override { return false; }
    bool askStartAnotherCopy(const QString&, const QString&) override { return true; }
    void abandon() override { calls << QStringLiteral("abandon"); }
    void setTitle(const QString& t) override { calls << QLatin1String("title ") + t; }
    void changeToProgramFolder() override { calls << QStringLiteral("cd"); }
    void loadTray() override { calls << QStringLiteral("tray"); }
    void selectDriver(int i) override { calls << QLatin1String("driver ") + QString::number(i); }
    void enableUpdateTimer() override { calls << QStringLiteral("update timer"); }
    bool connectVideo() override
    {
        calls << QStringLiteral("connect video");
        return connects;
    }
    void showDriverFailure() override { calls << QStringLiteral("cameraUnavailable"); }
    void setEngineState(const QString& t) override { calls << QLatin1String("engine label ") + t; }
    void loadEngine() override { calls << QStringLiteral("engine"); }
    void showActiveConnections() override { calls << QStringLiteral("activeConnections"); }
    void showMainUnloadSplash() override { calls << QStringLiteral("show"); }
    void fillLogin(const QStringList& d, const QString& u, const QString& p, const QString& dom) override
    {
        calls << QStringLiteral("login %1|%2|%3|%4").arg(d.join(u','), u, p, dom);
    }
    void setOnlineSwitch(int v) override { calls << QLatin1String("switch ") + QString::number(v); }
};

// Logging off takes passes of the event loop, as a directory's answer does.
class SlowLogoffSession : public OnlineSession
{
public:
    void start() override { ++shellRecord().engineLoads; }
    void logOff() override
    {
        ++shellRecord().engineLogoffs;
        // The answer comes two passes later.
        QMetaObject::invokeMethod(
            this,
            [this] {
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        m_ended = true;
                        emit unloaded();
                        deleteLater();
                    },
                    Qt::QueuedConnection);
            },
            Qt::QueuedConnection);
    }
    bool hasEnded() const override { return m_ended; }

private:
    bool m_ended = false;
};

// Notes the order in which windows are shown, by object name.
class ShowOrder : public QObject
{
public:
    QStringList shown;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow())
            shown << watched->objectName();
        return false;
    }
};

// The centres of two windows agree (to the pixel rounding of halving).
bool centredOn(const QWidget* window, const QWidget* owner)
{
    const QPoint d = window->frameGeometry().center() - owner->frameGeometry().center();
    return qAbs(d.x()) <= 1 && qAbs(d.y()) <= 1;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT
    ShellFixture fx;

private slots:
    void init() { fx.setUp(); }
    void cleanup() { fx.tearDown(); }

    void emptyStoreStartsOnline()
    {
        MainWindow* w = loadMainWindow();
        QVERIFY(w);
        QCOMPARE(mainWindow(), w);
        QCOMPARE(w->startupRecord(), fullRecord);
        QCOMPARE(GetSetting(QStringLiteral("AutoUpdate"), QStringLiteral("version")), QStringLiteral("1.01"));
        QCOMPARE(w->windowTitle(), QStringLiteral("Vantora 1.01"));
        QVERIFY(globals().TempDir.endsWith(u'/'));
        QVERIFY(w->updateCheckDelay->isActive());
        QCOMPARE(w->updateCheckDelay->interval(), 1500);
        QVERIFY(w->minuteTimer->isActive());
        QVERIFY(trayIcon());
        QCOMPARE(shellRecord().engineLoads, 1);
        QVERIFY(w->onlineController()->session());
        QCOMPARE(w->engineStateLabel->text(), QStringLiteral("ON"));
        QVERIFY(w->onlineSwitch->isChecked());
        QVERIFY(globals().OnlineSwitch);
        QVERIFY(!globals().GoingOffline);
        QCOMPARE(shellRecord().activeShows, 0);
        QVERIFY(!w->activeConnectionsAction->isChecked());
        QVERIFY(w->isVisible());
        QVERIFY(w->isEnabled());
        QVERIFY(!loadedDriverFailureWindow());
        QVERIFY(globals().ShowCamErrors);
        QVERIFY(!globals().ChatDisabled);
        QVERIFY(!globals().ProgramModeAlt);
        QVERIFY(!globals().DisableCheck);
        // The log-in box: both domains, the first selected, empty account.
        QCOMPARE(w->domainBox->count(), 2);
        QCOMPARE(w->domainBox->itemText(0), QStringLiteral("vantora.example"));
        QCOMPARE(w->domainBox->itemText(1), QStringLiteral("camfriends.example"));
        QCOMPARE(w->domainBox->currentText(), QStringLiteral("vantora.example"));
        QCOMPARE(w->domainLabel->text(), QStringLiteral("vantora.example"));
        QCOMPARE(w->userNameEdit->text(), QString());
        // The switch's handler ran: it wrote its settings at once.
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Enable")), QStringLiteral("1"));
        QCOMPARE(
            GetSetting(QStringLiteral("Streaming"), QStringLiteral("Username"), QStringLiteral("<none>")),
            QString());
        // The test pattern (or the camera) is connected and previewing.
        QVERIFY(w->camera->connected());
        QVERIFY(w->camera->preview());
        QCOMPARE(w->inputLabel->text(), w->camera->driverDescription(0));
        QVERIFY(MessageBox::history().isEmpty());
    }

    void streamingDisabledStaysOffline()
    {
        SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Enable"), QStringLiteral("0"));
        SaveSetting(QStringLiteral("Active Connections"), QStringLiteral("WindowVisible"),
                    QStringLiteral("True"));
        MainWindow* w = loadMainWindow();
        QVERIFY(w);
        QCOMPARE(w->startupRecord(), withoutEngine());
        QCOMPARE(shellRecord().engineLoads, 0);
        QVERIFY(!w->onlineController()->session());
        QCOMPARE(w->engineStateLabel->text(), QString());
        QVERIFY(!w->onlineSwitch->isChecked());
        QVERIFY(!globals().OnlineSwitch);
        QCOMPARE(shellRecord().activeShows, 0);
        // The handler did not run, so it wrote nothing.
        QCOMPARE(
            GetSetting(QStringLiteral("Streaming"), QStringLiteral("Username"), QStringLiteral("<none>")),
            QStringLiteral("<none>"));
    }

    void storedAccountFillsTheLogInBox()
    {
        SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Username"), QStringLiteral("alice"));
        SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Password"), QStringLiteral("pw=1"));
        SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Domain"), globals().AccountDomains.at(1));
        SaveSetting(QStringLiteral("Active Connections"), QStringLiteral("WindowVisible"),
                    QStringLiteral("True"));
        MainWindow* w = loadMainWindow();
        QVERIFY(w);
        QCOMPARE(w->userNameEdit->text(), QStringLiteral("alice"));
        QCOMPARE(w->userLabel->text(), QStringLiteral("alice"));
        QCOMPARE(w->passwordEdit->text(), QStringLiteral("pw=1"));
        QCOMPARE(w->domainBox->currentText(), QStringLiteral("camfriends.example"));
        QCOMPARE(w->domainLabel->text(), QStringLiteral("camfriends.example"));
        // Open at the last shut-down: open again, with its check mark.
        QCOMPARE(shellRecord().activeShows, 1);
        QVERIFY(w->activeConnectionsAction->isChecked());
    }

    void optionsReadAtStartup_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("chat disabled") << "Options"
                                       << "DisChat"
                                       << "1";
        QTest::newRow("alternative program mode") << "Options"
                                                  << "ProgramMode"
                                                  << "2";
        QTest::newRow("no update check") << "Options"
                                         << "autocheck"
                                         << "0";
        QTest::newRow("camera errors off") << "Settings"
                                           << "ShowCamError"
                                           << "0";
        QTest::newRow("reachability check off") << "Settings"
                                                << "DisableCheck"
                                                << "1";
    }
    void optionsReadAtStartup()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, value);
        SaveSetting(section, key, value);
        MainWindow* w = loadMainWindow();
        QVERIFY(w);
        QCOMPARE(globals().ChatDisabled, key == QLatin1String("DisChat"));
        QCOMPARE(globals().ProgramModeAlt, key == QLatin1String("ProgramMode"));
        QCOMPARE(w->updateCheckDelay->isActive(), key != QLatin1String("autocheck"));
        QCOMPARE(globals().ShowCamErrors, key != QLatin1String("ShowCamError"));
        QCOMPARE(globals().DisableCheck, key == QLatin1String("DisableCheck"));
    }

    // There is no messenger service here: whatever DisMessenger says, the
    // step shows no status and the steps around it run in order.
    void messengerStepDoesNothing_data()
    {
        QTest::addColumn<QString>("disMessenger");
        QTest::newRow("default") << "";
        QTest::newRow("switched on") << "1";
        QTest::newRow("switched off") << "0";
    }
    void messengerStepDoesNothing()
    {
        QFETCH(QString, disMessenger);
        if (!disMessenger.isEmpty())
            SaveSetting(QStringLiteral("Options"), QStringLiteral("DisMessenger"), disMessenger);
        FakeHost host;
        StartupSequence seq;
        QVERIFY(seq.run(host));
        QVERIFY(!seq.record().contains(QStringLiteral("status Disabling NT Messenger Service...")));
        QCOMPARE(seq.record(), fullRecord);
        // The order of what the steps do.
        QStringList expected = {QStringLiteral("title Vantora 1.01"), QStringLiteral("cd")};
        expected << QStringLiteral("tray") << QStringLiteral("driver 0") << QStringLiteral("update timer")
                 << QStringLiteral("connect video") << QStringLiteral("engine label ON")
                 << QStringLiteral("engine") << QStringLiteral("show")
                 << QStringLiteral("login vantora.example,camfriends.example|||vantora.example")
                 << QStringLiteral("switch 1");
        QCOMPARE(host.calls, expected);
    }

    void debugBuildTitle()
    {
        globals().DebugMode = true;
        FakeHost host;
        StartupSequence seq;
        QVERIFY(seq.run(host));
        QVERIFY(host.calls.contains(QStringLiteral("title Vantora BETA")));
        globals().DebugMode = false;
    }

    void secondCopyQuestion_data()
    {
        QTest::addColumn<bool>("yes");
        QTest::newRow("No ends this copy") << false;
        QTest::newRow("Yes starts another") << true;
    }
    void secondCopyQuestion()
    {
        QFETCH(bool, yes);
        QLockFile other(lockPath()); // the first copy
        QVERIFY(other.tryLock(0));
        MessageBox::setNextAnswer(yes ? QMessageBox::Yes : QMessageBox::No);
        MainWindow* w = loadMainWindow();
        QCOMPARE(MessageBox::history().size(), 1);
        const MessageBox::Shown& box = MessageBox::history().first();
        QCOMPARE(box.title, QStringLiteral("Already running"));
        QCOMPARE(box.text, QStringLiteral("Vantora already running\r\nDo you wish to start another copy?"));
        QCOMPARE(box.icon, QMessageBox::Information);
        QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
        if (yes) {
            QVERIFY(w);
            QCOMPARE(w->startupRecord(), fullRecord);
            QCOMPARE(shellRecord().engineLoads, 1);
        } else {
            QVERIFY(!w);
            QVERIFY(!mainWindow());
            QCOMPARE(shellRecord().engineLoads, 0);
            QCOMPARE(shellRecord().programEnds, 1);
            QCOMPARE(GetSetting(QStringLiteral("AutoUpdate"), QStringLiteral("version")), QString());
        }
    }

    void onlyOneCopyAsksNothing()
    {
        MainWindow* w = loadMainWindow();
        QVERIFY(w);
        // This copy holds the lock now: another one would be asked.
        QLockFile second(lockPath());
        QVERIFY(!second.tryLock(0));
        unloadMainWindow();
        QVERIFY(second.tryLock(0));
    }

    void driverWithoutDevice_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Close") << "close";
        QTest::newRow("window closed") << "window";
        QTest::newRow("Go to configuration") << "configuration";
    }
    void driverWithoutDevice()
    {
        QFETCH(QString, how);
        SaveSetting(QStringLiteral("Settings"), QStringLiteral("drivera"), QStringLiteral("99"));
        SaveSetting(QStringLiteral("Settings"), QStringLiteral("ShowCamError"), QStringLiteral("0"));
        MainWindow* w = loadMainWindow();
        QVERIFY(w);
        // Start-up went on to its end.
        QCOMPARE(w->startupRecord(), fullRecord);
        QVERIFY(w->onlineSwitch->isChecked());
        QVERIFY(!w->camera->connected());
        CameraUnavailableDialog* f = loadedDriverFailureWindow();
        QVERIFY(f);
        QVERIFY(f->isVisible());
        QVERIFY(f->isEnabled());
        QCOMPARE(f->windowTitle(), QStringLiteral("Can't connect to video driver..."));
        QVERIFY(!w->isEnabled());
        if (how == QLatin1String("close"))
            f->closeButton->click();
        else if (how == QLatin1String("window"))
            f->close();
        else
            f->configureButton->click();
        QVERIFY(!loadedDriverFailureWindow());
        QVERIFY(w->isEnabled());
        QCOMPARE(shellRecord().configurationOpens, how == QLatin1String("configuration") ? 1 : 0);
    }

    void mainStartsThroughTheSplash()
    {
        startWindows();
        SplashScreen* s = splashScreen();
        QVERIFY(s);
        QVERIFY(s->isVisible());
        QCOMPARE(s->statusLabel->text(), QStringLiteral("Loading core of application..."));
        QCOMPARE(s->versionLabel->text(), QStringLiteral("Version 1.0.1"));
        QCOMPARE(s->platformLabel->text(), ::osName());
        QCOMPARE(globals().OsName, ::osName());
        QCOMPARE(s->barPercent(), 0);
        QCOMPARE(s->loadDelay->interval(), 200);
        QVERIFY(s->loadDelay->isSingleShot() || s->loadDelay->isActive());
        QVERIFY(!mainWindow());
        s->onLoadDelay(); // the 200 ms are up
        QVERIFY(mainWindow());
        QTRY_VERIFY(!splashScreen()); // unloaded in step 14
        QVERIFY(mainWindow()->isVisible());
    }

    // The program's start-up returns to the event loop between steps, and
    // the splash paints each step's text and bar before the step's work.
    void splashPaintsEachStep()
    {
        startWindows();
        SplashScreen* s = splashScreen();
        QVERIFY(QTest::qWaitForWindowExposed(s));
        s->loadDelay->stop();
        QList<QPair<QString, int>> painted;
        connect(s, &SplashScreen::painted, this, [&painted](const QString& text, int percent) {
            painted.append({text, percent});
        });
        s->onLoadDelay();
        QPointer<MainWindow> w = mainWindow();
        QVERIFY(w);
        QVERIFY(w->startingUp()); // not every step in one go
        QTRY_VERIFY(!w->startingUp());
        QCOMPARE(w->startupRecord(), fullRecord);
        QPair<QString, int> state(QStringLiteral("Loading core of application..."), 10);
        qsizetype at = 0;
        for (const QString& entry : fullRecord) {
            if (entry.startsWith(QLatin1String("bar ")))
                state.second = entry.mid(4).toInt();
            else
                state.first = entry.mid(7);
            while (at < painted.size() && painted.at(at) != state)
                ++at;
            QVERIFY2(at < painted.size(),
                     qPrintable(QStringLiteral("not painted: %1 at %2%").arg(state.first).arg(state.second)));
        }
    }

    // What start-up has to show comes after the main window, belongs to it
    // and sits centred on it.
    void startupWindowsFollowTheMainWindow_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("driver failure window") << "driver";
        QTest::newRow("account question") << "account";
    }
    void startupWindowsFollowTheMainWindow()
    {
        QFETCH(QString, what);
        ShowOrder order;
        qApp->installEventFilter(&order);
        QList<bool> mainShownAtBox;
        MessageBox::setResponder([&mainShownAtBox](const MessageBox::Shown&) {
            mainShownAtBox << (mainWindow() && mainWindow()->isVisible());
            return QMessageBox::No;
        });
        if (what == QLatin1String("driver")) {
            SaveSetting(QStringLiteral("Settings"), QStringLiteral("drivera"), QStringLiteral("99"));
            SaveSetting(QStringLiteral("Settings"), QStringLiteral("ShowCamError"), QStringLiteral("0"));
        } else {
            shellRecord().withoutAccount = true;
        }
        QPointer<MainWindow> w = startMainWindow();
        QTRY_VERIFY(!w->startingUp());
        qApp->removeEventFilter(&order);
        QVERIFY(w->isVisible());
        if (what == QLatin1String("driver")) {
            CameraUnavailableDialog* f = loadedDriverFailureWindow();
            QVERIFY(f);
            QVERIFY(f->isVisible());
            QVERIFY(!w->isEnabled());
            QVERIFY2(order.shown.indexOf(QStringLiteral("MainWindow")) >= 0 &&
                         order.shown.indexOf(QStringLiteral("MainWindow")) <
                             order.shown.indexOf(QStringLiteral("CameraUnavailableDialog")),
                     qPrintable(order.shown.join(u',')));
            QCOMPARE(f->windowHandle()->transientParent(), w->windowHandle());
            QVERIFY(centredOn(f, w));
            QVERIFY(MessageBox::history().isEmpty());
        } else {
            QCOMPARE(MessageBox::history().size(), 2); // the question and where to go later
            QCOMPARE(mainShownAtBox, QList<bool>({true, true}));
            QVERIFY(!w->onlineSwitch->isChecked());
        }
    }

    // Windows raised while the steps run wait for the main window.
    void windowsRaisedDuringStartupWait_data()
    {
        QTest::addColumn<QString>("what");
        QTest::newRow("update window") << "update";
        QTest::newRow("error window") << "error";
    }
    void windowsRaisedDuringStartupWait()
    {
        QFETCH(QString, what);
        QPointer<MainWindow> w = startMainWindow();
        QVERIFY(w->startingUp());
        QWidget* raised = nullptr;
        if (what == QLatin1String("update")) {
            raised = newVersionWindow();
        } else {
            ShowErrorWindow(QStringLiteral("Could not connect server"));
            raised = loadedErrorWindow();
        }
        QVERIFY(raised);
        QVERIFY(!raised->isVisible());
        QTRY_VERIFY(!w->startingUp());
        QVERIFY(w->isVisible());
        QVERIFY(raised->isVisible());
        QCOMPARE(raised->windowHandle()->transientParent(), w->windowHandle());
        QVERIFY(!raised->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(centredOn(raised, w));
    }

    // "Shut down" from the tray while a box of the main window is open and
    // the log-off is still under way: the window outlives the box's handler,
    // then goes.
    void shutDownWhileABoxIsOpen()
    {
        OnlineController::setSessionFactory([](Capture*) -> OnlineSession* { return new SlowLogoffSession; });
        SaveSetting(QStringLiteral("Options"), QStringLiteral("autocheck"), QStringLiteral("0"));
        QPointer<MainWindow> w = loadMainWindow();
        QVERIFY(w);
        QVERIFY(w->onlineController()->session());
        QEventLoop boxOpen;
        QTimer::singleShot(60000, &boxOpen, &QEventLoop::quit); // never hang the suite
        desktop::setProgramEnd([&boxOpen] {
            ++shellRecord().programEnds;
            boxOpen.quit();
        });
        bool aliveAfterBox = false;
        MessageBox::setResponder([&](const MessageBox::Shown&) {
            QTimer::singleShot(0, trayIcon(), [] { trayIcon()->exitAction->trigger(); });
            boxOpen.exec();              // open until the program ends
            aliveAfterBox = !w.isNull(); // its handler runs on
            return QMessageBox::Ok;
        });
        emit w->onlineController()->session()->noticeWanted(QStringLiteral("alice refused the chat"));
        QCOMPARE(shellRecord().programEnds, 1);
        QCOMPARE(shellRecord().engineLogoffs, 1);
        QVERIFY(aliveAfterBox);
        QTRY_VERIFY(w.isNull());
    }

    // Another program holds the camera's port: one box names it, the switch
    // and the engine label show that nothing listens, the stored choice
    // stays, and a signal while the box is open shuts down cleanly.
    void portInUseAtStartup()
    {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost));
        const quint16 port = taken.serverPort();
        SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Port"), QString::number(port));
        SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Enable"), QStringLiteral("1"));
        SaveSetting(QStringLiteral("Options"), QStringLiteral("autocheck"), QStringLiteral("0"));
        SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Username"), QStringLiteral("demo"));
        SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Password"), QStringLiteral("secret1"));
        SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Domain"), QStringLiteral("vantora.example"));
        StreamingEngine::setListenAddress(QHostAddress::LocalHost);
        StreamingEngine::registerFactory();
        // As the program does: a signal shuts down like "Exit".
        onTerminationSignal(qApp, [] {
            if (mainWindow())
                unloadMainWindow();
        });
        QEventLoop boxOpen;
        QTimer::singleShot(60000, &boxOpen, &QEventLoop::quit); // never hang the suite
        desktop::setProgramEnd([&boxOpen] {
            ++shellRecord().programEnds;
            boxOpen.quit();
        });
        struct Seen
        {
            bool mainShown;
            bool switchOn;
            QString engine;
        };
        QList<Seen> seen;
        MessageBox::setResponder([&](const MessageBox::Shown&) {
            MainWindow* m = mainWindow();
            seen.append({m && m->isVisible(), m && m->onlineSwitch->isChecked(),
                         m ? m->engineStateLabel->text() : QString()});
            ::kill(::getpid(), SIGTERM);
            boxOpen.exec(); // open until the program ends
            return QMessageBox::Ok;
        });
        QPointer<MainWindow> w = startMainWindow();
        QTRY_COMPARE_WITH_TIMEOUT(shellRecord().programEnds, 1, 60000);
        QTRY_VERIFY(w.isNull());
        QCOMPARE(MessageBox::history().size(), 1);
        QCOMPARE(MessageBox::history().first().title, QStringLiteral("Vantora"));
        QCOMPARE(MessageBox::history().first().text,
                 QStringLiteral("Port %1 is in use by another program").arg(port));
        QCOMPARE(seen.size(), 1);
        QVERIFY(seen.first().mainShown);
        QVERIFY(!seen.first().switchOn);
        QCOMPARE(seen.first().engine, QStringLiteral("OFF"));
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Enable")), QStringLiteral("1"));
    }

    void splashBarFollowsPercent()
    {
        SplashScreen* s = loadSplash();
        s->show();
        s->loadDelay->stop();
        const int full = s->progressBar->parentWidget()->width() - 2;
        for (int p : {0, 10, 50, 100}) {
            s->setProgress(p);
            QCOMPARE(s->barPercent(), p);
            QCOMPARE(s->progressBar->width(), full * p / 100);
        }
    }
};

VANTORA_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
