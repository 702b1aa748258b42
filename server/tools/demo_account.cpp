// vantora-demo-account USER DOMAIN PASSWORD: gives vantora a streaming account
// for a local demo, but only when it has none yet; an account the user set up
// is never replaced. Prints the address the camera is served on.

#include <QCoreApplication>
#include <cstdio>

#include "shell/Settings.h"

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fputs("usage: vantora-demo-account USER DOMAIN PASSWORD\n", stderr);
        return 2;
    }
    Settings& settings = Settings::instance();
    const StreamingAccount current = settings.account();
    if (current.userName.isEmpty() && current.domain.isEmpty()) {
        settings.setAccount({args[1], args[2], args[3]});
        settings.set(setting::StreamingEnabled, 1);
        if (!settings.flush()) {
            std::fprintf(stderr, "vantora-demo-account: cannot write %s: %s\n", qPrintable(settings.path()),
                         qPrintable(settings.lastError()));
            return 1;
        }
        std::printf("account: %s.%s (set up for this demo)\n", qPrintable(args[1]), qPrintable(args[2]));
    } else {
        std::printf("account: %s (your own; it must exist on the directory to log on)\n",
                    qPrintable(current.name()));
        if (settings.value(QLatin1String(setting::StreamingEnabled.section),
                           QLatin1String(setting::StreamingEnabled.key)) != QLatin1String("1"))
            std::printf("streaming is off: switch ONLINE in the main window\n");
    }
    if (settings.wasCorrupt())
        std::printf("note: the settings file could not be read: %s\n", qPrintable(settings.lastError()));
    std::printf("port: %d\n", settings.get(setting::Port));
    return 0;
}
