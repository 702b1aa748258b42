#pragma once
// The main window: live preview, online switch, log-in box, status area and
// the menus that open every other window. Loading it runs the start-up steps;
// unloading it shuts the program down.

#include <QMainWindow>
#include <QStringList>
#include <memory>

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

// The loaded main window, or null.
MainWindow* mainWindow();
// Creates the main window and runs the start-up steps (what the splash window
// does 200 ms after Main). Null when the user chose not to start a second copy.
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
    Capture* Cap = nullptr;
    QFrame* Picture1 = nullptr;
    QCheckBox* Check1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QComboBox* Combo1 = nullptr;
    QLineEdit* Text3 = nullptr;
    QLineEdit* Text4 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QPushButton* Command3 = nullptr;
    QPushButton* Command4 = nullptr;
    QPushButton* Command5 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label12 = nullptr;
    QTimer* Timer1 = nullptr;
    QTimer* Timer3 = nullptr;
    QTcpSocket* Winsock1 = nullptr;

    // Menu entries.
    QAction* mnuExit = nullptr;
    QAction* mnuActiveConnections = nullptr;
    QAction* mnuPlugins = nullptr;
    QAction* mnuConfigure = nullptr;
    QAction* mnuBuddyList = nullptr;
    QAction* mnuPreview = nullptr;
    QAction* mnuFullscreen = nullptr;
    QAction* mnuInvite = nullptr;
    QAction* mnuHelpItem[5] = {};

    int MinutesRunning = 0;

    // Handlers, callable directly.
    void Check1_Click();   // the online switch changed
    void Command2_Click(); // log-in box "OK"
    void Command4_Click(); // "Change >"
    void Command1_Click(); // start the recorder
    void Command3_Click(); // snapshots
    void Command5_Click(); // "Close fullscreen"
    void Timer1_Timer();   // minute counter
    void Timer3_Timer();   // starts the update check
    void Cap_Error(int number, const QString& description);
    void mnuHelp_Click(int index);
    void mnuPreview_Click();
    void mnuFullscreen_Click();
    void mnuActiveConnections_Click();
    void mnuInvite_Click();
    void showWindowFromTray();

    bool fullScreenMode() const { return m_fullScreen; }
    // Folder the recorder is started from; the program's own folder by default.
    void setRecorderFolder(const QString& folder) { m_recorderFolder = folder; }
    QString recorderFolder() const { return m_recorderFolder; }

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
    bool runStartup();
    void layoutPreview();
    void Winsock1_Connect();
    void Winsock1_DataArrival();
    void shutDown();

    // StartupHost
    void status(const QString& text) override;
    void bar(int percent) override;
    bool anotherCopyRunning() override;
    bool askStartAnotherCopy(const QString& title, const QString& text) override;
    void abandon() override;
    void setTitle(const QString& title) override;
    void changeToProgramFolder() override;
    bool isWindowsNT() override;
    void stopMessengerService() override;
    void loadTray() override;
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

    QWidget* m_sidePanel = nullptr;
    QWidget* m_bottomBar = nullptr;
    QStringList m_startupRecord;
    std::unique_ptr<QLockFile> m_instanceLock;
    QString m_recorderFolder;
    bool m_fullScreen = false;
    QRect m_normalGeometry;
    bool m_updateAnswered = false;
    bool m_driverSelected = false;
    bool m_unloading = false;
};
