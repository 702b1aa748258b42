#include "shell/Seams.h"

#include <utility>
#include <vector>

#include <QHash>

namespace {
seams::EngineFactory engineFactory;
EngineWindow* loadedEngine = nullptr;
std::vector<std::function<void()>> engineGoneCallbacks;
seams::WindowOpener configurationOpener;
seams::WindowOpener invitationOpener;
seams::WindowOpener snapshotsOpener;
seams::ActiveConnectionsWindow activeConnections;
QHash<QString, std::function<void()>>& unloaders()
{
    static QHash<QString, std::function<void()>> map;
    return map;
}
} // namespace

namespace seams {

void setEngineFactory(EngineFactory factory) { engineFactory = std::move(factory); }

EngineWindow* loadEngine()
{
    if (!loadedEngine && engineFactory) {
        loadedEngine = engineFactory();
        if (loadedEngine)
            loadedEngine->load(); // may unload it again at once
    }
    return loadedEngine;
}

EngineWindow* engine() { return loadedEngine; }

void engineUnloaded(EngineWindow* e)
{
    if (e != loadedEngine)
        return;
    loadedEngine = nullptr;
    const auto waiting = std::exchange(engineGoneCallbacks, {});
    for (const auto& callback : waiting)
        callback();
}

void whenEngineUnloaded(std::function<void()> callback)
{
    if (!loadedEngine)
        callback();
    else
        engineGoneCallbacks.push_back(std::move(callback));
}

void setConfigurationOpener(WindowOpener opener) { configurationOpener = std::move(opener); }
void openConfiguration(QWidget* owner)
{
    if (configurationOpener)
        configurationOpener(owner);
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

} // namespace seams
