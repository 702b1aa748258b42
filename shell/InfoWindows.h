#pragma once
// Small windows that inform the user: the error window, the about window, the
// video-driver failure window and the new-version window. Each is a single
// instance, created on first use and destroyed by unloading.

#include <QDialog>
#include <QWidget>

class QLabel;
class QPushButton;
class QPlainTextEdit;

class frmError : public QWidget
{
    Q_OBJECT
public:
    explicit frmError(QWidget* parent = nullptr);
    ~frmError() override;
    QLabel* Label1 = nullptr; // the message; callers replace it
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr; // "here": the support page
    QPushButton* Command1 = nullptr;
    void Label3_Click();
};

class frmAbout : public QDialog
{
    Q_OBJECT
public:
    explicit frmAbout(QWidget* parent = nullptr);
    ~frmAbout() override;
    QLabel* lblDescription = nullptr;
    QLabel* lblDisclaimer = nullptr;
    QLabel* lblNotice = nullptr; // opens the legal page
    QLabel* lblVersion = nullptr;
    QPushButton* cmdOK = nullptr;
    void lblNotice_Click();
};

class Form5 : public QDialog
{
    Q_OBJECT
public:
    explicit Form5(QWidget* owner = nullptr);
    ~Form5() override; // re-enables the main window, however it closes
    QLabel* Label1 = nullptr;
    QPushButton* Command1 = nullptr; // "Close"
    QPushButton* Command2 = nullptr; // "Go to configuration"
    void Command2_Click();
};

class frmNewVersion : public QWidget
{
    Q_OBJECT
public:
    explicit frmNewVersion(QWidget* parent = nullptr);
    ~frmNewVersion() override;
    QLabel* Label3 = nullptr;
    QPlainTextEdit* Text1 = nullptr;
    QPushButton* Command1 = nullptr; // download page
    QPushButton* Command2 = nullptr; // "Close"
};

// Loads (creates) the window when needed and returns it; does not show it.
frmError* errorWindow();
frmAbout* aboutWindow();
frmNewVersion* newVersionWindow();
Form5* driverFailureWindow(QWidget* owner);
// The loaded window, or null.
frmError* loadedErrorWindow();
frmAbout* loadedAboutWindow();
frmNewVersion* loadedNewVersionWindow();
Form5* loadedDriverFailureWindow();
// Unloads (destroys) the window when it is loaded.
void unloadErrorWindow();
void unloadAboutWindow();
void unloadNewVersionWindow();
void unloadDriverFailureWindow();

// The product notice shown in the about and system information windows.
QString productNotice();
