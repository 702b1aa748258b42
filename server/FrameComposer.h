#pragma once
// Makes the JPEG a frame request is answered with: the newest camera frame at
// the served size, the text labels on top, encoded at the configured quality,
// all in memory. The last result is kept: a request whose inputs (camera
// frame, size, label texts, label templates, quality) match it gets the same
// bytes without drawing or encoding again, so any number of clients watching
// one camera cost one encode per frame.

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QSize>
#include <QStringList>
#include <functional>

#include "image/TextLabel.h"

class Capture;
class FrameBuffer;

class FrameComposer
{
public:
    using Clock = std::function<QDateTime()>;

    struct Request
    {
        Capture* capture = nullptr;
        QSize size;              // served size in pixels
        bool stretch = false;    // paint the frame stretched to `size`
        const QList<TextLabel>* templates = nullptr;
        int labelCount = 0;      // labels 1..labelCount are drawn
        quint64 generation = 0;  // changes whenever the templates are reloaded
        int quality = 20;
    };

    // The JPEG for the request; `buffer` is the caller's frame buffer, used
    // when the picture has to be composed anew. Empty when encoding failed
    // (then `error` says why).
    QByteArray compose(const Request& request, FrameBuffer& buffer, QString* error = nullptr);

    // The composed picture alone, before encoding (no cache).
    QImage composePicture(const Request& request, const QDateTime& now) const;

    void setClock(Clock clock) { m_clock = std::move(clock); }
    QDateTime now() const { return m_clock ? m_clock() : QDateTime::currentDateTime(); }
    void invalidate() { m_valid = false; }
    // How many pictures were composed and encoded (the rest came from the cache).
    quint64 encodeCount() const { return m_encodes; }
    // The label texts of the last picture served, as printed.
    QStringList lastTexts() const { return m_valid ? m_key.texts : QStringList(); }

private:
    struct Key
    {
        quint64 serial = 0;
        QSize size;
        bool stretch = false;
        QStringList texts;
        quint64 generation = 0;
        int quality = 0;
        bool operator==(const Key&) const = default;
    };

    Clock m_clock;
    Key m_key;
    QByteArray m_jpeg;
    bool m_valid = false;
    quint64 m_encodes = 0;
};
