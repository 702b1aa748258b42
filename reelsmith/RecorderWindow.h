#pragma once
// "Reel Smith": live preview, recording into an AVI file, the capture
// component's dialogs, the sound switch and the file name.

#include "reelsmith/ReelLayout.h"

#include <QWidget>
#include <functional>

class Capture;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

class RecorderWindow : public QWidget
{
    Q_OBJECT
public:
    // arguments: the whole command line, program name first.
    explicit RecorderWindow(const QStringList& arguments, QWidget* parent = nullptr);
    ~RecorderWindow() override;

    // Where the main program is started from on close ("/reload"), and how.
    // Given a folder, only that one is looked in (and PATH).
    void setProgramFolder(const QString& folder);
    using Launcher = std::function<bool(const QString& folder, const QString& program)>;
    void setLauncher(Launcher launcher);

    bool restartFlag() const { return restart; }
    const reel::Layout& layout() const { return fitted; }
    // The file box's first text: the Videos folder (or home) + "/Movie.avi".
    static QString startFolder();

    void toggleOptions();
    void onSoundSwitchClicked();
    void browse();
    void recordOrStop();
    void chooseCompression();
    void chooseVideoFormat();
    // Repairs what killed recorders left unfinished (only `onlyPath` when
    // given) and tells the user.
    void repairInterruptedTakes(const QString& onlyPath = {});
    void chooseAudioFormat();

    Capture* capture;
    QGroupBox* previewFrame;
    QLabel* statusLabel;
    QPushButton* optionsButton;
    QPushButton* recordButton;
    QPushButton* closeButton;
    QGroupBox* videoOptionsBox;
    QPushButton* compressionButton;
    QPushButton* videoFormatButton;
    QGroupBox* soundOptionsBox;
    QPushButton* audioFormatButton;
    QCheckBox* soundSwitch;
    QGroupBox* storageBox;
    QLineEdit* fileEdit;
    QPushButton* browseButton;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void fitWindow();
    void recordingEnded();

    bool restart = false;
    QString programFolder;
    QStringList programFolders; // where the default launcher looks, before PATH
    Launcher launcher;
    reel::Layout fitted;
    bool starting = false; // inside recordOrStop's start
    QString failedMidway;  // why a running recording broke off
    bool closeAfterRecording = false;
};
