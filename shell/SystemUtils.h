#pragma once
// Small operating-system routines the windows share: temporary directory and
// file names, a file existence test, the system's name, and topmost windows.

#include <QString>

class QWidget;

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
// Never an NT-family system here.
bool IsWindowsNT();
// Keeps `frm` above other windows (or not), without moving or resizing it.
void AlwaysOnTop(QWidget* frm, bool onTop);
