#include "capture/CaptureDialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

namespace {
QDialogButtonBox* okCancel(QDialog* dialog)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

QString sizeText(QSize s) { return QStringLiteral("%1 x %2").arg(s.width()).arg(s.height()); }

int toInt(qint64 v)
{
    return int(std::clamp<qint64>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}
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

VideoSourceDialog::VideoSourceDialog(Capture* cap, QWidget* parent) : QDialog(parent), capture(cap)
{
    const QString name = capture->driverName(capture->driverIndex());
    setWindowTitle(name.isEmpty() ? QStringLiteral("Video Source")
                                  : QStringLiteral("Video Source - %1").arg(name));
    QString why;
    opened = capture->sourceControls(&why);

    auto* form = new QFormLayout;
    for (const CameraControl& c : opened) {
        QWidget* edit = nullptr;
        switch (c.kind) {
        case CameraControl::Kind::Range: {
            auto* slider = new QSlider(Qt::Horizontal);
            slider->setRange(toInt(c.minimum), toInt(c.maximum));
            slider->setSingleStep(toInt(qMax<qint64>(1, c.step)));
            slider->setMinimumWidth(220);
            auto* number = new QSpinBox;
            number->setRange(toInt(c.minimum), toInt(c.maximum));
            number->setSingleStep(toInt(qMax<qint64>(1, c.step)));
            connect(slider, &QSlider::valueChanged, number, &QSpinBox::setValue);
            connect(number, &QSpinBox::valueChanged, slider, &QSlider::setValue);
            connect(slider, &QSlider::valueChanged, this, [this, key = c.key](int v) { apply(key, v); });
            auto* row = new QWidget;
            auto* h = new QHBoxLayout(row);
            h->setContentsMargins(0, 0, 0, 0);
            h->addWidget(slider, 1);
            h->addWidget(number);
            form->addRow(c.name + u':', row);
            numbers.insert(c.key, number);
            edit = slider;
            break;
        }
        case CameraControl::Kind::Toggle: {
            auto* box = new QCheckBox(c.name);
            connect(box, &QCheckBox::toggled, this, [this, key = c.key](bool on) { apply(key, on ? 1 : 0); });
            form->addRow(QString(), box);
            edit = box;
            break;
        }
        case CameraControl::Kind::Choice: {
            auto* list = new QComboBox;
            for (const auto& [value, text] : c.choices)
                list->addItem(text, value);
            connect(list, &QComboBox::activated, this,
                    [this, list, key = c.key](int) { apply(key, list->currentData().toLongLong()); });
            form->addRow(c.name + u':', list);
            edit = list;
            break;
        }
        case CameraControl::Kind::Action: {
            auto* button = new QPushButton(c.name);
            connect(button, &QPushButton::clicked, this, [this, key = c.key] { apply(key, 1); });
            form->addRow(QString(), button);
            edit = button;
            break;
        }
        }
        edit->setObjectName(c.key);
        editors.insert(c.key, edit);
        showControl(c);
    }

    auto* inner = new QWidget;
    inner->setLayout(form);
    auto* scroll = new QScrollArea(this);
    scroll->setWidget(inner);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Cameras with many controls scroll rather than grow past the screen.
    scroll->setMinimumSize(inner->sizeHint().width() + 20, qMin(inner->sizeHint().height() + 4, 420));

    messageLabel = new QLabel(this);
    messageLabel->setObjectName(QStringLiteral("message"));
    messageLabel->setWordWrap(true);
    messageLabel->setMinimumWidth(320);
    messageLabel->setText(opened.isEmpty() ? why : QString());
    messageLabel->setVisible(opened.isEmpty());

    auto* buttons = okCancel(this);
    defaultsButton = buttons->addButton(QStringLiteral("Defaults"), QDialogButtonBox::ResetRole);
    defaultsButton->setEnabled(!opened.isEmpty());
    connect(defaultsButton, &QPushButton::clicked, this, &VideoSourceDialog::setDefaults);
    connect(this, &QDialog::rejected, this, &VideoSourceDialog::restore);

    auto* layout = new QVBoxLayout(this);
    if (opened.isEmpty())
        scroll->hide();
    layout->addWidget(scroll, 1);
    layout->addWidget(messageLabel);
    layout->addWidget(buttons);
}

void VideoSourceDialog::showControl(const CameraControl& c)
{
    QWidget* edit = editors.value(c.key);
    if (!edit)
        return;
    edit->setEnabled(!c.readOnly && !c.inactive);
    if (QSpinBox* number = numbers.value(c.key)) {
        number->setEnabled(edit->isEnabled());
        const QSignalBlocker b1(edit), b2(number);
        static_cast<QSlider*>(edit)->setValue(toInt(c.value));
        number->setValue(toInt(c.value));
    } else if (auto* box = qobject_cast<QCheckBox*>(edit)) {
        const QSignalBlocker b(box);
        box->setChecked(c.value != 0);
    } else if (auto* list = qobject_cast<QComboBox*>(edit)) {
        const QSignalBlocker b(list);
        list->setCurrentIndex(list->findData(c.value));
    }
}

void VideoSourceDialog::apply(const QString& key, qint64 value)
{
    QString why;
    if (!capture->setSourceControl(key, value, &why)) {
        messageLabel->setText(why);
        messageLabel->show();
    } else {
        messageLabel->clear();
        messageLabel->hide();
    }
    refresh();
}

void VideoSourceDialog::refresh()
{
    QString why;
    for (const CameraControl& c : capture->sourceControls(&why))
        showControl(c);
}

void VideoSourceDialog::restore()
{
    for (const CameraControl& c : opened) {
        if (c.kind != CameraControl::Kind::Action && !c.readOnly)
            capture->setSourceControl(c.key, c.value);
    }
    refresh();
}

void VideoSourceDialog::setDefaults()
{
    for (const CameraControl& c : opened) {
        if (c.kind != CameraControl::Kind::Action && !c.readOnly)
            capture->setSourceControl(c.key, c.defaultValue);
    }
    refresh();
}

bool Capture::showVideoSourceDialog(QWidget* parent)
{
    VideoSourceDialog dialog(this, parent);
    return dialog.exec() == QDialog::Accepted;
}
