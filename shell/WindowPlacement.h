#pragma once
// Where windows go: above the others, or in front of the window they belong to.

#include <QPoint>
#include <QRect>
#include <QSize>

class QWidget;

// Keeps `window` above other windows (or not), without moving or resizing it.
void setAlwaysOnTop(QWidget* window, bool onTop);

// Top-left corner for a window of `size` (frame included) centred on the
// rectangle `owner`, moved inside `available` so its title bar stays on the
// screen; a window larger than `available` sits at its top-left corner.
QPoint centredPosition(const QRect& owner, const QSize& size, const QRect& available);

// Shows `window` in front of `owner` and belonging to it for the desktop
// (kept above it, not its child: a disabled owner leaves it usable), centred
// on it the first time. Without an owner it is only shown.
void showOwned(QWidget* window, QWidget* owner);
