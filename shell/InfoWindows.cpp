#include "shell/InfoWindows.h"

#include "capture/Prompt.h"
#include "shell/Desktop.h"
#include "shell/Globals.h"
#include "shell/MainWindow.h"
#include "shell/Product.h"
#include "shell/SystemUtils.h"
#include "shell/Version.h"
#include "shell/WindowPlacement.h"
#include "shell/WindowRegistry.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <QWindow>

namespace {

QPointer<ErrorWindow> theError;
QPointer<AboutDialog> theAbout;
QPointer<NewVersionWindow> theNewVersion;
QPointer<CameraUnavailableDialog> theDriverFailure;

// Windows unload themselves from their own button handlers: hide now, free later.
template <typename W> void unload(QPointer<W>& slot)
{
    if (W* w = slot.data()) {
        slot = nullptr;
        w->hide();
        w->deleteLater();
    }
}

QLabel* linkLabel(const QString& text, QWidget* parent)
{
    auto* l = new QLabel(text, parent);
    QFont f = l->font();
    f.setUnderline(true);
    l->setFont(f);
    QPalette pal = l->palette();
    pal.setColor(QPalette::WindowText, QColor(0, 0, 255));
    l->setPalette(pal);
    l->setCursor(Qt::PointingHandCursor);
    return l;
}

// Runs `onClick` when the label is clicked.
class ClickFilter : public QObject
{
public:
    ClickFilter(QObject* parent, std::function<void()> onClick)
        : QObject(parent), m_onClick(std::move(onClick))
    {}
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonRelease) {
            m_onClick();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_onClick;
};

QPixmap productPicture(int size)
{
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(0x1f, 0x3a, 0x5f));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(0, 0, size, size), size / 6.0, size / 6.0);
    p.setBrush(QColor(0xdd, 0xe8, 0xf5));
    p.drawEllipse(QRectF(size * 0.2, size * 0.2, size * 0.6, size * 0.6));
    p.setBrush(QColor(0x6f, 0xb3, 0xff));
    p.drawEllipse(QRectF(size * 0.33, size * 0.33, size * 0.34, size * 0.34));
    p.setBrush(QColor(0x10, 0x20, 0x30));
    p.drawEllipse(QRectF(size * 0.42, size * 0.42, size * 0.16, size * 0.16));
    return pm;
}

// Shows an information window in front of the main window, once start-up has
// shown that; with no main window it stays above every window instead.
void present(QWidget* window)
{
    MainWindow* main = mainWindow();
    if (!main) {
        setAlwaysOnTop(window, true);
        window->show();
        window->raise();
        return;
    }
    setAlwaysOnTop(window, false);
    main->whenStarted([window = QPointer<QWidget>(window), main = QPointer<MainWindow>(main)] {
        if (window)
            showOwned(window, main);
    });
}

ErrorWindow* loadError()
{
    if (!theError) {
        theError = new ErrorWindow;
        theError->setAttribute(Qt::WA_DeleteOnClose);
    }
    return theError;
}

} // namespace

void ShowErrorWindow(const QString& message)
{
    // Offscreen nobody sees the window: the message goes to stderr.
    MessageBox::report(globals().AppName + QLatin1String(" Error"), message);
    const bool loaded = theError;
    ErrorWindow* w = loadError();
    w->messageLabel->setText(message);
    present(w);
    if (!loaded)
        desktop::doEvents();
}

QString productNotice()
{
    return QStringLiteral("Vantora webcam client. Product information: %1")
        .arg(product::pageUrl(product::Page::Legal).toString());
}

// ---------------------------------------------------------------- ErrorWindow

