#pragma once
// vantora starts reelsmith and reelsmith starts vantora again. Both are found
// the same way: beside the running program first (the build folder and an
// installed system keep them side by side), then in the folder the programs are
// installed to, then on PATH.

#include <QString>
#include <QStringList>

// The folders looked in before PATH: the running program's own folder, then
// the install folder of the programs (when that is another folder).
QStringList siblingProgramFolders();

// The full path of the executable `name` in the first of `folders` that holds
// one, else the first one on PATH; empty when there is none, or when `name` is
// not a plain file name.
QString findSiblingProgram(const QString& name, const QStringList& folders = siblingProgramFolders());
