#include "config/OptionPageWindows.h"

#include "capture/Capture.h"
#include "shell/InfoWindows.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {
// Explanations wrap inside their frame at a width that reads well.
constexpr int TextWidth = 420;

QLabel* wrappedLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setFixedWidth(TextWidth);
    return label;
}
} // namespace

// ------------------------------------------------------------------ camera

CameraOptionsWindow::CameraOptionsWindow(Capture* capture, QWidget* parent)
    : QWidget(parent), m_capture(capture), m_options(capture)
{
    setObjectName(QStringLiteral("cameraOptions"));
    setWindowTitle(QStringLiteral("Camera Options"));

    auto* options = new QGroupBox(QStringLiteral("Camera options"), this);
    sourceButton = new QPushButton(QStringLiteral("Video Options"), options);
    sourceButton->setObjectName(QStringLiteral("sourceButton"));
    sourceButton->setToolTip(QStringLiteral("Click here for the Video Options"));
    formatButton = new QPushButton(QStringLiteral("Video Format"), options);
    formatButton->setObjectName(QStringLiteral("formatButton"));
    formatButton->setToolTip(QStringLiteral("Click here to change the Video Format"));
    noteLabel =
        wrappedLabel(QStringLiteral("NOTE: If you change the resolution of the cam you have to go OFFLINE "
                                    "and ONLINE to apply the changes on the internet."),
                     options);
    noteLabel->setObjectName(QStringLiteral("noteLabel"));
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(sourceButton);
    buttons->addWidget(formatButton);
    buttons->addStretch(1);
    auto* optionsLayout = new QVBoxLayout(options);
    optionsLayout->addLayout(buttons);
    optionsLayout->addWidget(noteLabel);

    auto* drivers = new QGroupBox(QStringLiteral("Camera Driver"), this);
    driverList = new QListWidget(drivers);
    driverList->setObjectName(QStringLiteral("driverList"));
    driverList->setToolTip(
        QStringLiteral("Select the video driver that you want that Vantora connect and use it."));
    driverList->setFixedSize(TextWidth, 90);
    descriptionLabel = wrappedLabel(QString(), drivers);
    descriptionLabel->setObjectName(QStringLiteral("descriptionLabel"));
    descriptionLabel->setMinimumHeight(descriptionLabel->fontMetrics().height() * 2);
    auto* driversLayout = new QVBoxLayout(drivers);
    driversLayout->addWidget(driverList);
    driversLayout->addWidget(descriptionLabel);

    // Nothing cycles cameras yet: the controls are there, and say so by being off.
    auto* cycle = new QGroupBox(QStringLiteral("Cam Cycle"), this);
    cycleSlider = new QSlider(Qt::Horizontal, cycle);
    cycleSlider->setObjectName(QStringLiteral("cycleSlider"));
    cycleBox = new QCheckBox(QStringLiteral("Enable Cam Cycle"), cycle);
    cycleBox->setObjectName(QStringLiteral("cycleBox"));
    cycle->setEnabled(false);
    auto* cycleLayout = new QHBoxLayout(cycle);
    cycleLayout->addWidget(cycleSlider, 1);
    cycleLayout->addWidget(cycleBox);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(options);
    layout->addWidget(drivers);
    layout->addWidget(cycle);
    layout->addStretch(1);

    connect(&m_options, &CameraOptions::errorWanted, this,
            [](const QString& message) { ShowErrorWindow(message); });
    connect(sourceButton, &QPushButton::clicked, this, [this] {
        if (m_capture)
            m_capture->showVideoSourceDialog(window());
    });
    connect(formatButton, &QPushButton::clicked, this, [this] {
        if (m_capture)
            m_capture->showVideoFormatDialog(window());
    });

    m_options.load();
    driverList->addItems(m_options.driverNames());
    if (m_options.selected() >= 0)
        driverList->setCurrentRow(m_options.selected());
    descriptionLabel->setText(m_options.description());
    formatButton->setEnabled(m_options.formatDialogOffered());
    sourceButton->setEnabled(m_options.sourceDialogOffered());
    connect(driverList, &QListWidget::currentRowChanged, this, [this](int row) {
        if (row < 0)
            return;
        m_options.select(row);
        descriptionLabel->setText(m_options.description());
        // Another driver may offer other dialogs.
        formatButton->setEnabled(m_options.formatDialogOffered());
        sourceButton->setEnabled(m_options.sourceDialogOffered());
    });
}

CameraOptionsWindow::~CameraOptionsWindow() { unload(); }

void CameraOptionsWindow::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_options.unload();
}

// ------------------------------------------------------------------ check boxes

CheckOptionsWindow::CheckOptionsWindow(std::unique_ptr<CheckOptions> options, QWidget* parent)
    : QWidget(parent), m_options(std::move(options))
{
    m_options->load();
}

