#pragma once
// The program-wide state, filled by start-up and the streaming engine, held
// for the whole run. One thread reads and writes it; nothing is locked.

#include <QString>
#include <QStringList>

struct Globals
{
    QString AppName = QStringLiteral("Vantora");
    QString ServerHost;         // host or host:port of the directory service
    bool DebugMode = false;     // build switch; never set at run time
    QStringList AccountDomains; // index 0 and 1
    int AccountDomainsLast = 1;
    QString TempDir; // ends in "/"
    QString OsName;
    bool ShowCamErrors = true;
    bool ChatDisabled = false;
    bool DisableCheck = false;
    bool ProgramModeAlt = false;
    bool GoingOffline = false;
    bool LoggedIn = false;

    // Set by the streaming engine when it loads.
    QString AccountName; // user + "." + domain
    QString AccountPassword;
    QString PublicAddress;
    bool BehindRouter = false;
    int JpegQuality = 20;
    bool ResizeFrames = false;
    int FrameSizeCode = 0;
    bool ShowStreamErrors = false;

    bool ActiveConnectionsOpen = false;
    // Mirrors the main window's online switch, for windows that act on it.
    bool OnlineSwitch = false;
};

Globals& globals();
// Back to the defaults of a fresh start (tests).
void resetGlobals();

// Sets the defaults the program starts with: AppName, ServerHost, DebugMode, AccountDomains.
void initGlobalDefaults();

// Width and height in pixels for resolution codes 1 to 6; other codes leave
// both unchanged and return false.
bool FrameSizeForCode(int code, int& width, int& height);
