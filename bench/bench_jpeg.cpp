// JPEG encoding through the program's encoder beside plain TurboJPEG on the
// same frame buffer, interleaved in one run; and the cost of copying a
// composed picture into the buffer compared with one encode.

#include "image/FrameBuffer.h"
#include "image/JpegEncoder.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <algorithm>
#include <cstdio>
#include <turbojpeg.h>
#include <vector>

namespace {

// Camera-like: smooth gradients, a few shapes and sensor noise.
QImage cameraFrame(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    QRandomGenerator rng(42);
    for (int y = 0; y < h; ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < w; ++x) {
            const int n = int(rng.bounded(17)) - 8;
            line[x] = qRgb(qBound(0, x * 255 / w + n, 255), qBound(0, y * 255 / h + n, 255),
                           qBound(0, 128 + (x - y) / 8 + n, 255));
        }
    }
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor(240, 200, 40));
    p.drawEllipse(QPoint(w / 3, h / 2), w / 8, h / 6);
    p.setBrush(QColor(30, 60, 160));
    p.drawRect(w / 2, h / 5, w / 4, h / 3);
    p.setPen(Qt::white);
    p.setFont(QFont(QString(), 18));
    p.drawText(20, 40, QStringLiteral("12:34:56"));
    return img;
}

struct Reference
{
    tjhandle handle = tjInitCompress();
    unsigned char* buf = nullptr;
    unsigned long cap = 0;
    ~Reference()
    {
        tjFree(buf);
        tjDestroy(handle);
    }
    unsigned long encode(const FrameBuffer& d, int quality)
    {
        const unsigned long need = tjBufSize(d.width(), d.height(), TJSAMP_420);
        if (need > cap) {
            tjFree(buf);
            buf = tjAlloc(int(need));
            cap = need;
        }
        unsigned long size = cap;
        tjCompress2(handle, d.bits(), d.width(), d.bytesPerLine(), d.height(), TJPF_BGR, &buf, &size,
                    TJSAMP_420, quality, TJFLAG_BOTTOMUP | TJFLAG_NOREALLOC);
        return size;
    }
};

double median(std::vector<qint64> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : double(v[v.size() / 2]);
}

} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv); // fonts for the frame's clock text
    JpegEncoder& ours = sharedJpegEncoder();
    Reference ref;
    QByteArray out;

    std::printf("JPEG encode to memory: ours (JpegEncoder, as saveJpegFile uses it) vs plain tjCompress2\n"
                "(same buffer, interleaved one by one for ~2 s per row; median times, robust to load)\n\n");
    std::printf("%-10s %4s %12s %12s %8s %10s\n", "frame", "q", "ours fps", "turbo fps", "ratio", "bytes");
    double encodeMs640[2] = {0, 0};
    const QSize sizes[] = {{640, 480}, {1280, 720}};
    for (const QSize size : sizes) {
        FrameBuffer d;
        d.createFrom(cameraFrame(size.width(), size.height()));
        for (int qi = 0; qi < 2; ++qi) {
            const int quality = qi == 0 ? 20 : 80;
            for (int i = 0; i < 5; ++i) {
                ours.encode(d, quality, out);
                ref.encode(d, quality);
            }
            std::vector<qint64> oursNs, refNs;
            QElapsedTimer total;
            total.start();
            for (int round = 0; total.elapsed() < 2000; ++round) {
                for (int pass = 0; pass < 2; ++pass) {
                    const bool oursNow = (round % 2 == 0) == (pass == 0);
                    QElapsedTimer t;
                    t.start();
                    if (oursNow)
                        ours.encode(d, quality, out);
                    else
                        ref.encode(d, quality);
                    (oursNow ? oursNs : refNs).push_back(t.nsecsElapsed());
                }
            }
            const double oursFps = 1e9 / median(oursNs);
            const double refFps = 1e9 / median(refNs);
            std::printf("%4dx%-5d %4d %12.1f %12.1f %8.3f %10lld\n", size.width(), size.height(), quality,
                        oursFps, refFps, oursFps / refFps, static_cast<long long>(out.size()));
            if (size.width() == 640)
                encodeMs640[qi] = 1000.0 / oursFps;
        }
    }

    // One composed 640x480 picture copied into the buffer, as each request does.
    const QImage composed = cameraFrame(640, 480);
    FrameBuffer d;
    d.create(640, 480);
    for (int i = 0; i < 20; ++i)
        d.copyFrom(composed);
    std::vector<qint64> copyNs;
    QElapsedTimer total;
    total.start();
    while (total.elapsed() < 1000) {
        QElapsedTimer t;
        t.start();
        d.copyFrom(composed);
        copyNs.push_back(t.nsecsElapsed());
    }
    const double copyMs = median(copyNs) / 1e6;
    std::printf("\n640x480 copyFrom an RGB32 picture: %.3f ms per copy (median)\n", copyMs);
    for (int qi = 0; qi < 2; ++qi)
        std::printf("  vs one encode at q%-3d %.3f ms: copy = %.1f%% of encode (goal < 10%%)\n",
                    qi == 0 ? 20 : 80, encodeMs640[qi], 100.0 * copyMs / encodeMs640[qi]);
    return 0;
}
