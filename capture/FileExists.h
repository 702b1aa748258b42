#pragma once
// The file test both programs make: vantora before it reads a file it was
// given, the recorder before it writes a movie over one.

#include <QString>

// True when `path` opens for reading as a file. A single trailing "/" is
// removed first; a folder does not open as a file, so a folder path gives false.
bool fileExists(const QString& path);
