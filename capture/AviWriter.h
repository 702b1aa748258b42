#pragma once
// Writes the recorder's AVI file: MJPEG or raw I420 video and PCM sound,
// interleaved frame by frame. Past the block limit the file goes on in
// OpenDML blocks (RIFF "AVIX"), so takes larger than 1 GiB keep every frame.
// Sound is cut and padded to the picture's clock, so the two never part by
// more than one frame, in a finished file and in one cut off.
//
// The streaming threads add frames and sound; the owner thread opens and
// finishes. A write that fails (disk full) stops the writer and calls the
// failure handler once; the file is then left for the repair.

#include "capture/AviFile.h"

#include <QSize>
#include <functional>
#include <mutex>
#include <optional>

class AviWriter
{
public:
    struct Video
    {
        QSize size;
        int fps = 30;
        bool mjpeg = true; // else I420
    };
    struct Sound
    {
        int rate = 22050;
        int channels = 1;
        int bits = 16; // 8 (unsigned) or 16
    };

    AviWriter();
    ~AviWriter();

    bool open(const QString& path, const Video& video, const std::optional<Sound>& sound);
    // Called once, on the thread whose write failed.
    void setFailureHandler(std::function<void(const QString&)> handler);

    // pts: the buffer's time in nanoseconds, -1 when unknown.
    void addFrame(const char* data, qint64 size, qint64 pts);
    void addSound(const char* data, qint64 size, qint64 pts);

    // Sound up to the last frame, the indexes and the real counts. False: the
    // file is left as it is (repair it).
    bool finish();
    QString error() const;
    quint64 frames() const;

    // Where a movie block ends. 1 GiB keeps every offset in 32 bits for any
    // player; tests lower it to run the multi-block path in seconds.
    static qint64 blockLimit();
    static void setBlockLimit(qint64 bytes);

private:
    bool put(quint32 id, const char* data, qint64 size);
    bool startBlock();
    bool closeCurrentBlock();
    void writeSoundUpTo(quint64 samples, bool pad);
    void alignSound();
    void failed();

    mutable std::mutex mutex;
    QFile file;
    Video video;
    std::optional<Sound> sound;
    avi::HeaderSpots spots;
    QList<avi::Block> blocks;
    QList<QList<avi::IndexEntry>> superIndex;
    qint64 end = 0;
    bool broken = false;
    bool finished = false;
    QString why;
    std::function<void(const QString&)> onFailure;
    quint32 videoId = 0;

    quint64 frameCount = 0;
    qint64 startPts = -1;      // of the first frame
    qint64 firstFramePts = -1; // where the sound starts
    // Sound waiting for the picture to catch up.
    QByteArray soundPending;
    qint64 soundPendingPts = -1;
    bool soundAligned = false;
    quint64 samplesWritten = 0;
};
