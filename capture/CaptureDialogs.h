#pragma once
// The capture component's own dialogs. Each takes the current choice and
// hands back the new one; Capture::show...Dialog (defined with them) runs
// them modally.

#include "capture/Capture.h"

#include <QDialog>

#include <QHash>

class QComboBox;
class QSpinBox;
class QLabel;
class QPushButton;

class VideoCompressionDialog : public QDialog
{
    Q_OBJECT
public:
    VideoCompressionDialog(Capture::Compression compression, int quality, QWidget* parent = nullptr);
    Capture::Compression compression() const;
    int quality() const;

    QComboBox* compressor;
    QSpinBox* qualityBox;
};

class VideoFormatDialog : public QDialog
{
    Q_OBJECT
public:
    VideoFormatDialog(const QList<Capture::VideoFormat>& offered, const Capture::VideoFormat& current,
                      QWidget* parent = nullptr);
    QSize size() const;
    int fps() const;

    QComboBox* sizeBox;
    QComboBox* rateBox;

private:
    void fillRates(int keepFps);
    QList<Capture::VideoFormat> offered;
};

class AudioFormatDialog : public QDialog
{
    Q_OBJECT
public:
    // inputs: the system's sound inputs, offered after the default one.
    AudioFormatDialog(const Capture::AudioFormat& current, const QList<SoundInput>& inputs = {},
                      QWidget* parent = nullptr);
    Capture::AudioFormat format() const;

    QComboBox* inputBox;
    QComboBox* rateBox;
    QComboBox* channelsBox;
    QComboBox* bitsBox;
    QLabel* rateInfo; // bytes per second of the choice
};

// The selected source's own picture settings, read from the device when it
// opens; every change applies at once. Cancel puts back what was there.
class VideoSourceDialog : public QDialog
{
    Q_OBJECT
public:
    explicit VideoSourceDialog(Capture* capture, QWidget* parent = nullptr);

    // The editor of that control (slider, box, list or button), or null.
    QWidget* editor(const QString& key) const { return editors.value(key); }
    QLabel* messageLabel; // why nothing is offered, or why a change was refused
    QPushButton* defaultsButton;

    // Sets every control back to its value at opening.
    void restore();
    // Sets every control to the device's default.
    void setDefaults();

private:
    void apply(const QString& key, qint64 value);
    // Reads the values and states again: one control may switch another off.
    void refresh();
    void showControl(const CameraControl& c);

    Capture* capture;
    QList<CameraControl> opened;
    QHash<QString, QWidget*> editors;
    QHash<QString, QSpinBox*> numbers;
};
