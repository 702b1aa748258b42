#pragma once
// "Active Connections": the addresses connected to the camera, one line per
// connection, while the window is open. One window at a time.

#include <QWidget>

#include "community/ConnectionList.h"

class QGroupBox;
class QListWidget;
class QListWidgetItem;

class ConnectionsWindow : public QWidget
{
    Q_OBJECT
public:
    // The open window, or null.
    static ConnectionsWindow* instance();
    // Opens the window (or raises the open one).
    static ConnectionsWindow* open(QWidget* owner);
    // Closes it, saving its place; nothing when it is not open.
    static void unload();

    void addAddress(const QString& address);
    void removeAddress(const QString& address);
    const ConnectionList& list() const { return m_list; }
    QListWidget* listWidget() const { return m_listWidget; }

    // Traces the route to the selected line (or says why it cannot).
    void traceSelected();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    explicit ConnectionsWindow(QWidget* owner);
    ~ConnectionsWindow() override;

    ConnectionList m_list;
    QGroupBox* m_frame = nullptr;
    QListWidget* m_listWidget = nullptr;
    bool m_saved = false;
};

// Registers the window with the main window's View menu and start-up, and the
// list with the connection handlers.
void registerActiveConnections();
