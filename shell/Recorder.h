#pragma once
// Starting the movie recorder, which needs the camera to itself.

#include <QString>

// Starts `folder`/reelsmith with "/reload", detached. On failure returns false
// with the system's description of what went wrong in `error`.
bool startRecorder(const QString& folder, QString* error);
