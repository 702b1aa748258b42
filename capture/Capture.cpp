#include "capture/Capture.h"

#include "capture/AviRepair.h"
#include "capture/AviWriter.h"
#include "capture/CaptureTesting.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

namespace {

// How long connecting may wait for the device to deliver its first frame.
constexpr GstClockTime ConnectTimeout = 5 * GST_SECOND;
// How long the branch gets to drain into the file after the end of a recording.
constexpr int FinishTimeoutMs = 8000;

QString fromGChar(const gchar* s) { return s ? QString::fromUtf8(s) : QString(); }

void ensureGstreamer()
{
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
}

// Paints the newest frame while the preview is on; keeps the last one when off.
class PreviewSurface : public QWidget
{
public:
    explicit PreviewSurface(QWidget* parent = nullptr) : QWidget(parent)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setMinimumSize(32, 24);
    }
    void showFrame(const QImage& image)
    {
        shown = image;
        update();
    }
    void setStretch(bool on)
    {
        stretch = on;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), Qt::black);
        if (shown.isNull())
            return;
        QRect target = rect();
        if (!stretch) {
            const QSize fitted = shown.size().scaled(size(), Qt::KeepAspectRatio);
            target = QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
        }
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.drawImage(target, shown);
    }

private:
    QImage shown;
    bool stretch = false;
};

} // namespace

struct Capture::Private
{
    Capture* q = nullptr;
    // One source per driver number; `none` stands in while nothing valid is chosen.
    QList<std::shared_ptr<CameraSource>> sources;
    std::shared_ptr<CameraSource> none = std::make_shared<NullCameraSource>();
    int index = -1;
    // A driver was asked for (even one that is not there): grabbing then never
    // falls back to driver 0, so a missing camera is never replaced by another.
    bool chosen = false;
    QString missing; // why nothing is selected, when a remembered camera is gone

    // Pipeline state, touched on the owner thread only.
    GstElement* pipeline = nullptr;
    GstElement* appsink = nullptr;
    quint64 generation = 0; // tells messages of an old pipeline from the current one
    bool isConnected = false;

    // Handed over from the streaming thread.
    QMutex mutex;
    GstSample* pending = nullptr;
    bool deliveryQueued = false;
    QString firstError;  // the first error the current pipeline reported
    QString latestError; // the latest one
    QString lastError;   // what errorOccurred last said

    QImage current;
    quint64 serial = 0;
    QSize deviceSize;
    QSize requestedSize{640, 480};
    int requestedFps = 30;

    bool previewOn = false;
    bool stretch = false;
    QPointer<PreviewSurface> surface;

    // Recording settings.
    bool withAudio = true;
    QString file;
    Compression compression = Compression::Mjpeg;
    int quality = 85;
    AudioFormat audio;

    // The recording branch hanging off the tee.
    enum class Rec { Idle, Recording, Finishing };
    Rec rec = Rec::Idle;
    GstElement* recbin = nullptr;
    GstElement* audioSrc = nullptr;
    GstElement* rate = nullptr;
    GstElement* recQueue = nullptr;
    GstPad* teePad = nullptr;
    std::atomic<quint64> recGeneration{0};
    QElapsedTimer recClock;
    qint64 recElapsed = 0;
    int recFps = 30;
    bool formatChosenWhileRecording = false; // applied once the take is complete
    bool closing = false;
    std::atomic<quint64> framesIn{0}, framesOut{0}, framesWritten{0};
    std::atomic<quint64> sourceGaps{0};
    GstClockTime lastPts = GST_CLOCK_TIME_NONE; // streaming thread only
    QString deviceErrorAfterRecording;
    QTimer finishWatchdog;
    // Set by the streaming thread when the end reached the file.
    std::mutex eosMutex;
    std::condition_variable eosCond;
    bool eosSeen = false;
    std::atomic<int> sinksEnded{0};
    int sinks = 1;
    std::unique_ptr<AviWriter> writer;

    CameraSource& source(int i) const { return i >= 0 && i < sources.size() ? *sources.at(i) : *none; }
    // The selected source; before any choice, the first (as grabFrame opens it).
    CameraSource& selected() const { return source(index < 0 && !chosen ? 0 : index); }
    QString recordingDescription(const CameraSource& src) const;
    bool beginRecording();
    void endRecording();
    void recordingEos(quint64 gen);
    void finalizeRecording(bool complete, const QString& error);
    void finishRecordingNow();
    void teardownBranch();
    RecordingStats stats() const;
    void emitStatus(const QString& state);
    static GstPadProbeReturn countIn(GstPad*, GstPadProbeInfo*, gpointer data);
    static GstPadProbeReturn countOut(GstPad*, GstPadProbeInfo*, gpointer data);
    static GstPadProbeReturn dropStartRepeats(GstPad*, GstPadProbeInfo*, gpointer data);
    std::atomic<int> picturesOut{0};
    static GstPadProbeReturn countWritten(GstPad*, GstPadProbeInfo*, gpointer data);
    static GstFlowReturn onRecordedFrame(GstAppSink* sink, gpointer data);
    static GstFlowReturn onRecordedSound(GstAppSink* sink, gpointer data);
    static void onRecordingSinkEnd(GstAppSink* sink, gpointer data);
    static GstPadProbeReturn watchSourceEnd(GstPad*, GstPadProbeInfo*, gpointer data);
    void sourceEnded(quint64 gen);
    QString pipelineDescription(const CameraSource& src) const;
    bool open();
    void close();
    void takePending();
    void deliverFrame(quint64 gen);
    void handleMessage(quint64 gen, GstMessage* msg);
    void fail(int number, const QString& description);

