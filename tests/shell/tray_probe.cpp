// tray_probe: loads vantora's tray icon on the display it is given and
// prints whether a notification area was there; then waits to be ended.
#include "shell/TrayIcon.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    TrayIcon* tray = loadTrayIcon();
    std::printf("loaded tray=%d\n", int(QSystemTrayIcon::isSystemTrayAvailable()));
    std::fflush(stdout);
    const int status = app.exec();
    unloadTrayIcon();
    delete tray;
    return status;
}
