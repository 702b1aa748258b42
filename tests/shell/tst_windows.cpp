// The tray icon, the information windows and where windows go.
#include "shell/Product.h"
#include "shell/WindowPlacement.h"
#include "tests/shell/ShellFixture.h"
#include "tests/support/TestEnvironment.h"

#include "capture/Capture.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

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

    // Status-notifier desktops send single clicks only.
    void clicksOnTheIcon_data()
    {
        QTest::addColumn<int>("reason");
        QTest::addColumn<bool>("shows");
        QTest::newRow("single click") << int(QSystemTrayIcon::Trigger) << true;
        QTest::newRow("double click") << int(QSystemTrayIcon::DoubleClick) << true;
        QTest::newRow("middle click") << int(QSystemTrayIcon::MiddleClick) << false;
        QTest::newRow("unknown") << int(QSystemTrayIcon::Unknown) << false;
    }
    void clicksOnTheIcon()
    {
        QFETCH(int, reason);
        QFETCH(bool, shows);
        MainWindow* w = buildMainWindow();
        w->loadTray();
        TrayIcon* t = trayIcon();
        w->camera->setPreview(false);
        QVERIFY(!w->isVisible());
        t->onActivated(QSystemTrayIcon::ActivationReason(reason));
        QCOMPARE(w->isVisible(), shows);
        QCOMPARE(w->camera->preview(), shows);
        QVERIFY(!t->busy());
    }

    // On X11 the icon is asked for even without a notification area, so one
    // that starts later gets it; until then a minimised window may not hide.
    void iconAskedForWithoutNotificationArea()
    {
        TrayIcon* t = loadTrayIcon();
        QCOMPARE(t->iconWanted(), QSystemTrayIcon::isSystemTrayAvailable() ||
                                      QGuiApplication::platformName() == QLatin1String("xcb"));
        QCOMPARE(t->iconShown(), QSystemTrayIcon::isSystemTrayAvailable());
        QCOMPARE(t->canRestoreWindows(), QSystemTrayIcon::isSystemTrayAvailable());
        unloadTrayIcon();
        QVERIFY(!t->iconWanted()); // removed at once, freed later
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

    // With the main window there, the error window belongs to it and sits
    // centred on it instead of above every window at the screen's corner.
    void errorWindowBelongsToTheMainWindow()
    {
        MainWindow* w = buildMainWindow();
        w->move(60, 40);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        ShowErrorWindow(QStringLiteral("Video Device Error: busy"));
        ErrorWindow* e = loadedErrorWindow();
        QVERIFY(e);
        QVERIFY(e->isVisible());
        QCOMPARE(e->windowHandle()->transientParent(), w->windowHandle());
        QVERIFY(!e->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        const QPoint d = e->frameGeometry().center() - w->frameGeometry().center();
        QVERIFY2(qAbs(d.x()) <= 1 && qAbs(d.y()) <= 1,
                 qPrintable(QStringLiteral("%1,%2").arg(d.x()).arg(d.y())));
        // A second message keeps the place.
        const QPoint at = e->pos();
        ShowErrorWindow(QStringLiteral("second"));
        QCOMPARE(e->pos(), at);
    }

    // Keeping an unshown window on top must not place it: it would be pinned
    // to the screen's corner with its title bar off the screen.
    void alwaysOnTopLeavesAnUnshownWindowUnplaced()
    {
        QWidget window;
        setAlwaysOnTop(&window, true);
        QVERIFY(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!window.testAttribute(Qt::WA_Moved));
        QVERIFY(!window.testAttribute(Qt::WA_Resized));
        QVERIFY(!window.isVisible());
        setAlwaysOnTop(&window, false);
        QVERIFY(!window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!window.testAttribute(Qt::WA_Moved));
    }

    void centredPosition_data()
    {
        QTest::addColumn<QRect>("owner");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QPoint>("expected");
        const QRect screen(0, 30, 1280, 770); // a panel above
        QTest::newRow("centred") << QRect(100, 100, 800, 600) << QSize(400, 200) << screen
                                 << QPoint(300, 300);
        QTest::newRow("owner at the right edge")
            << QRect(1000, 100, 400, 300) << QSize(400, 200) << screen << QPoint(880, 150);
        QTest::newRow("owner under the panel")
            << QRect(100, -200, 400, 300) << QSize(300, 200) << screen << QPoint(150, 30);
        QTest::newRow("owner below the screen")
            << QRect(100, 700, 400, 300) << QSize(300, 200) << screen << QPoint(150, 600);
        QTest::newRow("larger than the screen")
            << QRect(0, 30, 1280, 770) << QSize(1400, 900) << screen << QPoint(0, 30);
        QTest::newRow("second screen") << QRect(1380, 100, 800, 600) << QSize(400, 200)
                                       << QRect(1280, 0, 1920, 1080) << QPoint(1580, 300);
        QTest::newRow("no screen known")
            << QRect(-500, -500, 200, 100) << QSize(100, 50) << QRect() << QPoint(-450, -475);
    }
    void centredPosition()
    {
        QFETCH(QRect, owner);
        QFETCH(QSize, size);
        QFETCH(QRect, available);
        QFETCH(QPoint, expected);
        QCOMPARE(::centredPosition(owner, size, available), expected);
    }

    // Offscreen the error window's messages and the boxes are printed; a
    // terminal line must not be garbled by line breaks or a peer's control
    // characters.
    void printedLines_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("line");
        QTest::newRow("plain") << "You must login first!"
                               << "Vantora Error: You must login first!";
        QTest::newRow("CR LF") << "Vantora already running\r\nDo you wish to start another copy?"
                               << "Vantora Error: Vantora already running Do you wish to start another copy?";
        QTest::newRow("blank line") << "Video Device Error: busy\r\n\r\nGo to Camera Options"
                                    << "Vantora Error: Video Device Error: busy Go to Camera Options";
        QTest::newRow("lone CR") << "10%\r100%"
                                 << "Vantora Error: 10% 100%";
        QTest::newRow("escape sequence") << "Reason: \x1b[2J\x1b]0;owned\x07gone"
                                         << "Vantora Error: Reason: [2J]0;ownedgone";
        QTest::newRow("tab and trailing break") << "a\tb\r\n"
                                                << "Vantora Error: a b";
        QTest::newRow("right-to-left override")
            << QString::fromUtf8("name\u202Etxt.exe") << "Vantora Error: nametxt.exe";
    }
    void printedLines()
    {
        QFETCH(QString, text);
        QFETCH(QString, line);
        QCOMPARE(MessageBox::printableLine(QStringLiteral("Vantora Error"), text), line);
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
