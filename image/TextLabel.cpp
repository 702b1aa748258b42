#include "image/TextLabel.h"

#include "shell/Settings.h"

#include <QFontMetricsF>
#include <QHash>
#include <QLocale>
#include <QPainter>
#include <charconv>
#include <cmath>
#include <unordered_map>

namespace {

QString key(int n, const char* field) { return QString::number(n) + QLatin1String(field); }

QString boolText(bool b) { return b ? QStringLiteral("True") : QStringLiteral("False"); }

// A stored single; one that is not a finite single-precision number keeps the default.
float readSingle(int n, const char* field, float def)
{
    const double v = Settings::instance().realValue(labels::Section, key(n, field), def);
    return std::isfinite(v) && std::fabs(v) <= 3.4e38 ? float(v) : def;
}

int pixelSizeFor(float points)
{
    // Points at 96 dpi, rounded to whole pixels as the character height; kept
    // to sizes a font can be made in.
    const double px = std::clamp(double(points) * 96.0 / 72.0, 1.0, 4096.0);
    return int(std::lround(px));
}

// The regional long time format without its time-zone part: a frame shows the
// clock as the user reads it.
QString longTimeFormat(const QLocale& locale)
{
    const QString f = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (QChar c : f) {
        if (c == u'\'')
            quoted = !quoted;
        if (!quoted && c == u't') {
            while (out.endsWith(u' '))
                out.chop(1);
            continue;
        }
        out += c;
    }
    return out.trimmed();
}

} // namespace

TextLabel loadTextLabel(int n)
{
    TextLabel l;
    const QString& s = labels::Section;
    const Settings& settings = Settings::instance();
    l.fontName = settings.value(s, key(n, "font"));
    l.fontSize = readSingle(n, "fontsize", 12);
    l.bold = settings.boolValue(s, key(n, "fontbold"), false);
    l.italic = settings.boolValue(s, key(n, "fontitalic"), false);
    l.color = settings.intValue(s, key(n, "color"), 0);
    l.x = readSingle(n, "x", 1);
    l.y = readSingle(n, "y", 1);
    l.caption = settings.value(s, key(n, "caption"));
    l.pos = settings.value(s, key(n, "pos"), QStringLiteral("UL"));
    return l;
}

QVector<TextLabel> loadTextLabels()
{
    QVector<TextLabel> out;
    // A damaged count must not make the program build labels for ever.
    const int count = std::min(Settings::instance().get(setting::LabelCount), labels::MaxCount);
    for (int n = 1; n <= count; ++n)
        out.append(loadTextLabel(n));
    return out;
}

int saveTextLabels(const QVector<TextLabel>& list)
{
    int live = 0;
    for (const TextLabel& l : list)
        if (l.caption != labels::DeletedMarker)
            ++live;
    const QString& s = labels::Section;
    Settings& settings = Settings::instance();
    settings.set(setting::LabelCount, live);
    int n = 0;
    for (const TextLabel& l : list) {
        if (l.caption == labels::DeletedMarker)
            continue;
        ++n;
        settings.setValue(s, key(n, "caption"), l.caption);
        settings.setValue(s, key(n, "color"), QString::number(l.color));
        settings.setValue(s, key(n, "font"), l.fontName);
        settings.setValue(s, key(n, "fontsize"), formatSingle(l.fontSize));
        settings.setValue(s, key(n, "fontbold"), boolText(l.bold));
        settings.setValue(s, key(n, "fontitalic"), boolText(l.italic));
        settings.setValue(s, key(n, "x"), formatSingle(l.x));
        settings.setValue(s, key(n, "y"), formatSingle(l.y));
        settings.setValue(s, key(n, "pos"), l.pos);
    }
    return n;
}

QString formatSingle(float value)
{
    // Shortest text that reads back as the same single-precision value.
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, value);
    return QString::fromLatin1(buf, int(res.ptr - buf));
}

QString captionText(const QString& caption, const QDateTime& now)
{
    const bool time = caption.compare(QLatin1String("$TIME$"), Qt::CaseInsensitive) == 0;
    const bool both = !time && caption.compare(QLatin1String("$NOW$"), Qt::CaseInsensitive) == 0;
    if (!time && !both)
        return caption;
    const QLocale locale = QLocale::system();
    const QString clock = locale.toString(now.time(), longTimeFormat(locale));
    if (time)
        return clock;
    return locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ') + clock;
}

QFont labelFont(const TextLabel& label)
{
    // Every served frame prints every label: keep the fonts once made.
    struct Key
    {
        QString name;
        int pixels;
        bool bold, italic;
        bool operator==(const Key&) const = default;
    };
    struct KeyHash
    {
        size_t operator()(const Key& k) const
        {
            return qHash(k.name) ^ (size_t(k.pixels) << 2) ^ (k.bold ? 1 : 0) ^ (k.italic ? 2 : 0);
        }
    };
    // Never destroyed: fonts must not outlive the application object.
    static auto& cache = *new std::unordered_map<Key, QFont, KeyHash>;
    const Key k{label.fontName, pixelSizeFor(label.fontSize), label.bold, label.italic};
    auto it = cache.find(k);
    if (it != cache.end())
        return it->second;
    QFont f;
    if (!label.fontName.isEmpty())
        f.setFamily(label.fontName);
    f.setPixelSize(k.pixels);
    f.setBold(label.bold);
    f.setItalic(label.italic);
    if (cache.size() > 64)
        cache.clear();
    cache.emplace(k, f);
    return f;
}

QRgb labelRgb(qint32 color)
{
    const quint32 c = quint32(color);
    return qRgb(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF));
}

static QPointF topLeftPixels(const TextLabel& label)
{
    return QPointF(std::round(label.x / labels::TwipsPerPixel), std::round(label.y / labels::TwipsPerPixel));
}

void drawLabel(QPainter& painter, const TextLabel& label, const QDateTime& now)
{
    const QString text = captionText(label.caption, now);
    if (text.isEmpty())
        return;
    painter.setFont(labelFont(label));
    painter.setPen(QColor(labelRgb(label.color)));
    const QPointF at = topLeftPixels(label);
    painter.drawText(QRectF(at, QSizeF(1e6, 1e6)), Qt::AlignLeft | Qt::AlignTop | Qt::TextDontClip, text);
}

QSizeF labelExtentTwips(const TextLabel& label, const QDateTime& now)
{
    const QFontMetricsF fm(labelFont(label));
    const QSizeF px = fm.size(0, captionText(label.caption, now));
    return QSizeF(std::ceil(px.width()) * labels::TwipsPerPixel,
                  std::ceil(px.height()) * labels::TwipsPerPixel);
}

LabelEvents& labelEvents()
{
    static LabelEvents events;
    return events;
}