CheckOptionsWindow::~CheckOptionsWindow() { unload(); }

void CheckOptionsWindow::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_options->unload();
}

QCheckBox* CheckOptionsWindow::addBox(int index, const QString& caption, QWidget* parent)
{
    auto* box = new QCheckBox(caption, parent);
    box->setChecked(m_options->checked(index));
    connect(box, &QCheckBox::toggled, this, [this, index](bool on) { m_options->setChecked(index, on); });
    if (m_boxes.size() <= index)
        m_boxes.resize(index + 1);
    m_boxes[index] = box;
    return box;
}

GeneralOptionsWindow::GeneralOptionsWindow(QWidget* parent)
    : CheckOptionsWindow(std::make_unique<GeneralOptions>(), parent)
{
    setObjectName(QStringLiteral("generalOptions"));
    setWindowTitle(QStringLiteral("General Options"));
    auto* frame = new QGroupBox(QStringLiteral("AutoUpdate"), this);
    QCheckBox* check =
        addBox(GeneralOptions::AutoCheck, QStringLiteral("Check for new version on program start-up"), frame);
    check->setToolTip(QStringLiteral("If you want that Netlensa checks automaticly for a new version"));
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(check);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addStretch(1);
}

DebugOptionsWindow::DebugOptionsWindow(QWidget* parent)
    : CheckOptionsWindow(std::make_unique<DebugOptions>(), parent)
{
    setObjectName(QStringLiteral("debugOptions"));
    setWindowTitle(QStringLiteral("Debug Settings"));
    auto* errors = new QGroupBox(QStringLiteral("Error Messages"), this);
    QCheckBox* camera =
        addBox(DebugOptions::ShowCameraErrors, QStringLiteral("Show video driver errors"), errors);
    camera->setToolTip(QStringLiteral("Show the errors recieved from the video driver?"));
    QCheckBox* stream = addBox(DebugOptions::ShowStreamErrors,
                               QStringLiteral("Show Velora errors (not recommended)"), errors);
    auto* errorsLayout = new QVBoxLayout(errors);
    errorsLayout->addWidget(camera);
    errorsLayout->addWidget(stream);

    auto* advanced = new QGroupBox(QStringLiteral("Advanced Options"), this);
    QCheckBox* check =
        addBox(DebugOptions::DisableCheck, QStringLiteral("Disable Network/Firewall check"), advanced);
    auto* advancedLayout = new QVBoxLayout(advanced);
    advancedLayout->addWidget(check);

    auto* information = new QGroupBox(QStringLiteral("Information"), this);
    versionLabel = new QLabel(DebugOptions::versionText(), information);
    versionLabel->setObjectName(QStringLiteral("versionLabel"));
    commentsLabel = new QLabel(DebugOptions::commentsText(), information);
    commentsLabel->setObjectName(QStringLiteral("commentsLabel"));
    auto* informationLayout = new QVBoxLayout(information);
    informationLayout->addWidget(versionLabel);
    informationLayout->addWidget(commentsLabel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(errors);
    layout->addWidget(advanced);
    layout->addWidget(information);
    layout->addStretch(1);
}

SecurityOptionsWindow::SecurityOptionsWindow(QWidget* parent)
    : CheckOptionsWindow(std::make_unique<SecurityOptions>(), parent)
{
    setObjectName(QStringLiteral("securityOptions"));
    setWindowTitle(QStringLiteral("Security"));
    auto* frame = new QGroupBox(QStringLiteral("Security"), this);
    QCheckBox* chat = addBox(SecurityOptions::DisableChat, QStringLiteral("Disable Vantora Chat"), frame);
    QLabel* chatText = wrappedLabel(
        QStringLiteral(
            "You can disable the build-in Vantora Chat. You cannot longer chat with other people with "
            "Vantora and you don't get any requests any more if you disable the chat."),
        frame);
    QCheckBox* messenger =
        addBox(SecurityOptions::DisableMessenger, QStringLiteral("Disable Messenger (NT Only)"), frame);
    messenger->setEnabled(SecurityOptions::messengerServiceAvailable());
    QLabel* messengerText = wrappedLabel(
        QStringLiteral("Please note that this is not the MSN Messenger but the Messenger Service in "
                       "Windows. This service can be abused to send you messages. Higly recommended!"),
        frame);
    messengerText->setEnabled(SecurityOptions::messengerServiceAvailable());
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->addWidget(chat);
    frameLayout->addWidget(chatText);
    frameLayout->addSpacing(8);
    frameLayout->addWidget(messenger);
    frameLayout->addWidget(messengerText);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(frame);
    layout->addStretch(1);
}
