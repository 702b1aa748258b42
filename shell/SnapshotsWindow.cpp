#include "shell/SnapshotsWindow.h"

#include "capture/Capture.h"
#include "capture/Prompt.h"
#include "shell/Globals.h"

#include <QCheckBox>
#include <QDir>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

namespace {
QPointer<SnapshotsWindow> theWindow;
}

SnapshotsWindow::SnapshotsWindow(Capture* camera, Snapshots::JpegWriter encode, QWidget* owner)
    : QWidget(owner, Qt::Window), m_camera(camera)
{
    setObjectName(QStringLiteral("SnapshotsWindow"));
    setWindowTitle(QStringLiteral("Make Pictures"));
    if (owner)
        setWindowIcon(owner->windowIcon());
    setAttribute(Qt::WA_DeleteOnClose);

    snapshots = new Snapshots(
        [this]() -> QImage {
            if (!m_camera || !m_camera->grabFrame())
                return {};
            return m_camera->frame();
        },
        std::move(encode), this);

    headingLabel = new QLabel(QStringLiteral("Create picture timer"), this);
    QFont bold = headingLabel->font();
    bold.setBold(true);
    headingLabel->setFont(bold);
    timerBox = new QCheckBox(QStringLiteral("Enable Timer"), this);
    timerBox->setObjectName(QStringLiteral("timerBox"));
    everyLabel = new QLabel(QStringLiteral("Take picture every"), this);
    intervalSlider = new QSlider(Qt::Horizontal, this);
    intervalSlider->setObjectName(QStringLiteral("intervalSlider"));
    intervalSlider->setRange(Snapshots::MinInterval, Snapshots::MaxInterval);
    intervalSlider->setPageStep(5);
    intervalSlider->setValue(Snapshots::MaxInterval);
    unitLabel = new QLabel(this);
    unitLabel->setMinimumWidth(unitLabel->fontMetrics().horizontalAdvance(QStringLiteral("60 seconds")));
    folderLabel = new QLabel(QStringLiteral("Save Pictures in"), this);
    folderEdit = new QLineEdit(snapshots->folder(), this);
    folderEdit->setObjectName(QStringLiteral("folderEdit"));
    folderEdit->setMinimumWidth(260);
    browseButton = new QPushButton(QStringLiteral("Browse"), this);
    takeButton = new QPushButton(QStringLiteral("MAKE PICTURE!"), this);
    takeButton->setObjectName(QStringLiteral("takeButton"));
    takeButton->setFont(bold);
    closeButton = new QPushButton(QStringLiteral("Close"), this);

    auto* timerRow = new QHBoxLayout;
    timerRow->addWidget(everyLabel);
    timerRow->addWidget(intervalSlider, 1);
    timerRow->addWidget(unitLabel);
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(folderEdit, 1);
    folderRow->addWidget(browseButton);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(takeButton, 1);
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(headingLabel);
    layout->addWidget(timerBox);
    layout->addLayout(timerRow);
    layout->addSpacing(8);
    layout->addWidget(folderLabel);
    layout->addLayout(folderRow);
    layout->addSpacing(8);
    layout->addLayout(buttons);

    connect(timerBox, &QCheckBox::toggled, this, &SnapshotsWindow::onTimerBoxToggled);
    connect(intervalSlider, &QSlider::valueChanged, this, &SnapshotsWindow::onIntervalChanged);
    connect(folderEdit, &QLineEdit::textChanged, snapshots, &Snapshots::setFolder);
    connect(browseButton, &QPushButton::clicked, this, &SnapshotsWindow::onBrowse);
    connect(takeButton, &QPushButton::clicked, snapshots, &Snapshots::takePicture);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    connect(snapshots, &Snapshots::busyChanged, this, [this](bool busy) { takeButton->setEnabled(!busy); });
    connect(snapshots, &Snapshots::failed, this,
            [this](const QString& message) { MessageBox::warning(this, globals().AppName, message); });

    onIntervalChanged(intervalSlider->value());
    onTimerBoxToggled(false);
}

SnapshotsWindow::~SnapshotsWindow() = default;

void SnapshotsWindow::onTimerBoxToggled(bool on)
{
    for (QWidget* w : {static_cast<QWidget*>(everyLabel), static_cast<QWidget*>(intervalSlider),
                       static_cast<QWidget*>(unitLabel)})
        w->setEnabled(on);
    snapshots->setTimerEnabled(on);
}

void SnapshotsWindow::onIntervalChanged(int seconds)
{
    snapshots->setInterval(seconds);
    unitLabel->setText(snapshots->unitText());
}

void SnapshotsWindow::onBrowse()
{
    const QString chosen = FileDialog::getExistingDirectory(
        this, QStringLiteral("Please select a folder to save your Pictures."), folderEdit->text());
    if (!chosen.isEmpty())
        folderEdit->setText(QDir::toNativeSeparators(chosen));
}

SnapshotsWindow* openSnapshotsWindow(QWidget* owner, Capture* camera, Snapshots::JpegWriter encode)
{
    if (!theWindow)
        theWindow = new SnapshotsWindow(camera, std::move(encode), owner);
    theWindow->show();
    theWindow->raise();
    theWindow->activateWindow();
    return theWindow;
}

SnapshotsWindow* loadedSnapshotsWindow() { return theWindow; }

void unloadSnapshotsWindow()
{
    if (SnapshotsWindow* w = theWindow.data()) {
        theWindow = nullptr;
        // Unloading stops the timer at once; the object goes once its handlers returned.
        w->snapshots->setTimerEnabled(false);
        w->hide();
        w->deleteLater();
    }
}
