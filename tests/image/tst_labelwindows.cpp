// The label list window, the label editor and the dialog routines, driven
// through their controls.

#include "capture/Capture.h"
#include "capture/Prompt.h"
#include "image/Choosers.h"
#include "image/LabelEditor.h"
#include "image/LabelListWindow.h"
#include "shell/Globals.h"
#include "shell/Settings.h"
#include "tests/support/TestEnvironment.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDir>
#include <QFontDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

const QString S = QStringLiteral("Captions");

void storeLabels(const QStringList& captions)
{
    SaveSetting(S, QStringLiteral("Index"), QString::number(captions.size()));
    for (int i = 0; i < captions.size(); ++i)
        SaveSetting(S, QString::number(i + 1) + QStringLiteral("caption"), captions[i]);
}

QPushButton* button(QWidget* w, const char* name) { return w->findChild<QPushButton*>(QLatin1String(name)); }

QStringList listTexts(const LabelListWindow& f)
{
    QStringList out;
    for (int i = 0; i < f.list()->count(); ++i)
        out << f.list()->item(i)->text();
    return out;
}

void select(LabelListWindow& f, int row) { f.list()->setCurrentRow(row); }

// Columns and rows of the picture that printing the label touches, as a
// rectangle in pixels; empty when it prints nothing there.
QRect inkOf(const TextLabel& label, QSize picture)
{
    QImage img(picture, QImage::Format_RGB32);
    img.fill(Qt::white);
    {
        QPainter p(&img);
        drawLabel(p, label, QDateTime::currentDateTime());
    }
    QRect ink;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (img.pixel(x, y) != qRgb(255, 255, 255))
                ink |= QRect(x, y, 1, 1);
    return ink;
}

} // namespace

class TestLabelWindows : public QObject
{
    Q_OBJECT
private:
    int m_run = 0;

private slots:
    void init()
    {
        resetGlobals();
        globals().TempDir = testenv::root() + QStringLiteral("/tmp/");
        setSettingsPath(testenv::root() + QStringLiteral("/settings-%1.ini").arg(++m_run));
    }

    void listWindowShowsStoredLabels()
    {
        storeLabels({"One", "$TIME$", "Three"});
        LabelListWindow f;
        QCOMPARE(f.windowTitle(), QStringLiteral("Font Settings"));
        QCOMPARE(f.findChild<QGroupBox*>()->title(), QStringLiteral("Text-On-Image"));
        QCOMPARE(button(&f, "addButton")->text(), QStringLiteral("Add new Text label"));
        QCOMPARE(button(&f, "deleteButton")->text(), QStringLiteral("Delete Text label"));
        QCOMPARE(button(&f, "editButton")->text(), QStringLiteral("Edit Text label"));
        QCOMPARE(listTexts(f), (QStringList{"One", "$TIME$", "Three"}));
        // Without a frame the picture keeps a usable size.
        QVERIFY(f.pictureSizeTwips().width() > 0);
    }

    void buttonsAddDeleteAndEditByEntry()
    {
        storeLabels({"One", "Two", "Three"});
        LabelListWindow f;
        button(&f, "deleteButton")->click(); // nothing selected: nothing happens
        QCOMPARE(f.list()->count(), 3);
        select(f, 0);
        button(&f, "deleteButton")->click();
        QCOMPARE(listTexts(f), (QStringList{"Two", "Three"}));
        button(&f, "addButton")->click();
        QCOMPARE(listTexts(f), (QStringList{"Two", "Three", "Text label 4"}));

        // Entries stay tied to their labels after deletions and additions.
        select(f, 1);
        button(&f, "editButton")->click();
        QVERIFY(f.editor()->isVisible());
        QCOMPARE(f.editor()->labelNumber(), 3);
        QCOMPARE(f.editor()->textBox()->text(), QStringLiteral("Three"));
        select(f, 2);
        button(&f, "editButton")->click();
        QCOMPARE(f.editor()->labelNumber(), 4);

        f.close();
        QVERIFY(!f.editor()->isVisible());
        QCOMPARE(GetSetting(S, "index"), QStringLiteral("3"));
        QCOMPARE(GetSetting(S, "1caption"), QStringLiteral("Two"));
        QCOMPARE(GetSetting(S, "2caption"), QStringLiteral("Three"));
        QCOMPARE(GetSetting(S, "3caption"), QStringLiteral("Text label 4"));
    }

