// The streaming options: what the page reads and writes, the port field, the
// size text, and the preview encoded in memory with the page's choices.

#include "capture/Capture.h"
#include "capture/Prompt.h"
#include "image/StreamingOptions.h"
#include "image/StreamingOptionsWindow.h"
#include "shell/Globals.h"
#include "shell/Settings.h"
#include "shell/WindowRegistry.h"
#include "tests/support/TestEnvironment.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

namespace {
const QString Jpeg = QStringLiteral("JPEG");
const QString Streaming = QStringLiteral("Streaming");

// A picture with detail, so that quality changes the encoded size.
QImage patterned(QSize size)
{
    QImage img(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            img.setPixel(x, y, qRgb((x * 7) % 256, (y * 13) % 256, ((x ^ y) * 5) % 256));
    return img;
}

QStringList tempFiles()
{
    return QDir(globals().TempDir)
        .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}
} // namespace

class TestStreamingOptions : public QObject
{
    Q_OBJECT
private:
    int m_run = 0;

private slots:
    void init()
    {
        resetGlobals();
        globals().TempDir = testenv::root() + QStringLiteral("/tmp/");
        QDir().mkpath(globals().TempDir);
        setSettingsPath(testenv::root() + QStringLiteral("/settings-%1.ini").arg(++m_run));
        MessageBox::clearHistory();
    }

    void loadsStoredChoices_data()
    {
        QTest::addColumn<QStringList>("stored"); // port, ResChange, Res, Quality; empty: missing
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("resize");
        QTest::addColumn<int>("resolution");
        QTest::addColumn<int>("quality");
        QTest::newRow("empty store") << QStringList{{}, {}, {}, {}} << "2156" << false << 0 << 20;
        QTest::newRow("stored") << QStringList{"8080", "1", "4", "75"} << "8080" << true << 4 << 75;
        QTest::newRow("random port") << QStringList{"0", "0", "5", "100"} << "0" << false << 5 << 100;
        // Values the controls cannot show leave them as they start.
        QTest::newRow("unreadable") << QStringList{"x", "maybe", "9", "abc"} << "2156" << false << 0 << 20;
        QTest::newRow("quality out of the slider's range")
            << QStringList{"2156", "1", "-1", "5"} << "2156" << true << 0 << 10;
    }
    void loadsStoredChoices()
    {
        QFETCH(QStringList, stored);
        const QStringList keys{"Port", "ResChange", "Res", "Quality"};
        for (int i = 0; i < 4; ++i)
            if (!stored[i].isNull())
                SaveSetting(i == 0 ? Streaming : Jpeg, keys[i], stored[i]);
        StreamingOptions o;
        o.load();
        QTEST(o.port, "port");
        QTEST(o.resize, "resize");
        QTEST(o.resolution, "resolution");
        QTEST(o.quality, "quality");

        // The page shows the same, the list enabled exactly while the box is ticked.
        StreamingOptionsWindow page;
        QTEST(page.portEdit->text(), "port");
        QTEST(page.resizeBox->isChecked(), "resize");
        QTEST(page.resolutionList->currentIndex(), "resolution");
        QTEST(page.qualitySlider->value(), "quality");
        QCOMPARE(page.qualityValue->text(), QString::number(page.qualitySlider->value()));
        QCOMPARE(page.resolutionList->isEnabled(), page.resizeBox->isChecked());
        QCOMPARE(page.resolutionCaption->isEnabled(), page.resizeBox->isChecked());
        QCOMPARE(page.sizeField->text(), QStringLiteral("Press Preview to calculate"));
        page.resizeBox->setChecked(!page.resizeBox->isChecked());
        QCOMPARE(page.resolutionList->isEnabled(), page.resizeBox->isChecked());
    }

