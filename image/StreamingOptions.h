#pragma once
// The streaming options: the server's port, the served frame size and the
// JPEG quality. The page edits copies; unload() stores them and hands the
// encoding choices to the running program for its next served frame (the
// port is taken when the server next starts listening). The size preview
// encodes in memory with the page's current choices.

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

class StreamingOptions
{
public:
    struct FrameSize
    {
        QString text; // as listed, "176 x 144"
        int code;     // resolution code, list position + 1
    };
    // The served frame sizes, in list order.
    static const QList<FrameSize>& frameSizes();

    static constexpr int MinQuality = 10;
    static constexpr int MaxQuality = 100;
    static constexpr int MaxPort = 65535;

    QString port = QStringLiteral("2156"); // the field's text: digits only
    bool resize = false;                   // "Use another resolution then source"
    int resolution = 0;                    // list position 0 to 5
    int quality = 20;

    // The page opens: every choice from the store.
    void load();
    // The page closes: an empty port becomes "0"; everything is written, and
    // the quality, the resize switch and the size code go to the running
    // program. A port above 65535 is not stored (the stored one stays) and
    // the message saying so is returned; otherwise the result is empty.
    QString unload();

    int frameSizeCode() const { return resolution + 1; }

    // What the port field keeps of typed or pasted text: its digits.
    static QString portDigits(const QString& text);
    // "15,5 KB": bytes / 1024 with a decimal comma, at most two decimals, cut.
    static QString sizeText(qint64 bytes);

    struct Preview
    {
        QByteArray jpeg; // empty when there was no frame or encoding failed
        QSize size;
        QString error;
    };
    // One frame encoded as it would be served, without labels: stretched to
    // the chosen size when resizing, otherwise at its own size.
    Preview preview(const QImage& frame) const;
};
