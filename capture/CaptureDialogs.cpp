#include "capture/CaptureDialogs.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {
QDialogButtonBox* okCancel(QDialog* dialog)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

QString sizeText(QSize s) { return QStringLiteral("%1 x %2").arg(s.width()).arg(s.height()); }
} // namespace

VideoCompressionDialog::VideoCompressionDialog(Capture::Compression c, int quality, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Video Compression"));
    compressor = new QComboBox(this);
    compressor->setObjectName(QStringLiteral("compressor"));
    compressor->addItem(QStringLiteral("MJPEG (Motion JPEG)"), int(Capture::Compression::Mjpeg));
    compressor->addItem(QStringLiteral("Uncompressed"), int(Capture::Compression::Uncompressed));
    compressor->setCurrentIndex(c == Capture::Compression::Mjpeg ? 0 : 1);
    qualityBox = new QSpinBox(this);
    qualityBox->setObjectName(QStringLiteral("quality"));
    qualityBox->setRange(1, 100);
    qualityBox->setValue(quality);
    qualityBox->setEnabled(c == Capture::Compression::Mjpeg);
    connect(compressor, &QComboBox::currentIndexChanged, this,
            [this] { qualityBox->setEnabled(compression() == Capture::Compression::Mjpeg); });
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Compressor:"), compressor);
    form->addRow(QStringLiteral("Quality:"), qualityBox);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(okCancel(this));
}

Capture::Compression VideoCompressionDialog::compression() const
{
    return Capture::Compression(compressor->currentData().toInt());
}

int VideoCompressionDialog::quality() const { return qualityBox->value(); }

VideoFormatDialog::VideoFormatDialog(const QList<Capture::VideoFormat>& list,
                                     const Capture::VideoFormat& current, QWidget* parent)
    : QDialog(parent), offered(list)
{
    setWindowTitle(QStringLiteral("Video Format"));
    sizeBox = new QComboBox(this);
    sizeBox->setObjectName(QStringLiteral("size"));
    rateBox = new QComboBox(this);
    rateBox->setObjectName(QStringLiteral("rate"));
    for (const Capture::VideoFormat& f : offered) {
        if (sizeBox->findData(f.size) < 0)
            sizeBox->addItem(sizeText(f.size), f.size);
    }
    sizeBox->setCurrentIndex(qMax(0, sizeBox->findData(current.size)));
    fillRates(current.fps);
    connect(sizeBox, &QComboBox::currentIndexChanged, this, [this] { fillRates(fps()); });
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Picture size:"), sizeBox);
    form->addRow(QStringLiteral("Frames per second:"), rateBox);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(okCancel(this));
}

void VideoFormatDialog::fillRates(int keepFps)
{
    rateBox->clear();
    for (const Capture::VideoFormat& f : offered) {
        if (f.size == size())
            rateBox->addItem(QString::number(f.fps), f.fps);
    }
    const int at = rateBox->findData(keepFps);
    rateBox->setCurrentIndex(at >= 0 ? at : rateBox->count() - 1);
}

QSize VideoFormatDialog::size() const { return sizeBox->currentData().toSize(); }

int VideoFormatDialog::fps() const { return rateBox->currentData().toInt(); }

AudioFormatDialog::AudioFormatDialog(const Capture::AudioFormat& current, const QList<SoundInput>& inputs,
                                     QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Audio Format"));
    inputBox = new QComboBox(this);
    inputBox->setObjectName(QStringLiteral("input"));
    inputBox->addItem(QStringLiteral("Default input"), QString());
    for (const SoundInput& in : inputs)
        inputBox->addItem(in.name, in.pipeline);
    if (!current.input.isEmpty() && inputBox->findData(current.input) < 0)
        inputBox->addItem(QStringLiteral("Chosen before (not found now)"), current.input);
    inputBox->setCurrentIndex(qMax(0, inputBox->findData(current.input)));
    rateBox = new QComboBox(this);
    rateBox->setObjectName(QStringLiteral("rate"));
    for (int r : Capture::audioRates())
        rateBox->addItem(QStringLiteral("%1 Hz").arg(r), r);
    rateBox->setCurrentIndex(qMax(0, rateBox->findData(current.rate)));
    channelsBox = new QComboBox(this);
    channelsBox->setObjectName(QStringLiteral("channels"));
    channelsBox->addItem(QStringLiteral("Mono"), 1);
    channelsBox->addItem(QStringLiteral("Stereo"), 2);
    channelsBox->setCurrentIndex(current.channels == 2 ? 1 : 0);
    bitsBox = new QComboBox(this);
    bitsBox->setObjectName(QStringLiteral("bits"));
    bitsBox->addItem(QStringLiteral("8 bit"), 8);
    bitsBox->addItem(QStringLiteral("16 bit"), 16);
    bitsBox->setCurrentIndex(current.bits == 8 ? 0 : 1);
    rateInfo = new QLabel(this);
    auto update = [this] {
        const Capture::AudioFormat f = format();
        rateInfo->setText(
            QStringLiteral("%1 KB per second").arg(f.rate * f.channels * f.bits / 8 / 1024.0, 0, 'f', 1));
    };
    update();
    for (QComboBox* box : {rateBox, channelsBox, bitsBox})
        connect(box, &QComboBox::currentIndexChanged, this, update);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Input:"), inputBox);
    form->addRow(QStringLiteral("Sample rate:"), rateBox);
    form->addRow(QStringLiteral("Channels:"), channelsBox);
    form->addRow(QStringLiteral("Sample size:"), bitsBox);
    form->addRow(QString(), rateInfo);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(okCancel(this));
}

Capture::AudioFormat AudioFormatDialog::format() const
{
    return {rateBox->currentData().toInt(), channelsBox->currentData().toInt(),
            bitsBox->currentData().toInt(), inputBox->currentData().toString()};
}

bool Capture::showVideoCompressionDialog(QWidget* parent)
{
    VideoCompressionDialog dialog(compression(), jpegQuality(), parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    setCompression(dialog.compression());
    setJpegQuality(dialog.quality());
    return true;
}

bool Capture::showVideoFormatDialog(QWidget* parent)
{
    VideoFormatDialog dialog(videoFormats(), videoFormat(), parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    return setVideoFormat(dialog.size(), dialog.fps());
}

bool Capture::showAudioFormatDialog(QWidget* parent)
{
    AudioFormatDialog dialog(audioFormat(), soundInputs(), parent);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    setAudioFormat(dialog.format());
    return true;
}

// No device here has a source dialog of its own.
bool Capture::showVideoSourceDialog(QWidget*) { return false; }
