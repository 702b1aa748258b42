#include "shell/TrayIcon.h"

#include "shell/Globals.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QTimer>

#include "capture/Prompt.h"

namespace {

QPointer<TrayIcon> theTray;

// A small camera; the alternate image lights the lens up for the flashing cycle.
QIcon drawIcon(bool alternate)
{
    QIcon icon;
    for (int size : {16, 22, 32, 48, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = size;
        p.setPen(Qt::NoPen);
        p.setBrush(alternate ? QColor(0xe0, 0x60, 0x10) : QColor(0x1f, 0x3a, 0x5f));
        p.drawRoundedRect(QRectF(s * 0.05, s * 0.25, s * 0.9, s * 0.6), s * 0.1, s * 0.1);
        p.drawRect(QRectF(s * 0.3, s * 0.15, s * 0.25, s * 0.12));
        p.setBrush(QColor(0xf0, 0xf4, 0xfa));
        p.drawEllipse(QPointF(s * 0.5, s * 0.55), s * 0.22, s * 0.22);
        p.setBrush(alternate ? QColor(0xff, 0x30, 0x30) : QColor(0x6f, 0xb3, 0xff));
        p.drawEllipse(QPointF(s * 0.5, s * 0.55), s * 0.12, s * 0.12);
        icon.addPixmap(pm);
    }
    return icon;
}

} // namespace

QIcon programIcon() { return drawIcon(false); }

TrayIcon* trayIcon() { return theTray; }

TrayIcon* loadTrayIcon()
{
    if (!theTray)
        theTray = new TrayIcon;
    return theTray;
}

void unloadTrayIcon()
{
    if (TrayIcon* t = theTray.data()) {
        theTray = nullptr;
        // The icon goes now; the object may be inside its own menu handler.
        t->flashTimer->stop();
        t->flashStopTimer->stop();
        t->removeIcon();
        t->deleteLater();
    }
}

TrayIcon::TrayIcon(QObject* parent) : QObject(parent)
{
    setObjectName(QStringLiteral("TrayIcon"));
    m_images[0] = drawIcon(false);
    m_images[2] = drawIcon(true);

    flashTimer = new QTimer(this);
    flashTimer->setInterval(750);
    connect(flashTimer, &QTimer::timeout, this, &TrayIcon::onFlashStep);
    flashStopTimer = new QTimer(this);
    flashStopTimer->setInterval(60000);
    connect(flashStopTimer, &QTimer::timeout, this, &TrayIcon::onFlashStop);
    flashStopTimer->start();

    menu = new QMenu(QStringLiteral("Tray Menu"));
    showWindowAction = menu->addAction(QStringLiteral("Show window"));
    aboutAction = menu->addAction(QStringLiteral("About"));
    menu->addSeparator();
    exitAction = menu->addAction(QStringLiteral("&Shut down"));
    menu->setDefaultAction(showWindowAction);
    connect(showWindowAction, &QAction::triggered, this, &TrayIcon::onShowWindow);
    connect(aboutAction, &QAction::triggered, this, &TrayIcon::onAbout);
    connect(exitAction, &QAction::triggered, this, &TrayIcon::onExit);

    m_icon = new QSystemTrayIcon(m_images[0], this);
    m_icon->setToolTip(tip());
    connect(m_icon, &QSystemTrayIcon::activated, this, &TrayIcon::onActivated);
    // On X11 the icon is asked for even where there is no notification area
    // yet: Qt follows the tray's selection owner and adds the icon to one that
    // starts later. Elsewhere Qt gives no such notice. A failed add is not
    // reported.
    if (QSystemTrayIcon::isSystemTrayAvailable() || QGuiApplication::platformName() == QLatin1String("xcb"))
        m_icon->show();
}

TrayIcon::~TrayIcon()
{
    removeIcon();
    delete menu;
}

void TrayIcon::removeIcon()
{
    if (m_icon)
        m_icon->hide();
}

QString TrayIcon::tip() const { return QStringLiteral("Vantora"); }

QIcon TrayIcon::image(int index) const { return (index >= 0 && index < 3) ? m_images[index] : QIcon(); }

bool TrayIcon::iconShown() const
{
    return m_icon && m_icon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

bool TrayIcon::iconWanted() const { return m_icon && m_icon->isVisible(); }

bool TrayIcon::flashing() const { return flashTimer->isActive(); }

void TrayIcon::showImage(int index)
{
    m_current = index;
    const bool wasShown = iconShown();
    m_icon->setIcon(image(index));
    m_icon->setToolTip(tip());
    // Only an icon that was in the tray can fail to change; without a tray
    // the state is kept quietly (the flashing would otherwise ask every 750 ms).
    if (wasShown && !iconShown())
        MessageBox::plain(nullptr, globals().AppName,
                          QStringLiteral("Unable to change icon in system tray!"));
}

void TrayIcon::setFlashing(bool on)
{
    if (on) {
        flashTimer->start();
        flashStopTimer->start();
    } else {
        flashTimer->stop();
        flashStopTimer->stop();
        showImage(0);
    }
}

void TrayIcon::onFlashStep()
{
    if (m_flashState <= 0) {
        showImage(2);
        m_flashState = 2;
    } else {
        showImage(0);
        m_flashState = 0;
    }
}

void TrayIcon::onFlashStop()
{
    flashTimer->stop();
    flashStopTimer->stop();
    showImage(0);
}

void TrayIcon::onActivated(QSystemTrayIcon::ActivationReason reason)
{
    // A double click while the menu is open would act under the open menu.
    if (m_busy)
        return;
    QPointer<TrayIcon> self(this); // "Shut down" unloads the tray
    m_busy = true;
    // Status-notifier desktops send a single click (Trigger) and no double click.
    if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger) {
        onShowWindow();
        if (self)
            showImage(m_current);
    } else if (reason == QSystemTrayIcon::Context) {
        menu->exec(QCursor::pos(), showWindowAction);
    }
    if (self)
        m_busy = false;
}

void TrayIcon::onShowWindow() { emit showWindowRequested(); }

void TrayIcon::onAbout() { emit aboutRequested(); }

void TrayIcon::onExit() { emit shutDownRequested(); }
