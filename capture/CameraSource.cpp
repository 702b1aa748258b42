#include "capture/CameraSource.h"

#include <algorithm>

#include <gst/gst.h>

namespace {

QString fromGChar(const gchar* s) { return s ? QString::fromUtf8(s) : QString(); }

QList<CameraFormat> formatsFromCaps(GstCaps* caps)
{
    QList<CameraFormat> out;
    if (!caps)
        return out;
    auto add = [&out](const CameraFormat& f) {
        for (CameraFormat& o : out) {
            if (o == f) {
                o.jpeg = o.jpeg && f.jpeg; // raw wins: no decoding needed
                return;
            }
        }
        out.append(f);
    };
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure* st = gst_caps_get_structure(caps, i);
        const bool jpeg = gst_structure_has_name(st, "image/jpeg");
        if (!jpeg && !gst_structure_has_name(st, "video/x-raw"))
            continue;
        int w = 0, h = 0;
        if (!gst_structure_get_int(st, "width", &w) || !gst_structure_get_int(st, "height", &h))
            continue; // ranges: not offered as fixed choices
        const GValue* fr = gst_structure_get_value(st, "framerate");
        QList<int> rates;
        if (fr && GST_VALUE_HOLDS_FRACTION(fr)) {
            rates.append(gst_value_get_fraction_numerator(fr) /
                         qMax(1, gst_value_get_fraction_denominator(fr)));
        } else if (fr && GST_VALUE_HOLDS_LIST(fr)) {
            for (guint k = 0; k < gst_value_list_get_size(fr); ++k) {
                const GValue* v = gst_value_list_get_value(fr, k);
                if (GST_VALUE_HOLDS_FRACTION(v))
                    rates.append(gst_value_get_fraction_numerator(v) /
                                 qMax(1, gst_value_get_fraction_denominator(v)));
            }
        }
        for (int r : rates) {
            if (r > 0)
                add({QSize(w, h), r, jpeg});
        }
    }
    std::sort(out.begin(), out.end(), [](const CameraFormat& a, const CameraFormat& b) {
        const qint64 pa = qint64(a.size.width()) * a.size.height(),
                     pb = qint64(b.size.width()) * b.size.height();
        return pa != pb ? pa < pb : a.fps < b.fps;
    });
    return out;
}

QList<CameraFormat> patternFormats()
{
    QList<CameraFormat> out;
    for (QSize size :
         {QSize(160, 120), QSize(320, 240), QSize(640, 480), QSize(800, 600), QSize(1280, 720)}) {
        for (int fps : {15, 25, 30})
            out.append({size, fps, false});
    }
    return out;
}

QString fixedCaps(const CameraFormat& f)
{
    return QStringLiteral("width=%1,height=%2,framerate=%3/1")
        .arg(f.size.width())
        .arg(f.size.height())
        .arg(f.fps);
}

// The VGA size every camera and player handles, when offered.
std::optional<CameraFormat> vga(const QList<CameraFormat>& offered)
{
    for (const CameraFormat& f : offered) {
        if (f.size == QSize(640, 480) && f.fps == 30)
            return f;
    }
    return std::nullopt;
}

} // namespace

CameraSource::~CameraSource() = default;

CameraFormat CameraSource::format() const { return chosen ? *chosen : startFormat(); }

bool CameraSource::chooseFormat(const CameraFormat& wanted)
{
    const auto it = std::find(offered.cbegin(), offered.cend(), wanted);
    if (it == offered.cend())
        return false;
    chosen = *it;
    return true;
}

QList<std::shared_ptr<CameraSource>> CameraSource::discover()
{
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
    QList<std::shared_ptr<CameraSource>> found;
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
        const bool dup =
            std::any_of(found.cbegin(), found.cend(),
                        [&](const std::shared_ptr<CameraSource>& c) { return c->device() == path; });
        if (!path.isEmpty() && !dup) {
            GstCaps* caps = gst_device_get_caps(dev);
            gchar* name = gst_device_get_display_name(dev);
            found.append(std::make_shared<V4l2CameraSource>(path, fromGChar(name), formatsFromCaps(caps)));
            g_free(name);
            if (caps)
                gst_caps_unref(caps);
        }
    }
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(monitor);
    std::sort(found.begin(), found.end(),
              [](const std::shared_ptr<CameraSource>& a, const std::shared_ptr<CameraSource>& b) {
                  return a->device() < b->device();
              });
    found.append(std::make_shared<TestPatternSource>());
    return found;
}

