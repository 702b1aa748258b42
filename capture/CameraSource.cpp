#include "capture/CameraSource.h"

#include "capture/V4l2Device.h"

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
        QString path, bus;
        if (props) {
            bus = fromGChar(gst_structure_get_string(props, "v4l2.device.bus_info"));
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
            found.append(
                std::make_shared<V4l2CameraSource>(path, fromGChar(name), formatsFromCaps(caps), bus));
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

std::shared_ptr<CameraSource> CameraSource::camera(const QString& devicePath, const QString& name,
                                                   const QString& bus)
{
    QString shown = name, where = bus;
    QList<CameraFormat> formats;
    V4l2Device device(devicePath);
    if (const auto info = device.info()) {
        if (shown.isEmpty())
            shown = info->card;
        if (where.isEmpty())
            where = info->bus;
        for (const V4l2Device::Format& f : device.formats())
            formats.append({QSize(f.width, f.height), f.fps, f.jpeg});
    }
    return std::make_shared<V4l2CameraSource>(devicePath, shown.isEmpty() ? devicePath : shown, formats,
                                              where);
}

QList<CameraControl> CameraSource::controls(QString& why) const
{
    why = QStringLiteral("%1 has no settings of its own").arg(name());
    return {};
}

bool CameraSource::setControl(const QString& key, qint64, QString& why)
{
    why = QStringLiteral("%1 has no setting %2").arg(name(), key);
    return false;
}

namespace {
// The pictures the test pattern element can draw, in its own numbering.
const QList<QPair<qint64, QString>>& patternChoices()
{
    static const QList<QPair<qint64, QString>> choices = [] {
        QList<QPair<qint64, QString>> out;
        GstElement* element = gst_element_factory_make("videotestsrc", nullptr);
        if (!element)
            return out;
        gst_object_ref_sink(element);
        GParamSpec* spec = g_object_class_find_property(G_OBJECT_GET_CLASS(element), "pattern");
        if (spec && G_IS_PARAM_SPEC_ENUM(spec)) {
            GEnumClass* values = G_PARAM_SPEC_ENUM(spec)->enum_class;
            for (guint i = 0; i < values->n_values; ++i)
                out.append({values->values[i].value, fromGChar(values->values[i].value_name)});
        }
        gst_object_unref(element);
        return out;
    }();
    return choices;
}
} // namespace

TestPatternSource::TestPatternSource() : CameraSource(patternFormats()) {}

QString TestPatternSource::name() const { return QStringLiteral("Test pattern"); }

QString TestPatternSource::description() const
{
    return QStringLiteral("Built-in test pattern (moving, with clock)");
}

CameraFormat TestPatternSource::startFormat() const { return {QSize(640, 480), 30, false}; }

QString TestPatternSource::pipeline() const
{
    return QStringLiteral("videotestsrc name=src is-live=true pattern=%2 horizontal-speed=%3 ! "
                          "video/x-raw,%1 ! clockoverlay time-format=\"%H:%M:%S\" ! videoconvert")
        .arg(fixedCaps(format()))
        .arg(pattern)
        .arg(moving ? 2 : 0);
}

QList<CameraControl> TestPatternSource::controls(QString& why) const
{
    if (!gst_is_initialized())
        gst_init(nullptr, nullptr);
    CameraControl p;
    p.key = QStringLiteral("pattern");
    p.name = QStringLiteral("Pattern");
    p.kind = CameraControl::Kind::Choice;
    p.choices = patternChoices();
    if (p.choices.isEmpty()) {
        why = QStringLiteral("The test pattern element is not installed");
        return {};
    }
    p.minimum = p.choices.first().first;
    p.maximum = p.choices.last().first;
    p.defaultValue = 0;
    p.value = pattern;
    CameraControl m;
    m.key = QStringLiteral("moving");
    m.name = QStringLiteral("Moving picture");
    m.kind = CameraControl::Kind::Toggle;
    m.maximum = 1;
    m.defaultValue = 1;
    m.value = moving ? 1 : 0;
    return {p, m};
}

bool TestPatternSource::setControl(const QString& key, qint64 value, QString& why)
{
    if (key == QLatin1String("pattern")) {
        const auto& choices = patternChoices();
        const bool known = std::any_of(choices.cbegin(), choices.cend(),
                                       [value](const QPair<qint64, QString>& c) { return c.first == value; });
        if (!known) {
            why = QStringLiteral("The test pattern has no pattern %1").arg(value);
            return false;
        }
        pattern = int(value);
        return true;
    }
    if (key == QLatin1String("moving") && (value == 0 || value == 1)) {
        moving = value == 1;
        return true;
    }
    why = QStringLiteral("The test pattern has no setting %1 = %2").arg(key).arg(value);
    return false;
}

QList<QPair<QByteArray, int>> TestPatternSource::liveProperties() const
{
    return {{"pattern", pattern}, {"horizontal-speed", moving ? 2 : 0}};
}

QString TestPatternSource::soundPipeline() const
{
    return QStringLiteral("audiotestsrc is-live=true do-timestamp=true wave=sine freq=440 volume=0.2");
}

V4l2CameraSource::V4l2CameraSource(QString devicePath, QString name, QList<CameraFormat> formats, QString bus)
    : CameraSource(std::move(formats)), path(std::move(devicePath)), displayName(std::move(name)),
      busInfo(std::move(bus))
{}

QList<CameraControl> V4l2CameraSource::controls(QString& why) const
{
    V4l2Device device(path);
    const QList<V4l2Control> found = device.controls();
    if (found.isEmpty()) {
        why = device.error();
        return {};
    }
    QList<CameraControl> out;
    for (const V4l2Control& c : found) {
        CameraControl o;
        o.key = QString::number(c.id);
        o.name = c.name;
        switch (c.type) {
        case V4l2Control::Type::Integer:
            o.kind = CameraControl::Kind::Range;
            break;
        case V4l2Control::Type::Boolean:
            o.kind = CameraControl::Kind::Toggle;
            break;
        case V4l2Control::Type::Menu:
        case V4l2Control::Type::IntegerMenu:
            o.kind = CameraControl::Kind::Choice;
            break;
        case V4l2Control::Type::Button:
            o.kind = CameraControl::Kind::Action;
            break;
        }
        o.minimum = c.minimum;
        o.maximum = c.maximum;
        o.step = c.step;
        o.defaultValue = c.defaultValue;
        o.value = c.value;
        o.choices = c.menu;
        o.readOnly = c.readOnly;
        o.inactive = c.inactive;
        out.append(o);
    }
    return out;
}

bool V4l2CameraSource::setControl(const QString& key, qint64 value, QString& why)
{
    bool ok = false;
    const quint32 id = key.toUInt(&ok);
    if (!ok) {
        why = QStringLiteral("%1 has no setting %2").arg(displayName, key);
        return false;
    }
    V4l2Device device(path);
    if (!device.setValue(id, value)) {
        why = device.error();
        return false;
    }
    return true;
}

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