    static GstFlowReturn onNewSample(GstAppSink* sink, gpointer data);
    static GstFlowReturn onNewPreroll(GstAppSink* sink, gpointer data);
    static GstBusSyncReply onBusMessage(GstBus* bus, GstMessage* msg, gpointer data);
    void storeSample(GstSample* sample);
};

QString Capture::Private::pipelineDescription(const CameraSource& src) const
{
    return src.pipeline() + QStringLiteral(" ! tee name=t ! queue leaky=downstream max-size-buffers=2 ! "
                                           "videoconvert ! video/x-raw,format=BGRx ! "
                                           "appsink name=sink max-buffers=1 drop=true sync=false");
}

bool Capture::Private::open()
{
    close();
    const CameraSource& src = source(index);
    if (src.pipeline().isEmpty()) {
        fail(NoSuchDriver,
             missing.isEmpty() ? QStringLiteral("No capture driver number %1").arg(index) : missing);
        return false;
    }
    GError* err = nullptr;
    GstElement* p = gst_parse_launch(pipelineDescription(src).toUtf8().constData(), &err);
    if (!p || err) {
        const QString text = err ? fromGChar(err->message) : QStringLiteral("pipeline error");
        if (err)
            g_error_free(err);
        if (p)
            gst_object_unref(p);
        fail(DeviceFailed, text);
        return false;
    }
    pipeline = p;
    {
        QMutexLocker lock(&mutex);
        ++generation;
        firstError.clear();
    }
    if (!src.device().isEmpty()) {
        // Set as a property: a device path needs no quoting that way.
        GstElement* element = gst_bin_get_by_name(GST_BIN(pipeline), "src");
        g_object_set(element, "device", src.device().toLocal8Bit().constData(), nullptr);
        gst_object_unref(element);
    }
    appsink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
    // A source that ends (camera unplugged) must still let a recording finish its file.
    if (GstElement* tee = gst_bin_get_by_name(GST_BIN(pipeline), "t")) {
        GstPad* in = gst_element_get_static_pad(tee, "sink");
        gst_pad_add_probe(in, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &Private::watchSourceEnd, this, nullptr);
        gst_object_unref(in);
        gst_object_unref(tee);
    }
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = &Private::onNewSample;
    callbacks.new_preroll = &Private::onNewPreroll;
    gst_app_sink_set_callbacks(GST_APP_SINK(appsink), &callbacks, this, nullptr);

    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, &Private::onBusMessage, this, nullptr);
    gst_object_unref(bus);

    GstStateChangeReturn ret = gst_element_set_state(pipeline, GST_STATE_PLAYING);
    if (ret != GST_STATE_CHANGE_FAILURE)
        ret = gst_element_get_state(pipeline, nullptr, nullptr, ConnectTimeout);
    QString error;
    {
        QMutexLocker lock(&mutex);
        error = firstError;
    }
    if (ret == GST_STATE_CHANGE_FAILURE || ret == GST_STATE_CHANGE_ASYNC || !error.isEmpty()) {
        const bool timedOut = ret == GST_STATE_CHANGE_ASYNC && error.isEmpty();
        close();
        if (timedOut)
            fail(NoFrames, QStringLiteral("The device %1 delivers no pictures")
                               .arg(src.device().isEmpty() ? src.name() : src.device()));
        else
            fail(DeviceFailed, error.isEmpty() ? QStringLiteral("Cannot open %1").arg(src.name()) : error);
        return false;
    }
    isConnected = true;
    takePending();
    return true;
}

void Capture::Private::close()
{
    if (!pipeline)
        return;
    closing = true;
    finishRecordingNow();
    closing = false;
    if (!pipeline)
        return;
    // Joins the streaming threads: no callback runs after this.
    gst_element_set_state(pipeline, GST_STATE_NULL);
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
    gst_object_unref(bus);
    gst_object_unref(appsink);
    appsink = nullptr;
    gst_object_unref(pipeline);
    pipeline = nullptr;
    isConnected = false;
    QMutexLocker lock(&mutex);
    ++generation;
    if (pending)
        gst_sample_unref(pending);
    pending = nullptr;
    deliveryQueued = false;
}

void Capture::Private::fail(int number, const QString& description)
{
    lastError = description;
    emit q->errorOccurred(number, description);
}

void Capture::Private::storeSample(GstSample* sample)
{
    bool queue = false;
    quint64 gen;
    {
        QMutexLocker lock(&mutex);
        if (pending)
            gst_sample_unref(pending);
        pending = sample;
        queue = !deliveryQueued;
        deliveryQueued = true;
        gen = generation;
    }
    if (queue) {
        // Runs on the owner thread; dropped with q if q is gone.
        QMetaObject::invokeMethod(
            q, [this, gen] { deliverFrame(gen); }, Qt::QueuedConnection);
    }
}

GstFlowReturn Capture::Private::onNewSample(GstAppSink* sink, gpointer data)
{
    if (GstSample* s = gst_app_sink_pull_sample(sink))
        static_cast<Private*>(data)->storeSample(s);
    return GST_FLOW_OK;
}

