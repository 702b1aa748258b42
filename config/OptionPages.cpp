#include "config/OptionPages.h"

#include "shell/Globals.h"
#include "shell/Settings.h"
#include "shell/Version.h"

#include <utility>

CheckOptions::CheckOptions(QList<CheckOption> options) : m_options(std::move(options))
{
    for (const CheckOption& o : m_options)
        m_checked.append(o.fallback);
}

void CheckOptions::load()
{
    const Settings& settings = Settings::instance();
    for (int i = 0; i < count(); ++i) {
        const CheckOption& o = m_options[i];
        // Whatever the program's readers take as yes or no; anything else
        // leaves the box as it starts, and the next unload writes it cleanly.
        m_checked[i] = parseBool(settings.value(QLatin1String(o.section), QLatin1String(o.key)), o.fallback);
    }
}

void CheckOptions::unload()
{
    Settings& settings = Settings::instance();
    for (int i = 0; i < count(); ++i) {
        const CheckOption& o = m_options[i];
        settings.setValue(QLatin1String(o.section), QLatin1String(o.key),
                          m_checked[i] ? QStringLiteral("1") : QStringLiteral("0"));
    }
}

void CheckOptions::setChecked(int index, bool on)
{
    if (index >= 0 && index < count())
        m_checked[index] = on;
}

GeneralOptions::GeneralOptions() : CheckOptions({{"Options", "autocheck", true}}) {}

DebugOptions::DebugOptions()
    : CheckOptions({{"Settings", "ShowCamError", true},
                    {"Settings", "StreamError", false},
                    {"Settings", "DisableCheck", false}})
{}

QString DebugOptions::versionText() { return QStringLiteral("Vantora Version: ") + version::compact(); }

QString DebugOptions::commentsText() { return QStringLiteral("Velora Version: 1.30"); }

SecurityOptions::SecurityOptions()
    : CheckOptions({{"Options", "DisMessenger", true}, {"Options", "DisChat", false}})
{}

void SecurityOptions::setChecked(int index, bool on)
{
    CheckOptions::setChecked(index, on);
    if (index == DisableChat)
        globals().ChatDisabled = on;
}

bool SecurityOptions::messengerServiceAvailable() { return false; }
