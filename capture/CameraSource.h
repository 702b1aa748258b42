#pragma once
// Where pictures come from. Capture picks one source per driver number at run
// time; a source knows the formats it offers and the GStreamer elements that
// open it, so a new kind of camera touches nothing else in the component.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSize>
#include <QString>
#include <memory>
#include <optional>

// A picture size and rate a source offers.
struct CameraFormat
{
    QSize size;
    int fps = 30;
    bool jpeg = false; // the device sends it as JPEG (decoded for preview)
    bool operator==(const CameraFormat& o) const { return size == o.size && fps == o.fps; }
};

// What tells a camera apart from the others across restarts and replugging:
// its device node, its own name and where it is plugged in (empty where the
// device does not say). The test pattern has a name and no node.
struct CameraIdentity
{
    QString path;
    QString name;
    QString bus;
    bool isEmpty() const { return path.isEmpty() && name.isEmpty(); }
    bool operator==(const CameraIdentity&) const = default;
};

// A setting of the source's own picture (brightness, a test pattern's
// pattern...), offered by its video source dialog.
struct CameraControl
{
    enum class Kind { Range, Toggle, Choice, Action };
    QString key; // what setControl takes
    QString name;
    Kind kind = Kind::Range;
    qint64 minimum = 0;
    qint64 maximum = 0;
    qint64 step = 1;
    qint64 defaultValue = 0;
    qint64 value = 0;
    QList<QPair<qint64, QString>> choices; // for Choice: value and text
    bool readOnly = false;
    bool inactive = false; // depends on another control (manual exposure while automatic is on)
};

// A sound input the system offers (PulseAudio, PipeWire or ALSA).
struct SoundInput
{
    QString name;     // shown in lists
    QString pipeline; // gst-launch text of the element that records from it
};

// The sound inputs found now; empty where none is reported (the default input
// is always there besides them).
QList<SoundInput> soundInputs();

class CameraSource
{
public:
    virtual ~CameraSource();

    virtual QString name() const = 0;        // shown in lists, e.g. "Test pattern"
    virtual QString description() const = 0; // e.g. "Built-in test pattern (moving, with clock)"
    // The device node the pipeline's "src" element opens; empty for sources without one.
    virtual QString device() const { return {}; }
    virtual CameraIdentity identity() const { return {device(), name(), {}}; }

    // The source's own picture settings with their current values; empty with
    // `why` set when there are none or the device cannot be read.
    virtual QList<CameraControl> controls(QString& why) const;
    // Changes one at once; false with `why` when refused.
    virtual bool setControl(const QString& key, qint64 value, QString& why);
    // Element properties of the running "src" element that carry the
    // controls (set again after a change); empty for sources set otherwise.
    virtual QList<QPair<QByteArray, int>> liveProperties() const { return {}; }
    // Whether it has settings of its own to offer at all.
    virtual bool hasControls() const { return false; }

    // Formats offered as fixed choices, smallest first; empty when the device
    // did not say (it is then opened with whatever it negotiates).
    QList<CameraFormat> formats() const { return offered; }
    // The chosen format, or what the source starts with.
    CameraFormat format() const;
    // False when the source does not offer it.
    bool chooseFormat(const CameraFormat& wanted);
    bool hasChosenFormat() const { return chosen.has_value(); }

    // gst-launch text that opens the source in the current format and ends in
    // raw video; its first element is named "src". Empty: it cannot be opened.
    virtual QString pipeline() const = 0;
    // What records sound beside it; empty for none.
    virtual QString soundPipeline() const = 0;
    // Whether its sound is made up (a tone) rather than heard.
    virtual bool syntheticSound() const { return false; }

    // Cameras in device order, then the test pattern.
    static QList<std::shared_ptr<CameraSource>> discover();
    // A Video4Linux camera the device monitor did not report; name and bus
    // are asked of the device when not given.
    static std::shared_ptr<CameraSource> camera(const QString& devicePath, const QString& name = {},
                                                const QString& bus = {});

protected:
    explicit CameraSource(QList<CameraFormat> formats = {}) : offered(std::move(formats)) {}
    virtual CameraFormat startFormat() const = 0;

private:
    QList<CameraFormat> offered;
    std::optional<CameraFormat> chosen;
};

// Stands for "no driver": never opens. Capture holds it until a driver is chosen.
class NullCameraSource : public CameraSource
{
public:
    QString name() const override { return {}; }
    QString description() const override { return {}; }
    QString pipeline() const override { return {}; }
    QString soundPipeline() const override { return {}; }

protected:
    CameraFormat startFormat() const override { return {QSize(), 0, false}; }
};

// The built-in moving pattern with a clock; a tone stands in for its microphone.
class TestPatternSource : public CameraSource
{
public:
    TestPatternSource();
    QString name() const override;
    QString description() const override;
    QString pipeline() const override;
    QString soundPipeline() const override;
    bool syntheticSound() const override { return true; }
    QList<CameraControl> controls(QString& why) const override;
    bool setControl(const QString& key, qint64 value, QString& why) override;
    QList<QPair<QByteArray, int>> liveProperties() const override;
    bool hasControls() const override { return true; }

protected:
    CameraFormat startFormat() const override;

private:
    int pattern = 0; // the element's own numbering; 0 is its colour bars
    bool moving = true;
};

// A Video4Linux camera opened through GStreamer; sound from the default input.
class V4l2CameraSource : public CameraSource
{
public:
    V4l2CameraSource(QString devicePath, QString name, QList<CameraFormat> formats, QString bus = {});
    QString name() const override { return displayName; }
    QString description() const override;
    QString device() const override { return path; }
    CameraIdentity identity() const override { return {path, displayName, busInfo}; }
    QList<CameraControl> controls(QString& why) const override;
    bool setControl(const QString& key, qint64 value, QString& why) override;
    bool hasControls() const override { return true; }
    QString pipeline() const override;
    QString soundPipeline() const override;

protected:
    CameraFormat startFormat() const override;

private:
    QString path;
    QString displayName;
    QString busInfo;
};
