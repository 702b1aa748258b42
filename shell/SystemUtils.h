#pragma once
// Small operating-system routines: temporary directory and file names, a
// file existence test and the system's name.

#include "capture/FileExists.h"

#include <QString>

// The user's temporary directory, always ending in "/".
QString tempDir();
// Full path of a new, empty, uniquely named file in tempDir(); the file
// exists when this returns. Empty when no file could be made.
QString makeTempFile();
// `path` with a "/" at its end; "" gives "/".
QString withTrailingSlash(const QString& path);
// The distribution's display name (PRETTY_NAME of os-release), or "Linux".
QString osName();
// Same, from an os-release style file; "Linux" when it names nothing.
QString osNameFromRelease(const QString& osReleasePath);
