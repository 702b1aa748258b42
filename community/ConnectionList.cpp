#include "community/ConnectionList.h"

#include "shell/Settings.h"

#include <QHostAddress>
#include <QStandardPaths>

void ConnectionList::add(const QString& address) { m_lines.append(address); }

qsizetype ConnectionList::remove(const QString& address)
{
    if (address.isEmpty())
        return -1;
    for (qsizetype i = 0; i < m_lines.size(); ++i) {
        if (m_lines.at(i).startsWith(address)) {
            m_lines.removeAt(i);
            return i;
        }
    }
    return -1;
}

namespace connectionsgeometry {

namespace {
const QString kSection = QStringLiteral("Active Connections");

int twipsSetting(const QString& key, int def) { return settingInt(kSection, key, def); }
} // namespace

QRect load(const QRect& screen)
{
    const int screenW = screen.width() * kTwipsPerPixel;
    const int screenH = screen.height() * kTwipsPerPixel;
    const int top = twipsSetting(QStringLiteral("WindowTop"), screenH / 2 - kDefaultHeight / 2);
    const int left = twipsSetting(QStringLiteral("WindowLeft"), screenW / 2 - kDefaultWidth / 2);
    const int width = twipsSetting(QStringLiteral("WindowWidth"), kDefaultWidth);
    const int height = twipsSetting(QStringLiteral("WindowHeight"), kDefaultHeight);
    // Stored values are relative to the whole desktop; the defaults centre on `screen`.
    const bool centred = GetSetting(kSection, QStringLiteral("WindowTop")).isEmpty() &&
                         GetSetting(kSection, QStringLiteral("WindowLeft")).isEmpty();
    const QPoint origin = centred ? screen.topLeft() : QPoint();
    return QRect(origin.x() + left / kTwipsPerPixel, origin.y() + top / kTwipsPerPixel,
                 qMax(1, width / kTwipsPerPixel), qMax(1, height / kTwipsPerPixel));
}

void save(const QRect& g)
{
    SaveSetting(kSection, QStringLiteral("WindowTop"), QString::number(g.y() * kTwipsPerPixel));
    SaveSetting(kSection, QStringLiteral("WindowLeft"), QString::number(g.x() * kTwipsPerPixel));
    SaveSetting(kSection, QStringLiteral("WindowWidth"), QString::number(g.width() * kTwipsPerPixel));
    SaveSetting(kSection, QStringLiteral("WindowHeight"), QString::number(g.height() * kTwipsPerPixel));
}

} // namespace connectionsgeometry

namespace routetrace {

QString findOnPath(const QString& name) { return QStandardPaths::findExecutable(name); }

namespace {
// Terminals tried after x-terminal-emulator, and how each is told to run a command.
struct Terminal
{
    const char* name;
    QStringList runFlag;
};

const QList<Terminal>& terminals()
{
    static const QList<Terminal> list{
        {"x-terminal-emulator", {QStringLiteral("-e")}},
        {"gnome-terminal", {QStringLiteral("--")}},
        {"konsole", {QStringLiteral("-e")}},
        {"xfce4-terminal", {QStringLiteral("-x")}},
        {"mate-terminal", {QStringLiteral("-x")}},
        {"lxterminal", {QStringLiteral("-e")}},
        {"qterminal", {QStringLiteral("-e")}},
        {"terminator", {QStringLiteral("-x")}},
        {"tilix", {QStringLiteral("-e")}},
        {"kitty", {}},
        {"alacritty", {QStringLiteral("-e")}},
        {"urxvt", {QStringLiteral("-e")}},
        {"xterm", {QStringLiteral("-e")}},
    };
    return list;
}
} // namespace

Launch plan(const QString& address, const ProgramFinder& find)
{
    Launch launch;
    const QHostAddress parsed(address);
    if (address.isEmpty() || parsed.isNull()) {
        launch.problem = QStringLiteral("Select the address of a connection to trace the route to it.");
        return launch;
    }
    // traceroute when installed, else tracepath (part of iputils on most desktops).
    QString trace = find(QStringLiteral("traceroute"));
    if (trace.isEmpty())
        trace = find(QStringLiteral("tracepath"));
    if (trace.isEmpty()) {
        launch.problem = QStringLiteral("The route to %1 cannot be traced: neither traceroute nor "
                                        "tracepath is installed.")
                             .arg(address);
        return launch;
    }
    for (const Terminal& t : terminals()) {
        const QString path = find(QLatin1String(t.name));
        if (path.isEmpty())
            continue;
        // The address goes in as an argument of its own, never into the script text.
        const QString script = QStringLiteral(
            "echo 'Please Wait...'; \"$0\" \"$1\"; echo; printf 'Press Enter to close. '; read _");
        launch.program = path;
        launch.arguments = t.runFlag;
        launch.arguments << QStringLiteral("sh") << QStringLiteral("-c") << script << trace
                         << parsed.toString();
        return launch;
    }
    launch.problem = QStringLiteral("The route to %1 cannot be traced: no terminal program was found "
                                    "(x-terminal-emulator, xterm, ...).")
                         .arg(address);
    return launch;
}

} // namespace routetrace
