#pragma once
// Makes an AVI file that was cut off while recording (disk full, device gone,
// program killed) playable: keeps every complete frame and sound chunk in
// every movie block, drops a half-written last chunk, puts the real sizes and
// counts into the headers and writes the indexes. Damaged or crafted sizes
// end the walk at the file's end: the repair always ends.

#include <QString>

struct AviRepairResult
{
    bool ok = false;
    QString error; // why not, when !ok
    quint32 videoFrames = 0;
    quint32 audioChunks = 0;
    int blocks = 0; // movie blocks kept (RIFF "AVI " and "AVIX")
    bool indexWritten = false;
    bool framesDropped = false; // a full disk left no room for the index otherwise
};

AviRepairResult repairAviFile(const QString& path);
