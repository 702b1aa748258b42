#pragma once
// The main window: live preview, online switch, log-in box, status area and
// the menus that open every other window. Loading it runs the start-up steps;
// unloading it shuts the program down.

#include <QMainWindow>
#include <QStringList>
#include <functional>
#include <memory>

#include "shell/Settings.h"
#include "shell/Startup.h"

class Capture;
class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QLockFile;
class QPushButton;
class QTcpSocket;
class QTimer;
class MainWindow;
class OnlineController;

// The loaded main window, or null.
MainWindow* mainWindow();
// Creates the main window and runs every start-up step at once, then shows
// what start-up has to tell. Null when the user chose not to start a second
// copy (or the program was shut down meanwhile).
MainWindow* loadMainWindow();
// What happens once the splash has been shown: creates the main window and
// runs the start-up steps one per pass of the event loop, so the splash
// paints each step and signals are handled between them. Returns at once;
// the window emits startupFinished at the end.
MainWindow* startMainWindow();
// Creates the main window without running any start-up step and without
// showing it: for tests and tools that need its controls.
MainWindow* buildMainWindow();
// The shut-down: unloads the main window and everything else, then ends the program.
void unloadMainWindow();

class MainWindow : public QMainWindow, private StartupHost
{
    Q_OBJECT
public:
    // Controls other windows use.
    Capture* camera = nullptr;
    QFrame* previewArea = nullptr;
    QCheckBox* onlineSwitch = nullptr;
    QGroupBox* accountBox = nullptr;
    QComboBox* domainBox = nullptr;
    QLineEdit* userNameEdit = nullptr;
    QLineEdit* passwordEdit = nullptr;
    QPushButton* recordButton = nullptr;
    QPushButton* applyAccountButton = nullptr;
    QPushButton* snapshotsButton = nullptr;
    QPushButton* changeAccountButton = nullptr;
    QPushButton* exitFullScreenButton = nullptr;
    QLabel* minutesLabel = nullptr;
    QLabel* userLabel = nullptr;
    QLabel* domainLabel = nullptr;
    QLabel* inputLabel = nullptr;
    QLabel* engineCaptionLabel = nullptr;
    QLabel* engineStateLabel = nullptr;
    QLabel* addressLabel = nullptr;
    QLabel* lastResponseCaption = nullptr;
    QLabel* lastResponseLabel = nullptr;
    QTimer* minuteTimer = nullptr;
    QTimer* updateCheckDelay = nullptr;
    QTcpSocket* updateSocket = nullptr;

    // Menu entries.
    QAction* exitAction = nullptr;
    QAction* activeConnectionsAction = nullptr;
    QAction* pluginsAction = nullptr;
    QAction* configureAction = nullptr;
    QAction* buddyListAction = nullptr;
    QAction* previewAction = nullptr;
    QAction* fullScreenAction = nullptr;
    QAction* inviteAction = nullptr;
    QAction* helpActions[5] = {};

    int minutesRunning = 0;

    // Handlers, callable directly.
    void onOnlineSwitchToggled(); // the online switch changed
    void onApplyAccount();        // log-in box "OK"
    // The account as the log-in box holds it.
    StreamingAccount enteredAccount() const;
    void onChangeAccount();  // "Change >"
    void onRecord();         // start the recorder
    void onSnapshots();      // snapshots
    void onExitFullScreen(); // "Close fullscreen"
    void onMinuteTick();     // minute counter
    void onUpdateCheckDue(); // starts the update check
    void onCaptureError(int number, const QString& description);
    void onHelpItem(int index);
    void onPreviewToggled();
    void onFullScreen();
    void onActiveConnections();
    void onInvite();
    void showWindowFromTray();
    // Loads the tray icon (when needed) and connects its menu to this window.
    void loadTray() override;
    // The about window, modeless (from the tray).
    void showAbout();

    // Going online and offline; the window only shows what it reports.
    OnlineController* onlineController() const { return m_online; }

    bool fullScreenMode() const { return m_fullScreen; }
    // Where the recorder is looked for: beside vantora, the install folder, then PATH;
    // a folder set here is looked in instead (PATH still last).
    void setRecorderFolder(const QString& folder) { m_recorderFolders = QStringList{folder}; }
    QStringList recorderFolders() const { return m_recorderFolders; }

    // The start-up steps as they ran (status texts and bar values).
    const QStringList& startupRecord() const { return m_startupRecord; }
    bool startingUp() const { return m_startingUp; }
    // Runs `show` once start-up has shown this window (at once after it):
    // windows that start-up raises belong in front of the main window, not
    // behind it or over the splash.
    void whenStarted(std::function<void()> show);
    // The shut-down steps as they ran, by name, from the last unload.
    static const QStringList& shutdownRecord();

    ~MainWindow() override;

signals:
    // The start-up steps ended; false when this copy was not started after all.
    void startupFinished(bool started);

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend MainWindow* loadMainWindow();
    friend MainWindow* startMainWindow();
    friend MainWindow* buildMainWindow();
    friend void unloadMainWindow();
    // Keeps the window from being freed while one of its handlers runs: a
    // shut-down inside a modal box or a start-up step (a signal, the tray)
    // frees it once the outermost handler has returned.
    class Running;
    MainWindow();
    void buildUi();
    void connectOnlineController();
    void onAccountMissing();
    void askForAccount();
    void onStartFailed(const QString& reason);
    void showNotice(const QString& text);
    void runStartup();
    void runNextStep();
    void finishStartup(bool started);
    void layoutPreview();
    void onUpdateSocketConnected();
    void onUpdateSocketReadyRead();
    void shutDown();
    void onShutDownRequested();

    // StartupHost
    void status(const QString& text) override;
    void bar(int percent) override;
    bool anotherCopyRunning() override;
    bool askStartAnotherCopy(const QString& title, const QString& text) override;
    void abandon() override;
    void setTitle(const QString& title) override;
    void changeToProgramFolder() override;
    void selectDriver(int index) override;
    void enableUpdateTimer() override;
    bool connectVideo() override;
    void showDriverFailure() override;
    void setEngineState(const QString& text) override;
    void loadEngine() override;
    void showActiveConnections() override;
    void showMainUnloadSplash() override;
    void fillLogin(const QStringList& domains, const QString& user, const QString& password,
                   const QString& domain) override;
    void setOnlineSwitch(int value) override;

    OnlineController* m_online = nullptr;
    QWidget* m_sidePanel = nullptr;
    QWidget* m_bottomBar = nullptr;
    QStringList m_startupRecord;
    std::unique_ptr<QLockFile> m_instanceLock;
    QStringList m_recorderFolders;
    bool m_fullScreen = false;
    std::unique_ptr<StartupSequence> m_sequence;
    QList<std::function<void()>> m_afterStartup;
    bool m_startingUp = false;
    bool m_accountAskedAtStart = false;
    bool m_startFailedAtStart = false;
    int m_running = 0;
    bool m_deleteWhenIdle = false;
    QRect m_normalGeometry;
    bool m_updateAnswered = false;
    bool m_driverSelected = false;
    bool m_unloading = false;
};
