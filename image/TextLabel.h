#pragma once
// Text labels stamped onto served frames: the record, its keys in section
// "Captions" of the settings, and the one routine that draws a label, shared
// by the label windows and the streaming engine's frame composer.
// Positions are in twips of the frame picture, 15 to a pixel.

#include <QColor>
#include <QDateTime>
#include <QFont>
#include <QObject>
#include <QSizeF>
#include <QString>
#include <QVector>

class QPainter;

struct TextLabel
{
    QString caption;
    QString fontName; // empty: the default font
    float fontSize = 12;
    bool bold = false, italic = false;
    qint32 color = 0; // 0x00BBGGRR
    float x = 1, y = 1;
    // "UL".."BR", or empty when none was chosen; only preselects the editor's
    // placement, x and y carry it.
    QString pos = QStringLiteral("UL");
};

namespace labels {
inline const QString Section = QStringLiteral("Captions");
// A label whose text is exactly this counts as deleted in the list window.
inline const QString DeletedMarker = QStringLiteral("[DeLeTeD]");
inline constexpr double TwipsPerPixel = 15.0;
// Labels read at most; a larger stored count is taken as this.
inline constexpr int MaxCount = 10000;
} // namespace labels

// Label n as stored; missing or unreadable values keep the record's defaults.
TextLabel loadTextLabel(int n);
// Labels 1 to Captions/Index (none when it is missing, negative or not a
// number; at most labels::MaxCount).
QVector<TextLabel> loadTextLabels();
// Writes the labels as 1, 2, 3 ... and "index" as the number written. Labels
// marked deleted are skipped. Every key of a label goes with it to its new
// number, its placement code included, so nothing of the label that had the
// number before is left behind. Returns that number.
int saveTextLabels(const QVector<TextLabel>& labels);
// The text of a single-precision number as the store keeps it ("12", "3.5").
QString formatSingle(float value);

// The caption to print: the current time for "$TIME$", the date and time for
// "$NOW$" (whole caption, any case), otherwise the caption itself.
QString captionText(const QString& caption, const QDateTime& now);
// The label's font: its size in points at 96 dots per inch, as pixels.
QFont labelFont(const TextLabel& label);
// Colour 0x00BBGGRR as a QColor-ready RGB value.
QRgb labelRgb(qint32 color);
// Prints the label with its text's top-left corner at (x/15, y/15) pixels.
void drawLabel(QPainter& painter, const TextLabel& label, const QDateTime& now);
// Width and height of the text the label prints at `now` in its font, in
// twips: a clock is placed by the time it shows, not by its token.
QSizeF labelExtentTwips(const TextLabel& label, const QDateTime& now);

// Tells the streaming engine to reload its label templates.
class LabelEvents : public QObject
{
    Q_OBJECT
signals:
    void reloadRequested();
};
LabelEvents& labelEvents();
