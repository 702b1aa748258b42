#pragma once
// File tests the recorder makes before it writes a movie.

#include "capture/FileExists.h"

namespace reel {

using ::fileExists;

} // namespace reel
