#pragma once
// What the shell tests share: a fresh settings file per test, a recording
// online session and active-connections window in place of the real ones,
// browser and program end captured instead of leaving the process.

#include "capture/Prompt.h"
#include "shell/Desktop.h"
#include "shell/Globals.h"
#include "shell/InfoWindows.h"
#include "shell/MainWindow.h"
#include "shell/OnlineController.h"
#include "shell/Settings.h"
#include "shell/SplashScreen.h"
#include "shell/TrayIcon.h"
#include "shell/WindowRegistry.h"

#include <QCoreApplication>
#include <QList>
#include <QTemporaryDir>
#include <QUrl>

struct ShellRecord
{
    int engineLoads = 0;
    int engineLogoffs = 0;
    int programEnds = 0;
    int activeShows = 0;
    bool activeVisible = false;
    int configurationOpens = 0;
    int invitationOpens = 0;
    int snapshotOpens = 0;
    bool withoutAccount = false; // sessions report that no account is set
    QList<QUrl> opened;
};

inline ShellRecord& shellRecord()
{
    static ShellRecord r;
    return r;
}

// Starts nothing; logging off ends it at once.
class RecordingSession : public OnlineSession
{
public:
    void start() override
    {
        ++shellRecord().engineLoads;
        if (shellRecord().withoutAccount)
            emit accountMissing();
    }
    void logOff() override
    {
        ++shellRecord().engineLogoffs;
        m_ended = true;
        emit unloaded();
        deleteLater();
    }
    bool hasEnded() const override { return m_ended; }

private:
    bool m_ended = false;
};

class ShellFixture
{
public:
    QTemporaryDir dir;
    int n = 0;

    void setUp()
    {
        shellRecord() = ShellRecord{};
        setSettingsPath(dir.path() + QStringLiteral("/settings%1/vantora.conf").arg(++n));
        resetGlobals();
        MessageBox::clearHistory();
        MessageBox::setResponder({});
        desktop::setProgramEnd([] { ++shellRecord().programEnds; });
        desktop::setUrlOpener([](const QUrl& u) {
            shellRecord().opened.append(u);
            return true;
        });
        OnlineController::setSessionFactory([](Capture*) -> OnlineSession* { return new RecordingSession; });
        windows::setActiveConnections({[](QWidget*) {
                                           ++shellRecord().activeShows;
                                           shellRecord().activeVisible = true;
                                       },
                                       [] { shellRecord().activeVisible = false; },
                                       [] { return shellRecord().activeVisible; }});
        windows::setConfigurationOpener([](QWidget*) { ++shellRecord().configurationOpens; });
        windows::setInvitationOpener([](QWidget*) { ++shellRecord().invitationOpens; });
        windows::setSnapshotsOpener([](QWidget*) { ++shellRecord().snapshotOpens; });
    }

    void tearDown()
    {
        unloadMainWindow(); // logs a running session off, which ends it
        unloadErrorWindow();
        unloadAboutWindow();
        unloadNewVersionWindow();
        unloadDriverFailureWindow();
        unloadTrayIcon();
        unloadSplash();
        MessageBox::setResponder({});
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
};
