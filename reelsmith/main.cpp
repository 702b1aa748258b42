// Reel Smith: records the camera into an AVI file. Started by vantora with
// "/reload", it starts vantora again when it closes.
#include "frmSplash.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("ReelSmith"));
    auto* splash = new frmSplash(app.arguments());
    splash->show();
    return app.exec();
}
