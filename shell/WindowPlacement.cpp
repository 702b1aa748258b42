#include "shell/WindowPlacement.h"

#include <QWidget>

void setAlwaysOnTop(QWidget* window, bool onTop)
{
    if (!window || window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop)
        return;
    // Changing window flags re-creates the native window; put it back where it was.
    const QRect geometry = window->geometry();
    const bool visible = window->isVisible();
    const Qt::WindowStates state = window->windowState();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    window->setGeometry(geometry);
    if (visible) {
        window->setWindowState(state);
        window->show();
    }
}
