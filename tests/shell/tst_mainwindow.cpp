// The main window: online switch, log-in box, minute counter, capture errors,
// tray hiding, full screen, menus, the recorder, the update check and the
// order of shutting down.
#include "capture/Capture.h"
#include "shell/Product.h"
#include "shell/SystemUtils.h"
#include "shell/Version.h"
#include "tests/shell/ShellFixture.h"
#include "tests/support/DirectoryProcess.h"
#include "tests/support/TestEnvironment.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>

class TestMainWindow : public QObject
{
    Q_OBJECT
    ShellFixture fx;

    MainWindow* started()
    {
        MainWindow* w = loadMainWindow();
        if (w && !QTest::qWaitForWindowExposed(w))
            qWarning("main window not exposed");
        return w;
    }

private slots:
    void init() { fx.setUp(); }
    void cleanup() { fx.tearDown(); }

    void startWithoutAccountAsksOnce()
    {
        shellRecord().withoutAccount = true;
        SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Enable"), QStringLiteral("1"));
        MessageBox::setNextAnswer(QMessageBox::No);
        MainWindow* w = started();
        QVERIFY(w);
        QCOMPARE(shellRecord().engineLoads, 1);
        QVERIFY(!w->onlineSwitch->isChecked());
        const auto& shown = MessageBox::history();
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[0].text, QStringLiteral("You need to create an account at Vantora to use streaming. "
                                               "Would you create an account?"));
        QCOMPARE(shown[1].text,
                 QStringLiteral(
                     "You can create an account later in the configuration window --> Streaming Options"));
    }

    void onlineSwitchWritesAtOnce()
    {
        MainWindow* w = started();
        QVERIFY(w);
        QCOMPARE(shellRecord().engineLoads, 1);
        w->userNameEdit->setText(QStringLiteral("bob"));
        w->passwordEdit->setText(QStringLiteral("secret"));

        w->onlineSwitch->setChecked(false);
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Enable")), QStringLiteral("0"));
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Username")), QStringLiteral("bob"));
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Password")),
                 QStringLiteral("secret"));
        QVERIFY(globals().GoingOffline);
        QVERIFY(!globals().OnlineSwitch);
        QCOMPARE(w->engineStateLabel->text(), QStringLiteral("OFF"));
        QCOMPARE(w->lastResponseLabel->text(), QStringLiteral("Logging off..."));
        QCOMPARE(shellRecord().engineLogoffs, 1);
        QVERIFY(!w->onlineController()->session());

        w->onlineSwitch->setChecked(true);
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Enable")), QStringLiteral("1"));
        QVERIFY(!globals().GoingOffline);
        QVERIFY(globals().OnlineSwitch);
        QCOMPARE(w->engineStateLabel->text(), QStringLiteral("ON"));
        QCOMPARE(shellRecord().engineLoads, 2);
        // Calling the handler again does not load a second engine.
        w->onOnlineSwitchToggled();
        QCOMPARE(shellRecord().engineLoads, 2);
    }

    void sessionReportsReachTheWindow()
    {
        MainWindow* w = started();
        QVERIFY(w);
        OnlineSession* session = w->onlineController()->session();
        QVERIFY(session);
        QVERIFY(w->lastResponseLabel->isHidden());
        emit session->addressKnown(QStringLiteral("http://bob.vantora.example/"));
        QCOMPARE(w->addressLabel->text(), QStringLiteral("http://bob.vantora.example/"));
        for (QLabel* label : {w->addressLabel, w->lastResponseCaption, w->lastResponseLabel})
            QVERIFY(!label->isHidden());
        emit session->statusChanged(QStringLiteral("OK"));
        QCOMPARE(w->lastResponseLabel->text(), QStringLiteral("OK"));
        emit session->flashingWanted(true);
        QVERIFY(trayIcon()->flashing());
        emit session->flashingWanted(false);
        QVERIFY(!trayIcon()->flashing());
        emit session->errorOccurred(QStringLiteral("Could not connect server\r\nReason: refused"));
        QVERIFY(loadedErrorWindow());
        QCOMPARE(loadedErrorWindow()->messageLabel->text(),
                 QStringLiteral("Could not connect server\r\nReason: refused"));
        emit session->loggedOff();
        for (QLabel* label : {w->addressLabel, w->lastResponseCaption, w->lastResponseLabel})
            QVERIFY(label->isHidden());
        // A refusal turns the switch off, which logs off once.
        emit session->refused(OnlineSession::Refusal::WrongPassword);
        QVERIFY(!w->onlineSwitch->isChecked());
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Enable")), QStringLiteral("0"));
        QCOMPARE(w->engineStateLabel->text(), QStringLiteral("OFF"));
        QCOMPARE(shellRecord().engineLogoffs, 1);
        QVERIFY(!w->onlineController()->session());
    }

    // Going online where the port is taken: the box says so once, and the
    // switch and the engine label show that nothing listens. The stored
    // choice stays for the next start.
    void startFailureShowsTheTrueState()
    {
        MainWindow* w = started();
        QVERIFY(w);
        QVERIFY(w->onlineSwitch->isChecked());
        OnlineSession* session = w->onlineController()->session();
        QVERIFY(session);
        emit session->startFailed(QStringLiteral("Port 2156 is in use by another program"));
        QCOMPARE(MessageBox::history().size(), 1);
        QCOMPARE(MessageBox::history()[0].icon, QMessageBox::NoIcon);
        QCOMPARE(MessageBox::history()[0].title, QStringLiteral("Vantora"));
        QCOMPARE(MessageBox::history()[0].text, QStringLiteral("Port 2156 is in use by another program"));
        QVERIFY(!w->onlineSwitch->isChecked());
        QVERIFY(!globals().OnlineSwitch);
        QCOMPARE(w->engineStateLabel->text(), QStringLiteral("OFF"));
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Enable")), QStringLiteral("1"));
        // Ticking the switch again tries again.
        const int loads = shellRecord().engineLoads;
        session->logOff();
        w->onlineSwitch->setChecked(true);
        QCOMPARE(shellRecord().engineLoads, loads + 1);
        QCOMPARE(w->engineStateLabel->text(), QStringLiteral("ON"));
        QCOMPARE(MessageBox::history().size(), 1);
    }

    void logInBox()
    {
        MainWindow* w = started();
        QVERIFY(w);
        QVERIFY(!w->accountBox->isVisible());
        w->changeAccountButton->click();
        QVERIFY(w->accountBox->isVisible());
        w->userNameEdit->setText(QStringLiteral("carol"));
        w->passwordEdit->setText(QStringLiteral("pw"));
        w->domainBox->setCurrentIndex(1);
        w->applyAccountButton->click();
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Username")),
                 QStringLiteral("carol"));
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Password")), QStringLiteral("pw"));
        QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Domain")),
                 QStringLiteral("camfriends.example"));
        QCOMPARE(w->userLabel->text(), QStringLiteral("carol"));
        QCOMPARE(w->domainLabel->text(), QStringLiteral("camfriends.example"));
        QCOMPARE(MessageBox::history().size(), 1);
        QCOMPARE(MessageBox::history().first().title, QStringLiteral("Vantora"));
        QCOMPARE(MessageBox::history().first().text,
                 QStringLiteral("You have to go OFFLINE and then ONLINE to apply changes"));
        QCOMPARE(MessageBox::history().first().icon, QMessageBox::Information);
        QVERIFY(!w->accountBox->isVisible());
        // Nothing goes on or off line by itself.
        QCOMPARE(shellRecord().engineLogoffs, 0);
    }

    void minuteCounter()
    {
        MainWindow* w = started();
        QVERIFY(w);
        QCOMPARE(w->minutesLabel->text(), QStringLiteral("0 min. runned"));
        QCOMPARE(w->minuteTimer->interval(), 60000);
        w->camera->setPreview(false);
        w->onMinuteTick();
        QCOMPARE(w->minutesLabel->text(), QStringLiteral("1 min. runned"));
        QVERIFY(w->camera->preview());
        w->minutesRunning = 32766;
        w->onMinuteTick();
        QCOMPARE(w->minutesLabel->text(), QStringLiteral("32767 min. runned"));
        w->onMinuteTick();
        QCOMPARE(w->minutesRunning, 32767);
        QCOMPARE(w->minutesLabel->text(), QStringLiteral("32767 min. runned"));
    }

    void captureErrors_data()
    {
        QTest::addColumn<bool>("report");
        QTest::addColumn<QString>("description");
        QTest::addColumn<bool>("shown");
        QTest::newRow("reported") << true << "Device busy" << true;
        QTest::newRow("reporting off") << false << "Device busy" << false;
        QTest::newRow("no description") << true << "" << false;
    }
    void captureErrors()
    {
        QFETCH(bool, report);
        QFETCH(QString, description);
        QFETCH(bool, shown);
        MainWindow* w = buildMainWindow();
        globals().ShowCamErrors = report;
        emit w->camera->errorOccurred(Capture::DeviceFailed, description);
        QCOMPARE(bool(loadedErrorWindow()), shown);
        if (shown) {
            QCOMPARE(
                loadedErrorWindow()->messageLabel->text(),
                QStringLiteral("Video Device Error: Device busy\r\n\r\nGo to Camera Options to disable this "
                               "error message (Configure -> Camera Options"));
            QVERIFY(loadedErrorWindow()->isVisible());
        }
    }

    void minimiseHidesToTheTray_data()
    {
        QTest::addColumn<bool>("tray");
        QTest::newRow("notification area") << true;
        QTest::newRow("none: stays in the task bar") << false;
    }
    void minimiseHidesToTheTray()
    {
        QFETCH(bool, tray);
        TrayIcon::assumeTray(tray);
        MainWindow* w = started();
        QVERIFY(w);
        QVERIFY(w->camera->preview());
        w->showMinimized();
        QTRY_VERIFY(!w->camera->preview());
        QVERIFY(trayIcon());
        if (!tray) {
            QCoreApplication::processEvents(); // where the hiding would happen
            QVERIFY(w->isVisible());
            w->showNormal();
            QTRY_VERIFY(w->camera->preview()); // back from the task bar, the picture runs again
            TrayIcon::assumeTray(false);
            return;
        }
        QTRY_VERIFY(!w->isVisible());
        trayIcon()->onActivated(QSystemTrayIcon::DoubleClick);
        QVERIFY(w->isVisible());
        QVERIFY(!w->isMinimized());
        QVERIFY(w->camera->preview());
        TrayIcon::assumeTray(false);
    }

    void fullScreenAndBack()
    {
        MainWindow* w = started();
        QVERIFY(w);
        const QRect normal = w->geometry();
        QVERIFY(!w->exitFullScreenButton->isVisible());
        w->fullScreenAction->trigger();
        QVERIFY(w->fullScreenMode());
        QVERIFY(w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(!w->previewAction->isEnabled());
        QVERIFY(w->exitFullScreenButton->isVisible());
        QCOMPARE(w->exitFullScreenButton->text(), QStringLiteral("Close fullscreen"));
        const QRect screen = w->screen()->geometry();
        QCOMPARE(w->exitFullScreenButton->y(), 0);
        QCOMPARE(w->exitFullScreenButton->x(), screen.width() / 2 - w->exitFullScreenButton->width() / 2);
        QTRY_COMPARE(w->previewArea->size(), screen.size());

        w->exitFullScreenButton->click();
        QVERIFY(!w->fullScreenMode());
        QVERIFY(!w->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QVERIFY(w->previewAction->isEnabled());
        QVERIFY(!w->exitFullScreenButton->isVisible());
        QVERIFY(!w->exitFullScreenButton->isEnabled());
        QTRY_COMPARE(w->geometry().size(), normal.size());
        QVERIFY(w->isVisible());
    }

    void previewMenuToggles()
    {
        MainWindow* w = started();
        QVERIFY(w);
        QVERIFY(w->previewAction->isChecked());
        w->previewAction->trigger();
        QVERIFY(!w->previewAction->isChecked());
        QVERIFY(!w->fullScreenAction->isEnabled());
        QVERIFY(!w->previewArea->isVisible());
        QVERIFY(!w->camera->preview());
        w->previewAction->trigger();
        QVERIFY(w->previewAction->isChecked());
        QVERIFY(w->fullScreenAction->isEnabled());
        QVERIFY(w->previewArea->isVisible());
        QVERIFY(w->camera->preview());
    }

    void menusInOrder()
    {
        MainWindow* w = buildMainWindow();
        QStringList texts;
        for (QAction* menu : w->menuBar()->actions()) {
            texts << menu->text();
            for (QAction* a : menu->menu()->actions())
                texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
        }
        QCOMPARE(texts, QStringList({"&File", "E&xit", "&View", "Active Connections", "Plugins", "Configure",
                                     "My Buddy List", "Preview", "Preview in fullscreen", "&Actions",
                                     "&Invite someone for chat", "&Help", "&Help", "&Support", "-",
                                     "&About...", "System Info"}));
    }

    void inviteNeedsLogIn()
    {
        MainWindow* w = buildMainWindow();
        w->inviteAction->trigger();
        QVERIFY(loadedErrorWindow());
        QCOMPARE(loadedErrorWindow()->messageLabel->text(), QStringLiteral("You must login first!"));
        QCOMPARE(shellRecord().invitationOpens, 0);
        globals().LoggedIn = true;
        w->inviteAction->trigger();
        QCOMPARE(shellRecord().invitationOpens, 1);
    }

    void otherWindowsOpen()
    {
        MainWindow* w = buildMainWindow();
        w->configureAction->trigger();
        QCOMPARE(shellRecord().configurationOpens, 1);
        w->snapshotsButton->click();
        QCOMPARE(shellRecord().snapshotOpens, 1);
        w->activeConnectionsAction->trigger();
        QCOMPARE(shellRecord().activeShows, 1);
        QVERIFY(w->activeConnectionsAction->isChecked());
        w->activeConnectionsAction->trigger();
        QVERIFY(!shellRecord().activeVisible);
        QVERIFY(!w->activeConnectionsAction->isChecked());
    }

    void helpPagesAndSystemInfo()
    {
        MainWindow* w = buildMainWindow();
        w->helpActions[0]->trigger();
        w->helpActions[1]->trigger();
        QCOMPARE(shellRecord().opened,
                 QList<QUrl>({QUrl(QStringLiteral("http://directory.vantora.example/help.html")),
                              QUrl(QStringLiteral("http://directory.vantora.example/support.html"))}));
        globals().OsName = QStringLiteral("Debian GNU/Linux 12 (bookworm)");
        w->helpActions[4]->trigger();
        QCOMPARE(MessageBox::history().size(), 1);
        const MessageBox::Shown& box = MessageBox::history().first();
        QCOMPARE(box.title, QStringLiteral("Vantora System Info Window"));
        const QStringList lines = box.text.split(u'\n');
        QCOMPARE(lines.value(0), QStringLiteral("OS Information:"));
        QCOMPARE(lines.value(1), globals().OsName);
        QVERIFY(!lines.value(2).isEmpty());
    }

    void addressLink()
    {
        MainWindow* w = started();
        QVERIFY(w);
        w->addressLabel->setText(QStringLiteral("http://alice.vantora.example/"));
        w->addressLabel->show();
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(w->addressLabel, &enter);
        QCOMPARE(w->addressLabel->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QCoreApplication::sendEvent(w->engineStateLabel, &enter);
        QCOMPARE(w->addressLabel->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QCoreApplication::sendEvent(w->addressLabel, &enter);
        QCoreApplication::sendEvent(w->centralWidget(), &enter);
        QCOMPARE(w->addressLabel->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QTest::mouseClick(w->addressLabel, Qt::LeftButton);
        QCOMPARE(shellRecord().opened, QList<QUrl>({QUrl(QStringLiteral("http://alice.vantora.example/"))}));
    }

    void shutDownInOrder()
    {
        MainWindow* w = started();
        QVERIFY(w);
        shellRecord().activeVisible = true;
        QVERIFY(trayIcon());
        w->exitAction->trigger();
        QCOMPARE(MainWindow::shutdownRecord(),
                 QStringList({"save WindowVisible", "preview off", "disconnect driver", "timers off",
                              "log off", "unload connections", "unload tray", "unload configuration",
                              "unload cameraUnavailable", "unload about", "unload snapshots",
                              "unload jpegPreview", "unload newVersion", "unload splash",
                              "unload activeConnections", "unload mainWindow", "end"}));
        QCOMPARE(GetSetting(QStringLiteral("Active Connections"), QStringLiteral("WindowVisible")),
                 QStringLiteral("True"));
        QVERIFY(!shellRecord().activeVisible);
        QCOMPARE(shellRecord().engineLogoffs, 1);
        QVERIFY(globals().GoingOffline);
        QVERIFY(!trayIcon());
        QVERIFY(!mainWindow());
        QCOMPARE(shellRecord().programEnds, 1);
    }

    void windowVisibleSavedFalse()
    {
        MainWindow* w = started();
        QVERIFY(w);
        w->close(); // the window's own close button shuts down too
        QVERIFY(!mainWindow());
        QCOMPARE(GetSetting(QStringLiteral("Active Connections"), QStringLiteral("WindowVisible")),
                 QStringLiteral("False"));
        QCOMPARE(shellRecord().programEnds, 1);
    }

    void recorderThatCannotStart()
    {
        QTemporaryDir empty;
        MainWindow* w = started();
        QVERIFY(w);
        w->setRecorderFolder(empty.path());
        w->recordButton->click();
        QCOMPARE(mainWindow(), w);
        QVERIFY(w->isVisible());
        QCOMPARE(shellRecord().programEnds, 0);
        QVERIFY(loadedErrorWindow());
        const QString message = loadedErrorWindow()->messageLabel->text();
        QVERIFY2(message.contains(QLatin1String("No such file or directory")), qPrintable(message));
    }

    void recorderStartsAndTheWindowGoes()
    {
        QTemporaryDir folder;
        const QString marker = folder.filePath(QStringLiteral("started"));
        QFile script(folder.filePath(QStringLiteral("reelsmith")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\necho \"$@\" > '" + QFile::encodeName(marker) + "'\n");
        script.close();
        script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        MainWindow* w = started();
        QVERIFY(w);
        w->setRecorderFolder(folder.path());
        w->recordButton->click();
        QVERIFY(!mainWindow());
        QCOMPARE(shellRecord().programEnds, 1);
        QVERIFY(!loadedErrorWindow());
        QTRY_VERIFY(QFileInfo(marker).size() > 0);
        QFile m(marker);
        QVERIFY(m.open(QIODevice::ReadOnly));
        QCOMPARE(m.readAll().trimmed(), QByteArray("/reload"));
    }

    void updateCheck_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("offered");
        QTest::newRow("newer version")
            << QByteArray("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n1.02\r\n\r\nSharper pictures.")
            << true;
        QTest::newRow("same version") << QByteArray("HTTP/1.0 200 OK\r\n\r\n1.01\r\n\r\nnothing") << false;
        QTest::newRow("older version") << QByteArray("HTTP/1.0 200 OK\r\n\r\n1.00\r\n\r\nnothing") << false;
        QTest::newRow("short version") << QByteArray("HTTP/1.0 200 OK\r\n\r\n2.0\r\n\r\nnothing") << false;
        QTest::newRow("first piece only") << QByteArray("HTTP/1.0 200 OK\r\n\r\n1.0") << false;
        QTest::newRow("not found") << QByteArray("HTTP/1.0 404 Not Found\r\n\r\n") << false;
    }
    void updateCheck()
    {
        QFETCH(QByteArray, answer);
        QFETCH(bool, offered);
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        globals().ServerHost = QStringLiteral("127.0.0.1:%1").arg(server.serverPort());
        MainWindow* w = buildMainWindow();
        QCOMPARE(w->updateCheckDelay->interval(), 1500);
        QVERIFY(w->updateCheckDelay->isSingleShot());
        w->updateCheckDelay->start();
        w->onUpdateCheckDue(); // the 1.5 s are up
        QVERIFY(!w->updateCheckDelay->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(server.hasPendingConnections() || server.waitForNewConnection(10), 10000);
        QTcpSocket* peer = server.nextPendingConnection();
        QVERIFY(peer);
        QByteArray request;
        QTRY_VERIFY((request += peer->readAll()).endsWith("\r\n\r\n"));
        QCOMPARE(request, QByteArray("GET /autoupdate/autoupdate.txt HTTP/1.0\r\nAccept: */*\r\n"
                                     "User-Agent: VTR Webcam Client\r\nHost: ") +
                              globals().ServerHost.toLatin1() + "\r\n\r\n");
        peer->write(answer);
        peer->flush();
        // The program closes the connection after the first piece.
        QTRY_VERIFY(peer->state() == QAbstractSocket::UnconnectedState || !peer->isValid() ||
                    (peer->waitForDisconnected(10), peer->state() == QAbstractSocket::UnconnectedState));
        if (QTest::currentDataTag() == QLatin1String("first piece only"))
            peer->write("2\r\n\r\nlate notes"); // too late: not read
        QCoreApplication::processEvents();
        QCOMPARE(bool(loadedNewVersionWindow()), offered);
        if (offered) {
            NewVersionWindow* nv = loadedNewVersionWindow();
            QVERIFY(nv->isVisible());
            QCOMPARE(nv->windowTitle(), QStringLiteral("New version availabe"));
            QCOMPARE(nv->versionLabel->text(), QStringLiteral("New version: 1.02"));
            QCOMPARE(nv->releaseNotesEdit->toPlainText(), QStringLiteral("Sharper pictures."));
            QCOMPARE(nv->downloadButton->text(), QStringLiteral("Go to download page..."));
            nv->downloadButton->click();
            QCOMPARE(shellRecord().opened,
                     QList<QUrl>({QUrl(QStringLiteral("http://directory.vantora.example/download.html"))}));
            nv->closeButton->click();
            QVERIFY(!loadedNewVersionWindow());
        }
    }

    void updateCheckAgainstTheDirectory_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("offered");
        QTest::newRow("newer") << QByteArray("1.02\r\n\r\nSharper pictures.") << true;
        QTest::newRow("same") << QByteArray("1.01\r\n\r\nYou run the newest version.") << false;
        QTest::newRow("no file") << QByteArray() << false;
    }
    void updateCheckAgainstTheDirectory()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, offered);
        DirectoryProcess directory;
        if (!file.isEmpty())
            directory.setUpdateFile(file);
        QVERIFY2(directory.start(), directory.log().constData());
        globals().ServerHost = directory.hostPort();
        MainWindow* w = buildMainWindow();
        w->onUpdateCheckDue();
        QVERIFY(w->updateSocket->state() != QAbstractSocket::UnconnectedState);
        QTRY_VERIFY(w->updateSocket->state() == QAbstractSocket::UnconnectedState);
        QCoreApplication::processEvents();
        QCOMPARE(bool(loadedNewVersionWindow()), offered);
        if (offered) {
            QCOMPARE(loadedNewVersionWindow()->versionLabel->text(), QStringLiteral("New version: 1.02"));
            QCOMPARE(loadedNewVersionWindow()->releaseNotesEdit->toPlainText(),
                     QStringLiteral("Sharper pictures."));
        }
    }

    void updateCheckRefusedIsSilent()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const quint16 port = server.serverPort();
        server.close(); // nothing listens there now
        globals().ServerHost = QStringLiteral("127.0.0.1:%1").arg(port);
        MainWindow* w = buildMainWindow();
        QSignalSpy failed(w->updateSocket, &QTcpSocket::errorOccurred);
        w->onUpdateCheckDue();
        QVERIFY(failed.wait(5000));
        QCoreApplication::processEvents();
        QVERIFY(!loadedNewVersionWindow());
        QVERIFY(!loadedErrorWindow());
        QVERIFY(MessageBox::history().isEmpty());
        QVERIFY(!w->updateCheckDelay->isActive()); // never re-armed
    }
};

VANTORA_TEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