GstFlowReturn Capture::Private::onNewPreroll(GstAppSink* sink, gpointer data)
{
    if (GstSample* s = gst_app_sink_pull_preroll(sink))
        static_cast<Private*>(data)->storeSample(s);
    return GST_FLOW_OK;
}

namespace {
void releaseSample(void* info)
{
    auto* frame = static_cast<GstVideoFrame*>(info);
    GstBuffer* buffer = frame->buffer;
    gst_video_frame_unmap(frame);
    gst_buffer_unref(buffer);
    delete frame;
}

// Wraps the sample's pixels without copying; the buffer lives as long as the image.
QImage imageFromSample(GstSample* sample)
{
    GstVideoInfo info;
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps))
        return {};
    auto* frame = new GstVideoFrame;
    gst_buffer_ref(buffer);
    if (!gst_video_frame_map(frame, &info, buffer, GST_MAP_READ)) {
        gst_buffer_unref(buffer);
        delete frame;
        return {};
    }
    return QImage(static_cast<const uchar*>(GST_VIDEO_FRAME_PLANE_DATA(frame, 0)),
                  GST_VIDEO_FRAME_WIDTH(frame), GST_VIDEO_FRAME_HEIGHT(frame),
                  GST_VIDEO_FRAME_PLANE_STRIDE(frame, 0), QImage::Format_RGB32, &releaseSample, frame);
}
} // namespace

void Capture::Private::takePending()
{
    GstSample* sample = nullptr;
    {
        QMutexLocker lock(&mutex);
        sample = pending;
        pending = nullptr;
    }
    if (!sample)
        return;
    QImage image = imageFromSample(sample);
    gst_sample_unref(sample);
    if (image.isNull())
        return;
    current = image;
    deviceSize = image.size();
    ++serial;
    if (previewOn && surface)
        surface->showFrame(current);
    emit q->frameArrived();
}

void Capture::Private::deliverFrame(quint64 gen)
{
    {
        QMutexLocker lock(&mutex);
        deliveryQueued = false;
        if (gen != generation)
            return;
    }
    takePending();
}

GstBusSyncReply Capture::Private::onBusMessage(GstBus*, GstMessage* msg, gpointer data)
{
    auto* d = static_cast<Private*>(data);
    switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_ERROR:
    case GST_MESSAGE_EOS:
    case GST_MESSAGE_LATENCY:
    case GST_MESSAGE_ELEMENT: {
        quint64 gen;
        {
            QMutexLocker lock(&d->mutex);
            gen = d->generation;
            if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
                GError* err = nullptr;
                gst_message_parse_error(msg, &err, nullptr);
                d->latestError = err ? fromGChar(err->message) : QStringLiteral("Device error");
                if (d->firstError.isEmpty())
                    d->firstError = d->latestError;
                if (err)
                    g_error_free(err);
            }
        }
        gst_message_ref(msg);
        QMetaObject::invokeMethod(
            d->q,
            [d, gen, msg] {
                d->handleMessage(gen, msg);
                gst_message_unref(msg);
            },
            Qt::QueuedConnection);
        break;
    }
    default:
        break;
    }
    return GST_BUS_DROP;
}

void Capture::Private::handleMessage(quint64 gen, GstMessage* msg)
{
    if (gen != generation || !pipeline)
        return;
    GstObject* src = GST_MESSAGE_SRC(msg);
    switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_ERROR: {
        // Late news from a recording branch already taken away.
        if (!src || !gst_object_has_as_ancestor(src, GST_OBJECT(pipeline)))
            break;
        GError* err = nullptr;
        gst_message_parse_error(msg, &err, nullptr);
        const QString text = err ? fromGChar(err->message) : QStringLiteral("Device error");
        if (err)
            g_error_free(err);
        if (recbin && gst_object_has_as_ancestor(src, GST_OBJECT(recbin))) {
            // The file side broke (disk full...): keep what is written, the preview goes on.
            finalizeRecording(false, text);
            break;
        }
        if (rec != Rec::Idle) {
            // The device broke: first finish the file, then report.
            deviceErrorAfterRecording = text;
            endRecording();
            break;
        }
        close();
        fail(DeviceFailed, text);
        break;
    }
    case GST_MESSAGE_EOS:
        if (rec != Rec::Idle) {
            deviceErrorAfterRecording = QStringLiteral("The device stopped delivering pictures");
            endRecording();
            break;
        }
        close();
        fail(DeviceFailed, QStringLiteral("The device stopped delivering pictures"));
        break;
    case GST_MESSAGE_LATENCY:
        gst_bin_recalculate_latency(GST_BIN(pipeline));
        break;
    default:
        break;
    }
}

// ---- recording ----

