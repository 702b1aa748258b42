#include "Capture.h"

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>
#include <QPainter>
#include <QPointer>
#include <QWidget>
#include <algorithm>

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

namespace {

// How long connecting may wait for the device to deliver its first frame.
constexpr GstClockTime ConnectTimeout = 5 * GST_SECOND;

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
            target = QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2),
                           fitted);
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
    QList<CaptureDriver> drivers;
    int index = -1;

    // Pipeline state, touched on the owner thread only.
    GstElement* pipeline = nullptr;
    GstElement* appsink = nullptr;
    quint64 generation = 0; // tells messages of an old pipeline from the current one
    bool isConnected = false;

    // Handed over from the streaming thread.
    QMutex mutex;
    GstSample* pending = nullptr;
    bool deliveryQueued = false;
    QString firstError; // the first error the current pipeline reported

    QImage current;
    quint64 serial = 0;
    QSize deviceSize;
    QSize requestedSize{640, 480};
    int requestedFps = 30;

    bool previewOn = false;
    bool stretch = false;
    QPointer<PreviewSurface> surface;

    void enumerate();
    QString pipelineDescription(const CaptureDriver& drv) const;
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

void Capture::Private::enumerate()
{
    drivers.clear();
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    GstCaps* raw = gst_caps_new_empty_simple("video/x-raw");
    GstCaps* jpeg = gst_caps_new_empty_simple("image/jpeg");
    gst_device_monitor_add_filter(monitor, "Video/Source", raw);
    gst_device_monitor_add_filter(monitor, "Video/Source", jpeg);
    gst_caps_unref(raw);
    gst_caps_unref(jpeg);
    GList* devices = gst_device_monitor_get_devices(monitor);
    for (GList* l = devices; l; l = l->next) {
        GstDevice* dev = GST_DEVICE(l->data);
        GstStructure* props = gst_device_get_properties(dev);
        QString path;
        if (props) {
            // Other providers (e.g. PipeWire) list the same cameras again: V4L2 nodes only.
            const QString api = fromGChar(gst_structure_get_string(props, "device.api"));
            path = fromGChar(gst_structure_get_string(props, "device.path"));
            if (path.isEmpty())
                path = fromGChar(gst_structure_get_string(props, "api.v4l2.path"));
            if (api != QLatin1String("v4l2") && !path.startsWith(QLatin1String("/dev/video")))
                path.clear();
            gst_structure_free(props);
        }
        if (!path.isEmpty()) {
            gchar* name = gst_device_get_display_name(dev);
            const bool dup = std::any_of(drivers.cbegin(), drivers.cend(),
                                         [&](const CaptureDriver& c) { return c.device == path; });
            if (!dup)
                drivers.append({fromGChar(name), QStringLiteral("Video4Linux camera (%1)").arg(path), path});
            g_free(name);
        }
    }
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(monitor);
    std::sort(drivers.begin(), drivers.end(),
              [](const CaptureDriver& a, const CaptureDriver& b) { return a.device < b.device; });
    drivers.append({QStringLiteral("Test pattern"),
                    QStringLiteral("Built-in test pattern (moving, with clock)"), QString()});
}

QString Capture::Private::pipelineDescription(const CaptureDriver& drv) const
{
    QString source;
    if (drv.device.isEmpty()) {
        source = QStringLiteral("videotestsrc name=src is-live=true pattern=smpte horizontal-speed=2 ! "
                                "video/x-raw,width=%1,height=%2,framerate=%3/1 ! "
                                "clockoverlay time-format=\"%H:%M:%S\" ! videoconvert")
                     .arg(requestedSize.width())
                     .arg(requestedSize.height())
                     .arg(requestedFps);
    } else {
        source = QStringLiteral("v4l2src name=src ! decodebin ! videoconvert");
    }
    return source + QStringLiteral(" ! tee name=t ! queue leaky=downstream max-size-buffers=2 ! "
                                   "videoconvert ! video/x-raw,format=BGRx ! "
                                   "appsink name=sink max-buffers=1 drop=true sync=false");
}

bool Capture::Private::open()
{
    close();
    if (index < 0 || index >= drivers.size()) {
        fail(NoSuchDriver, QStringLiteral("No capture driver number %1").arg(index));
        return false;
    }
    const CaptureDriver drv = drivers.at(index);
    GError* err = nullptr;
    GstElement* p = gst_parse_launch(pipelineDescription(drv).toUtf8().constData(), &err);
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
    if (!drv.device.isEmpty()) {
        GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "src");
        g_object_set(src, "device", drv.device.toLocal8Bit().constData(), nullptr);
        gst_object_unref(src);
    }
    appsink = gst_bin_get_by_name(GST_BIN(pipeline), "sink");
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
                               .arg(drv.device.isEmpty() ? drv.name : drv.device));
        else
            fail(DeviceFailed, error.isEmpty() ? QStringLiteral("Cannot open %1").arg(drv.name) : error);
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
        QMetaObject::invokeMethod(q, [this, gen] { deliverFrame(gen); }, Qt::QueuedConnection);
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
            if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR && d->firstError.isEmpty()) {
                GError* err = nullptr;
                gst_message_parse_error(msg, &err, nullptr);
                d->firstError = err ? fromGChar(err->message) : QStringLiteral("Device error");
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
    switch (GST_MESSAGE_TYPE(msg)) {
    case GST_MESSAGE_ERROR: {
        GError* err = nullptr;
        gst_message_parse_error(msg, &err, nullptr);
        const QString text = err ? fromGChar(err->message) : QStringLiteral("Device error");
        if (err)
            g_error_free(err);
        close();
        fail(DeviceFailed, text);
        break;
    }
    case GST_MESSAGE_EOS:
        // A source that ends (a camera unplugged) leaves nothing to show.
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

Capture::Capture(QObject* parent) : QObject(parent), d(std::make_unique<Private>())
{
    ensureGstreamer();
    d->q = this;
    d->enumerate();
}

Capture::~Capture()
{
    d->close();
    delete d->surface.data();
}

int Capture::driverCount() const { return int(d->drivers.size()); }

QString Capture::driverName(int index) const { return driver(index).name; }

QString Capture::driverDescription(int index) const { return driver(index).description; }

CaptureDriver Capture::driver(int index) const
{
    return index >= 0 && index < d->drivers.size() ? d->drivers.at(index) : CaptureDriver{};
}

int Capture::addCamera(const QString& devicePath, const QString& name)
{
    for (int i = 0; i < d->drivers.size(); ++i) {
        if (d->drivers.at(i).device == devicePath)
            return i;
    }
    const CaptureDriver selected = driver(d->index);
    CaptureDriver cam{name.isEmpty() ? devicePath : name,
                      QStringLiteral("Video4Linux camera (%1)").arg(devicePath), devicePath};
    // Cameras stay in path order, the pattern stays last.
    auto pos = std::find_if(d->drivers.begin(), d->drivers.end(), [&](const CaptureDriver& c) {
        return c.device.isEmpty() || c.device > devicePath;
    });
    const int at = int(pos - d->drivers.begin());
    d->drivers.insert(at, cam);
    if (d->index >= at)
        ++d->index;
    return at;
}

bool Capture::setDriverIndex(int index)
{
    if (index < 0 || index >= d->drivers.size()) {
        d->close();
        d->fail(NoSuchDriver, QStringLiteral("No capture driver number %1").arg(index));
        return false;
    }
    d->index = index;
    return d->open();
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
        if (d->index < 0)
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
