#pragma once
// Windows of other folders that the shell opens and unloads. The shell knows
// them only through these registrations; the program fills them in at start,
// so the shell library does not depend on the folders above it. The online
// session is registered with the OnlineController.

#include <QString>
#include <functional>

class QWidget;

namespace windows {

// Windows the shell only opens: registered by the program, null-safe to call.
using WindowOpener = std::function<void(QWidget* owner)>;
// The configuration window's pages, numbered as its entries; None opens it as it is.
enum class ConfigPage { None = 0, Streaming, General, Debug, Camera, Labels, Security };
using ConfigurationOpener = std::function<void(QWidget* owner, ConfigPage page)>;
void setConfigurationOpener(WindowOpener opener);
void setConfigurationOpener(ConfigurationOpener opener);
void openConfiguration(QWidget* owner); // does nothing when none is registered
void openConfiguration(QWidget* owner, ConfigPage page);
bool hasConfiguration();

// The chat invitation and the timed snapshots windows, opened from the main window.
void setInvitationOpener(WindowOpener opener);
void openInvitation(QWidget* owner);
bool hasInvitation();
void setSnapshotsOpener(WindowOpener opener);
void openSnapshots(QWidget* owner);
bool hasSnapshots();
// The registration wizard, offered when going online without an account.
void setSignupOpener(WindowOpener opener);
void openSignup(QWidget* owner);

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

} // namespace windows
