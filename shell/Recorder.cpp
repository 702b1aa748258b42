#include "shell/Recorder.h"

#include "shell/SystemUtils.h"

#include <QProcess>

bool startRecorder(const QString& folder, QString* error)
{
    QProcess process;
    process.setProgram(withTrailingSlash(folder) + QLatin1String("reelsmith"));
    process.setArguments({QStringLiteral("/reload")});
    if (process.startDetached())
        return true;
    if (error)
        *error = process.errorString();
    return false;
}
