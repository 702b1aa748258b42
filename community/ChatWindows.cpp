#include "community/ChatWindows.h"

#include "capture/Prompt.h"
#include "community/ChatInvitations.h"
#include "community/ChatRequestWindow.h"
#include "community/ChatWindow.h"
#include "community/InvitationWindow.h"
#include "server/EngineHooks.h"
#include "shell/Globals.h"
#include "shell/MainWindow.h"
#include "shell/Settings.h"
#include "shell/WindowRegistry.h"

#include <QCoreApplication>
#include <QTimer>

namespace {
void showRejection()
{
    MessageBox::plain(mainWindow(), globals().AppName, QString::fromLatin1(kChatRejectedText));
    ChatInvitations::instance().endRejectNotice();
}
} // namespace

void registerChatWindows()
{
    windows::setInvitationOpener([](QWidget* owner) { InvitationWindow::open(owner); });
    enginehooks::setChatRequestHandler([](const QString& request, const QString& peerAddress) {
        if (!globals().ChatDisabled)
            ChatRequestWindow::askChat(request, peerAddress);
    });
    // Answers count only for an invitation of ours still waiting for one.
    enginehooks::setChatAcceptHandler([](const QString& name) -> quint16 {
        if (globals().ChatDisabled || !ChatInvitations::instance().takeAnswer())
            return 0;
        return ChatWindow::initChat(name);
    });
    enginehooks::setChatRejectHandler([](const QString&) {
        if (!ChatInvitations::instance().beginRejectNotice())
            return;
        // Shown from the event loop, not inside the connection's handling.
        QTimer::singleShot(0, qApp, &showRejection);
    });
    // The security option takes effect for the next request, not the next start.
    QObject::connect(&Settings::instance(), &Settings::changed, qApp,
                     [](const QString& section, const QString& key) {
                         if (section.compare(QLatin1String("Options"), Qt::CaseInsensitive) == 0 &&
                             key.compare(QLatin1String("DisChat"), Qt::CaseInsensitive) == 0)
                             globals().ChatDisabled = Settings::instance().get(setting::DisableChat) == 1;
                     });
}
