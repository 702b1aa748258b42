// The tray icon and the information windows.
#include "shell/Product.h"
#include "tests/shell/ShellFixture.h"
#include "tests/support/TestEnvironment.h"

#include "capture/Capture.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

class TestWindows : public QObject
{
    Q_OBJECT
    ShellFixture fx;

private slots:
    void init() { fx.setUp(); }
    void cleanup() { fx.tearDown(); }

    void trayLoadsWithTheNormalIcon()
    {
        TrayIcon* t = loadTrayIcon();
        QCOMPARE(trayIcon(), t);
        QCOMPARE(t->currentIcon(), 0);
        QCOMPARE(t->tip(), QStringLiteral("Vantora"));
        QVERIFY(!t->flashing());
        QVERIFY(!t->image(0).isNull());
        QVERIFY(!t->image(2).isNull());
        QCOMPARE(t->flashTimer->interval(), 750);
        QCOMPARE(t->flashStopTimer->interval(), 60000);
        QVERIFY(t->flashStopTimer->isActive()); // designed enabled: stops at 60 s after loading
        QStringList menu;
        for (QAction* a : t->menu->actions())
            menu << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(menu, QStringList({"Show window", "About", "-", "&Shut down"}));
        QCOMPARE(t->menu->defaultAction(), t->showWindowAction);
    }

    void flashingAlternatesAndStops_data()
    {
        QTest::addColumn<QString>("stop");
        QTest::newRow("setFlashing(false)") << "flash";
        QTest::newRow("60 s timer") << "timer";
    }
    void flashingAlternatesAndStops()
    {
        QFETCH(QString, stop);
        TrayIcon* t = loadTrayIcon();
        t->setFlashing(true);
        QVERIFY(t->flashing());
        QVERIFY(t->flashStopTimer->isActive());
        QList<int> shown;
        for (int i = 0; i < 5; ++i) {
            t->onFlashStep();
            shown << t->currentIcon();
        }
        QCOMPARE(shown, QList<int>({2, 0, 2, 0, 2}));
        if (stop == QLatin1String("flash"))
            t->setFlashing(false);
        else
            t->onFlashStop();
        QVERIFY(!t->flashing());
        QVERIFY(!t->flashStopTimer->isActive());
        QCOMPARE(t->currentIcon(), 0);
        QVERIFY(MessageBox::history().isEmpty());
    }

    void flashingRunsOnItsTimer()
    {
        TrayIcon* t = loadTrayIcon();
        QCOMPARE(t->flashTimer->interval(), 750);
        t->flashTimer->setInterval(1); // the steps come from the timer, without waiting 750 ms each
        t->setFlashing(true);
        QTRY_COMPARE(t->currentIcon(), 2);
        QTRY_COMPARE(t->currentIcon(), 0);
    }

    void doubleClickShowsTheMainWindow()
    {
        MainWindow* w = buildMainWindow();
        w->loadTray();
        TrayIcon* t = trayIcon();
        QVERIFY(!w->isVisible());
        t->onActivated(QSystemTrayIcon::DoubleClick);
        QVERIFY(w->isVisible());
        QVERIFY(w->camera->preview());
        QVERIFY(!t->busy());
    }

    void doubleClickWhileTheMenuIsOpenDoesNothing()
    {
        MainWindow* w = buildMainWindow();
        w->loadTray();
        TrayIcon* t = trayIcon();
        bool busyInside = false;
        QTimer::singleShot(0, t, [&] {
            busyInside = t->busy();
            t->onActivated(QSystemTrayIcon::DoubleClick);
            t->menu->close();
        });
        t->onActivated(QSystemTrayIcon::Context);
        QVERIFY(busyInside);
        QVERIFY(!w->isVisible());
        QVERIFY(!t->busy());
        for (auto other : {QSystemTrayIcon::Trigger, QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown})
            t->onActivated(other); // single and middle clicks do nothing
        QVERIFY(!w->isVisible());
    }

