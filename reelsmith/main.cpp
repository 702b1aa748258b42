// Reel Smith: records the camera into an AVI file. Started by vantora with
// "/reload", it starts vantora again when it closes.
#include "capture/Termination.h"
#include "reelsmith/RecorderSplash.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("ReelSmith"));
    // Quitting through the event loop finishes a running recording.
    onTerminationSignal(&app, [] { QApplication::quit(); });
    auto* splash = new RecorderSplash(app.arguments());
    splash->show();
    return app.exec();
}
