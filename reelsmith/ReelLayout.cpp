#include "reelsmith/ReelLayout.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace reel {

Layout fitToControl(Layout l, int controlWidth, int controlHeight)
{
    if (controlWidth > DesignedControlWidth) {
        l.frameWidth = controlWidth + 170;
        l.windowWidth = l.frameWidth + 330;
    }
    if (controlHeight > DesignedControlHeight) {
        l.frameHeight = controlHeight + 280;
        l.windowHeight = l.statusHeight + l.frameHeight + 1200;
    }
    l.buttonTop = l.windowHeight - 2 * l.buttonHeight - l.statusHeight - 200;
    l.closeLeft = l.windowWidth - l.closeWidth - 200;
    l.goLeft = l.closeLeft - l.goWidth - 150;
    l.optionsLeft = l.goLeft - l.optionsWidth - 150;
    return l;
}

bool isRestartCommandLine(const QStringList& arguments)
{
    return arguments.mid(1).join(QLatin1Char(' ')) == QLatin1String("/reload");
}

bool startProgram(const QString& folder, const QString& program, QString* error)
{
    const QString path = QDir(folder).filePath(program);
    const QFileInfo info(path);
    if (!info.exists() || !info.isExecutable()) {
        if (error)
            *error = QStringLiteral("Cannot start %1: %2").arg(path, info.exists() ? QStringLiteral("not a program") : QStringLiteral("no such file"));
        return false;
    }
    QProcess process;
    process.setProgram(path);
    process.setWorkingDirectory(folder);
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        if (error)
            *error = QStringLiteral("Cannot start %1: %2").arg(path, process.errorString());
        return false;
    }
    return true;
}

} // namespace reel