    void pictureOfTheCurrentFrame_data()
    {
        QTest::addColumn<bool>("resize");
        QTest::addColumn<bool>("tempFolderMissing");
        QTest::addColumn<bool>("online"); // the engine's copies of the settings agree with them
        QTest::newRow("own size") << false << false << true;
        QTest::newRow("resized to code 5") << true << false << true;
        QTest::newRow("temporary folder missing") << false << true << true;
        // Offline the engine's copies are stale or unset: the stored size counts.
        QTest::newRow("resized to code 5, offline") << true << false << false;
        QTest::newRow("own size, offline") << false << false << false;
    }
    void pictureOfTheCurrentFrame()
    {
        QFETCH(bool, resize);
        QFETCH(bool, tempFolderMissing);
        QFETCH(bool, online);
        QVERIFY(QDir().mkpath(globals().TempDir));
        if (tempFolderMissing)
            globals().TempDir = testenv::root() + QStringLiteral("/no-such-folder/");
        Capture cap;
        QVERIFY(cap.setDriverIndex(cap.driverCount() - 1)); // the test pattern
        QTRY_VERIFY_WITH_TIMEOUT(cap.grabFrame(), 15000);
        SaveSetting(QStringLiteral("JPEG"), QStringLiteral("ResChange"), resize ? "1" : "0");
        SaveSetting(QStringLiteral("JPEG"), QStringLiteral("ResCode"), QStringLiteral("5"));
        globals().ResizeFrames = online ? resize : !resize;
        globals().FrameSizeCode = online ? 5 : 2;
        const QString tempBefore = globals().TempDir;
        const QStringList filesBefore =
            QDir(testenv::root() + QStringLiteral("/tmp"))
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        LabelListWindow f(&cap);
        const QSize expected = resize ? QSize(320, 240) : cap.frame().size();
        QCOMPARE(f.picture().size(), expected);
        QCOMPARE(f.pictureSizeTwips(), QSizeF(expected) * 15);
        // The frame is taken from memory: no file comes or goes in the shared
        // temporary folder, and a missing one does not matter.
        QCOMPARE(QDir(testenv::root() + QStringLiteral("/tmp"))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 filesBefore);
        QVERIFY(!QFileInfo::exists(testenv::root() + QStringLiteral("/no-such-folder")));
        QCOMPARE(globals().TempDir, tempBefore);
        cap.disconnectDriver();
    }

    void labelsShownWhereTheyWillBeServed()
    {
        // 176 x 144 served; two labels, one deleted in the window.
        SaveSetting(QStringLiteral("JPEG"), QStringLiteral("ResChange"), QStringLiteral("1"));
        SaveSetting(QStringLiteral("JPEG"), QStringLiteral("ResCode"), QStringLiteral("3"));
        storeLabels({"Shown", "Gone"});
        SaveSetting(S, QStringLiteral("1color"), QString::number(0xffffff));
        SaveSetting(S, QStringLiteral("1x"), QStringLiteral("300"));
        SaveSetting(S, QStringLiteral("1y"), QStringLiteral("450"));
        SaveSetting(S, QStringLiteral("2color"), QString::number(0xffffff));
        LabelListWindow f; // no camera: a black picture
        QCOMPARE(f.shownPicture().size(), QSize(176, 144));
        auto expected = [&](const QVector<int>& numbers) {
            QImage img(176, 144, QImage::Format_RGB32);
            img.fill(Qt::black);
            QPainter p(&img);
            for (int n : numbers)
                drawLabel(p, f.labels().label(n), QDateTime::currentDateTime());
            return img;
        };
        QCOMPARE(f.shownPicture(), expected({1, 2}));
        QVERIFY(f.shownPicture() != expected({}));
        select(f, 1);
        button(&f, "deleteButton")->click();
        QCOMPARE(f.shownPicture(), expected({1}));
        // A new label is printed with the others.
        button(&f, "addButton")->click();
        QCOMPARE(f.shownPicture(), expected({1, 3}));
    }