    void trayMenuEntries()
    {
        MainWindow* w = buildMainWindow();
        w->loadTray();
        TrayIcon* t = trayIcon();
        t->aboutAction->trigger();
        QVERIFY(loadedAboutWindow());
        QVERIFY(loadedAboutWindow()->isVisible());
        QVERIFY(!loadedAboutWindow()->isModal());
        t->showWindowAction->trigger();
        QVERIFY(w->isVisible());
        t->exitAction->trigger();
        QVERIFY(!mainWindow());
        QVERIFY(!trayIcon()); // the icon went with the shut-down
        QCOMPARE(shellRecord().programEnds, 1);
    }

    void errorWindowShowsTheLastMessage()
    {
        ShowErrorWindow(QStringLiteral("first"));
        ErrorWindow* e = loadedErrorWindow();
        QVERIFY(e);
        QVERIFY(e->isVisible());
        QCOMPARE(e->windowTitle(), QStringLiteral("Vantora Error"));
        QVERIFY(e->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(e->contactLabel->text(), QStringLiteral("Contact support"));
        QCOMPARE(e->supportLink->text(), QStringLiteral("here"));
        QCOMPARE(e->closeButton->text(), QStringLiteral("Close"));
        ShowErrorWindow(QStringLiteral("second"));
        QCOMPARE(loadedErrorWindow(), e); // one window
        QCOMPARE(e->messageLabel->text(), QStringLiteral("second"));
        QTest::mouseClick(e->supportLink, Qt::LeftButton);
        QCOMPARE(shellRecord().opened,
                 QList<QUrl>({QUrl(QStringLiteral("http://directory.vantora.example/support.html"))}));
        e->closeButton->click();
        QVERIFY(!loadedErrorWindow());
        // The engine sets the label of a freshly loaded window directly.
        ErrorWindow* again = errorWindow();
        QCOMPARE(again->messageLabel->text(), QStringLiteral("Retrieving error...."));
        again->messageLabel->setText(QStringLiteral("User unknown"));
        QVERIFY(again->isVisible());
    }

    void aboutWindow()
    {
        AboutDialog* a = ::aboutWindow();
        QCOMPARE(a->windowTitle(), QStringLiteral("About Vantora"));
        QCOMPARE(a->versionLabel->text(), QStringLiteral("Version: 1.01"));
        QCOMPARE(a->descriptionLabel->text(),
                 QStringLiteral(
                     "This program make a capture of your video devices and uploads it's to your homepage."));
        QVERIFY(!a->disclaimerLabel->text().isEmpty());
        QTest::mouseClick(a->noticeLink, Qt::LeftButton);
        QCOMPARE(shellRecord().opened,
                 QList<QUrl>({QUrl(QStringLiteral("http://directory.vantora.example/legal.html"))}));
        a->okButton->click();
        QVERIFY(!loadedAboutWindow());
    }

    void aboutFromTheHelpMenuIsModal()
    {
        MainWindow* w = buildMainWindow();
        bool modal = false;
        QTimer::singleShot(0, [&] {
            modal = loadedAboutWindow() && loadedAboutWindow()->isModal() && loadedAboutWindow()->isVisible();
            if (loadedAboutWindow())
                loadedAboutWindow()->okButton->click();
        });
        w->helpActions[3]->trigger(); // returns when the window is closed
        QVERIFY(modal);
        QVERIFY(!loadedAboutWindow());
    }

    void driverFailureWindowTexts()
    {
        CameraUnavailableDialog* f = driverFailureWindow(nullptr);
        QCOMPARE(f->windowTitle(), QStringLiteral("Can't connect to video driver..."));
        QCOMPARE(f->messageLabel->text(),
                 QStringLiteral("Vantora failed to connect the video driver. Check if the driver is "
                                "not in use by other programs or your cam is not connected."));
        QCOMPARE(f->configureButton->text(), QStringLiteral("Go to configuration"));
        QCOMPARE(f->closeButton->text(), QStringLiteral("Close"));
    }
};

VANTORA_TEST_MAIN(TestWindows)
#include "tst_windows.moc"
