#pragma once
// What the general, debug and security pages read, show and write: check
// boxes over settings stored as "1" (ticked) or "0" (cleared). The pages
// edit copies; the store changes when a page unloads.

#include <QList>
#include <QString>

// One check box and its setting.
struct CheckOption
{
    const char* section;
    const char* key;
    bool fallback; // when the setting is missing or not a number
};

class CheckOptions
{
public:
    explicit CheckOptions(QList<CheckOption> options);
    virtual ~CheckOptions() = default;

    // Each box from its setting.
    void load();
    // Each box written back as "1" or "0", changed or not.
    void unload();

    int count() const { return int(m_options.size()); }
    bool checked(int index) const { return m_checked.value(index); }
    virtual void setChecked(int index, bool on);

private:
    QList<CheckOption> m_options;
    QList<bool> m_checked;
};

// "General Options": the update check at start-up.
class GeneralOptions : public CheckOptions
{
public:
    enum Box { AutoCheck };
    GeneralOptions();
};

// "Debug Settings": which errors are shown, and the firewall check.
class DebugOptions : public CheckOptions
{
public:
    enum Box { ShowCameraErrors, ShowStreamErrors, DisableCheck };
    DebugOptions();
    // "Vantora Version: " and the running version, as the update check compares it.
    static QString versionText();
    static QString commentsText();
};

// "Security": the messenger service and the chat. Chat is switched off or on
// for new requests the moment its box changes, before the page unloads.
class SecurityOptions : public CheckOptions
{
public:
    enum Box { DisableMessenger, DisableChat };
    SecurityOptions();
    void setChecked(int index, bool on) override;
    // The messenger service exists on NT-family Windows only; elsewhere its
    // box is shown disabled with the stored value.
    static bool messengerServiceAvailable();
};
