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
        QCOMPARE(t->Timer1->interval(), 750);
        QCOMPARE(t->Timer2->interval(), 60000);
        QVERIFY(t->Timer2->isActive()); // designed enabled: stops at 60 s after loading
        QStringList menu;
        for (QAction* a : t->mnuTray->actions())
            menu << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(menu, QStringList({"Show window", "About", "-", "&Shut down"}));
        QCOMPARE(t->mnuTray->defaultAction(), t->showwindow);
    }

    void flashingAlternatesAndStops_data()
    {
        QTest::addColumn<QString>("stop");
        QTest::newRow("Flash(false)") << "flash";
        QTest::newRow("60 s timer") << "timer";
    }
    void flashingAlternatesAndStops()
    {
        QFETCH(QString, stop);
        TrayIcon* t = loadTrayIcon();
        t->Flash(true);
        QVERIFY(t->flashing());
        QVERIFY(t->Timer2->isActive());
        QList<int> shown;
        for (int i = 0; i < 5; ++i) {
            t->Timer1_Timer();
            shown << t->currentIcon();
        }
        QCOMPARE(shown, QList<int>({2, 0, 2, 0, 2}));
        if (stop == QLatin1String("flash"))
            t->Flash(false);
        else
            t->Timer2_Timer();
        QVERIFY(!t->flashing());
        QVERIFY(!t->Timer2->isActive());
        QCOMPARE(t->currentIcon(), 0);
        QVERIFY(MessageBox::history().isEmpty());
    }

    void flashingRunsOnItsTimer()
    {
        TrayIcon* t = loadTrayIcon();
        t->Flash(true);
        QTRY_COMPARE(t->currentIcon(), 2);
        QTRY_COMPARE(t->currentIcon(), 0);
    }

    void doubleClickShowsTheMainWindow()
    {
        MainWindow* w = buildMainWindow();
        TrayIcon* t = loadTrayIcon();
        QVERIFY(!w->isVisible());
        t->iconMessage(TrayIcon::LeftDoubleClick);
        QVERIFY(w->isVisible());
        QVERIFY(w->Cap->preview());
        QVERIFY(!t->busy());
    }

    void doubleClickWhileTheMenuIsOpenDoesNothing()
    {
        MainWindow* w = buildMainWindow();
        TrayIcon* t = loadTrayIcon();
        bool busyInside = false;
        QTimer::singleShot(50, t, [&] {
            busyInside = t->busy();
            t->iconMessage(TrayIcon::LeftDoubleClick);
            t->mnuTray->close();
        });
        t->iconMessage(TrayIcon::RightButtonUp);
        QVERIFY(busyInside);
        QVERIFY(!w->isVisible());
        QVERIFY(!t->busy());
        t->iconMessage(1234); // other messages are ignored
        QVERIFY(!w->isVisible());
    }

    void trayMenuEntries()
    {
        MainWindow* w = buildMainWindow();
        TrayIcon* t = loadTrayIcon();
        t->mnuTrayAbout->trigger();
        QVERIFY(loadedAboutWindow());
        QVERIFY(loadedAboutWindow()->isVisible());
        QVERIFY(!loadedAboutWindow()->isModal());
        t->showwindow->trigger();
        QVERIFY(w->isVisible());
        t->mnuTrayExit->trigger();
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
        QCOMPARE(e->Label2->text(), QStringLiteral("Contact support"));
        QCOMPARE(e->Label3->text(), QStringLiteral("here"));
        QCOMPARE(e->Command1->text(), QStringLiteral("Close"));
        ShowErrorWindow(QStringLiteral("second"));
        QCOMPARE(loadedErrorWindow(), e); // one window
        QCOMPARE(e->Label1->text(), QStringLiteral("second"));
        QTest::mouseClick(e->Label3, Qt::LeftButton);
        QCOMPARE(shellRecord().opened, QList<QUrl>({product::pageUrl(product::Page::Support)}));
        e->Command1->click();
        QVERIFY(!loadedErrorWindow());
        // The engine sets the label of a freshly loaded window directly.
        ErrorWindow* again = errorWindow();
        QCOMPARE(again->Label1->text(), QStringLiteral("Retrieving error...."));
        again->Label1->setText(QStringLiteral("User unknown"));
        QVERIFY(again->isVisible());
    }

    void aboutWindow()
    {
        AboutDialog* a = ::aboutWindow();
        QCOMPARE(a->windowTitle(), QStringLiteral("About Vantora"));
        QCOMPARE(a->lblVersion->text(), QStringLiteral("Version: 1.01"));
        QCOMPARE(a->lblDescription->text(),
                 QStringLiteral("This program make a capture of your video devices and uploads it's to your homepage."));
        QVERIFY(!a->lblDisclaimer->text().isEmpty());
        QTest::mouseClick(a->lblNotice, Qt::LeftButton);
        QCOMPARE(shellRecord().opened, QList<QUrl>({product::pageUrl(product::Page::Legal)}));
        a->cmdOK->click();
        QVERIFY(!loadedAboutWindow());
    }

    void aboutFromTheHelpMenuIsModal()
    {
        MainWindow* w = buildMainWindow();
        bool modal = false;
        QTimer::singleShot(0, [&] {
            modal = loadedAboutWindow() && loadedAboutWindow()->isModal() && loadedAboutWindow()->isVisible();
            if (loadedAboutWindow())
                loadedAboutWindow()->cmdOK->click();
        });
        w->mnuHelpItem[3]->trigger(); // returns when the window is closed
        QVERIFY(modal);
        QVERIFY(!loadedAboutWindow());
    }

    void driverFailureWindowTexts()
    {
        CameraUnavailableDialog* f = driverFailureWindow(nullptr);
        QCOMPARE(f->windowTitle(), QStringLiteral("Can't connect to video driver..."));
        QCOMPARE(f->Label1->text(), QStringLiteral("Vantora failed to connect the video driver. Check if the driver is "
                                                   "not in use by other programs or your cam is not connected."));
        QCOMPARE(f->Command2->text(), QStringLiteral("Go to configuration"));
        QCOMPARE(f->Command1->text(), QStringLiteral("Close"));
    }
};

VANTORA_TEST_MAIN(TestWindows)
#include "tst_windows.moc"
