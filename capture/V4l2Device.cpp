#include "capture/V4l2Device.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int xioctl(int fd, unsigned long request, void* arg)
{
    int r;
    do
        r = ::ioctl(fd, request, arg);
    while (r < 0 && errno == EINTR);
    return r;
}

QString text(const __u8* s, size_t max)
{
    return QString::fromUtf8(reinterpret_cast<const char*>(s),
                             int(strnlen(reinterpret_cast<const char*>(s), max)));
}

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

} // namespace

V4l2Device::V4l2Device(QString path) : m_path(std::move(path)) {}

V4l2Device::~V4l2Device()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool V4l2Device::open()
{
    if (m_fd >= 0)
        return true;
    // Non-blocking and close-on-exec; a FIFO or other file posing as the node is refused below.
    const QByteArray name = QFile::encodeName(m_path);
    const int fd = ::open(name.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        m_error = QStringLiteral("Cannot open %1: %2").arg(m_path, systemError(errno));
        return false;
    }
    struct stat st = {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        ::close(fd);
        m_error = QStringLiteral("%1 is not a video device").arg(m_path);
        return false;
    }
    m_fd = fd;
    return true;
}

std::optional<V4l2Device::Info> V4l2Device::info()
{
    if (!open())
        return std::nullopt;
    v4l2_capability cap = {};
    if (xioctl(m_fd, VIDIOC_QUERYCAP, &cap) != 0) {
        m_error = QStringLiteral("%1 is not a video device: %2").arg(m_path, systemError(errno));
        return std::nullopt;
    }
    return Info{text(cap.card, sizeof cap.card), text(cap.bus_info, sizeof cap.bus_info),
                text(cap.driver, sizeof cap.driver)};
}

QList<V4l2Device::Format> V4l2Device::formats()
{
    QList<Format> out;
    if (!open())
        return out;
    auto add = [&out](const Format& f) {
        for (Format& o : out) {
            if (o.width == f.width && o.height == f.height && o.fps == f.fps) {
                o.jpeg = o.jpeg && f.jpeg; // raw wins: no decoding needed
                return;
            }
        }
        out.append(f);
    };
    v4l2_fmtdesc desc = {};
    desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    for (desc.index = 0; xioctl(m_fd, VIDIOC_ENUM_FMT, &desc) == 0 && desc.index < 64; ++desc.index) {
        const bool jpeg = desc.pixelformat == V4L2_PIX_FMT_MJPEG || desc.pixelformat == V4L2_PIX_FMT_JPEG;
        // Compressed streams other than JPEG (H.264...) are not opened as pictures.
        if (!jpeg && (desc.flags & V4L2_FMT_FLAG_COMPRESSED))
            continue;
        v4l2_frmsizeenum size = {};
        size.pixel_format = desc.pixelformat;
        for (size.index = 0; xioctl(m_fd, VIDIOC_ENUM_FRAMESIZES, &size) == 0 && size.index < 256;
             ++size.index) {
            // Stepwise sizes are not offered as fixed choices.
            if (size.type != V4L2_FRMSIZE_TYPE_DISCRETE)
                break;
            v4l2_frmivalenum rate = {};
            rate.pixel_format = desc.pixelformat;
            rate.width = size.discrete.width;
            rate.height = size.discrete.height;
            for (rate.index = 0; xioctl(m_fd, VIDIOC_ENUM_FRAMEINTERVALS, &rate) == 0 && rate.index < 64;
                 ++rate.index) {
                if (rate.type != V4L2_FRMIVAL_TYPE_DISCRETE || rate.discrete.numerator == 0)
                    break;
                const int fps = int(rate.discrete.denominator / rate.discrete.numerator);
                if (fps > 0)
                    add({int(size.discrete.width), int(size.discrete.height), fps, jpeg});
            }
        }
    }
    std::sort(out.begin(), out.end(), [](const Format& a, const Format& b) {
        const qint64 pa = qint64(a.width) * a.height, pb = qint64(b.width) * b.height;
        return pa != pb ? pa < pb : a.fps < b.fps;
    });
    if (out.isEmpty())
        m_error = QStringLiteral("%1 offers no picture sizes").arg(m_path);
    return out;
}

