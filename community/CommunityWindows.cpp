#include "community/CommunityWindows.h"

#include "community/ChatWindows.h"
#include "community/ConnectionsWindow.h"
#include "community/SignupWizard.h"

void registerCommunityWindows()
{
    registerActiveConnections();
    registerSignupWizard();
    registerChatWindows();
}
