#pragma once
// The program's one frame buffer: 24-bit blue-green-red pixels, rows padded to
// 4 bytes and stored bottom-up (row 0 of the memory is the bottom row of the
// picture). The JPEG encoder reads this memory as it is, so the layout is
// fixed; pictures come in and go out as QImage.

#include <QImage>
#include <QtGlobal>
#include <cstdint>
#include <functional>
#include <memory>

class FrameBuffer
{
public:
    // The plain copy raster operation; the only one the program uses.
    static constexpr quint32 SRCCOPY = 0x00CC0020;

    FrameBuffer() = default;
    ~FrameBuffer();
    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;

    // Empties the instance, then makes a zeroed buffer of that size. False (and
    // empty) when the size is not positive or the memory cannot be had.
    bool Create(qint32 lWidth, qint32 lHeight);
    // Builds the pixel memory for the given size and hands its handle out;
    // lhDC names the surface the section belongs to (any non-zero value).
    bool CreateDIB(quintptr lhDC, qint32 lWidth, qint32 lHeight, quintptr& hDib);
    // A buffer of the picture's size holding its pixels.
    void CreateFromPicture(const QImage& picThis);
    // Like CreateFromPicture for the size, but the pixels come from picture box
    // `indexa` of the engine window (through pictureBoxSource); without a
    // source the buffer stays blank.
    void CreatePicture(const QImage& picThis, qint16 indexa);
    static void setPictureBoxSource(std::function<QImage(int index)> source);

    // Copies from the picture at (lSrcLeft, lSrcTop) into the buffer at (0, 0);
    // a negative width or height means the buffer's own. Only the part that
    // lies inside both is copied; the rest keeps its pixels.
    void copyFrom(const QImage& src, qint32 lSrcLeft = 0, qint32 lSrcTop = 0, qint32 lSrcWidth = -1,
                        qint32 lSrcHeight = -1, quint32 eRop = SRCCOPY);
    void copyFrom(const FrameBuffer& src, qint32 lSrcLeft = 0, qint32 lSrcTop = 0,
                        qint32 lSrcWidth = -1, qint32 lSrcHeight = -1, quint32 eRop = SRCCOPY);
    // Copies from the buffer at (lSrcLeft, lSrcTop) onto the picture at
    // (lDestLeft, lDestTop); a negative width or height means the buffer's own.
    void PaintPicture(QImage& dst, qint32 lDestLeft = 0, qint32 lDestTop = 0, qint32 lDestWidth = -1,
                      qint32 lDestHeight = -1, qint32 lSrcLeft = 0, qint32 lSrcTop = 0,
                      quint32 eRop = SRCCOPY) const;
    // The buffer as an upright picture (a copy); null when empty.
    QImage toImage() const;

    qint32 BytesPerScanLine() const { return stride(m_width); }
    static qint32 stride(qint32 width) { return (width * 3 + 3) & ~3; }
    qint32 Width() const { return m_width; }
    qint32 Height() const { return m_height; }
    // Handles: non-zero exactly while the buffer is filled.
    quintptr hDC() const { return m_hDC; }
    quintptr hDib() const { return m_hDib; }
    uchar* DIBSectionBitsPtr() { return m_bits.get(); }
    const uchar* DIBSectionBitsPtr() const { return m_bits.get(); }
    bool isEmpty() const { return !m_bits; }

    void clear();

    // Bilinear scaling into a new buffer (height first); null when it cannot
    // be created or this one is empty.
    std::unique_ptr<FrameBuffer> Resample(qint32 lNewHeight, qint32 lNewWidth) const;
    // Noise: grey, or blue 0 with random green and red. Row filler is left.
    void RandomiseBits(bool bGray = false);
    // Puts the picture on the clipboard as a plain bitmap. As a DIB: nothing, false.
    bool CopyToClipboard(bool bAsDIB = false) const;

private:
    struct FreeDeleter
    {
        void operator()(uchar* p) const;
    };
    uchar* row(qint32 y) { return m_bits.get() + qsizetype(y) * BytesPerScanLine(); }
    const uchar* row(qint32 y) const { return m_bits.get() + qsizetype(y) * BytesPerScanLine(); }

    quintptr m_hDib = 0;
    quintptr m_hDC = 0;
    std::unique_ptr<uchar, FreeDeleter> m_bits;
    qint32 m_width = 0;
    qint32 m_height = 0;
};

// Converts one row of 32-bit pixels (as QImage::Format_RGB32 holds them in
// memory: blue, green, red, unused) into blue-green-red bytes.
void convertRowRgb32ToBgr24(const quint32* src, uchar* dst, int count);
