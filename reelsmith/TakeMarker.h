#pragma once
// While a take is written, a small note names its file. A recorder that is
// killed, crashes or loses power cannot finish the file's headers and index;
// the note it leaves behind lets the next start repair that file.

#include <QList>
#include <QString>

namespace reel {

struct RepairedTake
{
    QString path;
    bool ok = false;
    QString error;
    quint32 frames = 0;
};

class TakeMarker
{
public:
    // $XDG_STATE_HOME/reelsmith (or ~/.local/state/reelsmith).
    static QString folder();
    // Notes that this process writes `moviePath`. False when the note cannot
    // be written; the take goes on all the same.
    static bool begin(const QString& moviePath);
    // The take is complete: the note goes.
    static void end();
    // Repairs the takes of recorders that are no longer running (only the one
    // of `onlyPath` when given) and drops their notes.
    static QList<RepairedTake> repairLeftBehind(const QString& onlyPath = {});
};

// The message that tells the user about a repaired take.
QString repairedTakeMessage(const RepairedTake& take);

} // namespace reel
