#pragma once
// The capture component's own dialogs. Each takes the current choice and
// hands back the new one; Capture::show...Dialog (defined with them) runs
// them modally.

#include "capture/Capture.h"

#include <QDialog>

class QComboBox;
class QSpinBox;
class QLabel;

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
