#include "capture/CaptureDialogs.h"
#include "capture/CaptureTesting.h"
#include "capture/V4l2Device.h"
#include "tests/support/TestEnvironment.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>

namespace {
const QString missingNode = QStringLiteral("/dev/video-vantora-none");

// The test pattern connected, with a frame in hand.
void connectPattern(Capture& cap)
{
    QVERIFY(cap.setDriverIndex(cap.driverCount() - 1));
    QTRY_VERIFY(cap.grabFrame());
}

std::optional<CameraControl> control(const Capture& cap, const QString& key)
{
    for (const CameraControl& c : cap.sourceControls()) {
        if (c.key == key)
            return c;
    }
    return std::nullopt;
}

// Away from the clock in the top-left corner.
QColor middleOf(const QImage& frame) { return frame.pixelColor(frame.width() / 2, frame.height() / 2); }

bool isBlack(const QColor& c) { return c.red() < 20 && c.green() < 20 && c.blue() < 20; }
} // namespace

class tst_CaptureDialogs : public QObject
{
    Q_OBJECT
private slots:
    void patternOffersItsPatterns();
    void choosingPatternChangesLivePicture();
    void cancelPutsBackWhatWasThere();
    void patternKeptWhenFormatChanges();
    void refusedValueIsSaid();
    void missingCameraSaysWhy();
    void deviceNodeChecks_data();
    void deviceNodeChecks();
    void formatDialogOffersSourceSizes();
};

void tst_CaptureDialogs::patternOffersItsPatterns()
{
    Capture cap;
    connectPattern(cap);
    QVERIFY(cap.hasVideoSourceDialog());
    const auto pattern = control(cap, QStringLiteral("pattern"));
    QVERIFY(pattern);
    QCOMPARE(pattern->kind, CameraControl::Kind::Choice);
    QVERIFY(pattern->choices.size() > 10);
    QCOMPARE(pattern->choices.first().first, 0);
    QVERIFY(pattern->choices.first().second.contains(QLatin1String("SMPTE")));
    QCOMPARE(pattern->value, 0);
    const auto moving = control(cap, QStringLiteral("moving"));
    QVERIFY(moving);
    QCOMPARE(moving->kind, CameraControl::Kind::Toggle);
    QCOMPARE(moving->value, 1);

    VideoSourceDialog dialog(&cap);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Video Source - Test pattern"));
    auto* list = qobject_cast<QComboBox*>(dialog.editor(QStringLiteral("pattern")));
    QVERIFY(list);
    QCOMPARE(list->count(), pattern->choices.size());
    QCOMPARE(list->currentData().toInt(), 0);
    auto* box = qobject_cast<QCheckBox*>(dialog.editor(QStringLiteral("moving")));
    QVERIFY(box);
    QVERIFY(box->isChecked());
    QVERIFY(dialog.messageLabel->isHidden());
    QVERIFY(dialog.defaultsButton->isEnabled());
}

void tst_CaptureDialogs::choosingPatternChangesLivePicture()
{
    Capture cap;
    connectPattern(cap);
    QVERIFY(!isBlack(middleOf(cap.frame())));
    VideoSourceDialog dialog(&cap);
    auto* list = qobject_cast<QComboBox*>(dialog.editor(QStringLiteral("pattern")));
    const int black = list->findText(QStringLiteral("100% Black"));
    QVERIFY(black >= 0);
    list->setCurrentIndex(black);
    emit list->activated(black);
    QCOMPARE(control(cap, QStringLiteral("pattern"))->value, list->itemData(black).toLongLong());
    // The running picture changes, without reconnecting.
    QVERIFY(cap.connected());
    QTRY_VERIFY(cap.grabFrame() && isBlack(middleOf(cap.frame())));
    dialog.accept();
    QCOMPARE(list->currentIndex(), black);

    // Defaults: back to the bars.
    VideoSourceDialog again(&cap);
    again.defaultsButton->click();
    QCOMPARE(control(cap, QStringLiteral("pattern"))->value, 0);
    QTRY_VERIFY(cap.grabFrame() && !isBlack(middleOf(cap.frame())));
}

void tst_CaptureDialogs::cancelPutsBackWhatWasThere()
{
    Capture cap;
    connectPattern(cap);
    VideoSourceDialog dialog(&cap);
    auto* list = qobject_cast<QComboBox*>(dialog.editor(QStringLiteral("pattern")));
    auto* box = qobject_cast<QCheckBox*>(dialog.editor(QStringLiteral("moving")));
    const int black = list->findText(QStringLiteral("100% Black"));
    list->setCurrentIndex(black);
    emit list->activated(black);
    box->setChecked(false);
    QCOMPARE(control(cap, QStringLiteral("moving"))->value, 0);
    QTRY_VERIFY(cap.grabFrame() && isBlack(middleOf(cap.frame())));
    dialog.reject();
    QCOMPARE(control(cap, QStringLiteral("pattern"))->value, 0);
    QCOMPARE(control(cap, QStringLiteral("moving"))->value, 1);
    QCOMPARE(list->currentData().toInt(), 0);
    QVERIFY(box->isChecked());
    QTRY_VERIFY(cap.grabFrame() && !isBlack(middleOf(cap.frame())));
}

