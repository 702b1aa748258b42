#pragma once
// "Reel Smith": live preview, recording into an AVI file, the capture
// component's dialogs, the sound switch and the file name.

#include "ReelLayout.h"

#include <QWidget>
#include <functional>

class Capture;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class frmMain : public QWidget
{
    Q_OBJECT
public:
    // arguments: the whole command line, program name first.
    explicit frmMain(const QStringList& arguments, QWidget* parent = nullptr);
    ~frmMain() override;

    // Where the main program is started from on close ("/reload"), and how.
    void setProgramFolder(const QString& folder);
    using Launcher = std::function<bool(const QString& folder, const QString& program)>;
    void setLauncher(Launcher launcher);

    bool restartFlag() const { return restart; }
    const reel::Layout& layout() const { return fitted; }
    // The file box's first text: the Videos folder (or home) + "/Movie.avi".
    static QString startFolder();

    void cmdOptions_Click();
    void chkSound_Click();
    void cmdBrowse_Click();
    void cmdGo_Click();
    void cmdCompression_Click();
    void cmdFormat_Click();
    void cmdAudio_Click();

    Capture* Cap;
    QGroupBox* fraPreview;
    QLabel* picStatus;
    QPushButton* cmdOptions;
    QPushButton* cmdGo;
    QPushButton* cmdClose;
    QGroupBox* fraVideo;
    QPushButton* cmdCompression;
    QPushButton* cmdFormat;
    QGroupBox* fraSound;
    QPushButton* cmdAudio;
    QCheckBox* chkSound;
    QGroupBox* fraStorage;
    QLineEdit* txtFile;
    QPushButton* cmdBrowse;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void fitWindow();
    void recordingEnded();

    bool restart = false;
    QString programFolder;
    Launcher launcher;
    reel::Layout fitted;
    bool starting = false;      // inside cmdGo_Click's start
    QString failedMidway;       // why a running recording broke off
    bool closeAfterRecording = false;
};
