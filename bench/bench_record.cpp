// Records 10 s at 30 fps, MJPEG with sound, from the test pattern through the
// capture component (preview running beside it), and the same encoding as a
// bare GStreamer pipeline (avimux) without preview for reference; at 640x480
// and at 1280x720.
// Prints frames written and dropped and the CPU each took.
#include "capture/Capture.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QSize>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <gst/gst.h>
#include <sys/resource.h>

namespace {
constexpr int Seconds = 10;

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Figures
{
    double cpu = 0;
    double wall = 0;
    quint64 written = 0;
    quint64 dropped = 0;
    qint64 bytes = 0;
};

Figures recordWithCapture(const QString& file, QSize size)
{
    Figures f;
    Capture cap;
    cap.setDriverIndex(cap.driverCount() - 1);
    cap.setVideoFormat(size, 30);
    cap.setCompression(Capture::Compression::Mjpeg);
    cap.setCaptureAudio(true);
    cap.setPreview(true);
    cap.setCaptureFile(file);
    // The preview takes every frame, as the window would.
    QObject::connect(&cap, &Capture::frameArrived, &cap, [&cap] { cap.grabFrame(); });
    QEventLoop loop;
    QObject::connect(&cap, &Capture::recordingFinished, &loop, &QEventLoop::quit);
    const double cpu0 = cpuSeconds();
    QElapsedTimer t;
    t.start();
    if (!cap.startRecording()) {
        std::fprintf(stderr, "cannot record: %s\n", qPrintable(cap.lastError()));
        return f;
    }
    QTimer::singleShot(Seconds * 1000, Qt::PreciseTimer, &cap, [&cap] { cap.stopRecording(); });
    loop.exec();
    f.cpu = cpuSeconds() - cpu0;
    f.wall = t.elapsed() / 1000.0;
    f.written = cap.recordingStats().framesWritten;
    f.dropped = cap.recordingStats().framesDropped;
    f.bytes = QFileInfo(file).size();
    return f;
}

Figures recordBare(const QString& file, QSize size)
{
    Figures f;
    const QString desc = QStringLiteral("videotestsrc is-live=true pattern=smpte horizontal-speed=2 ! "
                                        "video/x-raw,width=%2,height=%3,framerate=30/1 ! "
                                        "clockoverlay ! videoconvert ! video/x-raw,format=I420 ! jpegenc "
                                        "quality=85 ! identity name=count ! avimux name=mux ! "
                                        "filesink location=\"%1\" audiotestsrc is-live=true wave=sine "
                                        "freq=440 volume=0.2 ! audioconvert ! "
                                        "audio/x-raw,format=S16LE,rate=22050,channels=1 ! queue ! mux.")
                             .arg(file)
                             .arg(size.width())
                             .arg(size.height());
    GError* err = nullptr;
    GstElement* p = gst_parse_launch(desc.toUtf8().constData(), &err);
    if (!p) {
        std::fprintf(stderr, "reference pipeline: %s\n", err ? err->message : "?");
        return f;
    }
    static quint64 frames = 0;
    frames = 0;
    GstElement* id = gst_bin_get_by_name(GST_BIN(p), "count");
    GstPad* pad = gst_element_get_static_pad(id, "src");
    gst_pad_add_probe(
        pad, GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer) {
            ++frames;
            return GST_PAD_PROBE_OK;
        },
        nullptr, nullptr);
    gst_object_unref(pad);
    gst_object_unref(id);
    const double cpu0 = cpuSeconds();
    QElapsedTimer t;
    t.start();
    gst_element_set_state(p, GST_STATE_PLAYING);
    GstBus* bus = gst_element_get_bus(p);
    // Blocking is fine here: the reference has no window to keep alive.
    gst_bus_timed_pop_filtered(bus, Seconds * GST_SECOND, GST_MESSAGE_ERROR);
    gst_element_send_event(p, gst_event_new_eos());
    gst_bus_timed_pop_filtered(bus, 10 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    gst_element_set_state(p, GST_STATE_NULL);
    f.cpu = cpuSeconds() - cpu0;
    f.wall = t.elapsed() / 1000.0;
    f.written = frames;
    f.bytes = QFileInfo(file).size();
    gst_object_unref(bus);
    gst_object_unref(p);
    return f;
}

void print(const char* name, const Figures& f)
{
    std::printf("%-22s %6.2f s wall  %6.2f s CPU (%5.1f%% of one core)  %4llu frames written  %3llu dropped  "
                "%7.1f KiB\n",
                name, f.wall, f.cpu, f.wall > 0 ? 100.0 * f.cpu / f.wall : 0.0,
                static_cast<unsigned long long>(f.written), static_cast<unsigned long long>(f.dropped),
                f.bytes / 1024.0);
}
} // namespace

int main(int argc, char** argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && !qEnvironmentVariableIsSet("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    gst_init(nullptr, nullptr);
    QTemporaryDir dir;
    bool met = true;
    for (const QSize size : {QSize(640, 480), QSize(1280, 720)}) {
        std::printf("Recording %d s of %dx%d at 30 fps, MJPEG with sound (expect %d frames)\n", Seconds,
                    size.width(), size.height(), Seconds * 30);
        const Figures ref = recordBare(dir.filePath(QStringLiteral("reference.avi")), size);
        const Figures ours = recordWithCapture(dir.filePath(QStringLiteral("capture.avi")), size);
        print("reference (no preview)", ref);
        print("capture component", ours);
        if (ref.cpu > 0)
            std::printf("CPU ratio capture/reference: %.2f\n", ours.cpu / ref.cpu);
        met = met && ours.dropped == 0 && ours.written >= quint64(Seconds * 30 - 3);
    }
    std::printf("%s\n", met ? "goal met: no frame dropped" : "goal missed: frames dropped");
    return 0;
}
