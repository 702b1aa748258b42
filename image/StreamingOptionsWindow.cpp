#include "image/StreamingOptionsWindow.h"

#include "capture/Capture.h"
#include "capture/Prompt.h"
#include "shell/Globals.h"
#include "shell/WindowRegistry.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {
QPointer<JpegPreviewWindow> thePreview;
} // namespace

JpegPreviewWindow::JpegPreviewWindow(const QByteArray& jpeg, QWidget* owner)
    : QWidget(owner, Qt::Window), m_owner(owner)
{
    setObjectName(QStringLiteral("jpegPreview"));
    setWindowTitle(QStringLiteral("Preview"));
    setAttribute(Qt::WA_DeleteOnClose);
    image = new QLabel(this);
    image->setObjectName(QStringLiteral("previewImage"));
    QPixmap picture;
    picture.loadFromData(jpeg, "JPEG");
    image->setPixmap(picture);
    image->setFixedSize(picture.size());
    closeButton = new QPushButton(QStringLiteral("Close"), this);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);

    // The picture, and "Close" under its right edge.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 6);
    layout->addWidget(image, 0, Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(closeButton, 0, Qt::AlignRight);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

void JpegPreviewWindow::closeEvent(QCloseEvent* event)
{
    event->accept();
    if (m_owner) {
        m_owner->show();
        m_owner->raise();
    }
}

JpegPreviewWindow* loadedJpegPreview() { return thePreview; }

void unloadJpegPreview()
{
    if (thePreview)
        thePreview->close();
}

StreamingOptionsWindow::StreamingOptionsWindow(Capture* capture, QWidget* parent)
    : QWidget(parent), m_capture(capture)
{
    setObjectName(QStringLiteral("streamingOptions"));
    setWindowTitle(QStringLiteral("Streaming Options"));

    auto* server = new QGroupBox(QStringLiteral("Server"), this);
    portEdit = new QLineEdit(server);
    portEdit->setObjectName(QStringLiteral("portEdit"));
    portEdit->setMaxLength(5);
    portEdit->setFixedWidth(80);
    auto* portHint = new QLabel(QStringLiteral("0 for random port (default: 2156)"), server);
    auto* serverLayout = new QHBoxLayout(server);
    serverLayout->addWidget(new QLabel(QStringLiteral("Port:"), server));
    serverLayout->addWidget(portEdit);
    serverLayout->addWidget(portHint, 1);

    auto* jpeg = new QGroupBox(QStringLiteral("JPEG Settings"), this);
    resizeBox = new QCheckBox(QStringLiteral("Use another resolution then source"), jpeg);
    resizeBox->setObjectName(QStringLiteral("resizeBox"));
    resolutionCaption = new QLabel(QStringLiteral("Resolution:"), jpeg);
    resolutionList = new QComboBox(jpeg);
    resolutionList->setObjectName(QStringLiteral("resolutionList"));
    for (const StreamingOptions::FrameSize& s : StreamingOptions::frameSizes())
        resolutionList->addItem(s.text, s.code);
    qualitySlider = new QSlider(Qt::Horizontal, jpeg);
    qualitySlider->setObjectName(QStringLiteral("qualitySlider"));
    qualitySlider->setRange(StreamingOptions::MinQuality, StreamingOptions::MaxQuality);
    qualitySlider->setSingleStep(1);
    qualitySlider->setPageStep(5);
    qualitySlider->setToolTip(QStringLiteral("Select your JPEG quality (less quality = more compression)"));
    qualityValue = new QLabel(jpeg);
    qualityValue->setObjectName(QStringLiteral("qualityValue"));
    qualityValue->setMinimumWidth(qualityValue->fontMetrics().horizontalAdvance(QStringLiteral("1000")));
    sizeField = new QLineEdit(QStringLiteral("Press Preview to calculate"), jpeg);
    sizeField->setObjectName(QStringLiteral("sizeField"));
    sizeField->setReadOnly(true);
    sizeField->setMinimumWidth(sizeField->fontMetrics().horizontalAdvance(sizeField->text()) + 16);
    previewButton = new QPushButton(QStringLiteral("Preview"), jpeg);
    previewButton->setObjectName(QStringLiteral("previewButton"));

    auto* jpegLayout = new QGridLayout(jpeg);
    jpegLayout->addWidget(resizeBox, 0, 0, 1, 3);
    jpegLayout->addWidget(resolutionCaption, 1, 0);
    jpegLayout->addWidget(resolutionList, 1, 1, 1, 2, Qt::AlignLeft);
    jpegLayout->addWidget(new QLabel(QStringLiteral("JPEG Quality:"), jpeg), 2, 0);
    jpegLayout->addWidget(qualitySlider, 2, 1);
    jpegLayout->addWidget(qualityValue, 2, 2);
    jpegLayout->addWidget(new QLabel(QStringLiteral("JPEG File size:"), jpeg), 3, 0);
    jpegLayout->addWidget(sizeField, 3, 1);
    jpegLayout->addWidget(previewButton, 3, 2);
    jpegLayout->setColumnStretch(1, 1);

    auto* account = new QGroupBox(QStringLiteral("Account"), this);
    signupButton = new QPushButton(QStringLiteral("Sign up for new account"), account);
    signupButton->setObjectName(QStringLiteral("signupButton"));
    auto* accountLayout = new QHBoxLayout(account);
    accountLayout->addWidget(signupButton);
    accountLayout->addStretch(1);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(server);
    layout->addWidget(jpeg);
    layout->addWidget(account);
    layout->addStretch(1);

    connect(portEdit, &QLineEdit::textEdited, this, [this](const QString& text) {
        const QString digits = StreamingOptions::portDigits(text);
        if (digits != text) {
            const int cursor = portEdit->cursorPosition() - int(text.size() - digits.size());
            portEdit->setText(digits);
            portEdit->setCursorPosition(qMax(0, cursor));
        }
    });
    connect(resizeBox, &QCheckBox::toggled, this, [this](bool on) {
        resolutionList->setEnabled(on);
        resolutionCaption->setEnabled(on);
    });
    connect(qualitySlider, &QSlider::valueChanged, this,
            [this](int value) { qualityValue->setText(QString::number(value)); });
    connect(previewButton, &QPushButton::clicked, this, &StreamingOptionsWindow::showPreview);
    // The wizard belongs to the configuration window, not to this page.
    connect(signupButton, &QPushButton::clicked, this, [this] { windows::openSignup(window()); });

    m_options.load();
    showOptions();
}

StreamingOptionsWindow::~StreamingOptionsWindow() { unload(); }

void StreamingOptionsWindow::showOptions()
{
    portEdit->setText(m_options.port);
    resizeBox->setChecked(m_options.resize);
    resolutionList->setCurrentIndex(m_options.resolution);
    qualitySlider->setValue(m_options.quality);
    qualityValue->setText(QString::number(qualitySlider->value()));
    resolutionList->setEnabled(m_options.resize);
    resolutionCaption->setEnabled(m_options.resize);
}

void StreamingOptionsWindow::takeControls()
{
    m_options.port = StreamingOptions::portDigits(portEdit->text());
    m_options.resize = resizeBox->isChecked();
    m_options.resolution = qMax(0, resolutionList->currentIndex());
    m_options.quality = qualitySlider->value();
}

void StreamingOptionsWindow::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    takeControls();
    const QString error = m_options.unload();
    portEdit->setText(m_options.port);
    // No owner: the page may be unloading with its window.
    if (!error.isEmpty())
        MessageBox::warning(nullptr, globals().AppName, error);
}

void StreamingOptionsWindow::showPreview()
{
    // The page's choices as they stand now, not the stored ones.
    takeControls();
    QImage frame;
    if (m_capture) {
        m_capture->grabFrame();
        frame = m_capture->frame();
    }
    const StreamingOptions::Preview p = m_options.preview(frame);
    if (p.jpeg.isEmpty())
        return; // nothing new to show; the size field keeps what it said
    sizeField->setText(StreamingOptions::sizeText(p.jpeg.size()));
    unloadJpegPreview();
    thePreview = new JpegPreviewWindow(p.jpeg, window());
    thePreview->show();
}
