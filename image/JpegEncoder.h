#pragma once
// The program's one JPEG encoder, with two sinks: memory (served frames) and
// a file (snapshots, the size preview). The frame buffer is read in place:
// blue, green, red, bottom-up, with its row filler, so no pixel is copied on
// the way.

#include <QByteArray>
#include <QString>

class FrameBuffer;

// Raised by every failing encode or save.
struct JpegError
{
    int number = 26001;
    QString source;      // executable name + ".JpegEncoder"
    QString description; // "Failed to initialise the IJL library: <code>" or "Failed to save to JPG <code>"
};

class JpegEncoder
{
public:
    JpegEncoder();
    ~JpegEncoder();
    JpegEncoder(const JpegEncoder&) = delete;
    JpegEncoder& operator=(const JpegEncoder&) = delete;

    // The JPEG of the whole buffer, upright, 4:2:0, at `quality` (1 to 100;
    // values outside are taken as the nearest end), in an array of its own
    // size. Throws JpegError.
    QByteArray encode(const FrameBuffer& image, int quality);
    // Same, into `out`, reusing its memory when it is large enough and not
    // shared. Throws JpegError; returns true.
    bool encode(const FrameBuffer& image, int quality, QByteArray& out);

private:
    void* m_handle = nullptr; // tjhandle, made on first use and kept
    QByteArray m_scratch;
};

// Writes the buffer as a JPEG file. A file it replaces keeps its access and
// modification times and its permission bits. Readers never see a half-written
// file, and after a failure no file of that name is left. Throws JpegError
// (never returns false).
bool saveJpegFile(const FrameBuffer& image, const QString& file, int quality);

// Source text of the errors: the executable's name + ".JpegEncoder".
QString jpegErrorSource();
// The encoder saveJpegFile uses; the server encodes its frames through it too.
JpegEncoder& sharedJpegEncoder();