QString Capture::Private::recordingDescription(const CameraSource& src) const
{
    int fps = src.format().fps;
    if (fps <= 0)
        fps = 30;
    const QString encoder = compression == Compression::Mjpeg
                                ? QStringLiteral("video/x-raw,format=I420 ! jpegenc quality=%1").arg(quality)
                                : QStringLiteral("video/x-raw,format=I420");
    QString desc = QStringLiteral("queue name=recq leaky=downstream max-size-buffers=0 max-size-bytes=0 "
                                  "max-size-time=3000000000 ! videorate name=rate skip-to-first=true ! "
                                  "video/x-raw,framerate=%1/1 ! videoconvert ! %2 ! queue name=vq ! "
                                  "appsink name=vsink sync=false async=false enable-last-sample=false")
                       .arg(fps)
                       .arg(encoder);
    const QString sound = audio.input.isEmpty() ? src.soundPipeline() : audio.input;
    if (withAudio && !sound.isEmpty()) {
        desc += QStringLiteral(" %1 name=asrc ! audioconvert ! audioresample ! "
                               "audio/x-raw,format=%2,rate=%3,channels=%4,layout=interleaved ! "
                               "queue ! appsink name=asink sync=false async=false enable-last-sample=false")
                    .arg(sound)
                    .arg(audio.bits == 8 ? QStringLiteral("U8") : QStringLiteral("S16LE"))
                    .arg(audio.rate)
                    .arg(audio.channels);
    }
    return desc;
}

bool Capture::Private::beginRecording()
{
    auto refuse = [this](const QString& why) {
        if (rec == Rec::Idle) {
            // The status line speaks of this attempt, not of the last take.
            framesIn = framesOut = framesWritten = sourceGaps = 0;
            recElapsed = 0;
        }
        fail(RecordingFailed, why);
        emitStatus(QStringLiteral("Failed"));
        return false;
    };
    if (rec != Rec::Idle)
        return refuse(QStringLiteral("The previous recording is still being finished"));
    if (file.trimmed().isEmpty())
        return refuse(QStringLiteral("No file name for the movie"));
    const QFileInfo info(file);
    const QFileInfo folder(info.absolutePath());
    if (!folder.exists())
        return refuse(
            QStringLiteral("The folder %1 does not exist").arg(QDir::toNativeSeparators(folder.filePath())));
    if (!folder.isDir())
        return refuse(QStringLiteral("%1 is not a folder").arg(QDir::toNativeSeparators(folder.filePath())));
    if (info.isDir())
        return refuse(QStringLiteral("%1 is a folder").arg(QDir::toNativeSeparators(file)));
    const bool existed = info.exists();
    {
        // Find out now, not halfway, that the file cannot be written.
        QFile probe(file);
        if (!probe.open(QIODevice::WriteOnly))
            return refuse(QStringLiteral("Cannot write %1: %2")
                              .arg(QDir::toNativeSeparators(file), probe.errorString()));
    }
    auto dropFile = [&] {
        if (!existed)
            QFile::remove(file);
    };
    if (!pipeline && !open()) {
        dropFile();
        return refuse(QStringLiteral("The capture device is not connected: %1").arg(lastError));
    }
    const CameraSource& src = source(index);
    GError* err = nullptr;
    GstElement* bin =
        gst_parse_bin_from_description(recordingDescription(src).toUtf8().constData(), TRUE, &err);
    if (!bin || err) {
        const QString text = err ? fromGChar(err->message) : QStringLiteral("cannot build the recorder");
        if (err)
            g_error_free(err);
        if (bin)
            gst_object_unref(gst_object_ref_sink(bin));
        dropFile();
        return refuse(text);
    }
    recbin = GST_ELEMENT(gst_object_ref_sink(bin));
    audioSrc = gst_bin_get_by_name(GST_BIN(recbin), "asrc");
    writer = std::make_unique<AviWriter>();
    std::optional<AviWriter::Sound> sound;
    if (audioSrc)
        sound = AviWriter::Sound{audio.rate, audio.channels, audio.bits};
    const VideoFormat format = src.format();
    if (!writer->open(file, {format.size, qMax(1, format.fps), compression == Compression::Mjpeg}, sound)) {
        const QString why = writer->error();
        writer.reset();
        gst_clear_object(&audioSrc);
        gst_clear_object(&recbin);
        dropFile();
        return refuse(QStringLiteral("Cannot write %1: %2").arg(QDir::toNativeSeparators(file), why));
    }
    const quint64 writerGen = recGeneration + 1;
    writer->setFailureHandler([this, writerGen](const QString& why) {
        // On a streaming thread: the file side broke (disk full); the preview goes on.
        QMetaObject::invokeMethod(
            q,
            [this, writerGen, why] {
                if (writerGen == recGeneration && rec != Rec::Idle)
                    finalizeRecording(false, why);
            },
            Qt::QueuedConnection);
    });
    sinks = 0;
    sinksEnded = 0;
    for (const char* name : {"vsink", "asink"}) {
        GstElement* sink = gst_bin_get_by_name(GST_BIN(recbin), name);
        if (!sink)
            continue;
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample =
            qstrcmp(name, "vsink") == 0 ? &Private::onRecordedFrame : &Private::onRecordedSound;
        callbacks.eos = &Private::onRecordingSinkEnd;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, this, nullptr);
        gst_object_unref(sink);
        ++sinks;
    }
    recQueue = gst_bin_get_by_name(GST_BIN(recbin), "recq");
    rate = gst_bin_get_by_name(GST_BIN(recbin), "rate");
    GstPad* qin = gst_element_get_static_pad(recQueue, "sink");
    gst_pad_add_probe(qin, GST_PAD_PROBE_TYPE_BUFFER, &Private::countIn, this, nullptr);
    gst_object_unref(qin);
    {
        // A take starts with the first picture once: the rate keeper repeats
        // it (flagged as a gap) to fill the moment the branch took to start.
        GstPad* rateOut = gst_element_get_static_pad(rate, "src");
        gst_pad_add_probe(rateOut, GST_PAD_PROBE_TYPE_BUFFER, &Private::dropStartRepeats, this, nullptr);
        gst_object_unref(rateOut);
    }
    GstPad* qout = gst_element_get_static_pad(recQueue, "src");
    gst_pad_add_probe(qout, GST_PAD_PROBE_TYPE_BUFFER, &Private::countOut, this, nullptr);
    gst_object_unref(qout);
    if (GstElement* vq = gst_bin_get_by_name(GST_BIN(recbin), "vq")) {
        GstPad* p = gst_element_get_static_pad(vq, "src");
        gst_pad_add_probe(p, GST_PAD_PROBE_TYPE_BUFFER, &Private::countWritten, this, nullptr);
        gst_object_unref(p);
        gst_object_unref(vq);
    }

    recFps = qMax(1, src.format().fps);
    framesIn = 0;
    framesOut = 0;
    framesWritten = 0;
    sourceGaps = 0;
    picturesOut = 0;
    lastPts = GST_CLOCK_TIME_NONE;
    recElapsed = 0;
    deviceErrorAfterRecording.clear();
    {
        std::lock_guard lk(eosMutex);
        eosSeen = false;
    }
    {
        QMutexLocker lock(&mutex);
        latestError.clear();
    }
    ++recGeneration;
    rec = Rec::Recording;

    gst_bin_add(GST_BIN(pipeline), recbin);
    bool ok = gst_element_sync_state_with_parent(recbin);
    if (ok) {
        GstElement* tee = gst_bin_get_by_name(GST_BIN(pipeline), "t");
        teePad = gst_element_request_pad_simple(tee, "src_%u");
        gst_object_unref(tee);
        GstPad* in = gst_element_get_static_pad(recbin, "sink");
        ok = gst_pad_link(teePad, in) == GST_PAD_LINK_OK;
        gst_object_unref(in);
    }
    if (!ok) {
        QString why;
        {
            QMutexLocker lock(&mutex);
            why = latestError;
        }
        teardownBranch();
        writer.reset();
        dropFile();
        return refuse(why.isEmpty() ? QStringLiteral("The recorder could not start") : why);
    }
    recClock.start();
    emitStatus(QStringLiteral("Recording"));
    return true;
}

