#include "image/FrameBuffer.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace {

// Rounds to the nearest whole number, halves to even (the default rounding mode).
inline int nearest(double v) { return static_cast<int>(std::nearbyint(v)); }

// The rectangle a copy touches: w x h pixels from (sx, sy) of a source of
// sw x sh to (dx, dy) of a destination of dw x dh, cut to what lies inside both.
struct CopyRect
{
    // Wide enough that extreme arguments cannot overflow while clipping.
    qint64 sx, sy, dx, dy, w, h;
    bool clip(qint64 sw, qint64 sh, qint64 dw, qint64 dh)
    {
        if (sx < 0) {
            dx -= sx;
            w += sx;
            sx = 0;
        }
        if (sy < 0) {
            dy -= sy;
            h += sy;
            sy = 0;
        }
        if (dx < 0) {
            sx -= dx;
            w += dx;
            dx = 0;
        }
        if (dy < 0) {
            sy -= dy;
            h += dy;
            dy = 0;
        }
        w = std::min({w, sw - sx, dw - dx});
        h = std::min({h, sh - sy, dh - dy});
        return w > 0 && h > 0;
    }
};

} // namespace

namespace {

void convertRowScalar(const quint32* src, uchar* dst, int count)
{
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
    // Four pixels become three 32-bit words.
    int i = 0;
    for (; i + 4 <= count; i += 4, src += 4, dst += 12) {
        const quint32 p0 = src[0], p1 = src[1], p2 = src[2], p3 = src[3];
        const quint32 w[3] = {(p0 & 0xFFFFFFu) | (p1 << 24), ((p1 >> 8) & 0xFFFFu) | (p2 << 16),
                              ((p2 >> 16) & 0xFFu) | (p3 << 8)};
        std::memcpy(dst, w, 12);
    }
    count -= i;
#endif
    for (int j = 0; j < count; ++j, ++src, dst += 3) {
        dst[0] = uchar(*src);
        dst[1] = uchar(*src >> 8);
        dst[2] = uchar(*src >> 16);
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Every composed frame passes through here; a byte shuffle does four pixels
// at once.
__attribute__((target("ssse3"))) void convertRowSsse3(const quint32* src, uchar* dst, int count)
{
    const __m128i mask = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    int i = 0;
    // Each store writes 16 bytes of which 12 count; the next store covers the
    // rest, so stop while 16 bytes still fit inside the row.
    for (; i + 6 <= count; i += 4, src += 4, dst += 12) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst), _mm_shuffle_epi8(v, mask));
    }
    convertRowScalar(src, dst, count - i);
}

using RowConverter = void (*)(const quint32*, uchar*, int);
RowConverter pickConverter()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3") ? convertRowSsse3 : convertRowScalar;
}
#endif

} // namespace

void convertRowRgb32ToBgr24(const quint32* src, uchar* dst, int count)
{
#if defined(__x86_64__) || defined(__i386__)
    static const RowConverter convert = pickConverter();
    convert(src, dst, count);
#else
    convertRowScalar(src, dst, count);
#endif
}

void FrameBuffer::FreeDeleter::operator()(uchar* p) const { std::free(p); }

bool FrameBuffer::create(int width, int height)
{
    clear();
    // A stride that overflows 32 bits cannot be addressed as an int.
    if (width <= 0 || height <= 0 || width > (0x7FFFFFFF - 3) / 3)
        return false;
    const quint64 size = quint64(bytesPerLineFor(width)) * quint64(height);
    if (size > quint64(0x7FFFFFFF))
        return false;
    // Starts black; calloc gets large blocks as untouched pages.
    auto* mem = static_cast<uchar*>(std::calloc(size_t(size), 1));
    if (!mem)
        return false;
    m_bits.reset(mem);
    m_width = width;
    m_height = height;
    return true;
}

bool FrameBuffer::createFrom(const QImage& picture)
{
    if (picture.isNull())
        return false;
    if (!create(picture.width(), picture.height()))
        return false;
    copyFrom(picture);
    return true;
}

