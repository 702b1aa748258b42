#pragma once
// "Make Pictures": the timed snapshots window. Controls and wiring only; what
// it does lives in Snapshots.

#include "shell/Snapshots.h"

#include <QPointer>
#include <QWidget>

class Capture;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

class SnapshotsWindow : public QWidget
{
    Q_OBJECT
public:
    // Pictures come from `camera` (the main window's), encoded by `encode`.
    SnapshotsWindow(Capture* camera, Snapshots::JpegWriter encode, QWidget* owner = nullptr);
    ~SnapshotsWindow() override;

    Snapshots* snapshots = nullptr;
    QLabel* headingLabel = nullptr;
    QCheckBox* timerBox = nullptr;
    QLabel* everyLabel = nullptr;
    QSlider* intervalSlider = nullptr;
    QLabel* unitLabel = nullptr;
    QLabel* folderLabel = nullptr;
    QLineEdit* folderEdit = nullptr;
    QPushButton* browseButton = nullptr;
    QPushButton* takeButton = nullptr;
    QPushButton* closeButton = nullptr;

    void onTimerBoxToggled(bool on);
    void onIntervalChanged(int seconds);
    void onBrowse();

private:
    QPointer<Capture> m_camera;
};

// The single window, created on first use and shown modeless, owned by `owner`.
SnapshotsWindow* openSnapshotsWindow(QWidget* owner, Capture* camera, Snapshots::JpegWriter encode);
SnapshotsWindow* loadedSnapshotsWindow();
void unloadSnapshotsWindow();
