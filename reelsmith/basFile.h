#pragma once
// The recorder's own copy of the main program's file test (it shares no code with it).

#include <QString>

// True when the file opens for reading. A single trailing "/" is removed
// first; a folder does not open as a file, so a folder path gives false.
bool FileExists(const QString& path);
