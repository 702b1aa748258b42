#pragma once
// "Streaming Options": the page over StreamingOptions, and the "Preview"
// window that shows one frame encoded with the page's choices.

#include "image/StreamingOptions.h"

#include <QPointer>
#include <QWidget>

class Capture;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSlider;

class JpegPreviewWindow : public QWidget
{
    Q_OBJECT
public:
    // `owner` is shown again when this window closes.
    JpegPreviewWindow(const QByteArray& jpeg, QWidget* owner);
    QLabel* image = nullptr;
    QPushButton* closeButton = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QPointer<QWidget> m_owner;
};

class StreamingOptionsWindow : public QWidget
{
    Q_OBJECT
public:
    // Previews frames of `capture` (none: "Preview" has nothing to show).
    explicit StreamingOptionsWindow(Capture* capture = nullptr, QWidget* parent = nullptr);
    ~StreamingOptionsWindow() override; // unloads when that was not done

    // Stores the page (once); a port that cannot be stored is said in a message.
    void unload();
    StreamingOptions& options() { return m_options; }

    // Encodes the newest frame at the page's choices and shows it.
    void showPreview();

    QLineEdit* portEdit = nullptr;
    QCheckBox* resizeBox = nullptr;
    QLabel* resolutionCaption = nullptr;
    QComboBox* resolutionList = nullptr;
    QSlider* qualitySlider = nullptr;
    QLabel* qualityValue = nullptr;
    QLineEdit* sizeField = nullptr;
    QPushButton* previewButton = nullptr;
    QPushButton* signupButton = nullptr;

private:
    void showOptions();
    void takeControls();

    Capture* m_capture = nullptr;
    StreamingOptions m_options;
    bool m_unloaded = false;
};

// The preview window when it is open, and closing it (shutting down).
JpegPreviewWindow* loadedJpegPreview();
void unloadJpegPreview();