void FrameBuffer::copyFrom(const QImage& src, int srcLeft, int srcTop, int width, int height)
{
    if (isEmpty() || src.isNull())
        return;
    CopyRect r{srcLeft, srcTop, 0, 0, width < 0 ? m_width : width, height < 0 ? m_height : height};
    if (!r.clip(src.width(), src.height(), m_width, m_height))
        return;

    const int stride = bytesPerLine();
    // Picture row dy + i lands in memory row height - 1 - (dy + i).
    uchar* dstTop = m_bits.get() + qsizetype(m_height - 1 - r.dy) * stride + r.dx * 3;
    switch (src.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32:
    case QImage::Format_ARGB32_Premultiplied:
        for (int i = 0; i < r.h; ++i) {
            const auto* s = reinterpret_cast<const quint32*>(src.constScanLine(r.sy + i)) + r.sx;
            convertRowRgb32ToBgr24(s, dstTop - qsizetype(i) * stride, r.w);
        }
        return;
    case QImage::Format_BGR888:
        for (int i = 0; i < r.h; ++i)
            std::memcpy(dstTop - qsizetype(i) * stride, src.constScanLine(r.sy + i) + r.sx * 3,
                        size_t(r.w) * 3);
        return;
    case QImage::Format_RGB888:
        for (int i = 0; i < r.h; ++i) {
            const uchar* s = src.constScanLine(r.sy + i) + r.sx * 3;
            uchar* d = dstTop - qsizetype(i) * stride;
            for (int x = 0; x < r.w; ++x, s += 3, d += 3) {
                d[0] = s[2];
                d[1] = s[1];
                d[2] = s[0];
            }
        }
        return;
    default: {
        // Rare formats: convert only the rectangle that is copied.
        const QImage part = src.copy(r.sx, r.sy, r.w, r.h).convertToFormat(QImage::Format_RGB32);
        for (int i = 0; i < r.h; ++i)
            convertRowRgb32ToBgr24(reinterpret_cast<const quint32*>(part.constScanLine(i)),
                                   dstTop - qsizetype(i) * stride, r.w);
        return;
    }
    }
}

void FrameBuffer::copyFrom(const FrameBuffer& src, int srcLeft, int srcTop, int width, int height)
{
    if (isEmpty() || src.isEmpty())
        return;
    CopyRect r{srcLeft, srcTop, 0, 0, width < 0 ? m_width : width, height < 0 ? m_height : height};
    if (!r.clip(src.m_width, src.m_height, m_width, m_height))
        return;
    for (int i = 0; i < r.h; ++i)
        std::memcpy(row(m_height - 1 - (r.dy + i)) + r.dx * 3,
                    src.row(src.m_height - 1 - (r.sy + i)) + r.sx * 3, size_t(r.w) * 3);
}

void FrameBuffer::copyTo(QImage& dst, int destLeft, int destTop, int width, int height, int srcLeft,
                         int srcTop) const
{
    if (isEmpty() || dst.isNull())
        return;
    CopyRect r{
        srcLeft, srcTop, destLeft, destTop, width < 0 ? m_width : width, height < 0 ? m_height : height};
    if (!r.clip(m_width, m_height, dst.width(), dst.height()))
        return;
    const QImage::Format f = dst.format();
    if (f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 || f == QImage::Format_ARGB32_Premultiplied) {
        for (int i = 0; i < r.h; ++i) {
            const uchar* s = row(m_height - 1 - (r.sy + i)) + r.sx * 3;
            auto* d = reinterpret_cast<quint32*>(dst.scanLine(r.dy + i)) + r.dx;
            for (int x = 0; x < r.w; ++x, s += 3)
                d[x] = 0xFF000000u | (quint32(s[2]) << 16) | (quint32(s[1]) << 8) | s[0];
        }
        return;
    }
    QPainter p(&dst);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.drawImage(QPoint(r.dx, r.dy), toImage(), QRect(r.sx, r.sy, r.w, r.h));
}

QImage FrameBuffer::toImage() const
{
    if (isEmpty())
        return {};
    QImage img(m_width, m_height, QImage::Format_RGB32);
    if (img.isNull())
        return {};
    copyTo(img);
    return img;
}

void FrameBuffer::clear()
{
    m_bits.reset();
    m_width = 0;
    m_height = 0;
}

