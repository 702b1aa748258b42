#pragma once
// Small operating-system routines: temporary directory and file names, a
// file existence test and the system's name.

#include <QString>

// The user's temporary directory, always ending in "/".
QString tempDir();
// Full path of a new, empty, uniquely named file in tempDir(); the file
// exists when this returns. Empty when no file could be made.
QString makeTempFile();
// True when `path` (a single trailing "/" removed) opens for reading as a file.
bool fileExists(const QString& path);
// `path` with a "/" at its end; "" gives "/".
QString withTrailingSlash(const QString& path);
// The distribution's display name (PRETTY_NAME of os-release), or "Linux".
QString osName();
// Same, from an os-release style file; "Linux" when it names nothing.
QString osNameFromRelease(const QString& osReleasePath);
