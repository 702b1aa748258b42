#pragma once
// Makes an AVI file that was cut off while recording (disk full, device gone,
// program killed) playable: drops a half-written last chunk, puts the real
// sizes and frame counts into the headers the muxer left as placeholders and
// appends an index when there is room for it.

#include <QString>

struct AviRepairResult
{
    bool ok = false;
    QString error;        // why not, when !ok
    quint32 videoFrames = 0;
    quint32 audioChunks = 0;
    bool indexWritten = false;
};

AviRepairResult repairAviFile(const QString& path);
