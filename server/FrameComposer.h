#pragma once
// Makes the answer a frame request gets: the newest camera frame at the
// served size, the text labels on top, encoded at the configured quality, all
// in memory, behind the seven header lines. The last answer is kept whole in
// one shared, never changed buffer: a request whose inputs (camera frame,
// size, label texts, label templates, quality) match it gets the same buffer
// without drawing, encoding or copying again, so any number of clients
// watching one camera cost one encode per frame.

#include <QByteArray>
#include <QDateTime>
#include <QImage>
#include <QList>
#include <QSize>
#include <QStringList>
#include <functional>

#include "image/FrameBuffer.h"
#include "image/TextLabel.h"

class Capture;

class FrameComposer
{
public:
    using Clock = std::function<QDateTime()>;

    struct Request
    {
        Capture* capture = nullptr;
        QSize size;           // served size in pixels
        bool stretch = false; // paint the frame stretched to `size`
        const QList<TextLabel>* templates = nullptr;
        int labelCount = 0;     // labels 1..labelCount are drawn
        quint64 generation = 0; // changes whenever the templates are reloaded
        int quality = 20;
    };

    // Header and JPEG in one buffer; written to sockets as it is (shared).
    struct Answer
    {
        QByteArray bytes;
        qsizetype headerSize = 0;
        QByteArray header() const { return bytes.first(headerSize); }
        QByteArray jpeg() const { return bytes.sliced(headerSize); }
    };

    // The answer for the request. When the picture cannot be made, the
    // header says a length of 0 and `error` (if given) says why.
    const Answer& compose(const Request& request, QString* error = nullptr);

    // The composed picture alone, before encoding (no cache).
    QImage composePicture(const Request& request, const QDateTime& now) const;

    void setClock(Clock clock)
    {
        m_clock = std::move(clock);
        m_textSecond = -1;
    }
    QDateTime now() const { return m_clock ? m_clock() : QDateTime::currentDateTime(); }
    void invalidate() { m_valid = false; }
    // How many pictures were composed and encoded (the rest came from the cache).
    quint64 encodeCount() const { return m_encodes; }
    // The label texts of the last picture served, as printed.
    QStringList lastTexts() const { return m_valid ? m_answerTexts : QStringList(); }

private:
    struct Key
    {
        quint64 serial = 0;
        QSize size;
        bool stretch = false;
        quint64 texts = 0; // m_textSerial of the label texts drawn
        quint64 generation = 0;
        int quality = 0;
        bool operator==(const Key&) const = default;
    };

    // The label texts, made anew only when the second, the templates or the
    // count changed: the local time is looked up once a second, not per request.
    void refreshTexts(const Request& request);

    Clock m_clock;
    qint64 m_textSecond = -1;
    quint64 m_textGeneration = 0;
    int m_textCount = -1;
    QDateTime m_textTime;
    QStringList m_texts;
    quint64 m_textSerial = 0;

    FrameBuffer m_buffer; // the one buffer composing needs
    Key m_key;
    Answer m_answer;
    QStringList m_answerTexts;
    bool m_valid = false;
    quint64 m_encodes = 0;
};
