#include "shell/WindowPlacement.h"

#include <QScreen>
#include <QWidget>
#include <QWindow>

void setAlwaysOnTop(QWidget* window, bool onTop)
{
    if (!window || window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop)
        return;
    const bool visible = window->isVisible();
    if (!visible) {
        // Nothing to restore yet: a geometry set now would pin a window that
        // was never placed to the screen's corner.
        window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
        return;
    }
    // Changing window flags re-creates the native window; put it back where it was.
    const QRect geometry = window->geometry();
    const Qt::WindowStates state = window->windowState();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    window->setGeometry(geometry);
    window->setWindowState(state);
    window->show();
}

QPoint centredPosition(const QRect& owner, const QSize& size, const QRect& available)
{
    QPoint p(owner.left() + (owner.width() - size.width()) / 2,
             owner.top() + (owner.height() - size.height()) / 2);
    if (available.isValid()) {
        // Right and bottom first, so a window larger than the screen keeps its
        // title bar and left edge in view.
        p.setX(qMin(p.x(), available.right() + 1 - size.width()));
        p.setY(qMin(p.y(), available.bottom() + 1 - size.height()));
        p.setX(qMax(p.x(), available.left()));
        p.setY(qMax(p.y(), available.top()));
    }
    return p;
}

void showOwned(QWidget* window, QWidget* owner)
{
    if (!window)
        return;
    if (owner && owner != window) {
        owner = owner->window();
        if (!window->isVisible() && !window->testAttribute(Qt::WA_Moved)) {
            if (!window->testAttribute(Qt::WA_Resized))
                window->adjustSize();
            // The window's own frame is not known before it is shown; the
            // owner's is the best guess.
            const QMargins frame(owner->geometry().left() - owner->frameGeometry().left(),
                                 owner->geometry().top() - owner->frameGeometry().top(),
                                 owner->frameGeometry().right() - owner->geometry().right(),
                                 owner->frameGeometry().bottom() - owner->geometry().bottom());
            const QSize framed = window->size().grownBy(frame);
            const QScreen* screen = owner->screen();
            const QRect available = screen ? screen->availableGeometry() : QRect();
            window->move(centredPosition(owner->frameGeometry(), framed, available));
        }
        window->winId();
        owner->winId();
        if (window->windowHandle() && owner->windowHandle())
            window->windowHandle()->setTransientParent(owner->windowHandle());
    }
    window->show();
    window->raise();
}
