#pragma once
// The camera, general, debug and security pages of the configuration window:
// controls over CameraOptions and the CheckOptions pages. Each reads its
// settings when made and writes them in unload() (or when destroyed).

#include "config/CameraOptions.h"
#include "config/OptionPages.h"

#include <QWidget>
#include <memory>

class Capture;
class QCheckBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSlider;

class CameraOptionsWindow : public QWidget
{
    Q_OBJECT
public:
    explicit CameraOptionsWindow(Capture* capture, QWidget* parent = nullptr);
    ~CameraOptionsWindow() override;
    void unload();
    CameraOptions& options() { return m_options; }

    QPushButton* sourceButton = nullptr; // "Video Options"
    QPushButton* formatButton = nullptr; // "Video Format"
    QLabel* noteLabel = nullptr;
    QListWidget* driverList = nullptr;
    QLabel* descriptionLabel = nullptr;
    QSlider* cycleSlider = nullptr;
    QCheckBox* cycleBox = nullptr;

private:
    Capture* m_capture = nullptr;
    CameraOptions m_options;
    bool m_unloaded = false;
};

// A page of check boxes, one per option of `options`, in order.
class CheckOptionsWindow : public QWidget
{
    Q_OBJECT
public:
    ~CheckOptionsWindow() override;
    void unload();
    QCheckBox* box(int index) const { return m_boxes.value(index); }
    CheckOptions& options() { return *m_options; }

protected:
    // Loads the options.
    CheckOptionsWindow(std::unique_ptr<CheckOptions> options, QWidget* parent);
    // Adds the box for option `index`, shown from the loaded value.
    QCheckBox* addBox(int index, const QString& caption, QWidget* parent);

private:
    std::unique_ptr<CheckOptions> m_options;
    QList<QCheckBox*> m_boxes;
    bool m_unloaded = false;
};

class GeneralOptionsWindow : public CheckOptionsWindow
{
    Q_OBJECT
public:
    explicit GeneralOptionsWindow(QWidget* parent = nullptr);
};

class DebugOptionsWindow : public CheckOptionsWindow
{
    Q_OBJECT
public:
    explicit DebugOptionsWindow(QWidget* parent = nullptr);
    QLabel* versionLabel = nullptr;
    QLabel* commentsLabel = nullptr;
};

class SecurityOptionsWindow : public CheckOptionsWindow
{
    Q_OBJECT
public:
    explicit SecurityOptionsWindow(QWidget* parent = nullptr);
};
