#pragma once
// What GStreamer's discoverer finds in a media file: container, streams, length.

#include <QByteArray>
#include <QList>
#include <QPair>
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

// Everything in an AVI file, read independently of the recorder's own code:
// every RIFF block, every chunk, the counts the headers claim.
struct AviContents
{
    bool ok = false;
    QString error;
    int blocks = 0;               // RIFF "AVI " and "AVIX"
    bool sizesMatch = false;      // every RIFF and movie list size is what it holds; the last ends the file
    quint32 mainHeaderFrames = 0; // avih
    quint32 odmlFrames = 0;       // dmlh, 0 when absent
    bool hasOdml = false;
    QList<quint32> streamLengths;      // strh, per stream
    QList<quint32> superIndexUsed;     // entries in use, per stream (0 without one)
    QList<quint64> superIndexDuration; // their durations added up
    bool idx1 = false;
    quint32 idx1Entries = 0;
    quint64 videoChunks = 0;
    quint64 firstBlockVideoChunks = 0;
    quint64 audioBytes = 0;
    int fps = 0;
    int audioRate = 0;
    int audioAlign = 0; // bytes per sample frame
    QByteArray firstFrame, secondFrame;
    qint64 lastChunkEnd = 0;                   // end of the last movie chunk
    QList<qint64> videoChunkEnds;              // where each frame's chunk ends
    QList<QPair<qint64, quint32>> audioChunks; // end and size of each sound chunk
    double videoSeconds() const { return fps ? double(videoChunks) / fps : 0; }
    double audioSeconds() const
    {
        return audioRate && audioAlign ? double(audioBytes) / audioAlign / audioRate : 0;
    }
};

AviContents readAviContents(const QString& path);

// Plays the file through GStreamer's AVI demuxer and decoders to the end.
struct Decoded
{
    bool ok = false; // reached the end without an error
    QString error;
    quint64 videoFrames = 0;
};

Decoded decodeMedia(const QString& path);
