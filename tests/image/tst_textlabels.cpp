// Text labels: their storage in section "Captions", the list's renumbering on
// close, the placement arithmetic, the time tokens and the drawing.

#include "image/LabelList.h"
#include "image/TextLabel.h"
#include "shell/Globals.h"
#include "shell/Settings.h"
#include "tests/support/TestEnvironment.h"

#include <QFile>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString S = QStringLiteral("Captions");

void store(const QList<QPair<QString, QString>>& values)
{
    for (const auto& [k, v] : values)
        SaveSetting(S, k, v);
}

// Stores labels 1..n with recognisable values.
void storeLabels(int n)
{
    static const char* const codes[] = {"UL", "UC", "UR", "BL", "BC", "BR"};
    SaveSetting(S, QStringLiteral("Index"), QString::number(n));
    for (int i = 1; i <= n; ++i) {
        const QString p = QString::number(i);
        store({{p + "caption", "Label " + p},
               {p + "pos", codes[i % 6]},
               {p + "color", QString::number(i * 1000)},
               {p + "font", "Face" + p},
               {p + "fontsize", QString::number(10 + i)},
               {p + "fontbold", i % 2 ? "True" : "False"},
               {p + "fontitalic", i % 2 ? "False" : "True"},
               {p + "x", QString::number(i * 100)},
               {p + "y", QString::number(i * 10) + ".5"}});
    }
}

QStringList settingsLinesWithoutIndex()
{
    settingsStore().flush(); // writes are batched until the event loop runs
    QFile f(settingsStore().path());
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList out;
    for (const QString& line : QString::fromUtf8(f.readAll()).split(u'\n'))
        if (!line.startsWith(QLatin1String("index="), Qt::CaseInsensitive))
            out << line;
    return out;
}

} // namespace

class TestTextLabels : public QObject
{
    Q_OBJECT
private:
    int m_run = 0;

private slots:
    void init()
    {
        resetGlobals();
        setSettingsPath(testenv::root() + QStringLiteral("/settings-%1.ini").arg(++m_run));
    }

    void missingRecordHasDefaults()
    {
        const TextLabel l = loadTextLabel(7);
        QCOMPARE(l.caption, QString());
        QCOMPARE(l.fontName, QString());
        QCOMPARE(l.fontSize, 12.0f);
        QCOMPARE(l.bold, false);
        QCOMPARE(l.italic, false);
        QCOMPARE(l.color, 0);
        QCOMPARE(l.x, 1.0f);
        QCOMPARE(l.y, 1.0f);
        QCOMPARE(l.pos, QStringLiteral("UL"));
    }

    void boldWithoutSizeComesBackBoldAtTwelve()
    {
        store({{"Index", "2"}, {"2fontbold", "True"}});
        const QVector<TextLabel> all = loadTextLabels();
        QCOMPARE(all.size(), 2);
        QVERIFY(all[1].bold);
        QCOMPARE(all[1].fontSize, 12.0f);
        QVERIFY(!all[0].bold);
    }

    void storedValuesReadBack()
    {
        store({{"Index", "1"},
               {"1caption", "Hello"},
               {"1font", "DejaVu Sans"},
               {"1fontsize", "9.75"},
               {"1fontbold", "False"},
               {"1fontitalic", "True"},
               {"1color", "16711680"},
               {"1x", "1450"},
               {"1y", "-20.5"},
               {"1pos", "BR"}});
        const TextLabel l = loadTextLabel(1);
        QCOMPARE(l.caption, QStringLiteral("Hello"));
        QCOMPARE(l.fontName, QStringLiteral("DejaVu Sans"));
        QCOMPARE(l.fontSize, 9.75f);
        QCOMPARE(l.italic, true);
        QCOMPARE(l.color, 0xFF0000);
        QCOMPARE(l.x, 1450.0f);
        QCOMPARE(l.y, -20.5f);
        QCOMPARE(l.pos, QStringLiteral("BR"));
    }

