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
    for (;;) {
        switch (next(host)) {
        case Progress::More:
            break;
        case Progress::Done:
            return true;
        case Progress::Abandoned:
            return false;
        }
    }
}

StartupSequence::Progress StartupSequence::next(StartupHost& host)
{
    Globals& g = globals();
    Settings& settings = Settings::instance();

    switch (m_next++) {
    case 1:
        // One copy per user, unless the user wants another.
        if (host.anotherCopyRunning()) {
            const QString text =
                g.AppName + QLatin1String(" already running\r\nDo you wish to start another copy?");
            if (!host.askStartAnotherCopy(QStringLiteral("Already running"), text)) {
                m_next = LastStep + 1;
                host.abandon();
                return Progress::Abandoned;
            }
        }
        break;
    case 2:
        // The version the update check compares against.
        settings.set(setting::RunningVersion, version::compact());
        break;
    case 3:
        bar(host, 20);
        status(host, QStringLiteral("Requesting tempory directory..."));
        g.TempDir = tempDir();
        break;
    case 4:
        status(host, QStringLiteral("Loading Application version and addition information..."));
        host.setTitle(g.DebugMode ? g.AppName + QLatin1String(" BETA")
                                  : g.AppName + u' ' + version::compact());
        host.changeToProgramFolder();
        break;
    case 5:
        if (hasMessengerService && settings.get(setting::DisableMessenger) == 1)
            status(host, QStringLiteral("Disabling NT Messenger Service..."));
        break;
    case 6:
        bar(host, 40);
        status(host, QStringLiteral("Loading Chat Settings..."));
        g.ChatDisabled = settings.get(setting::DisableChat) == 1;
        break;
    case 7:
        bar(host, 50);
        host.loadTray();
        break;
    case 8:
        status(host, QStringLiteral("Loading Driver settings..."));
        bar(host, 60);
        host.selectDriver(settings.get(setting::CaptureDriver));
        break;
    case 9:
        bar(host, 70);
        status(host, QStringLiteral("Loading Autocheck engine..."));
        bar(host, 75);
        if (settings.get(setting::AutoCheck) == 1)
            host.enableUpdateTimer();
        g.ShowCamErrors = settings.get(setting::ShowCameraErrors);
        break;
    case 10:
        // A driver that does not connect does not stop start-up.
        status(host, QStringLiteral("Connecting to video driver..."));
        bar(host, 80);
        if (!host.connectVideo())
            host.showDriverFailure();
        break;
    case 11:
        status(host, QStringLiteral("Loading system tray..."));
        bar(host, 90);
        break;
    case 12:
        if (settings.get(setting::StreamingEnabled) == 1) {
            status(host, QStringLiteral("Loading Velora Engine..."));
            host.setEngineState(QStringLiteral("ON"));
            g.DisableCheck = settings.get(setting::DisableCheck);
            host.loadEngine();
            if (settings.get(setting::ConnectionsWindowVisible))
                host.showActiveConnections();
        }
        break;
    case 13:
        g.ProgramModeAlt = settings.get(setting::ProgramMode) == 2;
        break;
    case 14:
        status(host, QStringLiteral("Loading Main window..."));
        bar(host, 100);
        host.showMainUnloadSplash();
        break;
    case 15: {
        QStringList domains;
        for (int i = 0; i <= g.AccountDomainsLast && i < g.AccountDomains.size(); ++i)
            domains.append(g.AccountDomains.at(i));
        host.fillLogin(domains, settings.get(setting::UserName), settings.get(setting::Password),
                       settings.get(setting::Domain, g.AccountDomains.value(0)));
        break;
    }
    case 16:
        // Its handler runs only when the value changes.
        host.setOnlineSwitch(settings.get(setting::StreamingEnabled));
        break;
    default:
        return Progress::Done;
    }
    return finished() ? Progress::Done : Progress::More;
}
