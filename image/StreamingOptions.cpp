#include "image/StreamingOptions.h"

#include "image/FrameBuffer.h"
#include "image/JpegEncoder.h"
#include "shell/Globals.h"
#include "shell/Settings.h"

#include <QPainter>

const QList<StreamingOptions::FrameSize>& StreamingOptions::frameSizes()
{
    static const QList<FrameSize> sizes = {
        {QStringLiteral("128 x 96"), 1},  {QStringLiteral("160 x 120"), 2}, {QStringLiteral("176 x 144"), 3},
        {QStringLiteral("240 x 180"), 4}, {QStringLiteral("320 x 240"), 5}, {QStringLiteral("352 x 288"), 6},
    };
    return sizes;
}

void StreamingOptions::load()
{
    const Settings& settings = Settings::instance();
    // Values the controls cannot show leave them at their first state.
    port = portDigits(
        settings.value(QStringLiteral("Streaming"), QStringLiteral("Port"), QStringLiteral("2156")));
    if (port.isEmpty())
        port = QStringLiteral("2156");
    resize = settings.boolValue(QStringLiteral("JPEG"), QStringLiteral("ResChange"), false);
    const int res = settings.intValue(QStringLiteral("JPEG"), QStringLiteral("Res"), 0);
    resolution = res >= 0 && res < frameSizes().size() ? res : 0;
    quality = qBound(MinQuality, settings.get(setting::JpegQuality), MaxQuality);
}

QString StreamingOptions::unload()
{
    if (port.isEmpty())
        port = QStringLiteral("0");
    Settings& settings = Settings::instance();
    QString error;
    bool ok = false;
    const qlonglong number = port.toLongLong(&ok);
    if (ok && number >= 0 && number <= MaxPort) {
        settings.set(setting::Port, int(number));
    } else {
        error = QStringLiteral("The port must be a number from 0 to %1. The port stays %2.")
                    .arg(MaxPort)
                    .arg(settings.get(setting::Port));
        port = QString::number(settings.get(setting::Port));
    }
    settings.set(setting::JpegQuality, quality);
    settings.setValue(QStringLiteral("JPEG"), QStringLiteral("ResChange"),
                      resize ? QStringLiteral("1") : QStringLiteral("0"));
    settings.set(setting::FrameSizeCode, frameSizeCode());
    settings.setValue(QStringLiteral("JPEG"), QStringLiteral("Res"), QString::number(resolution));

    Globals& g = globals();
    g.JpegQuality = quality;
    g.ResizeFrames = resize;
    g.FrameSizeCode = frameSizeCode();
    return error;
}

QString StreamingOptions::portDigits(const QString& text)
{
    QString digits;
    for (QChar c : text)
        if (c >= u'0' && c <= u'9')
            digits += c;
    return digits;
}

QString StreamingOptions::sizeText(qint64 bytes)
{
    // Whole hundredths of a kilobyte, counted exactly: cut, never rounded up.
    const qint64 hundredths = bytes * 100 / 1024;
    const qint64 whole = hundredths / 100;
    const int cents = int(hundredths % 100);
    QString text = QString::number(whole);
    if (cents != 0) {
        text += u',';
        text += cents % 10 == 0 ? QString::number(cents / 10)
                                : QStringLiteral("%1").arg(cents, 2, 10, QChar(u'0'));
    }
    return text + QStringLiteral(" KB");
}

StreamingOptions::Preview StreamingOptions::preview(const QImage& frame) const
{
    Preview result;
    if (frame.isNull()) {
        result.error = QStringLiteral("No camera frame");
        return result;
    }
    int w = 0, h = 0;
    QImage picture = frame;
    if (resize && FrameSizeForCode(frameSizeCode(), w, h)) {
        // Stretched as the server paints it.
        picture = QImage(w, h, QImage::Format_RGB32);
        QPainter painter(&picture);
        painter.drawImage(QRect(0, 0, w, h), frame);
    }
    FrameBuffer buffer;
    if (!buffer.createFrom(picture)) {
        result.error = QStringLiteral("Out of memory");
        return result;
    }
    try {
        result.jpeg = sharedJpegEncoder().encode(buffer, quality);
    } catch (const JpegError& e) {
        result.error = e.description;
        return result;
    }
    result.size = picture.size();
    return result;
}
