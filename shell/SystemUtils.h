#pragma once
// Small operating-system routines: temporary directory and file names, a
// file existence test and the system's name.

#include <QString>

// The user's temporary directory, always ending in "/".
QString GetTempDir();
// Full path of a new, empty, uniquely named file in GetTempDir(); the file
// exists when this returns. Empty when no file could be made.
QString MakeTempFileName();
// True when `path` (a single trailing "/" removed) opens for reading as a file.
bool FileExists(const QString& path);
// `path` with a "/" at its end; "" gives "/".
QString withTrailingSlash(const QString& path);
// The distribution's display name (PRETTY_NAME of os-release), or "Linux".
QString GetOsName();
// Same, from an os-release style file; "Linux" when it names nothing.
QString OsNameFromRelease(const QString& osReleasePath);
