#include "community/ConnectionsWindow.h"

#include "capture/Prompt.h"
#include "server/EngineHooks.h"
#include "shell/Globals.h"
#include "shell/MainWindow.h"
#include "shell/WindowRegistry.h"

#include <QAction>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QListWidget>
#include <QPointer>
#include <QProcess>
#include <QScreen>
#include <QVBoxLayout>

namespace {
QPointer<ConnectionsWindow> openWindow;
} // namespace

ConnectionsWindow* ConnectionsWindow::instance() { return openWindow.data(); }

ConnectionsWindow* ConnectionsWindow::open(QWidget* owner)
{
    if (!openWindow)
        openWindow = new ConnectionsWindow(owner);
    openWindow->show();
    openWindow->raise();
    return openWindow;
}

void ConnectionsWindow::unload()
{
    if (openWindow)
        openWindow->close();
}

ConnectionsWindow::ConnectionsWindow(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("activeConnections"));
    setWindowTitle(QStringLiteral("Active Connections"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    // The stored size rules, even below what the frame and list would ask for.
    layout->setSizeConstraint(QLayout::SetNoConstraint);
    m_frame = new QGroupBox(QStringLiteral("Connected users"), this);
    layout->addWidget(m_frame);
    auto* inner = new QVBoxLayout(m_frame);
    m_listWidget = new QListWidget(m_frame);
    m_listWidget->setObjectName(QStringLiteral("connectionList"));
    inner->addWidget(m_listWidget);
    connect(m_listWidget, &QListWidget::itemDoubleClicked, this, [this] { traceSelected(); });

    globals().ActiveConnectionsOpen = true;
    QScreen* screen = owner && owner->screen() ? owner->screen() : QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    setGeometry(connectionsgeometry::load(area));
    if (MainWindow* main = mainWindow())
        main->activeConnectionsAction->setChecked(true);
}

ConnectionsWindow::~ConnectionsWindow()
{
    // Also when the owner goes first without closing us.
    if (!openWindow || openWindow == this)
        globals().ActiveConnectionsOpen = false;
}

void ConnectionsWindow::closeEvent(QCloseEvent* event)
{
    if (MainWindow* main = mainWindow())
        main->activeConnectionsAction->setChecked(false);
    // A minimised or maximised window keeps the place stored before.
    if (!m_saved && !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
        connectionsgeometry::save(geometry());
    m_saved = true;
    if (openWindow == this)
        openWindow = nullptr; // gone at once for the menu, though deleted later
    globals().ActiveConnectionsOpen = false;
    event->accept();
}

void ConnectionsWindow::addAddress(const QString& address)
{
    m_list.add(address);
    m_listWidget->addItem(address);
}

void ConnectionsWindow::removeAddress(const QString& address)
{
    const qsizetype row = m_list.remove(address);
    if (row >= 0)
        delete m_listWidget->takeItem(int(row));
}

void ConnectionsWindow::traceSelected()
{
    const QListWidgetItem* item = m_listWidget->currentItem();
    const QString address = item ? item->text() : QString();
    const routetrace::Launch launch = routetrace::plan(address);
    QString problem = launch.problem;
    if (!launch.program.isEmpty()) {
        // Detached: the terminal stays open after this window or the program is gone.
        if (!QProcess::startDetached(launch.program, launch.arguments))
            problem = QStringLiteral("The route to %1 cannot be traced: %2 did not start.")
                          .arg(address, launch.program);
    }
    if (!problem.isEmpty())
        MessageBox::information(this, globals().AppName, problem);
}

void registerActiveConnections()
{
    windows::setActiveConnections({[](QWidget* owner) { ConnectionsWindow::open(owner); },
                                   [] { ConnectionsWindow::unload(); },
                                   [] { return ConnectionsWindow::instance() != nullptr; }});
    enginehooks::setActiveConnectionsHooks(
        [](const QString& address) {
            if (ConnectionsWindow* w = ConnectionsWindow::instance())
                w->addAddress(address);
        },
        [](const QString& address) {
            if (ConnectionsWindow* w = ConnectionsWindow::instance())
                w->removeAddress(address);
        });
}