void Capture::Private::endRecording()
{
    if (rec != Rec::Recording)
        return;
    rec = Rec::Finishing;
    recElapsed = recClock.elapsed();
    GstPad* in = gst_element_get_static_pad(recbin, "sink");
    if (teePad)
        gst_pad_unlink(teePad, in);
    // The end travels through the branch; the file is finished once it arrived.
    gst_pad_send_event(in, gst_event_new_eos());
    gst_object_unref(in);
    if (audioSrc)
        gst_element_send_event(audioSrc, gst_event_new_eos());
    finishWatchdog.start(FinishTimeoutMs);
    emitStatus(QStringLiteral("Finishing"));
}

void Capture::Private::recordingEos(quint64 gen)
{
    if (gen != recGeneration || rec == Rec::Idle)
        return;
    finalizeRecording(true, {});
}

void Capture::Private::sourceEnded(quint64 gen)
{
    if (gen != generation || rec != Rec::Recording)
        return;
    deviceErrorAfterRecording = QStringLiteral("The device stopped delivering pictures");
    endRecording();
}

void Capture::Private::finalizeRecording(bool complete, const QString& error)
{
    if (rec == Rec::Idle || !recbin)
        return;
    finishWatchdog.stop();
    if (rec == Rec::Recording)
        recElapsed = recClock.elapsed();
    teardownBranch();

    QString why = error;
    if (complete && !writer->finish()) {
        complete = false;
        why = writer->error();
    }
    writer.reset(); // closes the file
    bool ok = complete;
    // The device broke off: the file is complete, but shorter than asked for.
    if (why.isEmpty())
        why = deviceErrorAfterRecording;
    if (!complete) {
        // Cut off: make what was written playable.
        const AviRepairResult r = repairAviFile(file);
        ok = r.ok;
        if (!r.ok)
            why += QStringLiteral(" (the file could not be saved: %1)").arg(r.error);
        if (why.isEmpty())
            why = QStringLiteral("The recording broke off");
    }
    emitStatus(why.isEmpty() ? QStringLiteral("Stopped") : QStringLiteral("Failed"));
    if (!why.isEmpty())
        fail(RecordingFailed, why);
    emit q->recordingFinished(file, ok);
    if (!deviceErrorAfterRecording.isEmpty()) {
        const QString text = deviceErrorAfterRecording;
        deviceErrorAfterRecording.clear();
        formatChosenWhileRecording = false;
        close();
        fail(DeviceFailed, text);
    } else if (formatChosenWhileRecording && pipeline && !closing) {
        formatChosenWhileRecording = false;
        deviceSize = QSize();
        open();
    }
}

void Capture::Private::teardownBranch()
{
    finishWatchdog.stop();
    if (teePad) {
        GstElement* tee = gst_pad_get_parent_element(teePad);
        if (GstPad* peer = gst_pad_get_peer(teePad)) {
            gst_pad_unlink(teePad, peer);
            gst_object_unref(peer);
        }
        gst_element_release_request_pad(tee, teePad);
        gst_object_unref(tee);
        gst_object_unref(teePad);
        teePad = nullptr;
    }
    // Closes the file.
    gst_element_set_state(recbin, GST_STATE_NULL);
    gst_bin_remove(GST_BIN(pipeline), recbin);
    gst_object_unref(recbin);
    recbin = nullptr;
    gst_clear_object(&recQueue);
    gst_clear_object(&rate);
    gst_clear_object(&audioSrc);
    rec = Rec::Idle;
    ++recGeneration;
}

