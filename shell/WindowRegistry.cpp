#include "shell/WindowRegistry.h"

#include <utility>

#include <QHash>

namespace {
windows::ConfigurationOpener configurationOpener;
windows::WindowOpener invitationOpener;
windows::WindowOpener snapshotsOpener;
windows::WindowOpener signupOpener;
windows::ActiveConnectionsWindow activeConnections;
QHash<QString, std::function<void()>>& unloaders()
{
    static QHash<QString, std::function<void()>> map;
    return map;
}
} // namespace

namespace windows {

void setConfigurationOpener(WindowOpener opener)
{
    configurationOpener =
        opener ? [opener](QWidget* owner, ConfigPage) { opener(owner); } : ConfigurationOpener();
}
void setConfigurationOpener(ConfigurationOpener opener) { configurationOpener = std::move(opener); }
void openConfiguration(QWidget* owner) { openConfiguration(owner, ConfigPage::None); }
void openConfiguration(QWidget* owner, ConfigPage page)
{
    if (configurationOpener)
        configurationOpener(owner, page);
}
bool hasConfiguration() { return bool(configurationOpener); }

void setInvitationOpener(WindowOpener opener) { invitationOpener = std::move(opener); }
void openInvitation(QWidget* owner)
{
    if (invitationOpener)
        invitationOpener(owner);
}
bool hasInvitation() { return bool(invitationOpener); }

void setSnapshotsOpener(WindowOpener opener) { snapshotsOpener = std::move(opener); }
void openSnapshots(QWidget* owner)
{
    if (snapshotsOpener)
        snapshotsOpener(owner);
}
bool hasSnapshots() { return bool(snapshotsOpener); }

void setSignupOpener(WindowOpener opener) { signupOpener = std::move(opener); }
void openSignup(QWidget* owner)
{
    if (signupOpener)
        signupOpener(owner);
}

void setActiveConnections(ActiveConnectionsWindow window) { activeConnections = std::move(window); }
bool hasActiveConnections() { return bool(activeConnections.show); }
void showActiveConnections(QWidget* owner)
{
    if (activeConnections.show)
        activeConnections.show(owner);
}
void unloadActiveConnections()
{
    if (activeConnections.unload)
        activeConnections.unload();
}
bool activeConnectionsVisible() { return activeConnections.visible && activeConnections.visible(); }

void setWindowUnloader(const QString& name, std::function<void()> unload)
{
    unloaders().insert(name, std::move(unload));
}
void unloadWindow(const QString& name)
{
    const auto it = unloaders().constFind(name);
    if (it != unloaders().constEnd() && *it)
        (*it)();
}

} // namespace windows
