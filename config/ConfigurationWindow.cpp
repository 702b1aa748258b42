#include "config/ConfigurationWindow.h"

#include "config/OptionPageWindows.h"
#include "image/LabelListWindow.h"
#include "image/StreamingOptionsWindow.h"
#include "shell/Globals.h"
#include "shell/MainWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

namespace {
QPointer<ConfigurationWindow> theWindow;

// Room left of "Close" at the right edge: 200 twips.
constexpr int CloseMargin = 200 / 15;

QStyle::StandardPixmap entryPixmap(int entry)
{
    switch (entry) {
    case 1:
        return QStyle::SP_DriveNetIcon;
    case 2:
        return QStyle::SP_BrowserReload;
    case 3:
        return QStyle::SP_MessageBoxInformation;
    case 4:
        return QStyle::SP_ComputerIcon;
    case 5:
        return QStyle::SP_FileDialogDetailedView;
    default:
        return QStyle::SP_DialogApplyButton;
    }
}
} // namespace

QStringList ConfigurationWindow::entryTexts()
{
    return {QStringLiteral("Velora Settings"), QStringLiteral("AutoUpdate"),
            QStringLiteral("Debug Settings"),  QStringLiteral("Camera Settings"),
            QStringLiteral("Text-On-Image"),   QStringLiteral("Security")};
}

ConfigurationWindow::ConfigurationWindow(Capture* capture, QWidget* owner)
    : QWidget(owner,
              Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint | Qt::WindowMinimizeButtonHint),
      m_capture(capture)
{
    // No close command on the title bar: "Close" is the way out, so the open
    // page is always saved on the way.
    setObjectName(QStringLiteral("configurationWindow"));
    setWindowTitle(globals().AppName + QStringLiteral(" Configuration"));
    setAttribute(Qt::WA_DeleteOnClose);
    setMouseTracking(true);
    installEventFilter(this);

    auto* bar = new QHBoxLayout;
    const QStringList texts = entryTexts();
    for (int half = 0; half < 2; ++half) {
        auto* panel = new QWidget(this);
        panel->setMouseTracking(true);
        panel->installEventFilter(this);
        m_panels.append(panel);
        auto* row = new QHBoxLayout(panel);
        row->setContentsMargins(0, 0, 0, 0);
        for (int i = half * 3; i < half * 3 + 3; ++i) {
            auto* entry = new QVBoxLayout;
            auto* icon = new QLabel(panel);
            icon->setObjectName(QStringLiteral("entryIcon%1").arg(i + 1));
            icon->setPixmap(style()->standardIcon(entryPixmap(i + 1)).pixmap(32, 32));
            icon->setAlignment(Qt::AlignCenter);
            icon->setMinimumHeight(36); // icons of any size keep the labels on one line
            auto* label = new QLabel(texts[i], panel);
            label->setObjectName(QStringLiteral("entryLabel%1").arg(i + 1));
            label->setAlignment(Qt::AlignCenter);
            // Room for the bold form, so highlighting moves nothing.
            QFont bold = label->font();
            bold.setBold(true);
            label->setMinimumWidth(QFontMetrics(bold).horizontalAdvance(texts[i]) + 8);
            for (QLabel* l : {icon, label}) {
                l->setMouseTracking(true);
                l->setCursor(Qt::PointingHandCursor);
                l->installEventFilter(this);
            }
            entry->addWidget(icon);
            entry->addWidget(label);
            row->addLayout(entry);
            m_icons.append(icon);
            m_labels.append(label);
        }
        bar->addWidget(panel);
    }
    bar->addStretch(1);

    m_area = new QScrollArea(this);
    m_area->setObjectName(QStringLiteral("pageArea"));
    m_area->setWidgetResizable(false);
    m_area->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_area->setMinimumSize(560, 420);

    auto* bottom = new QWidget(this);
    bottom->setMouseTracking(true);
    bottom->installEventFilter(this);
    closeButton = new QPushButton(QStringLiteral("Close"), bottom);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    auto* bottomLayout = new QHBoxLayout(bottom);
    bottomLayout->setContentsMargins(0, 0, CloseMargin, 0);
    bottomLayout->addStretch(1);
    bottomLayout->addWidget(closeButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_area, 1);
    layout->addWidget(bottom);

    connect(closeButton, &QPushButton::clicked, this, &ConfigurationWindow::closeWindow);
}

ConfigurationWindow::~ConfigurationWindow() { unloadPage(); }

