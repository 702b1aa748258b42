#pragma once
// The few controls of the main window, tray and error window that the engine
// touches. Every call is safe without those windows (tests, tooling): the
// engine then keeps going and the state stays readable here.

#include <QString>

class Capture;
class QWidget;

namespace shelllink {

// The camera the engine serves: the main window's, unless one was set here.
Capture* capture();
void setCapture(Capture* capture);

QWidget* mainWidget();
void setStatus(const QString& text);       // "Last Response:" value
QString status();
void setAddress(const QString& url);       // the camera address link
void setStatusLabelsVisible(bool visible); // address, caption and value
// Clears the log-in box's user name and password.
void clearAccountBoxes();
// Turns the online switch off (its handler runs) and runs its handler once more.
void switchOffline();
void flash(bool on);
bool flashing();
void showError(const QString& message);
QString lastError();
void clearLastError();

} // namespace shelllink
