#include "capture/SiblingProgram.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

// packaging/ sets the folder the programs are installed to.
#ifndef VANTORA_INSTALL_BINDIR
#define VANTORA_INSTALL_BINDIR ""
#endif

QStringList siblingProgramFolders()
{
    QStringList folders;
    if (QCoreApplication::instance())
        folders << QCoreApplication::applicationDirPath();
    const QString installed = QStringLiteral(VANTORA_INSTALL_BINDIR);
    if (!installed.isEmpty() && !folders.contains(QDir::cleanPath(installed)))
        folders << QDir::cleanPath(installed);
    return folders;
}

QString findSiblingProgram(const QString& name, const QStringList& folders)
{
    // A name with a folder in it would let the lookup leave the folders given.
    if (name.isEmpty() || name.contains(u'/') || name == QLatin1String(".") || name == QLatin1String(".."))
        return QString();
    for (const QString& folder : folders) {
        if (folder.isEmpty())
            continue;
        const QFileInfo info(QDir(folder).filePath(name));
        if (info.isFile() && info.isExecutable())
            return info.absoluteFilePath();
    }
    return QStandardPaths::findExecutable(name);
}
