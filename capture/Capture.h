#pragma once
// The capture component both programs use: one object per program window,
// offering the camera sources as numbered drivers (V4L2 cameras, then the
// built-in test pattern), previewing, grabbing, saving and recording. GStreamer streams on its own
// thread; frames are handed to the thread that owns this object, and every
// signal fires there.

#include "capture/CameraSource.h"

#include <QImage>
#include <QObject>
#include <QRect>
#include <QSize>
#include <QString>
#include <memory>

class QWidget;

struct CaptureDriver
{
    QString name;        // shown in lists, e.g. "Test pattern"
    QString description; // e.g. "Built-in test pattern (moving, with clock)"
    QString device;      // what the pipeline opens: a /dev/video* path, or empty for the pattern
};

class Capture : public QObject
{
    Q_OBJECT
public:
    // Numbers carried by errorOccurred.
    enum Error {
        NoSuchDriver = 1,   // index outside the driver list
        DeviceFailed = 2,   // the device could not be opened or stopped streaming
        NoFrames = 3,       // the device opened but delivered nothing in time
        RecordingFailed = 4 // the recording could not start or broke off
    };

    enum class Compression { Mjpeg, Uncompressed };

    using VideoFormat = CameraFormat;

    struct AudioFormat
    {
        int rate = 22050;
        int channels = 1;
        int bits = 16; // 8 or 16
        // gst-launch text of the input (a SoundInput's); empty: the source's
        // own (the default input for cameras, a tone for the test pattern).
        QString input;
        bool operator==(const AudioFormat& o) const
        {
            return rate == o.rate && channels == o.channels && bits == o.bits && input == o.input;
        }
    };

    struct RecordingStats
    {
        qint64 elapsedMs = 0;
        quint64 framesWritten = 0;
        quint64 framesDropped = 0;
    };

    explicit Capture(QObject* parent = nullptr);
    ~Capture() override;

    // Drivers, numbered from 0 in a stable order: cameras first, the test pattern last.
    int driverCount() const;
    QString driverName(int index) const;
    QString driverDescription(int index) const;
    CaptureDriver driver(int index) const;
    // Lists a camera device the monitor did not report (kept in path order,
    // before the test pattern). Returns its index.
    int addCamera(const QString& devicePath, const QString& name = {});

    // Switches to that driver and connects it. On failure: false, errorOccurred,
    // and connected() stays false; an index outside the list selects nothing
    // (driverIndex() -1), and grabbing then opens nothing either.
    bool setDriverIndex(int index);
    int driverIndex() const; // -1 when nothing is selected
    // What tells driver `index` apart across restarts; empty outside the list.
    CameraIdentity driverIdentity(int index) const;
    // The driver with that identity now, or -1 when that camera is not here.
    int findDriver(const CameraIdentity& identity) const;
    // Switches to that camera wherever it is listed now. When it is not here:
    // false, errorOccurred(NoSuchDriver) naming it, and nothing is selected.
    bool selectDriver(const CameraIdentity& identity);
    bool connected() const;
    void disconnectDriver();

    // Live preview in the widget from previewWidget().
    void setPreview(bool on);
    bool preview() const;

    // Opens the selected driver when it is not open yet; afterwards frame() holds
    // the newest frame. Never waits and never interrupts the preview.
    bool grabFrame();
    // Newest frame (QImage::Format_RGB32), null when none has arrived yet.
    QImage frame() const;
    // Increases with every new frame; lets callers tell a new frame from an old one.
    quint64 frameSerial() const;
    // The device's resolution (size of its frames), empty when unknown.
    QSize frameSize() const;
    // 24-bit BMP of the current frame at the device's resolution.
    bool saveFrameAsBitmap(const QString& path);

    // The preview surface, owned by the caller's widget tree once parented.
    QWidget* previewWidget();
    // Places the preview inside its parent; stretch fills the rectangle, otherwise
    // the picture keeps its aspect ratio.
    void setDisplayRect(const QRect& rect);
    void setStretch(bool stretch);
    // The control's natural size in pixels: the picture size of the video format.
    int width() const;
    int height() const;

    // Video format: what the selected driver offers; choosing one reconnects
    // a connected driver, and later frames have that size. Chosen during a
    // recording, it is kept and applied once that take is complete.
    QList<VideoFormat> videoFormats() const;
    bool setVideoFormat(QSize size, int fps);
    VideoFormat videoFormat() const;
    bool hasVideoFormatDialog() const;
    bool hasVideoSourceDialog() const; // cameras and the test pattern: their picture settings
    // The selected source's own picture settings (a camera's brightness,
    // contrast, exposure...; the test pattern's pattern), read now. Empty with
    // `why` when the device offers none or cannot be read.
    QList<CameraControl> sourceControls(QString* why = nullptr) const;
    // Changes one at once, also while streaming.
    bool setSourceControl(const QString& key, qint64 value, QString* why = nullptr);
    // The dialogs return true when the user accepted a change. They live in
    // vantora_capture_dialogs, so programs without them carry no dialog code.
    bool showVideoFormatDialog(QWidget* parent = nullptr);
    bool showVideoSourceDialog(QWidget* parent = nullptr);
    bool showVideoCompressionDialog(QWidget* parent = nullptr);
    bool showAudioFormatDialog(QWidget* parent = nullptr);

    // Recording settings, kept for the next recording.
    void setCompression(Compression c);
    Compression compression() const;
    void setJpegQuality(int quality); // 1..100
    int jpegQuality() const;
    void setAudioFormat(const AudioFormat& format);
    AudioFormat audioFormat() const;
    static QList<int> audioRates();
    void setCaptureAudio(bool on);
    bool captureAudio() const;
    void setCaptureFile(const QString& path);
    QString captureFile() const;

    // Records into captureFile() while the preview goes on. Failure: false and
    // errorOccurred(RecordingFailed, why). The file is complete once
    // recordingFinished arrives; stopping while nothing records does nothing.
    bool startRecording();
    void stopRecording();
    bool isRecording() const; // from start until the file is complete
    RecordingStats recordingStats() const;
    // The description of the most recent errorOccurred.
    QString lastError() const;

signals:
    void errorOccurred(int number, const QString& description);
    // A driver in the list was chosen (before it connects, whether it does or not).
    void driverChosen(int index);
    void frameArrived();
    void statusChanged(const QString& text);
    // The capture file is closed and playable (ok), or could not be saved.
    void recordingFinished(const QString& path, bool ok);

private:
    friend struct captureTesting;
    struct Private;
    std::unique_ptr<Private> d;
};
