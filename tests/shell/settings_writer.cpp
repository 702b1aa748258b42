// settings_writer PATH PREFIX COUNT: saves COUNT values one write at a time,
// as a second copy of the program would, for the test of concurrent saves.
#include "shell/Settings.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;
    Settings settings(args[1]);
    const int count = args[3].toInt();
    for (int i = 0; i < count; ++i) {
        settings.setValue(QStringLiteral("Race"), args[2] + QString::number(i), QString::number(i));
        if (!settings.flush()) {
            std::fprintf(stderr, "write %d failed: %s\n", i, qPrintable(settings.lastError()));
            return 1;
        }
    }
    return 0;
}
