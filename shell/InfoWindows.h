#pragma once
// Small windows that inform the user: the error window, the about window, the
// video-driver failure window and the new-version window. Each is a single
// instance, created on first use and destroyed by unloading.

#include <QDialog>
#include <QPointer>
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
    QLabel* messageLabel = nullptr; // the message; callers replace it
    QLabel* contactLabel = nullptr;
    QLabel* supportLink = nullptr; // "here": the support page
    QPushButton* closeButton = nullptr;
    void onSupportLinkClicked();
};

class AboutDialog : public QDialog
{
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;
    QLabel* descriptionLabel = nullptr;
    QLabel* disclaimerLabel = nullptr;
    QLabel* noticeLink = nullptr; // opens the legal page
    QLabel* versionLabel = nullptr;
    QPushButton* okButton = nullptr;
    void onNoticeClicked();
};

class CameraUnavailableDialog : public QDialog
{
    Q_OBJECT
public:
    explicit CameraUnavailableDialog(QWidget* owner = nullptr);
    ~CameraUnavailableDialog() override; // re-enables its owner, however it closes
    QLabel* messageLabel = nullptr;
    QPushButton* closeButton = nullptr;     // "Close"
    QPushButton* configureButton = nullptr; // "Go to configuration"
    void onGoToConfiguration();
    // The window it was opened for (the main window), disabled while it shows.
    QWidget* owner() const { return m_owner; }

private:
    QPointer<QWidget> m_owner;
};

class NewVersionWindow : public QWidget
{
    Q_OBJECT
public:
    explicit NewVersionWindow(QWidget* parent = nullptr);
    ~NewVersionWindow() override;
    QLabel* versionLabel = nullptr;
    QPlainTextEdit* releaseNotesEdit = nullptr;
    QPushButton* downloadButton = nullptr; // download page
    QPushButton* closeButton = nullptr;    // "Close"
};

// Loads (creates) the window when needed and returns it. Loading the error and
// new-version windows shows them, in front of the main window once start-up
// has shown that; the others are shown by their callers.
ErrorWindow* errorWindow();
// The about window belongs to `owner` when one is given at its first load.
AboutDialog* aboutWindow(QWidget* owner = nullptr);
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

// Loads the error window, sets its message and shows it. Offscreen the
// message is printed on stderr as well.
void ShowErrorWindow(const QString& message);

// The product notice shown in the about and system information windows.
QString productNotice();