void Capture::Private::finishRecordingNow()
{
    if (rec == Rec::Idle)
        return;
    if (rec == Rec::Recording)
        endRecording();
    bool seen;
    {
        std::unique_lock lk(eosMutex);
        seen = eosCond.wait_for(lk, std::chrono::milliseconds(FinishTimeoutMs), [this] { return eosSeen; });
    }
    finalizeRecording(seen, seen ? QString() : QStringLiteral("The recording did not finish in time"));
}

Capture::RecordingStats Capture::Private::stats() const
{
    RecordingStats s;
    s.elapsedMs = rec == Rec::Recording ? recClock.elapsed() : recElapsed;
    s.framesWritten = framesWritten;
    quint64 level = 0;
    if (recQueue) {
        guint buffers = 0;
        g_object_get(recQueue, "current-level-buffers", &buffers, nullptr);
        level = buffers;
    }
    const quint64 in = framesIn, out = framesOut;
    // Lost: what the queue had to throw away, and the frames the device
    // skipped (the file gets copies in their place to keep time).
    const quint64 leaked = in > out + level ? in - out - level : 0;
    s.framesDropped = leaked + sourceGaps;
    return s;
}

void Capture::Private::emitStatus(const QString& state)
{
    const RecordingStats s = stats();
    const qint64 secs = s.elapsedMs / 1000;
    const QString clock = QStringLiteral("%1:%2:%3")
                              .arg(secs / 3600, 2, 10, QLatin1Char('0'))
                              .arg((secs / 60) % 60, 2, 10, QLatin1Char('0'))
                              .arg(secs % 60, 2, 10, QLatin1Char('0'));
    emit q->statusChanged(QStringLiteral("%1 %2 - %3 frames written, %4 dropped")
                              .arg(state, clock)
                              .arg(s.framesWritten)
                              .arg(s.framesDropped));
}

GstPadProbeReturn Capture::Private::countIn(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    auto* d = static_cast<Private*>(data);
    ++d->framesIn;
    GstBuffer* buffer = gst_pad_probe_info_get_buffer(info);
    const GstClockTime pts = buffer ? GST_BUFFER_PTS(buffer) : GST_CLOCK_TIME_NONE;
    if (GST_CLOCK_TIME_IS_VALID(pts)) {
        const GstClockTime frame = GST_SECOND / GstClockTime(d->recFps);
        if (GST_CLOCK_TIME_IS_VALID(d->lastPts) && pts > d->lastPts + frame + frame / 2)
            d->sourceGaps += (pts - d->lastPts + frame / 2) / frame - 1;
        d->lastPts = pts;
    }
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn Capture::Private::dropStartRepeats(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    auto* d = static_cast<Private*>(data);
    GstBuffer* buffer = gst_pad_probe_info_get_buffer(info);
    if (buffer && GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_GAP) && d->picturesOut == 1)
        return GST_PAD_PROBE_DROP;
    ++d->picturesOut;
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn Capture::Private::countOut(GstPad*, GstPadProbeInfo*, gpointer data)
{
    ++static_cast<Private*>(data)->framesOut;
    return GST_PAD_PROBE_OK;
}

GstPadProbeReturn Capture::Private::countWritten(GstPad*, GstPadProbeInfo*, gpointer data)
{
    auto* d = static_cast<Private*>(data);
    const quint64 n = ++d->framesWritten;
    if (n % quint64(d->recFps) == 0) {
        // Once a second of video: a status line.
        const quint64 gen = d->recGeneration;
        QMetaObject::invokeMethod(
            d->q,
            [d, gen] {
                if (gen == d->recGeneration && d->rec == Rec::Recording)
                    d->emitStatus(QStringLiteral("Recording"));
            },
            Qt::QueuedConnection);
    }
    return GST_PAD_PROBE_OK;
}

namespace {
// Hands one recorded buffer to the writer, with its time.
template <typename Add> GstFlowReturn pullRecorded(GstAppSink* sink, Add add)
{
    GstSample* sample = gst_app_sink_pull_sample(sink);
    if (!sample)
        return GST_FLOW_OK;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        const GstClockTime pts = GST_BUFFER_PTS(buffer);
        add(reinterpret_cast<const char*>(map.data), qint64(map.size),
            GST_CLOCK_TIME_IS_VALID(pts) ? qint64(pts) : qint64(-1));
        gst_buffer_unmap(buffer, &map);
    }
    gst_sample_unref(sample);
    return GST_FLOW_OK;
}
} // namespace

GstFlowReturn Capture::Private::onRecordedFrame(GstAppSink* sink, gpointer data)
{
    AviWriter* w = static_cast<Private*>(data)->writer.get();
    return pullRecorded(sink, [w](const char* p, qint64 n, qint64 pts) { w->addFrame(p, n, pts); });
}

GstFlowReturn Capture::Private::onRecordedSound(GstAppSink* sink, gpointer data)
{
    AviWriter* w = static_cast<Private*>(data)->writer.get();
    return pullRecorded(sink, [w](const char* p, qint64 n, qint64 pts) { w->addSound(p, n, pts); });
}

