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
    const QString streaming = QStringLiteral("Streaming");
    const QString user = GetSetting(streaming, QStringLiteral("Username"));
    const QString domain = GetSetting(streaming, QStringLiteral("Domain"));
    if (user.isEmpty() && domain.isEmpty()) {
        SaveSetting(streaming, QStringLiteral("Username"), args[1]);
        SaveSetting(streaming, QStringLiteral("Domain"), args[2]);
        SaveSetting(streaming, QStringLiteral("Password"), args[3]);
        SaveSetting(streaming, QStringLiteral("Enable"), QStringLiteral("1"));
        std::printf("account: %s.%s (set up for this demo)\n", qPrintable(args[1]), qPrintable(args[2]));
    } else {
        std::printf("account: %s.%s (your own; it must exist on the directory to log on)\n", qPrintable(user),
                    qPrintable(domain));
        if (GetSetting(streaming, QStringLiteral("Enable")) != QLatin1String("1"))
            std::printf("streaming is off: switch ONLINE in the main window\n");
    }
    if (settingsStore().wasCorrupt())
        std::printf("note: the settings file could not be read: %s\n", qPrintable(settingsStore().lastError()));
    std::printf("port: %d\n", settingInt(streaming, QStringLiteral("Port"), 2156));
    return 0;
}
