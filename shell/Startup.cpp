#include "shell/Startup.h"

#include "shell/Globals.h"
#include "shell/Settings.h"
#include "shell/SystemUtils.h"
#include "shell/Version.h"

namespace {
// The messenger service that step 5 stops exists on no system this program
// runs on, so the step shows nothing and does nothing here.
constexpr bool hasMessengerService = false;
} // namespace

void StartupSequence::status(StartupHost& host, const QString& text)
{
    m_record.append(QLatin1String("status ") + text);
    host.status(text);
}

void StartupSequence::bar(StartupHost& host, int percent)
{
    m_record.append(QLatin1String("bar ") + QString::number(percent));
    host.bar(percent);
}

bool StartupSequence::run(StartupHost& host)
{
    Globals& g = globals();
    Settings& settings = Settings::instance();

    // 1. One copy per user, unless the user wants another.
    if (host.anotherCopyRunning()) {
        const QString text =
            g.AppName + QLatin1String(" already running\r\nDo you wish to start another copy?");
        if (!host.askStartAnotherCopy(QStringLiteral("Already running"), text)) {
            host.abandon();
            return false;
        }
    }

    // 2. The version the update check compares against.
    settings.set(setting::RunningVersion, version::compact());

    // 3.
    bar(host, 20);
    status(host, QStringLiteral("Requesting tempory directory..."));
    g.TempDir = tempDir();

    // 4.
    status(host, QStringLiteral("Loading Application version and addition information..."));
    host.setTitle(g.DebugMode ? g.AppName + QLatin1String(" BETA") : g.AppName + u' ' + version::compact());
    host.changeToProgramFolder();

    // 5.
    if (hasMessengerService && settings.get(setting::DisableMessenger) == 1)
        status(host, QStringLiteral("Disabling NT Messenger Service..."));

    // 6.
    bar(host, 40);
    status(host, QStringLiteral("Loading Chat Settings..."));
    g.ChatDisabled = settings.get(setting::DisableChat) == 1;

    // 7.
    bar(host, 50);
    host.loadTray();

    // 8.
    status(host, QStringLiteral("Loading Driver settings..."));
    bar(host, 60);
    host.selectDriver(settings.get(setting::CaptureDriver));

    // 9.
    bar(host, 70);
    status(host, QStringLiteral("Loading Autocheck engine..."));
    bar(host, 75);
    if (settings.get(setting::AutoCheck) == 1)
        host.enableUpdateTimer();
    g.ShowCamErrors = settings.get(setting::ShowCameraErrors);

    // 10. A driver that does not connect does not stop start-up.
    status(host, QStringLiteral("Connecting to video driver..."));
    bar(host, 80);
    if (!host.connectVideo())
        host.showDriverFailure();

    // 11.
    status(host, QStringLiteral("Loading system tray..."));
    bar(host, 90);

    // 12.
    if (settings.get(setting::StreamingEnabled) == 1) {
        status(host, QStringLiteral("Loading Velora Engine..."));
        host.setEngineState(QStringLiteral("ON"));
        g.DisableCheck = settings.get(setting::DisableCheck);
        host.loadEngine();
        if (settings.get(setting::ConnectionsWindowVisible))
            host.showActiveConnections();
    }

    // 13.
    g.ProgramModeAlt = settings.get(setting::ProgramMode) == 2;

    // 14.
    status(host, QStringLiteral("Loading Main window..."));
    bar(host, 100);
    host.showMainUnloadSplash();

    // 15.
    QStringList domains;
    for (int i = 0; i <= g.AccountDomainsLast && i < g.AccountDomains.size(); ++i)
        domains.append(g.AccountDomains.at(i));
    host.fillLogin(domains, settings.get(setting::UserName), settings.get(setting::Password),
                   settings.get(setting::Domain, g.AccountDomains.value(0)));

    // 16. Its handler runs only when the value changes.
    host.setOnlineSwitch(settings.get(setting::StreamingEnabled));
    return true;
}
