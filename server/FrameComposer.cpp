#include "server/FrameComposer.h"

#include "capture/Capture.h"
#include "image/FrameBuffer.h"
#include "image/JpegEncoder.h"
#include "server/ConnectionProtocol.h"

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

void FrameComposer::refreshTexts(const Request& r)
{
    // Seconds since the epoch need no time zone; the local time is made only
    // when the second changes.
    const qint64 second = m_clock ? m_clock().toSecsSinceEpoch() : QDateTime::currentSecsSinceEpoch();
    const int count = r.templates ? std::min<int>(r.labelCount, int(r.templates->size())) : 0;
    if (second == m_textSecond && r.generation == m_textGeneration && count == m_textCount)
        return;
    m_textSecond = second;
    m_textGeneration = r.generation;
    m_textCount = count;
    m_textTime = now();
    QStringList texts;
    texts.reserve(count);
    for (int i = 0; i < count; ++i)
        texts.append(captionText(r.templates->at(i).caption, m_textTime));
    if (texts != m_texts) {
        m_texts = std::move(texts);
        ++m_textSerial;
    }
}

const FrameComposer::Answer& FrameComposer::compose(const Request& r, QString* error)
{
    auto failed = [&](const QString& why) -> const Answer& {
        m_valid = false;
        m_answer.bytes = request::frameHeader(0);
        m_answer.headerSize = m_answer.bytes.size();
        if (error)
            *error = why;
        return m_answer;
    };
    if (r.size.isEmpty())
        return failed(QStringLiteral("no frame size"));
    if (r.capture)
        r.capture->grabFrame();
    refreshTexts(r);

    Key key;
    key.serial = r.capture ? r.capture->frameSerial() : 0;
    key.size = r.size;
    key.stretch = r.stretch;
    key.texts = m_textSerial;
    key.generation = r.generation;
    key.quality = r.quality;
    if (m_valid && key == m_key)
        return m_answer;

    const QImage picture = composePicture(r, m_textTime);
    if (m_buffer.width() != r.size.width() || m_buffer.height() != r.size.height())
        m_buffer.create(r.size.width(), r.size.height());
    m_buffer.copyFrom(picture);
    QByteArray jpeg;
    try {
        jpeg = sharedJpegEncoder().encode(m_buffer, r.quality);
    } catch (const JpegError& e) {
        return failed(e.description);
    }
    ++m_encodes;
    // A new buffer each time: the last one may still sit in sockets' queues.
    QByteArray bytes = request::frameHeader(jpeg.size());
    const qsizetype headerSize = bytes.size();
    bytes.reserve(headerSize + jpeg.size());
    bytes.append(jpeg);
    m_answer.bytes = std::move(bytes);
    m_answer.headerSize = headerSize;
    m_answerTexts = m_texts;
    m_key = key;
    m_valid = true;
    return m_answer;
}
