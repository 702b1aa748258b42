#include "shell/ShellWindows.h"

#include "shell/Globals.h"
#include "shell/MainWindow.h"
#include "shell/SplashScreen.h"

void startWindows()
{
    initGlobalDefaults();
    globals().DebugMode = false;
    const bool loaded = splashScreen();
    SplashScreen* splash = loadSplash();
    if (!loaded)
        QObject::connect(splash, &SplashScreen::loadDue, splash, [] { startMainWindow(); });
    splash->show();
}
