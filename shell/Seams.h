#pragma once
// Windows of other folders that the shell loads and unloads. The shell knows
// them only through these interfaces; the program registers the real ones at
// start, so the shell library does not depend on the folders above it.

#include <QString>
#include <functional>

class QWidget;

// The streaming engine window: loading it goes online.
class EngineWindow
{
public:
    virtual ~EngineWindow() = default;
    // Runs the load sequence; called once, right after the factory made it.
    virtual void load() = 0;
    virtual void logOff() = 0;   // log off and stop; unloads itself when done
    virtual void reloadLabels() = 0; // reload the label templates
};

namespace seams {

using EngineFactory = std::function<EngineWindow*()>;
void setEngineFactory(EngineFactory factory);
// Loads the engine window when none is loaded; a loaded one is returned as it is.
// Null when no engine is registered.
EngineWindow* loadEngine();
EngineWindow* engine(); // the loaded one, or null
// Called by the engine when it unloads itself (it then deletes itself later).
void engineUnloaded(EngineWindow* engine);
// Runs `callback` once no engine is loaded: at once when none is, otherwise
// when the loaded one unloads.
void whenEngineUnloaded(std::function<void()> callback);

// Windows the shell only opens: registered by the program, null-safe to call.
using WindowOpener = std::function<void(QWidget* owner)>;
void setConfigurationOpener(WindowOpener opener);
void openConfiguration(QWidget* owner); // does nothing when none is registered
bool hasConfiguration();

// The chat invitation and the timed snapshots windows, opened from the main window.
void setInvitationOpener(WindowOpener opener);
void openInvitation(QWidget* owner);
bool hasInvitation();
void setSnapshotsOpener(WindowOpener opener);
void openSnapshots(QWidget* owner);
bool hasSnapshots();

// The active connections window: shown from start-up and the View menu, its
// visibility saved at shut-down.
struct ActiveConnectionsWindow
{
    std::function<void(QWidget* owner)> show; // load and show modeless
    std::function<void()> unload;
    std::function<bool()> visible;
};
void setActiveConnections(ActiveConnectionsWindow window);
bool hasActiveConnections();
void showActiveConnections(QWidget* owner);
void unloadActiveConnections();
bool activeConnectionsVisible();

// Windows of other folders that shutting down unloads by name ("connections",
// "configuration", "snapshots", "jpegPreview", ...). Unknown names do nothing.
void setWindowUnloader(const QString& name, std::function<void()> unload);
void unloadWindow(const QString& name);

} // namespace seams
