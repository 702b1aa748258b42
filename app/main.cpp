#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>

#include "app/TestControl.h"
#include "capture/Termination.h"
#include "community/CommunityWindows.h"
#include "config/ConfigurationWindow.h"
#include "image/FrameBuffer.h"
#include "image/JpegEncoder.h"
#include "server/StreamingEngine.h"
#include "shell/CommandLine.h"
#include "shell/Globals.h"
#include "shell/MainWindow.h"
#include "shell/Settings.h"
#include "shell/ShellWindows.h"
#include "shell/SnapshotsWindow.h"
#include "shell/Version.h"
#include "shell/WindowRegistry.h"

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationVersion(version::dotted());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Vantora webcam client"));
    parser.addHelpOption();
    parser.addVersionOption();
    cmdline::addOptions(parser);
    cmdline::Options options;
    QString error;
    if (!parser.parse(QApplication::arguments()))
        error = parser.errorText();
    else if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(); // exits
    else if (parser.isSet(QStringLiteral("version")))
        parser.showVersion(); // exits
    else
        cmdline::read(parser, options, &error);
    if (!error.isEmpty()) {
        std::fprintf(stderr, "vantora: %s\n(vantora --help lists the options)\n", qPrintable(error));
        return 2;
    }
    // For this run only: the environment reaches every part that asks for the
    // directory, and a recorder started from here hands it on when it starts
    // vantora again.
    if (options.server)
        qputenv("VANTORA_SERVER", options.server->toLocal8Bit());
    if (options.port)
        StreamingEngine::setPortOverride(*options.port);

    // The program lives on in the tray when its windows are hidden; it ends by shutting down.
    QApplication::setQuitOnLastWindowClosed(false);
    initGlobalDefaults();
    StreamingEngine::registerFactory();
    registerCommunityWindows();
    registerConfigurationWindow();
    // Snapshots go through the program's one JPEG encoder.
    windows::setSnapshotsOpener([](QWidget* owner) {
        MainWindow* main = mainWindow();
        openSnapshotsWindow(owner, main ? main->camera : nullptr, [](const QImage& picture, int quality) {
            FrameBuffer buffer;
            if (!buffer.createFrom(picture))
                return QByteArray();
            try {
                return sharedJpegEncoder().encode(buffer, quality);
            } catch (const JpegError&) {
                return QByteArray();
            }
        });
    });
    windows::setWindowUnloader(QStringLiteral("snapshots"), [] { unloadSnapshotsWindow(); });
    if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
        const int port = StreamingEngine::configuredPort();
        const QByteArray where = port > 0 ? QByteArray("http://127.0.0.1:") + QByteArray::number(port) + '/'
                                          : QByteArray("a free port (the port is 0)");
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