QList<V4l2Control> V4l2Device::controls()
{
    QList<V4l2Control> out;
    if (!open())
        return out;
    v4l2_query_ext_ctrl q = {};
    q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
    while (xioctl(m_fd, VIDIOC_QUERY_EXT_CTRL, &q) == 0) {
        const quint32 id = q.id;
        q.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
        if (q.flags & V4L2_CTRL_FLAG_DISABLED)
            continue;
        // Only what a picture dialog can offer: the user class, plain values.
        if (V4L2_CTRL_ID2WHICH(id) != V4L2_CTRL_CLASS_USER &&
            V4L2_CTRL_ID2WHICH(id) != V4L2_CTRL_CLASS_CAMERA)
            continue;
        V4l2Control c;
        switch (q.type) {
        case V4L2_CTRL_TYPE_INTEGER:
        case V4L2_CTRL_TYPE_INTEGER64:
            c.type = V4l2Control::Type::Integer;
            break;
        case V4L2_CTRL_TYPE_BOOLEAN:
            c.type = V4l2Control::Type::Boolean;
            break;
        case V4L2_CTRL_TYPE_MENU:
            c.type = V4l2Control::Type::Menu;
            break;
        case V4L2_CTRL_TYPE_INTEGER_MENU:
            c.type = V4l2Control::Type::IntegerMenu;
            break;
        case V4L2_CTRL_TYPE_BUTTON:
            c.type = V4l2Control::Type::Button;
            break;
        default:
            continue; // class headings, strings, compound values
        }
        if (q.elems != 1 && c.type != V4l2Control::Type::Button)
            continue;
        c.id = id;
        c.name = text(reinterpret_cast<const __u8*>(q.name), sizeof q.name);
        c.minimum = q.minimum;
        c.maximum = q.maximum;
        c.step = q.step ? qint64(q.step) : 1;
        c.defaultValue = q.default_value;
        c.readOnly = q.flags & (V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_GRABBED);
        c.inactive = q.flags & V4L2_CTRL_FLAG_INACTIVE;
        if (c.type == V4l2Control::Type::Menu || c.type == V4l2Control::Type::IntegerMenu) {
            for (qint64 i = q.minimum; i <= q.maximum && i - q.minimum < 256; ++i) {
                v4l2_querymenu m = {};
                m.id = id;
                m.index = __u32(i);
                if (xioctl(m_fd, VIDIOC_QUERYMENU, &m) != 0)
                    continue; // holes in a menu are allowed
                c.menu.append({i, c.type == V4l2Control::Type::Menu ? text(m.name, sizeof m.name)
                                                                    : QString::number(qint64(m.value))});
            }
        }
        if (c.type != V4l2Control::Type::Button) {
            if (const auto v = value(id))
                c.value = *v;
            else
                c.value = c.defaultValue;
        }
        out.append(c);
    }
    if (out.isEmpty())
        m_error = QStringLiteral("%1 offers no picture controls").arg(m_path);
    return out;
}

std::optional<qint64> V4l2Device::value(quint32 id)
{
    if (!open())
        return std::nullopt;
    const bool wide = is64(id);
    v4l2_ext_control c = {};
    c.id = id;
    v4l2_ext_controls cs = {};
    cs.which = V4L2_CTRL_WHICH_CUR_VAL;
    cs.count = 1;
    cs.controls = &c;
    if (xioctl(m_fd, VIDIOC_G_EXT_CTRLS, &cs) != 0) {
        m_error = systemError(errno);
        return std::nullopt;
    }
    return wide ? qint64(c.value64) : qint64(c.value);
}

bool V4l2Device::setValue(quint32 id, qint64 value)
{
    if (!open())
        return false;
    v4l2_ext_control c = {};
    c.id = id;
    if (is64(id))
        c.value64 = value;
    else
        c.value = qint32(std::clamp<qint64>(value, INT32_MIN, INT32_MAX));
    v4l2_ext_controls cs = {};
    cs.which = V4L2_CTRL_WHICH_CUR_VAL;
    cs.count = 1;
    cs.controls = &c;
    if (xioctl(m_fd, VIDIOC_S_EXT_CTRLS, &cs) != 0) {
        m_error = QStringLiteral("The device refused the value: %1").arg(systemError(errno));
        return false;
    }
    return true;
}

bool V4l2Device::is64(quint32 id)
{
    v4l2_query_ext_ctrl q = {};
    q.id = id;
    return xioctl(m_fd, VIDIOC_QUERY_EXT_CTRL, &q) == 0 && q.type == V4L2_CTRL_TYPE_INTEGER64;
}