void ConfigurationWindow::unloadPage()
{
    if (m_unloadPage)
        std::exchange(m_unloadPage, {})();
    if (m_area && m_area->widget())
        delete m_area->takeWidget();
    m_page = nullptr;
    m_current = windows::ConfigPage::None;
}

void ConfigurationWindow::openPage(windows::ConfigPage wanted)
{
    unloadPage();
    QWidget* page = nullptr;
    switch (wanted) {
    case windows::ConfigPage::None:
        return;
    case windows::ConfigPage::Streaming: {
        auto* p = new StreamingOptionsWindow(m_capture);
        m_unloadPage = [p] { p->unload(); };
        page = p;
        break;
    }
    case windows::ConfigPage::General: {
        auto* p = new GeneralOptionsWindow;
        m_unloadPage = [p] { p->unload(); };
        page = p;
        break;
    }
    case windows::ConfigPage::Debug: {
        auto* p = new DebugOptionsWindow;
        m_unloadPage = [p] { p->unload(); };
        page = p;
        break;
    }
    case windows::ConfigPage::Camera: {
        auto* p = new CameraOptionsWindow(m_capture);
        m_unloadPage = [p] { p->unload(); };
        page = p;
        break;
    }
    case windows::ConfigPage::Labels: {
        auto* p = new LabelListWindow(m_capture);
        m_unloadPage = [p] { p->finishEditing(); };
        page = p;
        break;
    }
    case windows::ConfigPage::Security: {
        auto* p = new SecurityOptionsWindow;
        m_unloadPage = [p] { p->unload(); };
        page = p;
        break;
    }
    }
    page->adjustSize();
    m_area->setWidget(page);
    m_page = page;
    m_current = wanted;

    // Grow to show the whole page where the screen allows; the area scrolls
    // what does not fit.
    const QSize frame = size() - m_area->viewport()->size();
    QSize wantedSize = (page->size() + frame).expandedTo(size());
    if (const QScreen* screen = this->screen())
        wantedSize = wantedSize.boundedTo(screen->availableGeometry().size() - QSize(16, 48));
    resize(wantedSize);
}

void ConfigurationWindow::highlight(int entry)
{
    for (int i = 0; i < m_labels.size(); ++i) {
        QFont f = m_labels[i]->font();
        f.setBold(i + 1 == entry);
        m_labels[i]->setFont(f);
    }
}

int ConfigurationWindow::highlighted() const
{
    for (int i = 0; i < m_labels.size(); ++i)
        if (m_labels[i]->font().bold())
            return i + 1;
    return 0;
}

void ConfigurationWindow::closeWindow()
{
    m_closing = true;
    unloadPage();
    emit closedByUser();
    close();
}

bool ConfigurationWindow::eventFilter(QObject* watched, QEvent* event)
{
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseMove && type != QEvent::MouseButtonRelease && type != QEvent::Enter)
        return QWidget::eventFilter(watched, event);
    int entry = 0;
    for (int i = 0; i < m_labels.size(); ++i)
        if (watched == m_labels[i] || watched == m_icons[i])
            entry = i + 1;
    if (entry == 0) {
        if (type != QEvent::MouseButtonRelease)
            highlight(0);
        return QWidget::eventFilter(watched, event);
    }
    if (type == QEvent::MouseButtonRelease)
        openPage(windows::ConfigPage(entry));
    else
        highlight(entry);
    return true;
}

void ConfigurationWindow::closeEvent(QCloseEvent* event)
{
    // However it closes, the open page is saved first.
    unloadPage();
    event->accept();
}

ConfigurationWindow* loadedConfigurationWindow() { return theWindow; }

void registerConfigurationWindow()
{
    windows::setConfigurationOpener([](QWidget* owner, windows::ConfigPage page) {
        if (!theWindow) {
            MainWindow* main = mainWindow();
            theWindow = new ConfigurationWindow(main ? main->camera : nullptr, owner ? owner : main);
            QObject::connect(theWindow, &ConfigurationWindow::closedByUser, [] {
                if (MainWindow* m = mainWindow())
                    m->show();
            });
        }
        if (page != windows::ConfigPage::None)
            theWindow->openPage(page);
        theWindow->show();
        theWindow->raise();
        theWindow->activateWindow();
    });
    windows::setWindowUnloader(QStringLiteral("configuration"), [] {
        if (theWindow)
            theWindow->close();
    });
    windows::setWindowUnloader(QStringLiteral("jpegPreview"), [] { unloadJpegPreview(); });
}