ErrorWindow::ErrorWindow(QWidget* parent) : QWidget(parent, Qt::Dialog)
{
    setObjectName(QStringLiteral("ErrorWindow"));
    setWindowTitle(globals().AppName + QLatin1String(" Error"));

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxCritical).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    top->addWidget(icon);
    messageLabel = new QLabel(QStringLiteral("Retrieving error...."), this);
    messageLabel->setObjectName(QStringLiteral("messageLabel"));
    messageLabel->setWordWrap(true);
    messageLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A fixed width lets the window grow in height to fit any message.
    messageLabel->setFixedWidth(420);
    messageLabel->setMinimumHeight(48);
    top->addWidget(messageLabel, 1);
    layout->addLayout(top);

    auto* bottom = new QHBoxLayout;
    contactLabel = new QLabel(QStringLiteral("Contact support"), this);
    supportLink = linkLabel(QStringLiteral("here"), this);
    supportLink->installEventFilter(new ClickFilter(supportLink, [this] { onSupportLinkClicked(); }));
    closeButton = new QPushButton(QStringLiteral("Close"), this);
    connect(closeButton, &QPushButton::clicked, this, [] { unloadErrorWindow(); });
    bottom->addWidget(contactLabel);
    bottom->addWidget(supportLink);
    bottom->addStretch(1);
    bottom->addWidget(closeButton);
    layout->addLayout(bottom);

    layout->setSizeConstraint(QLayout::SetFixedSize);
}

ErrorWindow::~ErrorWindow() = default;

void ErrorWindow::onSupportLinkClicked() { desktop::openDocument(product::pageUrl(product::Page::Support)); }

ErrorWindow* errorWindow()
{
    if (!theError) {
        present(loadError());
        desktop::doEvents();
    }
    return theError;
}
ErrorWindow* loadedErrorWindow() { return theError; }
void unloadErrorWindow() { unload(theError); }

// ---------------------------------------------------------------- AboutDialog

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("AboutDialog"));
    setWindowTitle(QStringLiteral("About Vantora"));
    setMinimumWidth(440);

    auto* layout = new QHBoxLayout(this);
    auto* picture = new QLabel(this);
    picture->setPixmap(productPicture(72));
    picture->setAlignment(Qt::AlignTop);
    layout->addWidget(picture);

    auto* text = new QVBoxLayout;
    auto* name = new QLabel(globals().AppName, this);
    QFont f = name->font();
    f.setPointSize(f.pointSize() + 4);
    f.setBold(true);
    name->setFont(f);
    text->addWidget(name);
    versionLabel = new QLabel(QLatin1String("Version: ") + version::compact(), this);
    versionLabel->setObjectName(QStringLiteral("versionLabel"));
    text->addWidget(versionLabel);
    descriptionLabel = new QLabel(
        QStringLiteral(
            "This program make a capture of your video devices and uploads it's to your homepage."),
        this);
    descriptionLabel->setWordWrap(true);
    text->addWidget(descriptionLabel);
    disclaimerLabel =
        new QLabel(QStringLiteral("Warning: this program is protected by copyright law. Copying or "
                                  "distributing it, or any part of it, without permission is not allowed."),
                   this);
    disclaimerLabel->setWordWrap(true);
    QFont small = disclaimerLabel->font();
    small.setPointSizeF(small.pointSizeF() * 0.9);
    disclaimerLabel->setFont(small);
    text->addWidget(disclaimerLabel);
    noticeLink = linkLabel(QStringLiteral("Vantora webcam client - legal information"), this);
    noticeLink->installEventFilter(new ClickFilter(noticeLink, [this] { onNoticeClicked(); }));
    text->addWidget(noticeLink);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setDefault(true);
    connect(okButton, &QPushButton::clicked, this, [] { unloadAboutWindow(); });
    buttons->addWidget(okButton);
    text->addStretch(1);
    text->addLayout(buttons);
    layout->addLayout(text, 1);
}

AboutDialog::~AboutDialog() = default;

void AboutDialog::onNoticeClicked() { desktop::openDocument(product::pageUrl(product::Page::Legal)); }

AboutDialog* aboutWindow(QWidget* owner)
{
    if (!theAbout) {
        theAbout = new AboutDialog(owner);
        theAbout->setAttribute(Qt::WA_DeleteOnClose);
    }
    return theAbout;
}
AboutDialog* loadedAboutWindow() { return theAbout; }
void unloadAboutWindow()
{
    if (theAbout && theAbout->isModal() && theAbout->isVisible())
        theAbout->done(QDialog::Accepted); // ends its modal loop first
    unload(theAbout);
}

// ---------------------------------------------------------------- CameraUnavailableDialog

