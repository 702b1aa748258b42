#include <QApplication>
#include <QPointer>
#include <cstdio>

#include "app/TestControl.h"
#include "capture/Termination.h"
#include "community/CommunityWindows.h"
#include "image/LabelListWindow.h"
#include "server/StreamingEngine.h"
#include "shell/Globals.h"
#include "shell/MainWindow.h"
#include "shell/Settings.h"
#include "shell/ShellWindows.h"
#include "shell/WindowRegistry.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // The program lives on in the tray when its windows are hidden; it ends by shutting down.
    QApplication::setQuitOnLastWindowClosed(false);
    initGlobalDefaults();
    StreamingEngine::registerFactory();
    registerCommunityWindows();
    // Until the configuration window exists, "Configure" opens its label page.
    static QPointer<LabelListWindow> page;
    windows::setConfigurationOpener([](QWidget* owner) {
        if (!page) {
            MainWindow* main = mainWindow();
            page = new LabelListWindow(main ? main->camera : nullptr, owner);
            page->setWindowFlag(Qt::Window);
            page->setAttribute(Qt::WA_DeleteOnClose);
        }
        page->show();
        page->raise();
    });
    windows::setWindowUnloader(QStringLiteral("configuration"), [] {
        if (page)
            page->close();
    });
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        const int port = Settings::instance().get(setting::Port);
        const QByteArray where = port > 0 ? QByteArray("http://127.0.0.1:") + QByteArray::number(port) + '/'
                                          : QByteArray("a free port (Streaming/Port is 0)");
        std::printf("vantora: running offscreen (no display); once online the camera is served on %s\n",
                    where.constData());
        std::fflush(stdout);
    }
    if (!startTestControl(&app)) {
        std::fprintf(stderr, "vantora: the test control cannot listen\n");
        return 1;
    }
    // A signal shuts down like "Exit": preview off, log-off, windows in order.
    onTerminationSignal(&app, [] {
        if (mainWindow())
            unloadMainWindow();
        else
            QApplication::quit();
    });
    startWindows();
    return app.exec();
}
