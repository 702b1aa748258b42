#pragma once
// Small windows that inform the user: the error window, the about window, the
// video-driver failure window and the new-version window. Each is a single
// instance, created on first use and destroyed by unloading.

#include <QDialog>
#include <QWidget>

class QLabel;
class QPushButton;
class QPlainTextEdit;

class ErrorWindow : public QWidget
{
    Q_OBJECT
public:
    explicit ErrorWindow(QWidget* parent = nullptr);
    ~ErrorWindow() override;
    QLabel* Label1 = nullptr; // the message; callers replace it
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr; // "here": the support page
    QPushButton* Command1 = nullptr;
    void Label3_Click();
};

class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;
    QLabel* lblDescription = nullptr;
    QLabel* lblDisclaimer = nullptr;
    QLabel* lblNotice = nullptr; // opens the legal page
    QLabel* lblVersion = nullptr;
    QPushButton* cmdOK = nullptr;
    void lblNotice_Click();
};

class CameraUnavailableDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CameraUnavailableDialog(QWidget* owner = nullptr);
    ~CameraUnavailableDialog() override; // re-enables the main window, however it closes
    QLabel* Label1 = nullptr;
    QPushButton* Command1 = nullptr; // "Close"
    QPushButton* Command2 = nullptr; // "Go to configuration"
    void Command2_Click();
};

class NewVersionWindow : public QWidget
{
    Q_OBJECT
public:
    explicit NewVersionWindow(QWidget* parent = nullptr);
    ~NewVersionWindow() override;
    QLabel* Label3 = nullptr;
    QPlainTextEdit* Text1 = nullptr;
    QPushButton* Command1 = nullptr; // download page
    QPushButton* Command2 = nullptr; // "Close"
};

// Loads (creates) the window when needed and returns it; does not show it.
ErrorWindow* errorWindow();
AboutDialog* aboutWindow();
NewVersionWindow* newVersionWindow();
CameraUnavailableDialog* driverFailureWindow(QWidget* owner);
// The loaded window, or null.
ErrorWindow* loadedErrorWindow();
AboutDialog* loadedAboutWindow();
NewVersionWindow* loadedNewVersionWindow();
CameraUnavailableDialog* loadedDriverFailureWindow();
// Unloads (destroys) the window when it is loaded.
void unloadErrorWindow();
void unloadAboutWindow();
void unloadNewVersionWindow();
void unloadDriverFailureWindow();

// The product notice shown in the about and system information windows.
QString productNotice();
