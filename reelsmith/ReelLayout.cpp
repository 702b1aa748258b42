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

ControlSize fitControlToScreen(ControlSize control, ControlSize available)
{
    if (control.width <= 0 || control.height <= 0)
        return control;
    const Layout fitted = fitToControl(Layout{}, control.width, control.height);
    if (fitted.windowWidth <= available.width && fitted.windowHeight <= available.height)
        return control;
    // Past the designed size the window is the control plus fixed margins.
    const Layout designed;
    const int marginWidth =
        designed.frameWidth - DesignedControlWidth + designed.windowWidth - designed.frameWidth;
    const int marginHeight = 280 + designed.statusHeight + 1200;
    const double scale = qMin(double(available.width - marginWidth) / control.width,
                              double(available.height - marginHeight) / control.height);
    if (scale >= 1.0)
        return control;
    // Never below the designed size: the window is that large anyway.
    const double floor =
        qMax(double(DesignedControlWidth) / control.width, double(DesignedControlHeight) / control.height);
    const double s = qMax(scale, qMin(floor, 1.0));
    return {int(control.width * s), int(control.height * s)};
}

QString movieFilePath(const QString& text, const QString& folder)
{
    QString path = text.trimmed();
    if (path.isEmpty())
        return {};
    if (path == QLatin1String("~"))
        path = QDir::homePath();
    else if (path.startsWith(QLatin1String("~/")))
        path = QDir::homePath() + path.mid(1);
    if (QDir::isRelativePath(path))
        path = QDir(folder).filePath(path);
    const QFileInfo info(path);
    if (!path.endsWith(QLatin1Char('/')) && info.suffix().isEmpty() && !info.isDir())
        path += info.fileName().endsWith(QLatin1Char('.')) ? QStringLiteral("avi") : QStringLiteral(".avi");
    return QDir::cleanPath(path);
}

namespace {
QString bytesText(qint64 bytes)
{
    const char* units[] = {"KB", "MB", "GB", "TB"};
    double v = qMax<qint64>(bytes, 0) / 1000.0;
    int u = 0;
    while (v >= 1000.0 && u < 3) {
        v /= 1000.0;
        ++u;
    }
    return QStringLiteral("%1 %2").arg(v, 0, 'f', 1).arg(QLatin1String(units[u]));
}
} // namespace

bool diskAlmostFull(qint64 freeBytes, double bytesPerSecond)
{
    return freeBytes < 50 * 1000 * 1000 || freeBytes < bytesPerSecond * 60;
}

QString takeSpaceText(qint64 fileBytes, qint64 freeBytes, double bytesPerSecond)
{
    QString text = QStringLiteral("%1, %2 free").arg(bytesText(fileBytes), bytesText(freeBytes));
    if (diskAlmostFull(freeBytes, bytesPerSecond))
        text += QStringLiteral(" - the disk is almost full");
    return text;
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
            *error = QStringLiteral("Cannot start %1: %2")
                         .arg(path, info.exists() ? QStringLiteral("not a program")
                                                  : QStringLiteral("no such file"));
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