    void editorOpensWithStoredPlacement_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("selected");
        QTest::newRow("missing") << QString() << "UL";
        QTest::newRow("BR") << "BR"
                            << "BR";
        QTest::newRow("UC") << "UC"
                            << "UC";
        QTest::newRow("unknown code") << "XX"
                                      << "";
        QTest::newRow("empty") << ""
                               << "";
    }
    void editorOpensWithStoredPlacement()
    {
        QFETCH(QString, stored);
        QFETCH(QString, selected);
        storeLabels({"One"});
        if (!stored.isNull())
            SaveSetting(S, "1pos", stored);
        LabelListWindow f;
        LabelEditor* e = f.editor();
        e->selectCode("BC"); // a previous choice must not linger
        e->edit(1);
        QCOMPARE(e->windowTitle(), QStringLiteral("Edit Text label"));
        QCOMPARE(e->selectedCode(), selected);
        const QStringList texts = {"Upper left",  "Upper Center",  "Upper right",
                                   "Buttom left", "Buttom center", "Buttom right"};
        QStringList shown;
        for (QRadioButton* r : e->findChildren<QRadioButton*>())
            shown << r->text();
        QCOMPARE(shown, texts);
    }

    void editorChangesTextLive()
    {
        storeLabels({"One"});
        LabelListWindow f;
        LabelEditor* e = f.editor();
        e->edit(1);
        QTest::keyClicks(e->textBox(), "!");
        QCOMPARE(f.labels().label(1).caption, QStringLiteral("One!"));
        button(e, "timeButton")->click();
        QCOMPARE(e->textBox()->text(), QStringLiteral("$TIME$"));
        QCOMPARE(f.labels().label(1).caption, QStringLiteral("$TIME$"));
        QCOMPARE(button(e, "dateAndTimeButton")->text(), QStringLiteral("Date && Time"));
        button(e, "dateAndTimeButton")->click();
        QCOMPARE(f.labels().label(1).caption, QStringLiteral("$NOW$"));
        // The list entry follows at OK only.
        QCOMPARE(listTexts(f), QStringList{"One"});
        button(e, "okButton")->click();
        QCOMPARE(listTexts(f), QStringList{"$NOW$"});
        QVERIFY(!e->isVisible());
    }

    void okPlacesLabelAndStoresCode_data()
    {
        // Where the label's left and top edge go, as shares of the free room
        // (picture minus label) plus a margin; none selected keeps 77, 88.
        QTest::addColumn<QString>("code");
        QTest::addColumn<double>("xShare");
        QTest::addColumn<double>("xMargin");
        QTest::addColumn<double>("yShare");
        QTest::addColumn<double>("yMargin");
        QTest::newRow("UL") << "UL" << 0.0 << 50.0 << 0.0 << 20.0;
        QTest::newRow("UC") << "UC" << 0.5 << 0.0 << 0.0 << 20.0;
        QTest::newRow("BR") << "BR" << 1.0 << -50.0 << 1.0 << -20.0;
        QTest::newRow("none selected") << "" << 0.0 << 77.0 << 0.0 << 88.0;
    }
    void okPlacesLabelAndStoresCode()
    {
        QFETCH(QString, code);
        QFETCH(double, xShare);
        QFETCH(double, xMargin);
        QFETCH(double, yShare);
        QFETCH(double, yMargin);
        storeLabels({"Some label"});
        SaveSetting(S, "1x", "77");
        SaveSetting(S, "1y", "88");
        SaveSetting(S, "1pos", code.isEmpty() ? QStringLiteral("none") : QStringLiteral("UL"));
        LabelListWindow f;
        LabelEditor* e = f.editor();
        e->edit(1);
        e->selectCode(code);
        button(e, "okButton")->click();
        QCOMPARE(GetSetting(S, "1pos", "unset"), code);
        const QSizeF pic = f.pictureSizeTwips();
        const QSizeF ext = f.labelExtent(1);
        QVERIFY(ext.width() > 0 && ext.height() > 0);
        const float x = float((pic.width() - ext.width()) * xShare + xMargin);
        const float y = float((pic.height() - ext.height()) * yShare + yMargin);
        QCOMPARE(f.labels().label(1).x, x);
        QCOMPARE(f.labels().label(1).y, y);
        // Placement reaches the store when the list closes.
        f.close();
        QCOMPARE(GetSetting(S, "1x").toFloat(), x);
        QCOMPARE(GetSetting(S, "1y").toFloat(), y);
    }

    void clockAtTheBottomRightIsPrintedWhole_data()
    {
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("code");
        QTest::newRow("$NOW$ bottom right") << "$NOW$"
                                            << "BR";
        QTest::newRow("$NOW$ upper right") << "$NOW$"
                                           << "UR";
        QTest::newRow("$TIME$ bottom right") << "$TIME$"
                                             << "BR";
        QTest::newRow("$now$ bottom centre") << "$now$"
                                             << "BC";
        QTest::newRow("plain text bottom right") << "Vantora cam"
                                                 << "BR";
    }
    void clockAtTheBottomRightIsPrintedWhole()
    {
        QFETCH(QString, caption);
        QFETCH(QString, code);
        storeLabels({caption});
        SaveSetting(S, "1fontsize", "16");
        LabelListWindow f;
        LabelEditor* e = f.editor();
        e->edit(1);
        e->selectCode(code);
        button(e, "okButton")->click();
        const QSize picture = (f.pictureSizeTwips() / 15).toSize();
        const QRect ink = inkOf(f.labels().label(1), picture);
        QVERIFY(!ink.isEmpty());
        // Inside the picture with the margin of 50 twips (3 pixels) to spare
        // on the right, and centred text as far from either edge.
        QVERIFY2(ink.right() < picture.width() - 3, qPrintable(QString::number(ink.right())));
        QVERIFY2(ink.bottom() < picture.height() - 1, qPrintable(QString::number(ink.bottom())));
        if (code == QLatin1String("BC"))
            QVERIFY2(qAbs(ink.left() - (picture.width() - 1 - ink.right())) <= 3,
                     qPrintable(QStringLiteral("%1 %2").arg(ink.left()).arg(ink.right())));
    }

    void renumberedLabelsKeepTheirPlacement()
    {
        storeLabels({"One", "Two", "Three"});
        SaveSetting(S, "1pos", "BR");
        SaveSetting(S, "2pos", "UC");
        // 3pos missing: upper left.
        {
            LabelListWindow f;
            select(f, 0);
            button(&f, "deleteButton")->click();
            f.close();
        }
        // Left over from an earlier, longer list.
        SaveSetting(S, "3pos", "BC");
        LabelListWindow f;
        QCOMPARE(listTexts(f), (QStringList{"Two", "Three"}));
        f.editor()->edit(1);
        QCOMPARE(f.editor()->selectedCode(), QStringLiteral("UC"));
        f.editor()->edit(2);
        QCOMPARE(f.editor()->selectedCode(), QStringLiteral("UL"));
        // A new label starts at the upper left, whatever an old record says.
        button(&f, "addButton")->click();
        select(f, 2);
        button(&f, "editButton")->click();
        QCOMPARE(f.editor()->labelNumber(), 3);
        QCOMPARE(f.editor()->selectedCode(), QStringLiteral("UL"));
    }

    void fontDialogOffersOnlyWhatLabelsKeep()
    {
        storeLabels({"One"});
        SaveSetting(S, "1font", "DejaVu Serif");
        SaveSetting(S, "1fontsize", "18");
        SaveSetting(S, "1fontbold", "True");
        SaveSetting(S, "1fontitalic", "True");
        LabelListWindow f;
        LabelEditor* e = f.editor();
        e->edit(1);
        QFont preset;
        QStringList effects;
        bool seen = false;
        int turns = 0;
        // The real dialog, answered from inside its own event loop.
        QTimer look;
        look.setInterval(0);
        connect(&look, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<QFontDialog*>(QApplication::activeModalWidget());
            if (!dialog) {
                if (++turns > 10000)
                    look.stop();
                return;
            }
            look.stop();
            seen = true;
            preset = dialog->currentFont();
            for (QCheckBox* box : dialog->findChildren<QCheckBox*>())
                if (box->isVisible())
                    effects << box->text();
            dialog->reject();
        });
        look.start();
        MessageBox::setTestMode(false);
        button(e, "fontButton")->click();
        MessageBox::setTestMode(true);
        QVERIFY(seen);
        QCOMPARE(effects, QStringList());
        QCOMPARE(preset.family(), QStringLiteral("DejaVu Serif"));
        QCOMPARE(preset.pointSizeF(), 18.0);
        QVERIFY(preset.bold());
        QVERIFY(preset.italic());
        // Cancelled: the label is as it was.
        QCOMPARE(f.labels().label(1).fontName, QStringLiteral("DejaVu Serif"));
        QCOMPARE(f.labels().label(1).fontSize, 18.0f);
    }

    void fontAndColourChoices()
    {
        storeLabels({"One"});
        LabelListWindow f;
        LabelEditor* e = f.editor();
        e->edit(1);
        FontDescription font;
        font.name = QStringLiteral("DejaVu Serif");
        font.size = 18;
        font.bold = true;
        font.italic = true;
        dialogs::setNextFont(font);
        button(e, "fontButton")->click();
        const TextLabel& l = f.labels().label(1);
        QCOMPARE(l.fontName, QStringLiteral("DejaVu Serif"));
        QCOMPARE(l.fontSize, 18.0f);
        QVERIFY(l.bold && l.italic);

        dialogs::setNextFont(std::nullopt); // Cancel changes nothing
        button(e, "fontButton")->click();
        QCOMPARE(l.fontName, QStringLiteral("DejaVu Serif"));

        dialogs::setNextColour(0x123456);
        button(e, "colourButton")->click();
        QCOMPARE(l.color, 0x123456);
        dialogs::setNextColour(std::nullopt);
        button(e, "colourButton")->click();
        QCOMPARE(l.color, 0x123456);

        f.close();
        QCOMPARE(GetSetting(S, "1font"), QStringLiteral("DejaVu Serif"));
        QCOMPARE(GetSetting(S, "1fontsize"), QStringLiteral("18"));
        QCOMPARE(GetSetting(S, "1fontbold"), QStringLiteral("True"));
        QCOMPARE(GetSetting(S, "1color"), QString::number(0x123456));
    }

    void closingWhileOnlineAsksForReload()
    {
        globals().OnlineSwitch = true;
        QSignalSpy reload(&labelEvents(), &LabelEvents::reloadRequested);
        {
            LabelListWindow f;
            f.close();
            f.close(); // closed once only
            f.finishEditing();
        }
        QCOMPARE(reload.count(), 1);
        {
            LabelListWindow page; // embedded: never gets a close event
            page.labels().add();
            page.finishEditing();
        }
        QCOMPARE(reload.count(), 2);
        QCOMPARE(GetSetting(S, "1caption"), QStringLiteral("Text label 1"));
    }

    void browseForFolderAndCloseCommand()
    {
        FileDialog::setNextFileName(QStringLiteral("/pictures"));
        QCOMPARE(chooseFolder(nullptr, QStringLiteral("Please select a folder to save your Pictures.")),
                 QStringLiteral("/pictures"));
        QCOMPARE(FileDialog::lastCaption(), QStringLiteral("Please select a folder to save your Pictures."));
        FileDialog::setNextFileName(QString());
        QCOMPARE(chooseFolder(nullptr, QStringLiteral("x")), QString());

        QWidget w;
        w.show();
        removeCloseButton(&w);
        QVERIFY(!(w.windowFlags() & Qt::WindowCloseButtonHint));
        QVERIFY(w.isVisible());
    }
};

VANTORA_TEST_MAIN(TestLabelWindows)
#include "tst_labelwindows.moc"