    void unloadStoresAndHandsOverToTheProgram()
    {
        StreamingOptionsWindow page;
        page.portEdit->setText(QStringLiteral("8090"));
        page.resizeBox->setChecked(true);
        page.resolutionList->setCurrentIndex(2);
        page.qualitySlider->setValue(64);
        QCOMPARE(page.qualityValue->text(), QStringLiteral("64"));
        // Nothing changes before the page closes.
        QCOMPARE(GetSetting(Jpeg, "Quality"), QString());
        QCOMPARE(globals().JpegQuality, 20);

        page.unload();
        QCOMPARE(GetSetting(Streaming, "Port"), QStringLiteral("8090"));
        QCOMPARE(GetSetting(Jpeg, "Quality"), QStringLiteral("64"));
        QCOMPARE(GetSetting(Jpeg, "ResChange"), QStringLiteral("1"));
        QCOMPARE(GetSetting(Jpeg, "ResCode"), QStringLiteral("3"));
        QCOMPARE(GetSetting(Jpeg, "Res"), QStringLiteral("2"));
        QCOMPARE(globals().JpegQuality, 64);
        QVERIFY(globals().ResizeFrames);
        QCOMPARE(globals().FrameSizeCode, 3);
        QVERIFY(MessageBox::history().isEmpty());
    }

    void portIsCheckedOnUnload_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("refused");
        QTest::newRow("empty is a random port") << ""
                                                << "0" << false;
        QTest::newRow("zero") << "0"
                              << "0" << false;
        QTest::newRow("highest") << "65535"
                                 << "65535" << false;
        QTest::newRow("leading zero") << "02156"
                                      << "2156" << false;
        QTest::newRow("too high") << "65536"
                                  << "7000" << true;
        QTest::newRow("far too high") << "99999"
                                      << "7000" << true;
    }
    void portIsCheckedOnUnload()
    {
        QFETCH(QString, typed);
        SaveSetting(Streaming, QStringLiteral("Port"), QStringLiteral("7000"));
        StreamingOptionsWindow page;
        page.portEdit->setText(typed);
        page.qualitySlider->setValue(55);
        page.unload();
        QTEST(GetSetting(Streaming, "Port"), "stored");
        // The rest of the page is stored all the same.
        QCOMPARE(GetSetting(Jpeg, "Quality"), QStringLiteral("55"));
        QFETCH(bool, refused);
        QCOMPARE(MessageBox::history().size(), refused ? 1 : 0);
        if (refused)
            QCOMPARE(MessageBox::history()[0].text,
                     QStringLiteral("The port must be a number from 0 to 65535. The port stays 7000."));
    }

