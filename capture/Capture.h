#pragma once
// The capture component both programs use: one object per program window,
// enumerating the drivers (V4L2 cameras, then the built-in test pattern),
// previewing, grabbing, saving and recording. GStreamer streams on its own
// thread; frames are handed to the thread that owns this object, and every
// signal fires there.

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
    // and connected() stays false.
    bool setDriverIndex(int index);
    int driverIndex() const;
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

signals:
    void errorOccurred(int number, const QString& description);
    void frameArrived();
    void statusChanged(const QString& text);

private:
    struct Private;
    std::unique_ptr<Private> d;
};
