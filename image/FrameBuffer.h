#pragma once
// The frame buffer every served frame, snapshot and preview passes through on
// its way to the JPEG encoder: 24-bit blue-green-red pixels, rows padded to 4
// bytes and stored bottom-up (row 0 of the memory is the bottom row of the
// picture). The encoder reads this memory as it is, so the layout is fixed;
// pictures come in and go out as QImage.

#include <QImage>
#include <QtGlobal>
#include <memory>

class FrameBuffer
{
public:
    enum class Noise { Colour, Grey };

    FrameBuffer() = default;
    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;

    // Drops the old pixels, then makes a black buffer of that size. False (and
    // empty) when the size is not positive or the memory cannot be had.
    bool create(int width, int height);
    // A buffer of the picture's size holding its pixels. False when the
    // picture is null (the buffer is left as it was) or the buffer cannot be
    // made (it is empty then).
    bool createFrom(const QImage& picture);
    // Back to empty; nothing happens when it is empty already.
    void clear();

    // Copies from the source at (srcLeft, srcTop) into the buffer at (0, 0); a
    // negative width or height means the buffer's own. Only the part that lies
    // inside both is copied; the rest keeps its pixels.
    void copyFrom(const QImage& source, int srcLeft = 0, int srcTop = 0, int width = -1, int height = -1);
    void copyFrom(const FrameBuffer& source, int srcLeft = 0, int srcTop = 0, int width = -1,
                  int height = -1);
    // Copies from the buffer at (srcLeft, srcTop) onto the target at
    // (destLeft, destTop); a negative width or height means the buffer's own.
    void copyTo(QImage& target, int destLeft = 0, int destTop = 0, int width = -1, int height = -1,
                int srcLeft = 0, int srcTop = 0) const;
    // The buffer as an upright picture (a copy); null when empty.
    QImage toImage() const;

    int width() const { return m_width; }
    int height() const { return m_height; }
    bool isEmpty() const { return !m_bits; }
    // Row stride: width * 3 rounded up to a multiple of 4.
    int bytesPerLine() const { return bytesPerLineFor(m_width); }
    static int bytesPerLineFor(int width) { return (width * 3 + 3) & ~3; }
    // The first byte of the bottom row; null when empty.
    uchar* bits() { return m_bits.get(); }
    const uchar* bits() const { return m_bits.get(); }

    // Bilinear scaling into a new buffer; null when it cannot be made or this
    // one is empty.
    std::unique_ptr<FrameBuffer> resampled(int width, int height) const;
    // Random pixels: grey, or blue 0 with random green and red. Row filler is left.
    void fillWithNoise(Noise kind = Noise::Colour);
    // Puts the picture on the clipboard; false when empty or there is no clipboard.
    bool copyToClipboard() const;

private:
    struct FreeDeleter
    {
        void operator()(uchar* p) const;
    };
    uchar* row(int y) { return m_bits.get() + qsizetype(y) * bytesPerLine(); }
    const uchar* row(int y) const { return m_bits.get() + qsizetype(y) * bytesPerLine(); }

    std::unique_ptr<uchar, FreeDeleter> m_bits;
    int m_width = 0;
    int m_height = 0;
};

// Converts one row of 32-bit pixels (as QImage::Format_RGB32 holds them in
// memory: blue, green, red, unused) into blue-green-red bytes.
void convertRowRgb32ToBgr24(const quint32* src, uchar* dst, int count);
