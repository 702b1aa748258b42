#include <QApplication>
#include <cstdio>

#include "Globals.h"
#include "HTTPServer.h"
#include "Startup.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // The program lives on in the tray when its windows are hidden; it ends by shutting down.
    QApplication::setQuitOnLastWindowClosed(false);
    initGlobalDefaults();
    HTTPServer::registerFactory();
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        std::printf("vantora: running offscreen (no display); the camera page is served on "
                    "http://127.0.0.1:<port>/ once the engine is online\n");
        std::fflush(stdout);
    }
    Main();
    return app.exec();
}