std::unique_ptr<FrameBuffer> FrameBuffer::resampled(int newWidth, int newHeight) const
{
    if (isEmpty())
        return nullptr;
    auto out = std::make_unique<FrameBuffer>();
    if (!out->create(newWidth, newHeight))
        return nullptr;
    if (newWidth == m_width && newHeight == m_height) {
        out->copyFrom(*this);
        return out;
    }

    const int W = m_width, H = m_height;
    const float xScale = float(double(W - 1) / newWidth);
    const float yScale = float(double(H - 1) / newHeight);
    const int srcStride = bytesPerLine();
    const uchar* S = m_bits.get();
    uchar* D = out->m_bits.get();
    const int dstStride = out->bytesPerLine();

    for (int y = 0; y < newHeight; ++y) {
        const float fY = float(double(y) * yScale);
        const int iY = int(std::floor(fY));
        const float dy = float(double(fY) - iY);
        // A one-row source has nothing above; that neighbour's weight is 0 there.
        const int iY1 = std::min(iY + 1, H - 1);
        const uchar* row0 = S + qsizetype(iY) * srcStride;
        const uchar* row1 = S + qsizetype(iY1) * srcStride;
        uchar* out_row = D + qsizetype(y) * dstStride;
        const double wy0 = 1.0 - double(dy), wy1 = double(dy);
        for (int x = 0; x < newWidth; ++x) {
            const float fX = float(double(x) * xScale);
            const int iX = int(std::floor(fX));
            const float dx = float(double(fX) - iX);
            const int c = iX * 3;
            // Likewise a one-column source has no right neighbour.
            const int c2 = std::min(iX + 1, W - 1) * 3;
            const float b1 = row0[c], g1 = row0[c + 1], r1 = row0[c + 2];
            const float b2 = row0[c2], g2 = row0[c2 + 1], r2 = row0[c2 + 2];
            const float b3 = row1[c], g3 = row1[c + 1], r3 = row1[c + 2];
            const float b4 = row1[c2], g4 = row1[c2 + 1], r4 = row1[c2 + 2];

            const int R1 = nearest(wy0 * r1 + wy1 * r3);
            const int G1 = nearest(wy0 * g1 + wy1 * g3);
            const int B1 = nearest(wy0 * b1 + wy1 * b3);
            const int R2 = nearest(wy0 * r2 + wy1 * r4);
            const int G2 = nearest(wy0 * g2 + wy1 * g4);
            const int B2 = nearest(wy0 * b2 + wy1 * b4);

            const double wx0 = 1.0 - double(dx), wx1 = double(dx);
            const int r = std::clamp(nearest(wx0 * R1 + wx1 * R2), 0, 255);
            const int g = std::clamp(nearest(wx0 * G1 + wx1 * G2), 0, 255);
            const int b = std::clamp(nearest(wx0 * B1 + wx1 * B2), 0, 255);
            out_row[x * 3] = uchar(b);
            out_row[x * 3 + 1] = uchar(g);
            out_row[x * 3 + 2] = uchar(r);
        }
    }
    return out;
}

void FrameBuffer::fillWithNoise(Noise kind)
{
    if (isEmpty())
        return;
    const auto seed = std::chrono::system_clock::now().time_since_epoch().count();
    std::mt19937 gen(static_cast<std::mt19937::result_type>(seed));
    std::uniform_real_distribution<float> random(0.0f, 1.0f);
    auto value = [&] { return uchar(std::clamp(nearest(double(random(gen)) * 255), 0, 255)); };
    if (kind == Noise::Grey) {
        for (int y = 0; y < m_height; ++y) {
            uchar* r = row(y);
            for (int x = 0; x < m_width * 3; x += 3) {
                const uchar v = value();
                r[x] = r[x + 1] = r[x + 2] = v;
            }
        }
        return;
    }
    for (int x = 0; x < m_width * 3; x += 3) {
        for (int y = 0; y < m_height; ++y) {
            uchar* r = row(y);
            r[x] = 0;
            r[x + 1] = value();
            r[x + 2] = value();
        }
    }
}

bool FrameBuffer::copyToClipboard() const
{
    if (isEmpty() || !qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return false;
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    const QImage img = toImage();
    if (img.isNull())
        return false;
    clipboard->clear();
    clipboard->setImage(img);
    return true;
}