    void invalidValuesKeepDefaults_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("size not a number") << "1fontsize"
                                           << "big";
        QTest::newRow("bold not a boolean") << "1fontbold"
                                            << "maybe";
        QTest::newRow("colour not a number") << "1color"
                                             << "red";
        QTest::newRow("x empty") << "1x"
                                 << "";
        QTest::newRow("y garbage") << "1y"
                                   << "12px";
    }
    void invalidValuesKeepDefaults()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        store({{"Index", "1"}, {key, value}});
        const TextLabel l = loadTextLabel(1);
        const TextLabel def;
        QCOMPARE(l.fontSize, def.fontSize);
        QCOMPARE(l.bold, def.bold);
        QCOMPARE(l.color, def.color);
        QCOMPARE(l.x, def.x);
        QCOMPARE(l.y, def.y);
    }

    void indexDecidesHowManyAreLive_data()
    {
        QTest::addColumn<QString>("index");
        QTest::addColumn<int>("count");
        QTest::newRow("missing") << QString() << 0;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("negative") << "-3" << 0;
        QTest::newRow("not a number") << "three" << 0;
        QTest::newRow("two of three") << "2" << 2;
        QTest::newRow("damaged, huge") << "2147483647" << labels::MaxCount;
    }
    void indexDecidesHowManyAreLive()
    {
        QFETCH(QString, index);
        QFETCH(int, count);
        storeLabels(3);
        if (index.isNull())
            setSettingsPath(testenv::root() + QStringLiteral("/settings-%1.ini").arg(++m_run));
        else
            SaveSetting(S, "Index", index);
        QCOMPARE(loadTextLabels().size(), count);
        LabelList list;
        list.load();
        QCOMPARE(list.count(), count);
        QCOMPARE(list.highestNumber(), count);
    }

    void formatSingleRoundTrips_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 12.0f << "12";
        QTest::newRow("half") << 3.5f << "3.5";
        QTest::newRow("negative") << -1450.0f << "-1450";
        QTest::newRow("tenth") << 0.1f << "0.1";
        QTest::newRow("third") << float(50.0 / 3) << "16.666666";
    }
    void formatSingleRoundTrips()
    {
        QFETCH(float, value);
        QFETCH(QString, text);
        QCOMPARE(formatSingle(value), text);
        QCOMPARE(float(text.toDouble()), value);
    }

    void closeRenumbersLiveLabels()
    {
        storeLabels(3);
        LabelList list;
        list.load();
        QCOMPARE(list.count(), 3);
        QCOMPARE(list.entryText(2), QStringLiteral("Label 3"));
        QVERIFY(list.remove(1)); // label 2
        QCOMPARE(list.numberAt(1), 3);
        QCOMPARE(list.label(2).caption, QStringLiteral("[DeLeTeD]"));
        QVERIFY(list.close());

        QCOMPARE(GetSetting(S, "index"), QStringLiteral("2"));
        const TextLabel first = loadTextLabel(1);
        QCOMPARE(first.caption, QStringLiteral("Label 1"));
        QCOMPARE(first.pos, QStringLiteral("UC"));
        const TextLabel second = loadTextLabel(2); // was 3: every key moved
        QCOMPARE(second.caption, QStringLiteral("Label 3"));
        QCOMPARE(second.color, 3000);
        QCOMPARE(second.fontName, QStringLiteral("Face3"));
        QCOMPARE(second.fontSize, 13.0f);
        QCOMPARE(second.bold, true);
        QCOMPARE(second.italic, false);
        QCOMPARE(second.x, 300.0f);
        QCOMPARE(second.y, 30.5f);
        // The placement code too, so the editor preselects what the user chose.
        QCOMPARE(second.pos, QStringLiteral("BL"));
        // The old record 3 stays but is no longer live.
        QCOMPARE(GetSetting(S, "3caption"), QStringLiteral("Label 3"));
        QCOMPARE(loadTextLabels().size(), 2);
    }

    void labelTypedAsDeletedMarkerIsNotSaved()
    {
        storeLabels(3);
        LabelList list;
        list.load();
        list.label(1).caption = QStringLiteral("[DeLeTeD]"); // typed by the user
        QVERIFY(list.close());
        // The index counts what was written, so no stale record becomes live.
        QCOMPARE(GetSetting(S, "index"), QStringLiteral("2"));
        const QVector<TextLabel> all = loadTextLabels();
        QCOMPARE(all.size(), 2);
        QCOMPARE(all[0].caption, QStringLiteral("Label 2"));
        QCOMPARE(all[1].caption, QStringLiteral("Label 3"));
    }

    void deletingAllWritesIndexZeroOnly()
    {
        storeLabels(2);
        const QStringList before = settingsLinesWithoutIndex();
        LabelList list;
        list.load();
        QVERIFY(list.remove(0));
        QVERIFY(list.remove(0));
        QVERIFY(!list.remove(0));
        QVERIFY(list.close());
        QCOMPARE(GetSetting(S, "Index"), QStringLiteral("0"));
        QCOMPARE(settingsLinesWithoutIndex(), before);
    }

    void addNumbersAboveTheHighest()
    {
        LabelList list;
        list.load();
        QCOMPARE(list.count(), 0);
        QCOMPARE(list.add(), 1);
        QCOMPARE(list.entryText(0), QStringLiteral("Text label 1"));
        QCOMPARE(list.label(1).caption, QStringLiteral("Text label 1"));
        QCOMPARE(list.label(1).x, 0.0f);
        QCOMPARE(list.label(1).y, 0.0f);
        QCOMPARE(list.add(), 2);
        QVERIFY(list.remove(1));
        // Deleted labels keep their number until the window closes.
        QCOMPARE(list.add(), 3);
        QCOMPARE(list.rowOf(3), 1);
        QCOMPARE(list.rowOf(2), -1);
        QVERIFY(list.close());
        QCOMPARE(GetSetting(S, "index"), QStringLiteral("2"));
        QCOMPARE(GetSetting(S, "2caption"), QStringLiteral("Text label 3"));
        QCOMPARE(GetSetting(S, "2x"), QStringLiteral("0"));
    }

    void closeRespectsProgramModeAndOnlineSwitch_data()
    {
        QTest::addColumn<bool>("alt");
        QTest::addColumn<bool>("online");
        QTest::newRow("normal, offline") << false << false;
        QTest::newRow("normal, online") << false << true;
        QTest::newRow("alternative mode, online") << true << true;
    }
    void closeRespectsProgramModeAndOnlineSwitch()
    {
        QFETCH(bool, alt);
        QFETCH(bool, online);
        globals().ProgramModeAlt = alt;
        globals().OnlineSwitch = online;
        QSignalSpy reload(&labelEvents(), &LabelEvents::reloadRequested);
        LabelList list;
        list.load();
        list.add();
        QCOMPARE(list.close(), !alt);
        QCOMPARE(GetSetting(S, "index", "unset"), alt ? QStringLiteral("unset") : QStringLiteral("1"));
        QCOMPARE(reload.count(), online ? 1 : 0);
    }

    void placement_data()
    {
        QTest::addColumn<QString>("code");
        QTest::addColumn<double>("labelWidth");
        QTest::addColumn<float>("x");
        QTest::addColumn<float>("y");
        // Picture 2400 x 1800 twips (160 x 120 pixels), label height 195.
        QTest::newRow("UL") << "UL" << 900.0 << 50.0f << 20.0f;
        QTest::newRow("UC") << "UC" << 900.0 << 750.0f << 20.0f;
        QTest::newRow("UR") << "UR" << 900.0 << 1450.0f << 20.0f;
        QTest::newRow("BL") << "BL" << 900.0 << 50.0f << 1585.0f;
        QTest::newRow("BC") << "BC" << 900.0 << 750.0f << 1585.0f;
        QTest::newRow("BR") << "BR" << 900.0 << 1450.0f << 1585.0f;
        QTest::newRow("UC, wider than picture") << "UC" << 3001.0 << -300.5f << 20.0f;
        QTest::newRow("UR, wider than picture") << "UR" << 3000.0 << -650.0f << 20.0f;
        QTest::newRow("BC, wider than picture") << "BC" << 3000.0 << -300.0f << 1585.0f;
        QTest::newRow("BR, wider than picture") << "BR" << 3000.0 << -650.0f << 1585.0f;
    }
    void placement()
    {
        QFETCH(QString, code);
        QFETCH(double, labelWidth);
        QFETCH(float, x);
        QFETCH(float, y);
        float gotX = 7, gotY = 7;
        QVERIFY(placeLabel(code, 2400, 1800, labelWidth, 195, gotX, gotY));
        QCOMPARE(gotX, x);
        QCOMPARE(gotY, y);
    }
    void placementOfUnknownCodeChangesNothing()
    {
        float x = 7, y = 8;
        QVERIFY(!placeLabel(QString(), 2400, 1800, 900, 195, x, y));
        QVERIFY(!placeLabel(QStringLiteral("ul"), 2400, 1800, 900, 195, x, y));
        QCOMPARE(x, 7.0f);
        QCOMPARE(y, 8.0f);
    }

    void captionTokens_data()
    {
        // The test runs in the C locale: its short date, then the long time
        // without its time zone.
        const QString time = QStringLiteral("13:05:09");
        const QString both = QStringLiteral("4 Mar 2026 13:05:09");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("printed");
        QTest::newRow("$TIME$") << "$TIME$" << time;
        QTest::newRow("lower case") << "$time$" << time;
        QTest::newRow("$NOW$") << "$NOW$" << both;
        QTest::newRow("mixed case") << "$Now$" << both;
        QTest::newRow("after other text") << "x $TIME$"
                                          << "x $TIME$";
        QTest::newRow("trailing space") << "$TIME$ "
                                        << "$TIME$ ";
        QTest::newRow("plain") << "Hello"
                               << "Hello";
    }
    void captionTokens()
    {
        QFETCH(QString, caption);
        QFETCH(QString, printed);
        const QDateTime now(QDate(2026, 3, 4), QTime(13, 5, 9));
        QCOMPARE(captionText(caption, now), printed);
        QCOMPARE(captionText("$TIME$", now), QStringLiteral("13:05:09"));
    }

    void fontIsSizedAtNinetySixDpi_data()
    {
        QTest::addColumn<float>("points");
        QTest::addColumn<int>("pixels");
        QTest::newRow("12 pt") << 12.0f << 16;
        QTest::newRow("9 pt") << 9.0f << 12;
        QTest::newRow("10 pt") << 10.0f << 13;
        QTest::newRow("24 pt") << 24.0f << 32;
        QTest::newRow("tiny") << 0.1f << 1;
        QTest::newRow("negative") << -5.0f << 1;
        QTest::newRow("huge") << 1e30f << 4096;
    }
    void fontIsSizedAtNinetySixDpi()
    {
        QFETCH(float, points);
        QFETCH(int, pixels);
        TextLabel l;
        l.fontSize = points;
        l.bold = true;
        const QFont f = labelFont(l);
        QCOMPARE(f.pixelSize(), pixels);
        QVERIFY(f.bold());
        l.caption = QStringLiteral("Wide text");
        const QSizeF extent = labelExtentTwips(l, QDateTime::currentDateTime());
        QVERIFY(extent.width() > 0);
        QCOMPARE(std::fmod(extent.width(), 15.0), 0.0);
    }

    void extentIsThatOfThePrintedText_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("printed");
        QTest::newRow("$TIME$") << "$TIME$"
                                << "13:05:09";
        QTest::newRow("$NOW$") << "$NOW$"
                               << "4 Mar 2026 13:05:09";
        QTest::newRow("$now$") << "$now$"
                               << "4 Mar 2026 13:05:09";
        QTest::newRow("plain") << "$TIME$ x"
                               << "$TIME$ x";
    }
    void extentIsThatOfThePrintedText()
    {
        QFETCH(QString, caption);
        QFETCH(QString, printed);
        const QDateTime now(QDate(2026, 3, 4), QTime(13, 5, 9));
        TextLabel token;
        token.caption = caption;
        token.fontSize = 16;
        TextLabel text = token;
        text.caption = printed;
        QCOMPARE(labelExtentTwips(token, now), labelExtentTwips(text, now));

        // Placed at the bottom right of a 320 x 240 picture, the printed text
        // keeps its margin.
        float x = 0, y = 0;
        const QSizeF extent = labelExtentTwips(token, now);
        QVERIFY(placeLabel(QStringLiteral("BR"), 4800, 3600, extent.width(), extent.height(), x, y));
        token.x = x;
        token.y = y;
        QImage img(320, 240, QImage::Format_RGB32);
        img.fill(Qt::white);
        {
            QPainter p(&img);
            drawLabel(p, token, now);
        }
        int right = -1;
        for (int yy = 0; yy < img.height(); ++yy)
            for (int xx = 0; xx < img.width(); ++xx)
                if (img.pixel(xx, yy) != qRgb(255, 255, 255))
                    right = std::max(right, xx);
        QVERIFY2(right > 200 && right < 320 - 3, qPrintable(QString::number(right)));
    }

    void printsAtTwipPositionInItsColour_data()
    {
        QTest::addColumn<qint32>("color");
        QTest::addColumn<QRgb>("rgb");
        QTest::newRow("red is the low byte") << qint32(0x0000FF) << qRgb(255, 0, 0);
        QTest::newRow("blue is the high byte") << qint32(0xFF0000) << qRgb(0, 0, 255);
        QTest::newRow("green") << qint32(0x00FF00) << qRgb(0, 255, 0);
    }
    void printsAtTwipPositionInItsColour()
    {
        QFETCH(qint32, color);
        QFETCH(QRgb, rgb);
        QImage img(200, 100, QImage::Format_RGB32);
        img.fill(Qt::white);
        TextLabel l;
        l.caption = QStringLiteral("HHHH");
        l.fontSize = 24;
        l.bold = true;
        l.color = color;
        l.x = 300; // 20 pixels
        l.y = 150; // 10 pixels
        {
            QPainter p(&img);
            drawLabel(p, l, QDateTime::currentDateTime());
        }
        int minX = 1000, minY = 1000, maxY = -1;
        bool pure = false;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QRgb c = img.pixel(x, y);
                if (c == qRgb(255, 255, 255))
                    continue;
                minX = std::min(minX, x);
                minY = std::min(minY, y);
                maxY = std::max(maxY, y);
                pure = pure || c == rgb;
            }
        QVERIFY2(minX >= 20 && minX <= 24, qPrintable(QString::number(minX)));
        // The text's top, not its baseline, sits at y: the glyphs start below 10
        // within the line's ascent gap and reach well down.
        QVERIFY2(minY >= 10 && minY <= 20, qPrintable(QString::number(minY)));
        QVERIFY2(maxY >= 25 && maxY <= 10 + 40, qPrintable(QString::number(maxY)));
        QVERIFY(pure);
    }
};

VANTORA_TEST_MAIN(TestTextLabels)
#include "tst_textlabels.moc"
