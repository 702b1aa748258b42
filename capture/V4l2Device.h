#pragma once
// A Video4Linux device node read and set through its own ioctls: what the
// device is (name, bus) and the picture controls it offers (brightness,
// contrast, exposure...). Controls apply at once, also while GStreamer
// streams from the same node.

#include <QList>
#include <QPair>
#include <QString>
#include <optional>

struct V4l2Control
{
    enum class Type { Integer, Boolean, Menu, IntegerMenu, Button };
    quint32 id = 0;
    QString name;
    Type type = Type::Integer;
    qint64 minimum = 0;
    qint64 maximum = 0;
    qint64 step = 1;
    qint64 defaultValue = 0;
    qint64 value = 0;
    QList<QPair<qint64, QString>> menu; // value and text, for the menu types
    bool readOnly = false;
    bool inactive = false; // e.g. manual exposure while automatic exposure is on
};

class V4l2Device
{
public:
    explicit V4l2Device(QString path);
    ~V4l2Device();
    V4l2Device(const V4l2Device&) = delete;
    V4l2Device& operator=(const V4l2Device&) = delete;

    // Opens the node without taking it from a program streaming from it.
    bool open();
    bool isOpen() const { return m_fd >= 0; }
    QString path() const { return m_path; }
    // Why the last call failed, for the user.
    QString error() const { return m_error; }

    struct Info
    {
        QString card;   // the device's own name
        QString bus;    // where it is plugged in, e.g. "usb-0000:00:14.0-1"
        QString driver; // e.g. "uvcvideo"
    };
    std::optional<Info> info();

    // Picture sizes and rates the device offers, smallest first, in the
    // formats the pipeline opens (raw pictures, or JPEG). Empty when it
    // cannot be asked.
    struct Format
    {
        int width = 0;
        int height = 0;
        int fps = 0;
        bool jpeg = false;
    };
    QList<Format> formats();

    // The user controls with their current values, in the device's order.
    // Empty (error() says why) when the device cannot be read.
    QList<V4l2Control> controls();
    std::optional<qint64> value(quint32 id);
    // Sets it now; false with error() when the device refuses.
    bool setValue(quint32 id, qint64 value);

private:
    bool is64(quint32 id);

    QString m_path;
    int m_fd = -1;
    QString m_error;
};
