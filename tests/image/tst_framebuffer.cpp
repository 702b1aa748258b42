// The frame buffer: layout, copies in and out, resampling, noise and the
// clipboard.

#include "image/FrameBuffer.h"
#include "tests/support/TestEnvironment.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QTest>
#include <array>
#include <climits>
#include <cstring>

namespace {

using Bgr = std::array<int, 3>;

// Byte access in memory order: row 0 is the bottom row of the picture.
Bgr memPixel(const FrameBuffer& d, int x, int memRow)
{
    const uchar* p = d.bits() + memRow * d.bytesPerLine() + x * 3;
    return {p[0], p[1], p[2]};
}

void setMemPixel(FrameBuffer& d, int x, int memRow, Bgr v)
{
    uchar* p = d.bits() + memRow * d.bytesPerLine() + x * 3;
    p[0] = uchar(v[0]);
    p[1] = uchar(v[1]);
    p[2] = uchar(v[2]);
}

// A picture whose every pixel tells its own position.
QImage positionPicture(int w, int h, QImage::Format format)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, qRgb(x * 7 % 256, y * 11 % 256, (x + y) * 3 % 256));
    return img.convertToFormat(format);
}

// Picture pixel (x, y) of the buffer as b, g, r.
Bgr picturePixel(const FrameBuffer& d, int x, int y) { return memPixel(d, x, d.height() - 1 - y); }

Bgr expectedAt(int x, int y) { return {(x + y) * 3 % 256, y * 11 % 256, x * 7 % 256}; }

} // namespace

