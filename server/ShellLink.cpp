#include "server/ShellLink.h"

#include "capture/Capture.h"
#include "shell/InfoWindows.h"
#include "shell/Startup.h"
#include "shell/MainWindow.h"
#include "shell/TrayIcon.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>

namespace {
QPointer<Capture> captureOverride;
QString lastStatus;
QString lastErrorText;
bool flashOn = false;
} // namespace

namespace shelllink {

Capture* capture()
{
    if (captureOverride)
        return captureOverride;
    MainWindow* w = mainWindow();
    return w ? w->camera : nullptr;
}

void setCapture(Capture* c) { captureOverride = c; }

QWidget* mainWidget() { return mainWindow(); }

void setStatus(const QString& text)
{
    lastStatus = text;
    if (MainWindow* w = mainWindow(); w && w->lastResponseLabel)
        w->lastResponseLabel->setText(text);
}

QString status() { return lastStatus; }

void setAddress(const QString& url)
{
    if (MainWindow* w = mainWindow(); w && w->addressLabel)
        w->addressLabel->setText(url);
}

void setStatusLabelsVisible(bool visible)
{
    MainWindow* w = mainWindow();
    if (!w)
        return;
    for (QLabel* label : {w->addressLabel, w->lastResponseCaption, w->lastResponseLabel}) {
        if (label)
            label->setVisible(visible);
    }
}

void clearAccountBoxes()
{
    MainWindow* w = mainWindow();
    if (!w)
        return;
    if (w->userNameEdit)
        w->userNameEdit->clear();
    if (w->passwordEdit)
        w->passwordEdit->clear();
}

void switchOffline()
{
    MainWindow* w = mainWindow();
    if (!w || !w->onlineSwitch)
        return;
    // The switch's own handler runs on the change; the second call is the
    // click the refusal adds on top.
    w->onlineSwitch->setChecked(false);
    w->onOnlineSwitchToggled();
}

void flash(bool on)
{
    flashOn = on;
    if (TrayIcon* t = trayIcon())
        t->setFlashing(on);
}

bool flashing()
{
    if (TrayIcon* t = trayIcon())
        return t->flashing();
    return flashOn;
}

void showError(const QString& message)
{
    lastErrorText = message;
    ShowErrorWindow(message);
}

QString lastError() { return lastErrorText; }
void clearLastError() { lastErrorText.clear(); }

} // namespace shelllink