void tst_CaptureDialogs::patternKeptWhenFormatChanges()
{
    Capture cap;
    connectPattern(cap);
    const auto pattern = control(cap, QStringLiteral("pattern"));
    qint64 black = -1;
    for (const auto& [value, text] : pattern->choices) {
        if (text == QLatin1String("100% Black"))
            black = value;
    }
    QVERIFY(cap.setSourceControl(QStringLiteral("pattern"), black));
    // Reconnecting in another size builds the source again: the choice stays.
    QVERIFY(cap.setVideoFormat(QSize(320, 240), 15));
    QTRY_VERIFY(cap.grabFrame() && cap.frame().size() == QSize(320, 240));
    QVERIFY(isBlack(middleOf(cap.frame())));
}

void tst_CaptureDialogs::refusedValueIsSaid()
{
    Capture cap;
    connectPattern(cap);
    QString why;
    QVERIFY(!cap.setSourceControl(QStringLiteral("pattern"), 999, &why));
    QCOMPARE(why, QStringLiteral("The test pattern has no pattern 999"));
    QVERIFY(!cap.setSourceControl(QStringLiteral("brightness"), 1, &why));
    QCOMPARE(control(cap, QStringLiteral("pattern"))->value, 0);
}

void tst_CaptureDialogs::missingCameraSaysWhy()
{
    Capture cap;
    captureTesting::setSources(&cap, {CameraSource::camera(missingNode, QStringLiteral("USB Camera"))});
    QVERIFY(!cap.setDriverIndex(0)); // listed, but not there
    // The camera still offers its settings; reading them says why there are none.
    QVERIFY(cap.hasVideoSourceDialog());
    QString why;
    QVERIFY(cap.sourceControls(&why).isEmpty());
    QCOMPARE(why, QStringLiteral("Cannot open %1: No such file or directory").arg(missingNode));
    VideoSourceDialog dialog(&cap);
    QCOMPARE(dialog.messageLabel->text(), why);
    QVERIFY(!dialog.messageLabel->isHidden());
    QVERIFY(!dialog.defaultsButton->isEnabled());
    QVERIFY(!cap.setSourceControl(QStringLiteral("9963776"), 10, &why)); // brightness
    QCOMPARE(why, QStringLiteral("Cannot open %1: No such file or directory").arg(missingNode));
    dialog.reject(); // puts back nothing, no crash
}

void tst_CaptureDialogs::deviceNodeChecks_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("error");
    QTest::newRow("missing") << missingNode << missingNode + ": No such file or directory";
    QTest::newRow("character device that is no camera")
        << "/dev/null"
        << "/dev/null is not a video device: Inappropriate ioctl for device";
    QTest::newRow("plain file") << "file"
                                << "%1 is not a video device";
}

void tst_CaptureDialogs::deviceNodeChecks()
{
    QFETCH(QString, path);
    QFETCH(QString, error);
    if (path == QLatin1String("file")) {
        path = testenv::root() + QStringLiteral("/video9");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        error = error.arg(path);
    }
    V4l2Device device(path);
    QVERIFY(!device.info());
    QVERIFY(device.error().endsWith(error));
    QVERIFY(device.controls().isEmpty());
    QVERIFY(!device.error().isEmpty());
    QVERIFY(device.formats().isEmpty());
    QVERIFY(!device.setValue(0x00980900, 1));
    // Asked of the device: nothing to tell, so the path names it and no bus is known.
    const auto source = CameraSource::camera(path);
    QCOMPARE(source->identity(), (CameraIdentity{path, path, QString()}));
    QVERIFY(source->formats().isEmpty()); // no format dialog for it
}

void tst_CaptureDialogs::formatDialogOffersSourceSizes()
{
    Capture cap;
    connectPattern(cap);
    QVERIFY(cap.hasVideoFormatDialog());
    VideoFormatDialog dialog(cap.videoFormats(), cap.videoFormat());
    QCOMPARE(dialog.size(), QSize(640, 480));
    QCOMPARE(dialog.fps(), 30);
    QStringList sizes;
    for (int i = 0; i < dialog.sizeBox->count(); ++i)
        sizes << dialog.sizeBox->itemText(i);
    QCOMPARE(sizes, (QStringList{"160 x 120", "320 x 240", "640 x 480", "800 x 600", "1280 x 720"}));
    dialog.sizeBox->setCurrentIndex(0);
    QCOMPARE(dialog.rateBox->count(), 3);
    dialog.rateBox->setCurrentIndex(dialog.rateBox->findData(15));
    QVERIFY(cap.setVideoFormat(dialog.size(), dialog.fps()));
    QTRY_VERIFY(cap.grabFrame() && cap.frame().size() == QSize(160, 120));
}

VANTORA_TEST_MAIN(tst_CaptureDialogs)
#include "tst_capturedialogs.moc"
