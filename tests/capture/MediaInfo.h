#pragma once
// What GStreamer's discoverer finds in a media file: container, streams, length.

#include <QSize>
#include <QString>

struct MediaInfo
{
    bool ok = false;
    QString error;
    QString container; // caps name, e.g. "video/x-msvideo"
    int videoStreams = 0;
    int audioStreams = 0;
    QSize videoSize;
    double videoFps = 0;
    double durationSeconds = 0;
    int audioRate = 0;
    int audioChannels = 0;
};

MediaInfo discoverMedia(const QString& path);

// What an AVI file's own headers claim; a finished file has the real sizes
// and an index, a cut-off one placeholders.
struct AviHeader
{
    bool riff = false;
    bool riffSizeMatches = false; // RIFF size + 8 == file size
    quint32 totalFrames = 0;      // from the main header
    bool hasIndex = false;        // an idx1 chunk after the data
};

AviHeader readAviHeader(const QString& path);