std::shared_ptr<CameraSource> CameraSource::camera(const QString& devicePath, const QString& name)
{
    return std::make_shared<V4l2CameraSource>(devicePath, name.isEmpty() ? devicePath : name,
                                              QList<CameraFormat>{});
}

TestPatternSource::TestPatternSource() : CameraSource(patternFormats()) {}

QString TestPatternSource::name() const { return QStringLiteral("Test pattern"); }

QString TestPatternSource::description() const
{
    return QStringLiteral("Built-in test pattern (moving, with clock)");
}

CameraFormat TestPatternSource::startFormat() const { return {QSize(640, 480), 30, false}; }

QString TestPatternSource::pipeline() const
{
    return QStringLiteral("videotestsrc name=src is-live=true pattern=smpte horizontal-speed=2 ! "
                          "video/x-raw,%1 ! clockoverlay time-format=\"%H:%M:%S\" ! videoconvert")
        .arg(fixedCaps(format()));
}

QString TestPatternSource::soundPipeline() const
{
    return QStringLiteral("audiotestsrc is-live=true do-timestamp=true wave=sine freq=440 volume=0.2");
}

V4l2CameraSource::V4l2CameraSource(QString devicePath, QString name, QList<CameraFormat> formats)
    : CameraSource(std::move(formats)), path(std::move(devicePath)), displayName(std::move(name))
{}

QString V4l2CameraSource::description() const { return QStringLiteral("Video4Linux camera (%1)").arg(path); }

CameraFormat V4l2CameraSource::startFormat() const
{
    const QList<CameraFormat> offered = formats();
    if (const auto f = vga(offered))
        return *f;
    return offered.isEmpty() ? CameraFormat{QSize(), 0, false} : offered.last();
}

QString V4l2CameraSource::pipeline() const
{
    const CameraFormat f = format();
    if (f.size.isEmpty())
        return QStringLiteral("v4l2src name=src ! decodebin ! videoconvert");
    if (f.jpeg)
        return QStringLiteral("v4l2src name=src ! image/jpeg,%1 ! jpegdec ! videoconvert").arg(fixedCaps(f));
    return QStringLiteral("v4l2src name=src ! video/x-raw,%1 ! videoconvert").arg(fixedCaps(f));
}

QString V4l2CameraSource::soundPipeline() const { return QStringLiteral("autoaudiosrc"); }

QList<SoundInput> soundInputs()
{
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
    QList<SoundInput> found;
    GstDeviceMonitor* monitor = gst_device_monitor_new();
    gst_device_monitor_add_filter(monitor, "Audio/Source", nullptr);
    GList* devices = gst_device_monitor_get_devices(monitor);
    for (GList* l = devices; l; l = l->next) {
        GstDevice* dev = GST_DEVICE(l->data);
        GstElement* element = gst_device_create_element(dev, nullptr);
        if (!element)
            continue;
        GstElementFactory* factory = gst_element_get_factory(element);
        const QString kind =
            factory ? fromGChar(gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory))) : QString();
        // The element's own name for the device picks it again at recording time.
        const char* property = g_object_class_find_property(G_OBJECT_GET_CLASS(element), "device") ? "device"
                               : g_object_class_find_property(G_OBJECT_GET_CLASS(element), "target-object")
                                   ? "target-object"
                                   : nullptr;
        QString value;
        if (property) {
            gchar* v = nullptr;
            g_object_get(element, property, &v, nullptr);
            value = fromGChar(v);
            g_free(v);
        }
        gst_object_unref(gst_object_ref_sink(element));
        if (kind.isEmpty() || !property || value.isEmpty() || value.contains(QLatin1Char('"')) ||
            value.contains(QLatin1Char('\\')))
            continue;
        gchar* name = gst_device_get_display_name(dev);
        found.append(
            {fromGChar(name), QStringLiteral("%1 %2=\"%3\"").arg(kind, QLatin1String(property), value)});
        g_free(name);
    }
    g_list_free_full(devices, gst_object_unref);
    gst_object_unref(monitor);
    return found;
}
