#pragma once
// The main window: live preview, online switch, log-in box, status area and
// the menus that open every other window. Loading it runs the start-up steps;
// unloading it shuts the program down.

#include <QMainWindow>
#include <QStringList>
#include <memory>

#include "shell/Settings.h"
#include "shell/Startup.h"
#include "shell/UpdateCheck.h"

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
// Creates the main window and runs the start-up steps (what happens once the
// splash has been shown). Null when the user chose not to start a second copy.
MainWindow* loadMainWindow();
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
    // The shut-down steps as they ran, by name, from the last unload.
    static const QStringList& shutdownRecord();

    ~MainWindow() override;

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    friend MainWindow* loadMainWindow();
    friend MainWindow* buildMainWindow();
    friend void unloadMainWindow();
    MainWindow();
    void buildUi();
    void connectOnlineController();
    void onAccountMissing();
    bool runStartup();
    void layoutPreview();
    void showNewVersion(const updatecheck::NewVersion& offer);
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
    bool m_startingUp = false;
    bool m_accountAskedAtStart = false;
    QRect m_normalGeometry;
    updatecheck::Fetch* m_updateCheck = nullptr;
    bool m_driverSelected = false;
    bool m_unloading = false;
    bool m_keepStoredSwitch = false; // the switch moves without the user
};