class TestFrameBuffer : public QObject
{
    Q_OBJECT
private slots:
    void bytesPerLine_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("stride");
        QTest::newRow("1") << 1 << 4;
        QTest::newRow("2") << 2 << 8;
        QTest::newRow("3") << 3 << 12;
        QTest::newRow("4") << 4 << 12;
        QTest::newRow("160") << 160 << 480;
        QTest::newRow("161") << 161 << 484;
    }
    void bytesPerLine()
    {
        QFETCH(int, width);
        QFETCH(int, stride);
        FrameBuffer d;
        QVERIFY(d.create(width, 3));
        QCOMPARE(d.bytesPerLine(), stride);
        QCOMPARE(FrameBuffer::bytesPerLineFor(width), stride);
        QCOMPARE(d.width(), width);
        QCOMPARE(d.height(), 3);
    }

    void createFillsAndClearEmpties()
    {
        FrameBuffer d;
        QVERIFY(d.isEmpty());
        QVERIFY(d.bits() == nullptr);
        QVERIFY(d.create(5, 4));
        QVERIFY(!d.isEmpty());
        QVERIFY(d.bits() != nullptr);
        // A fresh buffer is black, filler included.
        const QByteArray zeros(d.bytesPerLine() * 4, '\0');
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(d.bits()), zeros.size()), zeros);

        d.clear();
        QVERIFY(d.isEmpty());
        QVERIFY(d.bits() == nullptr);
        QCOMPARE(d.width(), 0);
        QCOMPARE(d.height(), 0);
        d.clear(); // a second one does nothing
        QVERIFY(d.bits() == nullptr);
    }

    void createFailsAndLeavesEmpty_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");
        QTest::newRow("zero width") << 0 << 10;
        QTest::newRow("zero height") << 10 << 0;
        QTest::newRow("negative") << -4 << 10;
        QTest::newRow("stride overflows") << 0x7FFFFFFF << 1;
        QTest::newRow("image size overflows") << 65536 << 65536;
    }
    void createFailsAndLeavesEmpty()
    {
        QFETCH(int, width);
        QFETCH(int, height);
        FrameBuffer d;
        QVERIFY(d.create(4, 4));
        QVERIFY(!d.create(width, height));
        QVERIFY(d.isEmpty());
        QVERIFY(d.bits() == nullptr);
        QCOMPARE(d.width(), 0);
        QVERIFY(d.toImage().isNull());
    }

    void copyFromDefaultsCopyTopLeftCorner_data()
    {
        QTest::addColumn<int>("format");
        QTest::newRow("RGB32") << int(QImage::Format_RGB32);
        QTest::newRow("ARGB32") << int(QImage::Format_ARGB32);
        QTest::newRow("ARGB32 premultiplied") << int(QImage::Format_ARGB32_Premultiplied);
        QTest::newRow("RGB888") << int(QImage::Format_RGB888);
        QTest::newRow("BGR888") << int(QImage::Format_BGR888);
        QTest::newRow("RGB666 (converted)") << int(QImage::Format_RGB666);
    }
    void copyFromDefaultsCopyTopLeftCorner()
    {
        QFETCH(int, format);
        const QImage src = positionPicture(40, 30, QImage::Format(format));
        FrameBuffer d;
        QVERIFY(d.create(13, 7)); // odd width: rows carry filler
        uchar* bits = d.bits();
        std::memset(bits, 0xAB, size_t(d.bytesPerLine() * d.height()));
        d.copyFrom(src);
        for (int y = 0; y < 7; ++y) {
            for (int x = 0; x < 13; ++x) {
                const QRgb c = src.pixel(x, y);
                QCOMPARE(picturePixel(d, x, y), (Bgr{qBlue(c), qGreen(c), qRed(c)}));
            }
            // The filler byte of each row stays as it was.
            QCOMPARE(bits[y * d.bytesPerLine() + 39], uchar(0xAB));
        }
    }

    void rowConversionStaysInsideTheRow_data()
    {
        QTest::addColumn<int>("count");
        for (int n : {0, 1, 3, 4, 5, 6, 7, 8, 9, 15, 16, 17, 641})
            QTest::newRow(qPrintable(QString::number(n))) << n;
    }
    void rowConversionStaysInsideTheRow()
    {
        QFETCH(int, count);
        QVector<quint32> src(count);
        for (int i = 0; i < count; ++i)
            src[i] = 0xEE000000u | quint32(i * 3) << 16 | quint32(i * 5 % 256) << 8 | quint32(i % 256);
        QByteArray dst(count * 3 + 32, char(0xCD));
        convertRowRgb32ToBgr24(src.constData(), reinterpret_cast<uchar*>(dst.data()), count);
        for (int i = 0; i < count; ++i) {
            QCOMPARE(uchar(dst[i * 3]), uchar(i % 256));
            QCOMPARE(uchar(dst[i * 3 + 1]), uchar(i * 5 % 256));
            QCOMPARE(uchar(dst[i * 3 + 2]), uchar(i * 3));
        }
        QCOMPARE(dst.mid(count * 3), QByteArray(32, char(0xCD)));
    }

    void copyFromWithOffsetAndClipping()
    {
        const QImage src = positionPicture(10, 8, QImage::Format_RGB32);
        FrameBuffer d;
        QVERIFY(d.create(6, 6));
        d.copyFrom(src, 7, 5); // only 3 x 3 of the source lies there
        for (int y = 0; y < 6; ++y)
            for (int x = 0; x < 6; ++x)
                QCOMPARE(picturePixel(d, x, y), x < 3 && y < 3 ? expectedAt(x + 7, y + 5) : (Bgr{0, 0, 0}));

        QVERIFY(d.create(6, 6));
        d.copyFrom(src, 1, 2, 2, 1); // explicit size
        QCOMPARE(picturePixel(d, 0, 0), expectedAt(1, 2));
        QCOMPARE(picturePixel(d, 1, 0), expectedAt(2, 2));
        QCOMPARE(picturePixel(d, 2, 0), (Bgr{0, 0, 0}));
        QCOMPARE(picturePixel(d, 0, 1), (Bgr{0, 0, 0}));

        // Nothing to copy: the buffer keeps its pixels, and nothing crashes.
        d.copyFrom(src, 100, 100);
        d.copyFrom(QImage());
        d.copyFrom(src, INT_MIN, -5, INT_MAX, INT_MAX);
        QImage dst(4, 4, QImage::Format_RGB32);
        dst.fill(Qt::white);
        d.copyTo(dst, INT_MAX, 0, INT_MAX, INT_MAX, INT_MIN, 0);
        QCOMPARE(dst.pixel(0, 0), qRgb(255, 255, 255));
        QCOMPARE(picturePixel(d, 0, 0), expectedAt(1, 2));
        FrameBuffer empty;
        empty.copyFrom(src);
        QVERIFY(empty.isEmpty());
    }

    void copyToRoundTrip()
    {
        const QImage src = positionPicture(9, 5, QImage::Format_RGB32);
        FrameBuffer d;
        QVERIFY(d.createFrom(src));
        QCOMPARE(d.width(), 9);
        QCOMPARE(d.height(), 5);
        QCOMPARE(d.toImage(), src);

        QImage dst(20, 20, QImage::Format_RGB32);
        dst.fill(Qt::white);
        d.copyTo(dst, 4, 3, -1, -1, 1, 1);
        QCOMPARE(dst.pixel(4, 3), src.pixel(1, 1));
        QCOMPARE(dst.pixel(11, 6), src.pixel(8, 4));
        QCOMPARE(dst.pixel(12, 3), qRgb(255, 255, 255)); // beyond the source
        QCOMPARE(dst.pixel(3, 3), qRgb(255, 255, 255));

        QImage other(9, 5, QImage::Format_RGB888);
        d.copyTo(other);
        QCOMPARE(other.convertToFormat(QImage::Format_RGB32), src);
    }

    void createFromKeepsTheBufferOnANullPicture()
    {
        FrameBuffer d;
        QVERIFY(d.createFrom(positionPicture(4, 3, QImage::Format_RGB32)));
        QVERIFY(!d.createFrom(QImage()));
        QCOMPARE(d.width(), 4);
        QCOMPARE(picturePixel(d, 3, 2), expectedAt(3, 2));
        // A larger picture copied into a new buffer fills it from its corner.
        QVERIFY(d.create(4, 3));
        d.copyFrom(positionPicture(8, 8, QImage::Format_RGB32));
        QCOMPARE(picturePixel(d, 3, 2), expectedAt(3, 2));
        FrameBuffer empty;
        QVERIFY(!empty.createFrom(QImage()));
        QVERIFY(empty.isEmpty());
    }

    void resampleToSameSizeIsExactCopy()
    {
        FrameBuffer d;
        QVERIFY(d.create(161, 121));
        d.fillWithNoise();
        const auto copy = d.resampled(161, 121);
        QVERIFY(copy);
        QCOMPARE(copy->width(), 161);
        QCOMPARE(copy->height(), 121);
        for (int y = 0; y < 121; ++y)
            QCOMPARE(std::memcmp(copy->bits() + y * 484, d.bits() + y * 484, 483), 0);
    }

    void resampleTwoByTwoToFourByFour()
    {
        FrameBuffer d;
        QVERIFY(d.create(2, 2));
        setMemPixel(d, 0, 0, {0, 10, 255});
        setMemPixel(d, 1, 0, {200, 20, 0});
        setMemPixel(d, 0, 1, {100, 30, 0});
        setMemPixel(d, 1, 1, {40, 250, 255});
        const auto out = d.resampled(4, 4);
        QVERIFY(out);
        QCOMPARE(out->width(), 4);
        QCOMPARE(out->height(), 4);
        // Single-precision weights 0, .25, .5, .75; vertical pass first, halves to even.
        const Bgr expected[4][4] = {
            {{0, 10, 255}, {50, 12, 191}, {100, 15, 128}, {150, 18, 64}},
            {{25, 15, 191}, {59, 31, 159}, {92, 46, 128}, {126, 62, 96}},
            {{50, 20, 128}, {68, 49, 128}, {85, 78, 128}, {102, 106, 128}},
            {{75, 25, 64}, {76, 67, 96}, {78, 108, 128}, {79, 150, 159}},
        };
        for (int row = 0; row < 4; ++row)
            for (int x = 0; x < 4; ++x)
                QCOMPARE(memPixel(*out, x, row), expected[row][x]);
        // The source is unchanged.
        QCOMPARE(memPixel(d, 1, 1), (Bgr{40, 250, 255}));
    }

    void resampleRoundsHalvesToEven_data()
    {
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::addColumn<int>("expected");
        QTest::newRow("126.5 -> 126") << 125 << 128 << 126;
        QTest::newRow("127.5 -> 128") << 127 << 128 << 128;
        QTest::newRow("0.5 -> 0") << 0 << 1 << 0;
        QTest::newRow("254.5 -> 254") << 254 << 255 << 254;
    }
    void resampleRoundsHalvesToEven()
    {
        QFETCH(int, low);
        QFETCH(int, high);
        QFETCH(int, expected);
        // Vertical blend at dy = .5 (output row 2), horizontal at dx = .5 (column 2).
        FrameBuffer d;
        QVERIFY(d.create(2, 2));
        setMemPixel(d, 0, 0, {low, low, low});
        setMemPixel(d, 1, 0, {high, high, high});
        setMemPixel(d, 0, 1, {high, high, high});
        setMemPixel(d, 1, 1, {high, high, high});
        const auto out = d.resampled(4, 4);
        QVERIFY(out);
        QCOMPARE(memPixel(*out, 0, 2), (Bgr{expected, expected, expected}));
        QCOMPARE(memPixel(*out, 2, 0), (Bgr{expected, expected, expected}));
    }

    void resampleOfThinSourceStaysInside()
    {
        // One column or one row: the missing neighbour has weight 0.
        FrameBuffer d;
        QVERIFY(d.create(1, 3));
        for (int r = 0; r < 3; ++r)
            setMemPixel(d, 0, r, {r * 10, 50, 200});
        auto out = d.resampled(4, 3); // one column, three rows, to 4 x 3
        QVERIFY(out);
        for (int x = 0; x < 4; ++x)
            QCOMPARE(memPixel(*out, x, 0), (Bgr{0, 50, 200}));

        QVERIFY(d.create(3, 1));
        setMemPixel(d, 0, 0, {9, 9, 9});
        out = d.resampled(3, 5);
        QVERIFY(out);
        for (int r = 0; r < 5; ++r)
            QCOMPARE(memPixel(*out, 0, r), (Bgr{9, 9, 9}));

        FrameBuffer empty;
        QVERIFY(!empty.resampled(4, 4));
        QVERIFY(!d.resampled(4, 0));
        QVERIFY(!d.resampled(0, 4));
    }

    void fillWithNoise()
    {
        FrameBuffer d;
        QVERIFY(d.create(7, 9));
        uchar* bits = d.bits();
        std::memset(bits, 0xAB, size_t(d.bytesPerLine() * 9));
        d.fillWithNoise(FrameBuffer::Noise::Grey);
        QSet<int> values;
        for (int r = 0; r < 9; ++r) {
            for (int x = 0; x < 7; ++x) {
                const Bgr p = memPixel(d, x, r);
                QCOMPARE(p[0], p[1]);
                QCOMPARE(p[1], p[2]);
                values.insert(p[0]);
            }
            for (int f = 21; f < d.bytesPerLine(); ++f)
                QCOMPARE(bits[r * d.bytesPerLine() + f], uchar(0xAB));
        }
        QVERIFY(values.size() > 5);

        d.fillWithNoise(FrameBuffer::Noise::Colour);
        QSet<int> greens;
        for (int r = 0; r < 9; ++r)
            for (int x = 0; x < 7; ++x) {
                QCOMPARE(memPixel(d, x, r)[0], 0);
                greens.insert(memPixel(d, x, r)[1]);
            }
        QVERIFY(greens.size() > 5);
        QCOMPARE(bits[21], uchar(0xAB));
    }

    void copyToClipboard()
    {
        FrameBuffer d;
        QVERIFY(!d.copyToClipboard()); // empty
        QVERIFY(d.createFrom(positionPicture(6, 4, QImage::Format_RGB32)));
        QVERIFY(d.copyToClipboard());
        const QImage got = QGuiApplication::clipboard()->image();
        QCOMPARE(got.size(), QSize(6, 4));
        QCOMPARE(got.convertToFormat(QImage::Format_RGB32), positionPicture(6, 4, QImage::Format_RGB32));
    }
};

VANTORA_TEST_MAIN(TestFrameBuffer)
#include "tst_framebuffer.moc"
