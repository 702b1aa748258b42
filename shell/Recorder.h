#pragma once
// Starting the movie recorder, which needs the camera to itself.

#include <QString>
#include <QStringList>

// Starts reelsmith with "/reload", detached, from the first of `folders` that
// holds it (else from PATH). On failure returns false with what went wrong in `error`.
bool startRecorder(const QStringList& folders, QString* error);