void Capture::Private::onRecordingSinkEnd(GstAppSink*, gpointer data)
{
    auto* d = static_cast<Private*>(data);
    // The file is complete once picture and sound both ended.
    if (++d->sinksEnded < d->sinks)
        return;
    {
        std::lock_guard lk(d->eosMutex);
        d->eosSeen = true;
    }
    d->eosCond.notify_all();
    const quint64 gen = d->recGeneration;
    QMetaObject::invokeMethod(
        d->q, [d, gen] { d->recordingEos(gen); }, Qt::QueuedConnection);
}

GstPadProbeReturn Capture::Private::watchSourceEnd(GstPad*, GstPadProbeInfo* info, gpointer data)
{
    GstEvent* ev = gst_pad_probe_info_get_event(info);
    if (ev && GST_EVENT_TYPE(ev) == GST_EVENT_EOS) {
        auto* d = static_cast<Private*>(data);
        quint64 gen;
        {
            QMutexLocker lock(&d->mutex);
            gen = d->generation;
        }
        QMetaObject::invokeMethod(
            d->q, [d, gen] { d->sourceEnded(gen); }, Qt::QueuedConnection);
    }
    return GST_PAD_PROBE_OK;
}

Capture::Capture(QObject* parent) : QObject(parent), d(std::make_unique<Private>())
{
    ensureGstreamer();
    d->q = this;
    d->sources = CameraSource::discover();
    d->finishWatchdog.setSingleShot(true);
    connect(&d->finishWatchdog, &QTimer::timeout, this,
            [this] { d->finalizeRecording(false, QStringLiteral("The recording did not finish in time")); });
}

Capture::~Capture()
{
    // The owner is half gone: finish the file without telling anyone.
    blockSignals(true);
    d->close();
    delete d->surface.data();
}

int Capture::driverCount() const { return int(d->sources.size()); }

QString Capture::driverName(int index) const { return d->source(index).name(); }

QString Capture::driverDescription(int index) const { return d->source(index).description(); }

CaptureDriver Capture::driver(int index) const
{
    const CameraSource& src = d->source(index);
    return {src.name(), src.description(), src.device()};
}

int Capture::addCamera(const QString& devicePath, const QString& name)
{
    for (int i = 0; i < d->sources.size(); ++i) {
        if (d->sources.at(i)->device() == devicePath)
            return i;
    }
    // Cameras stay in path order, the pattern stays last.
    auto pos =
        std::find_if(d->sources.begin(), d->sources.end(), [&](const std::shared_ptr<CameraSource>& c) {
            return c->device().isEmpty() || c->device() > devicePath;
        });
    const int at = int(pos - d->sources.begin());
    d->sources.insert(at, CameraSource::camera(devicePath, name));
    if (d->index >= at)
        ++d->index;
    return at;
}

bool Capture::setDriverIndex(int index)
{
    d->chosen = true;
    d->missing.clear();
    if (index < 0 || index >= d->sources.size()) {
        d->close();
        d->index = -1;
        d->missing = QStringLiteral("No capture driver number %1").arg(index);
        d->fail(NoSuchDriver, d->missing);
        return false;
    }
    d->index = index;
    emit driverChosen(index);
    return d->open();
}

CameraIdentity Capture::driverIdentity(int index) const
{
    if (index < 0 || index >= d->sources.size())
        return {};
    return d->sources.at(index)->identity();
}

int Capture::findDriver(const CameraIdentity& wanted) const
{
    if (wanted.isEmpty())
        return -1;
    // The same node first (a camera with several nodes shares name and bus),
    // then the same socket under another node, then the same node where the
    // bus is not known. A camera of the same name elsewhere is another one.
    auto pass = [&](auto matches) {
        for (int i = 0; i < d->sources.size(); ++i) {
            const CameraIdentity c = d->sources.at(i)->identity();
            if (c.name == wanted.name && c.path.isEmpty() == wanted.path.isEmpty() && matches(c))
                return i;
        }
        return -1;
    };
    if (wanted.path.isEmpty())
        return pass([](const CameraIdentity&) { return true; });
    int i = pass([&](const CameraIdentity& c) { return c.path == wanted.path && c.bus == wanted.bus; });
    if (i < 0 && !wanted.bus.isEmpty())
        i = pass([&](const CameraIdentity& c) { return c.bus == wanted.bus; });
    if (i < 0)
        i = pass([&](const CameraIdentity& c) {
            return c.path == wanted.path && (c.bus.isEmpty() || wanted.bus.isEmpty());
        });
    return i;
}

bool Capture::selectDriver(const CameraIdentity& identity)
{
    const int index = findDriver(identity);
    if (index >= 0)
        return setDriverIndex(index);
    d->close();
    d->chosen = true;
    d->index = -1;
    const QString who = identity.path.isEmpty() || identity.name == identity.path
                            ? identity.name
                            : QStringLiteral("%1 (%2)").arg(identity.name, identity.path);
    d->missing = QStringLiteral("The camera %1 is not connected").arg(who);
    d->fail(NoSuchDriver, d->missing);
    return false;
}

QList<CameraControl> Capture::sourceControls(QString* why) const
{
    QString reason;
    const QList<CameraControl> found = d->selected().controls(reason);
    if (why)
        *why = reason;
    return found;
}

