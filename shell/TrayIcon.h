#pragma once
// The program's icon in the notification area: a small menu, and flashing to
// draw attention while the camera is being watched. Where the desktop has no
// notification area the icon state is kept all the same.

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>

class QMenu;
class QAction;
class QTimer;
class TrayIcon;

// The program's icon (the tray's normal image).
QIcon programIcon();

// The loaded tray window, or null.
TrayIcon* trayIcon();
// Loads it (adds the icon) when needed. What its menu asks for goes out as
// signals; the main window connects them when it loads the tray.
TrayIcon* loadTrayIcon();
// Removes the icon and destroys the window.
void unloadTrayIcon();

class TrayIcon : public QObject
{
    Q_OBJECT
public:
    explicit TrayIcon(QObject* parent = nullptr);
    ~TrayIcon() override;

    // True starts flashing; false stops it and shows the normal icon.
    void setFlashing(bool on);
    // Shows image `index` (0 or 2) as the icon, with its tip.
    void showImage(int index);

    void onFlashStep(); // flash step, every 750 ms while flashing
    void onFlashStop(); // flash stop, 60 s after flashing started
    // The icon was used: a click or double click shows the window, the
    // context click opens the menu; other clicks do nothing.
    void onActivated(QSystemTrayIcon::ActivationReason reason);

    void onShowWindow();
    void onAbout();
    void onExit();

    int currentIcon() const { return m_current; }
    bool flashing() const;
    bool busy() const { return m_busy; }
    QString tip() const;
    QIcon image(int index) const;
    // True when the icon sits in a notification area.
    bool iconShown() const;
    // True while the icon is asked for: it appears in a notification area
    // that starts later.
    bool iconWanted() const;
    // Whether a minimised main window may hide: only when the icon can bring it
    // back. Tests stand in for a notification area with assumeTray.
    bool canRestoreWindows() const { return iconShown() || s_assumeTray; }
    static void assumeTray(bool on) { s_assumeTray = on; }
    void removeIcon();

    QTimer* flashTimer = nullptr;
    QTimer* flashStopTimer = nullptr;
    QMenu* menu = nullptr;
    QAction* showWindowAction = nullptr;
    QAction* aboutAction = nullptr;
    QAction* exitAction = nullptr;

signals:
    void showWindowRequested();
    void aboutRequested();
    void shutDownRequested();

private:
    static inline bool s_assumeTray = false;
    QIcon m_images[3];
    QSystemTrayIcon* m_icon = nullptr;
    int m_flashState = -1; // none yet
    int m_current = 0;
    bool m_busy = false;
};