    void portFieldTakesDigitsOnly_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("kept");
        QTest::newRow("letter among digits") << "21a56"
                                             << "2156";
        QTest::newRow("colon") << "21:56"
                               << "2156";
        QTest::newRow("signs and spaces") << "-8 0+8.0"
                                          << "8080";
        QTest::newRow("nothing usable") << "abc"
                                        << "";
    }
    void portFieldTakesDigitsOnly()
    {
        QFETCH(QString, typed);
        QTEST(StreamingOptions::portDigits(typed), "kept");
        StreamingOptionsWindow page;
        page.portEdit->clear();
        QTest::keyClicks(page.portEdit, typed);
        QTEST(page.portEdit->text(), "kept");
        // Backspace, a control key, still works.
        QFETCH(QString, kept);
        QTest::keyClick(page.portEdit, Qt::Key_Backspace);
        QCOMPARE(page.portEdit->text(), kept.isEmpty() ? kept : kept.chopped(1));
    }

    void sizeText_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("15 872") << qint64(15872) << "15,5 KB";
        QTest::newRow("15 600") << qint64(15600) << "15,23 KB";
        QTest::newRow("153 600") << qint64(153600) << "150 KB";
        QTest::newRow("20 480") << qint64(20480) << "20 KB";
        QTest::newRow("1 000 000") << qint64(1000000) << "976,56 KB";
        QTest::newRow("cut, not rounded") << qint64(1075) << "1,04 KB";
        QTest::newRow("leading zero kept") << qint64(1076) << "1,05 KB";
        QTest::newRow("empty") << qint64(0) << "0 KB";
    }
    void sizeText()
    {
        QFETCH(qint64, bytes);
        QTEST(StreamingOptions::sizeText(bytes), "text");
    }

    void previewEncodesWithThePageChoices_data()
    {
        QTest::addColumn<bool>("resize");
        QTest::addColumn<int>("resolution");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("own size") << false << 2 << QSize(200, 150);
        QTest::newRow("176 x 144") << true << 2 << QSize(176, 144);
        QTest::newRow("352 x 288") << true << 5 << QSize(352, 288);
    }
    void previewEncodesWithThePageChoices()
    {
        QFETCH(bool, resize);
        QFETCH(int, resolution);
        StreamingOptions o;
        o.resize = resize;
        o.resolution = resolution;
        o.quality = 90;
        const StreamingOptions::Preview fine = o.preview(patterned(QSize(200, 150)));
        QVERIFY2(fine.error.isEmpty(), qPrintable(fine.error));
        const QImage decoded = QImage::fromData(fine.jpeg, "JPEG");
        QTEST(decoded.size(), "expected");
        QTEST(fine.size, "expected");
        o.quality = 10;
        const StreamingOptions::Preview coarse = o.preview(patterned(QSize(200, 150)));
        QVERIFY(coarse.jpeg.size() < fine.jpeg.size());
    }

    void previewWithoutFrameShowsNothing()
    {
        StreamingOptions o;
        const StreamingOptions::Preview p = o.preview(QImage());
        QVERIFY(p.jpeg.isEmpty());
        QVERIFY(!p.error.isEmpty());
        StreamingOptionsWindow page; // no camera
        page.previewButton->click();
        QCOMPARE(page.sizeField->text(), QStringLiteral("Press Preview to calculate"));
        QVERIFY(!loadedJpegPreview());
    }

    void previewFromThePageUsesTheSliderAtOnce()
    {
        Capture cap;
        QVERIFY(cap.setDriverIndex(cap.driverCount() - 1)); // the test pattern
        QTRY_VERIFY_WITH_TIMEOUT(cap.grabFrame(), 15000);
        const QStringList before = tempFiles();
        QWidget shell;
        auto* page = new StreamingOptionsWindow(&cap, &shell);
        page->resizeBox->setChecked(true);
        page->resolutionList->setCurrentIndex(2); // 176 x 144
        page->qualitySlider->setValue(95);
        page->previewButton->click();
        JpegPreviewWindow* preview = loadedJpegPreview();
        QVERIFY(preview);
        QCOMPARE(preview->windowTitle(), QStringLiteral("Preview"));
        QCOMPARE(preview->image->pixmap().size(), QSize(176, 144));
        const QString fine = page->sizeField->text();
        QVERIFY(fine.endsWith(QLatin1String(" KB")));
        page->qualitySlider->setValue(10);
        page->previewButton->click();
        QVERIFY(page->sizeField->text() != fine);
        // Only the page changed: the store and the program keep theirs.
        QCOMPARE(GetSetting(Jpeg, "Quality"), QString());
        QCOMPARE(globals().JpegQuality, 20);
        // Encoded in memory: nothing comes or goes in the temporary folder.
        QCOMPARE(tempFiles(), before);

        QPointer<JpegPreviewWindow> open = loadedJpegPreview();
        open->closeButton->click();
        QTRY_VERIFY(!open);
        QVERIFY(!loadedJpegPreview());
        cap.disconnectDriver();
    }

    void signUpOpensTheWizardForTheWindow()
    {
        QWidget* askedFor = reinterpret_cast<QWidget*>(1);
        windows::setSignupOpener([&](QWidget* owner) { askedFor = owner; });
        QWidget shell;
        auto* page = new StreamingOptionsWindow(nullptr, &shell);
        QCOMPARE(page->signupButton->text(), QStringLiteral("Sign up for new account"));
        page->signupButton->click();
        QCOMPARE(askedFor, &shell);
        windows::setSignupOpener({});
    }
};

VANTORA_TEST_MAIN(TestStreamingOptions)
#include "tst_streamingoptions.moc"