CameraUnavailableDialog::CameraUnavailableDialog(QWidget* owner) : QDialog(nullptr), m_owner(owner)
{
    setObjectName(QStringLiteral("CameraUnavailableDialog"));
    setWindowTitle(QStringLiteral("Can't connect to video driver..."));
    setMinimumWidth(420);
    // Owned by the main window for the desktop, but not its child: a disabled
    // main window would disable its children too.
    if (owner) {
        winId();
        owner->winId();
        if (windowHandle() && owner->windowHandle())
            windowHandle()->setTransientParent(owner->windowHandle());
    }

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxWarning).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    top->addWidget(icon);
    messageLabel = new QLabel(
        QStringLiteral("Vantora failed to connect the video driver. Check if the driver is not in use "
                       "by other programs or your cam is not connected."),
        this);
    messageLabel->setWordWrap(true);
    top->addWidget(messageLabel, 1);
    layout->addLayout(top);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    configureButton = new QPushButton(QStringLiteral("Go to configuration"), this);
    closeButton = new QPushButton(QStringLiteral("Close"), this);
    closeButton->setDefault(true);
    buttons->addWidget(configureButton);
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);
    connect(configureButton, &QPushButton::clicked, this, &CameraUnavailableDialog::onGoToConfiguration);
    connect(closeButton, &QPushButton::clicked, this, [] { unloadDriverFailureWindow(); });
    // Escape and the window's close button end here too.
    connect(this, &QDialog::finished, this, [] { unloadDriverFailureWindow(); });
}

CameraUnavailableDialog::~CameraUnavailableDialog()
{
    if (m_owner)
        m_owner->setEnabled(true);
}

void CameraUnavailableDialog::onGoToConfiguration()
{
    windows::openConfiguration(m_owner);
    unloadDriverFailureWindow();
}

CameraUnavailableDialog* driverFailureWindow(QWidget* owner)
{
    if (!theDriverFailure) {
        theDriverFailure = new CameraUnavailableDialog(owner);
        theDriverFailure->setAttribute(Qt::WA_DeleteOnClose);
    }
    return theDriverFailure;
}
CameraUnavailableDialog* loadedDriverFailureWindow() { return theDriverFailure; }
void unloadDriverFailureWindow()
{
    // The main window is usable again the moment the failure window goes.
    if (theDriverFailure && theDriverFailure->owner())
        theDriverFailure->owner()->setEnabled(true);
    unload(theDriverFailure);
}

// ---------------------------------------------------------------- NewVersionWindow

NewVersionWindow::NewVersionWindow(QWidget* parent) : QWidget(parent, Qt::Dialog)
{
    setObjectName(QStringLiteral("NewVersionWindow"));
    setWindowTitle(QStringLiteral("New version availabe"));
    resize(440, 300);
    auto* layout = new QVBoxLayout(this);
    versionLabel = new QLabel(this);
    QFont f = versionLabel->font();
    f.setBold(true);
    versionLabel->setFont(f);
    layout->addWidget(versionLabel);
    releaseNotesEdit = new QPlainTextEdit(this);
    releaseNotesEdit->setReadOnly(true);
    layout->addWidget(releaseNotesEdit, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    downloadButton = new QPushButton(QStringLiteral("Go to download page..."), this);
    closeButton = new QPushButton(QStringLiteral("Close"), this);
    buttons->addWidget(downloadButton);
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);
    connect(downloadButton, &QPushButton::clicked, this,
            [] { desktop::openDocument(product::pageUrl(product::Page::Download)); });
    connect(closeButton, &QPushButton::clicked, this, [] { unloadNewVersionWindow(); });
}

NewVersionWindow::~NewVersionWindow() = default;

NewVersionWindow* newVersionWindow()
{
    if (!theNewVersion) {
        theNewVersion = new NewVersionWindow;
        theNewVersion->setAttribute(Qt::WA_DeleteOnClose);
        present(theNewVersion);
        QApplication::beep();
    }
    return theNewVersion;
}
NewVersionWindow* loadedNewVersionWindow() { return theNewVersion; }
void unloadNewVersionWindow() { unload(theNewVersion); }
