#pragma once
// File tests the recorder makes before it writes a movie.

#include <QString>

namespace reel {

// True when the file opens for reading. A single trailing "/" is removed
// first; a folder does not open as a file, so a folder path gives false.
bool fileExists(const QString& path);

} // namespace reel
