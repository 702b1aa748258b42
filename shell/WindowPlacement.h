#pragma once
// Keeping a window above the others, as full-screen preview needs.

class QWidget;

// Keeps `window` above other windows (or not), without moving or resizing it.
void setAlwaysOnTop(QWidget* window, bool onTop);