bool Capture::setSourceControl(const QString& key, qint64 value, QString* why)
{
    CameraSource& src = d->selected();
    QString reason;
    if (!src.setControl(key, value, reason)) {
        if (why)
            *why = reason;
        return false;
    }
    // Sources set through their element change the running picture too.
    if (d->pipeline && &src == &d->source(d->index)) {
        if (GstElement* element = gst_bin_get_by_name(GST_BIN(d->pipeline), "src")) {
            for (const auto& [property, v] : src.liveProperties())
                g_object_set(element, property.constData(), v, nullptr);
            gst_object_unref(element);
        }
    }
    return true;
}

int Capture::driverIndex() const { return d->index; }

bool Capture::connected() const { return d->isConnected; }

void Capture::disconnectDriver() { d->close(); }

void Capture::setPreview(bool on)
{
    d->previewOn = on;
    if (on && d->surface && !d->current.isNull())
        d->surface->showFrame(d->current);
}

bool Capture::preview() const { return d->previewOn; }

bool Capture::grabFrame()
{
    if (!d->pipeline) {
        if (d->index < 0 && !d->chosen)
            d->index = 0;
        if (!d->open())
            return false;
    }
    // A frame may be waiting for its hand-over: take it now, it is the newest.
    d->takePending();
    return !d->current.isNull();
}

QImage Capture::frame() const { return d->current; }

quint64 Capture::frameSerial() const { return d->serial; }

QSize Capture::frameSize() const { return d->deviceSize; }

bool Capture::saveFrameAsBitmap(const QString& path)
{
    if (d->current.isNull())
        return false;
    return d->current.convertToFormat(QImage::Format_RGB888).save(path, "BMP");
}

QWidget* Capture::previewWidget()
{
    if (!d->surface) {
        d->surface = new PreviewSurface;
        d->surface->setStretch(d->stretch);
        if (d->previewOn && !d->current.isNull())
            d->surface->showFrame(d->current);
    }
    return d->surface;
}

void Capture::setDisplayRect(const QRect& rect) { previewWidget()->setGeometry(rect); }

void Capture::setStretch(bool stretch)
{
    d->stretch = stretch;
    if (d->surface)
        d->surface->setStretch(stretch);
}

int Capture::width() const
{
    if (!d->deviceSize.isEmpty())
        return d->deviceSize.width();
    return videoFormat().size.width();
}

int Capture::height() const
{
    if (!d->deviceSize.isEmpty())
        return d->deviceSize.height();
    return videoFormat().size.height();
}

QList<Capture::VideoFormat> Capture::videoFormats() const { return d->selected().formats(); }

Capture::VideoFormat Capture::videoFormat() const { return d->selected().format(); }

bool Capture::setVideoFormat(QSize size, int fps)
{
    CameraSource& src = d->selected();
    const bool same = src.hasChosenFormat() && src.format() == VideoFormat{size, fps, false};
    if (!src.chooseFormat({size, fps, false}))
        return false;
    if (same || !d->pipeline)
        return true;
    if (d->rec != Private::Rec::Idle) {
        // The take goes on in its own format; the next one gets this.
        d->formatChosenWhileRecording = true;
        return true;
    }
    // Later frames come in the new size.
    d->deviceSize = QSize();
    return d->open();
}

bool Capture::hasVideoFormatDialog() const { return !videoFormats().isEmpty(); }

bool Capture::hasVideoSourceDialog() const { return d->selected().hasControls(); }

void Capture::setCompression(Compression c) { d->compression = c; }

Capture::Compression Capture::compression() const { return d->compression; }

void Capture::setJpegQuality(int quality) { d->quality = qBound(1, quality, 100); }

int Capture::jpegQuality() const { return d->quality; }

QList<int> Capture::audioRates() { return {8000, 11025, 16000, 22050, 32000, 44100, 48000}; }

void Capture::setAudioFormat(const AudioFormat& format)
{
    AudioFormat f = format;
    if (!audioRates().contains(f.rate))
        f.rate = d->audio.rate;
    f.channels = qBound(1, f.channels, 2);
    f.bits = f.bits <= 8 ? 8 : 16;
    d->audio = f;
}

Capture::AudioFormat Capture::audioFormat() const { return d->audio; }

void Capture::setCaptureAudio(bool on) { d->withAudio = on; }

bool Capture::captureAudio() const { return d->withAudio; }

void Capture::setCaptureFile(const QString& path) { d->file = path; }

QString Capture::captureFile() const { return d->file; }

bool Capture::startRecording()
{
    if (d->index < 0 && !d->chosen)
        d->index = 0;
    return d->beginRecording();
}

void Capture::stopRecording() { d->endRecording(); }

bool Capture::isRecording() const { return d->rec != Private::Rec::Idle; }

Capture::RecordingStats Capture::recordingStats() const { return d->stats(); }

QString Capture::lastError() const { return d->lastError; }

void captureTesting::endSource(Capture* cap)
{
    Capture::Private* d = cap->d.get();
    if (!d->pipeline)
        return;
    if (GstElement* src = gst_bin_get_by_name(GST_BIN(d->pipeline), "src")) {
        gst_element_send_event(src, gst_event_new_eos());
        gst_object_unref(src);
    }
}

void captureTesting::setSources(Capture* cap, QList<std::shared_ptr<CameraSource>> sources)
{
    cap->d->close();
    cap->d->sources = std::move(sources);
    cap->d->index = -1;
    cap->d->chosen = false;
}
