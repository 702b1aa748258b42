#include "shell/Recorder.h"

#include "capture/SiblingProgram.h"

#include <QProcess>

bool startRecorder(const QStringList& folders, QString* error)
{
    const QString program = findSiblingProgram(QStringLiteral("reelsmith"), folders);
    if (program.isEmpty()) {
        if (error)
            *error = QStringLiteral(
                "reelsmith was not found beside vantora or on PATH: No such file or directory");
        return false;
    }
    QProcess process;
    process.setProgram(program);
    process.setArguments({QStringLiteral("/reload")});
    if (process.startDetached())
        return true;
    if (error)
        *error = process.errorString();
    return false;
}
