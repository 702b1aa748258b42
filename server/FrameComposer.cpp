#include "server/FrameComposer.h"

#include "capture/Capture.h"
#include "image/JpegEncoder.h"
#include "image/FrameBuffer.h"

#include <QPainter>

QImage FrameComposer::composePicture(const Request& r, const QDateTime& now) const
{
    QImage picture(r.size, QImage::Format_RGB32);
    picture.fill(Qt::black);
    QPainter painter(&picture);
    if (r.capture) {
        const QImage frame = r.capture->frame();
        if (!frame.isNull()) {
            if (r.stretch)
                painter.drawImage(QRect(QPoint(0, 0), r.size), frame);
            else
                painter.drawImage(QPoint(0, 0), frame);
        }
    }
    if (r.templates) {
        const int n = std::min<int>(r.labelCount, int(r.templates->size()));
        for (int i = 0; i < n; ++i)
            drawLabel(painter, r.templates->at(i), now);
    }
    return picture;
}

QByteArray FrameComposer::compose(const Request& r, FrameBuffer& buffer, QString* error)
{
    if (r.size.isEmpty())
        return {};
    const QDateTime at = now();
    if (r.capture)
        r.capture->grabFrame();

    Key key;
    key.serial = r.capture ? r.capture->frameSerial() : 0;
    key.size = r.size;
    key.stretch = r.stretch;
    key.generation = r.generation;
    key.quality = r.quality;
    if (r.templates) {
        const int n = std::min<int>(r.labelCount, int(r.templates->size()));
        for (int i = 0; i < n; ++i)
            key.texts.append(captionText(r.templates->at(i).caption, at));
    }
    if (m_valid && key == m_key)
        return m_jpeg;

    const QImage picture = composePicture(r, at);
    if (buffer.width() != r.size.width() || buffer.height() != r.size.height())
        buffer.create(r.size.width(), r.size.height());
    buffer.copyFrom(picture);
    try {
        m_jpeg = sharedJpegEncoder().encode(buffer, r.quality);
    } catch (const JpegError& e) {
        m_valid = false;
        if (error)
            *error = e.description;
        return {};
    }
    ++m_encodes;
    m_key = std::move(key);
    m_valid = true;
    return m_jpeg;
}
