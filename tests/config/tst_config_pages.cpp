// The configuration window and its pages, driven through their controls:
// what each page reads, what it writes when it unloads, and what changes in
// the running program at once.

#include "capture/Capture.h"
#include "capture/Prompt.h"
#include "config/CameraOptions.h"
#include "config/ConfigurationWindow.h"
#include "config/OptionPageWindows.h"
#include "config/OptionPages.h"
#include "image/LabelListWindow.h"
#include "image/StreamingOptionsWindow.h"
#include "shell/Globals.h"
#include "shell/InfoWindows.h"
#include "shell/Settings.h"
#include "shell/WindowRegistry.h"
#include "tests/support/TestEnvironment.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTest>

namespace {
// Section, key and caption of every check box, page by page.
struct Box
{
    const char* section;
    const char* key;
    const char* caption;
};
const QList<Box> generalBoxes{{"Options", "autocheck", "Check for new version on program start-up"}};
const QList<Box> debugBoxes{{"Settings", "ShowCamError", "Show video driver errors"},
                            {"Settings", "StreamError", "Show Velora errors (not recommended)"},
                            {"Settings", "DisableCheck", "Disable Network/Firewall check"}};
const QList<Box> securityBoxes{{"Options", "DisMessenger", "Disable Messenger (NT Only)"},
                               {"Options", "DisChat", "Disable Vantora Chat"}};

CheckOptionsWindow* makePage(const QString& name)
{
    if (name == QLatin1String("general"))
        return new GeneralOptionsWindow;
    if (name == QLatin1String("debug"))
        return new DebugOptionsWindow;
    return new SecurityOptionsWindow;
}
const QList<Box>& boxesOf(const QString& name)
{
    return name == QLatin1String("general") ? generalBoxes
           : name == QLatin1String("debug") ? debugBoxes
                                            : securityBoxes;
}

void press(QWidget* w)
{
    QTest::mouseMove(w);
    QTest::mouseClick(w, Qt::LeftButton);
}

QStringList boldEntries(ConfigurationWindow& w)
{
    QStringList bold;
    for (int n = 1; n <= 6; ++n)
        if (w.entryLabel(n)->font().bold())
            bold << w.entryLabel(n)->text();
    return bold;
}
} // namespace

class TestConfigPages : public QObject
{
    Q_OBJECT
private:
    int m_run = 0;

private slots:
    void init()
    {
        resetGlobals();
        setSettingsPath(testenv::root() + QStringLiteral("/settings-%1.ini").arg(++m_run));
        MessageBox::clearHistory();
        unloadErrorWindow();
    }

    // ------------------------------------------------------------ check boxes

    void checkBoxesFromTheStore_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QStringList>("stored"); // one per box; null: missing
        QTest::addColumn<QList<bool>>("shown");
        QTest::addColumn<QStringList>("written");
        QTest::newRow("general, empty store")
            << "general" << QStringList{{}} << QList<bool>{true} << QStringList{"1"};
        QTest::newRow("general, off")
            << "general" << QStringList{"0"} << QList<bool>{false} << QStringList{"0"};
        QTest::newRow("debug, empty store") << "debug" << QStringList{{}, {}, {}}
                                            << QList<bool>{true, false, false} << QStringList{"1", "0", "0"};
        QTest::newRow("debug, all flipped") << "debug" << QStringList{"0", "1", "1"}
                                            << QList<bool>{false, true, true} << QStringList{"0", "1", "1"};
        // Not a number: the box stays as it starts, and unloading writes it cleanly.
        QTest::newRow("debug, unreadable") << "debug" << QStringList{"abc", "", "yes"}
                                           << QList<bool>{true, false, false} << QStringList{"1", "0", "0"};
        QTest::newRow("debug, older True/False form")
            << "debug" << QStringList{"False", "True", "False"} << QList<bool>{false, true, false}
            << QStringList{"0", "1", "0"};
        QTest::newRow("security, empty store")
            << "security" << QStringList{{}, {}} << QList<bool>{true, false} << QStringList{"1", "0"};
        QTest::newRow("security, flipped")
            << "security" << QStringList{"0", "1"} << QList<bool>{false, true} << QStringList{"0", "1"};
    }
    void checkBoxesFromTheStore()
    {
        QFETCH(QString, page);
        QFETCH(QStringList, stored);
        QFETCH(QList<bool>, shown);
        QFETCH(QStringList, written);
        const QList<Box>& boxes = boxesOf(page);
        for (int i = 0; i < boxes.size(); ++i)
            if (!stored[i].isNull())
                SaveSetting(boxes[i].section, boxes[i].key, stored[i]);
        std::unique_ptr<CheckOptionsWindow> w(makePage(page));
        for (int i = 0; i < boxes.size(); ++i) {
            QCheckBox* box = w->findChildren<QCheckBox*>().value(0);
            for (QCheckBox* b : w->findChildren<QCheckBox*>())
                if (b->text() == QLatin1String(boxes[i].caption))
                    box = b;
            QCOMPARE(box->text(), QLatin1String(boxes[i].caption));
            QCOMPARE(box->isChecked(), shown[i]);
        }
        // Opening and closing without changes rewrites every value as 1 or 0.
        w.reset();
        for (int i = 0; i < boxes.size(); ++i)
            QCOMPARE(GetSetting(boxes[i].section, boxes[i].key), written[i]);
    }

    void changesAreWrittenWhenThePageUnloads()
    {
        DebugOptionsWindow w;
        w.box(DebugOptions::ShowStreamErrors)->click();
        w.box(DebugOptions::ShowCameraErrors)->click();
        QCOMPARE(GetSetting("Settings", "StreamError"), QString());
        QCOMPARE(globals().ShowStreamErrors, false); // read by the engine when it starts
        w.unload();
        QCOMPARE(GetSetting("Settings", "StreamError"), QStringLiteral("1"));
        QCOMPARE(GetSetting("Settings", "ShowCamError"), QStringLiteral("0"));
        // Once only: a second unload (the page being destroyed) changes nothing.
        SaveSetting("Settings", "StreamError", "0");
        w.unload();
        QCOMPARE(GetSetting("Settings", "StreamError"), QStringLiteral("0"));
    }

    void disablingChatTakesEffectAtOnce()
    {
        SecurityOptionsWindow w;
        QCheckBox* chat = w.box(SecurityOptions::DisableChat);
        QVERIFY(!globals().ChatDisabled);
        chat->click();
        QVERIFY(globals().ChatDisabled);
        QCOMPARE(GetSetting("Options", "DisChat"), QString()); // stored when the page unloads
        chat->click();
        QVERIFY(!globals().ChatDisabled);
        chat->click();
        w.unload();
        QCOMPARE(GetSetting("Options", "DisChat"), QStringLiteral("1"));
        QVERIFY(globals().ChatDisabled);
    }

    void windowsOnlyOptionShownDisabledWithItsValue_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::newRow("ticked") << "1";
        QTest::newRow("cleared") << "0";
    }
    void windowsOnlyOptionShownDisabledWithItsValue()
    {
        QFETCH(QString, stored);
        SaveSetting("Options", "DisMessenger", stored);
        {
            SecurityOptionsWindow w;
            QCheckBox* messenger = w.box(SecurityOptions::DisableMessenger);
            QCOMPARE(messenger->text(), QStringLiteral("Disable Messenger (NT Only)"));
            QVERIFY(!messenger->isEnabled());
            QCOMPARE(messenger->isChecked(), stored == QLatin1String("1"));
            QStringList texts;
            for (QLabel* l : w.findChildren<QLabel*>())
                texts << l->text();
            QVERIFY(texts.contains(
                "Please note that this is not the MSN Messenger but the Messenger Service in Windows. This "
                "service can be abused to send you messages. Higly recommended!"));
            QVERIFY(
                texts.contains("You can disable the build-in Vantora Chat. You cannot longer chat with other "
                               "people with Vantora and you don't get any requests any more if you disable "
                               "the chat."));
        }
        QCOMPARE(GetSetting("Options", "DisMessenger"), stored);
    }

    void debugPageShowsTheVersion()
    {
        DebugOptionsWindow w;
        QCOMPARE(w.versionLabel->text(), QStringLiteral("Vantora Version: 1.01"));
        QCOMPARE(w.commentsLabel->text(), QStringLiteral("Velora Version: 1.30"));
        QStringList frames;
        for (QGroupBox* g : w.findChildren<QGroupBox*>())
            frames << g->title();
        QCOMPARE(frames, (QStringList{"Error Messages", "Advanced Options", "Information"}));
    }

    // ------------------------------------------------------------ camera page

    void cameraPageListsTheDrivers()
    {
        Capture cap;
        const int pattern = cap.driverCount() - 1;
        QVERIFY(cap.setDriverIndex(pattern));
        CameraOptionsWindow w(&cap);
        QCOMPARE(w.windowTitle(), QStringLiteral("Camera Options"));
        QCOMPARE(w.driverList->count(), cap.driverCount());
        for (int i = 0; i < cap.driverCount(); ++i)
            QCOMPARE(w.driverList->item(i)->text(), cap.driverName(i));
        QCOMPARE(w.driverList->currentRow(), pattern);
        QCOMPARE(w.descriptionLabel->text(), cap.driverDescription(pattern));
        QCOMPARE(w.noteLabel->text(),
                 QStringLiteral("NOTE: If you change the resolution of the cam you have to go "
                                "OFFLINE and ONLINE to apply the changes on the internet."));
        QCOMPARE(w.sourceButton->text(), QStringLiteral("Video Options"));
        QCOMPARE(w.sourceButton->toolTip(), QStringLiteral("Click here for the Video Options"));
        QCOMPARE(w.formatButton->text(), QStringLiteral("Video Format"));
        QCOMPARE(w.formatButton->toolTip(), QStringLiteral("Click here to change the Video Format"));
        QCOMPARE(w.driverList->toolTip(),
                 QStringLiteral("Select the video driver that you want that Vantora connect and use it."));
        // The buttons follow what the driver offers.
        QCOMPARE(w.formatButton->isEnabled(), cap.hasVideoFormatDialog());
        QCOMPARE(w.sourceButton->isEnabled(), cap.hasVideoSourceDialog());
        // Nothing cycles cameras: the frame is there but cannot be used.
        QCOMPARE(w.cycleBox->text(), QStringLiteral("Enable Cam Cycle"));
        QVERIFY(!w.cycleBox->isEnabled());
        QVERIFY(!w.cycleSlider->isEnabled());
        QVERIFY(cap.connected());
        // Closing without touching anything writes the current index.
        w.unload();
        QCOMPARE(GetSetting("Settings", "drivera"), QString::number(pattern));
        cap.disconnectDriver();
    }

    void choosingADriverSwitchesAtOnce()
    {
        Capture cap;
        const int broken =
            cap.addCamera(QStringLiteral("/dev/vantora-no-such-camera"), QStringLiteral("Gone"));
        const int pattern = cap.driverCount() - 1;
        QVERIFY(cap.setDriverIndex(pattern));
        {
            CameraOptionsWindow w(&cap);
            QCOMPARE(w.driverList->item(broken)->text(), QStringLiteral("Gone"));
            // A driver that cannot be connected: the error window; the selection stays.
            w.driverList->setCurrentRow(broken);
            QVERIFY(!cap.connected());
            QCOMPARE(cap.driverIndex(), broken);
            QVERIFY(loadedErrorWindow());
            QCOMPARE(loadedErrorWindow()->messageLabel->text(),
                     QStringLiteral("Could not connect video driver!"));
            QCOMPARE(w.driverList->currentRow(), broken);
            unloadErrorWindow();
            // And back: connected the moment it is chosen, before the page unloads.
            w.driverList->setCurrentRow(pattern);
            QVERIFY(cap.connected());
            QCOMPARE(cap.driverIndex(), pattern);
            QCOMPARE(w.descriptionLabel->text(), cap.driverDescription(pattern));
            QCOMPARE(GetSetting("Settings", "drivera"), QString());
            w.driverList->setCurrentRow(broken);
        }
        // The stored index is written at unload even when the driver failed.
        QCOMPARE(GetSetting("Settings", "drivera"), QString::number(broken));
        cap.disconnectDriver();
    }

    void cameraOptionsWithoutDrivers()
    {
        CameraOptions o(nullptr);
        o.load();
        QVERIFY(o.driverNames().isEmpty());
        QCOMPARE(o.selected(), -1);
        QVERIFY(!o.formatDialogOffered());
        QVERIFY(!o.select(0));
        o.unload();
        QCOMPARE(GetSetting("Settings", "drivera"), QStringLiteral("-1"));
    }

    // ------------------------------------------------------------ the window

    void windowEntriesAndTitle()
    {
        ConfigurationWindow w(nullptr);
        QCOMPARE(w.windowTitle(), QStringLiteral("Vantora Configuration"));
        QStringList labels;
        for (int n = 1; n <= 6; ++n)
            labels << w.entryLabel(n)->text();
        QCOMPARE(labels, (QStringList{"Velora Settings", "AutoUpdate", "Debug Settings", "Camera Settings",
                                      "Text-On-Image", "Security"}));
        QCOMPARE(w.closeButton->text(), QStringLiteral("Close"));
        // No close command on the title bar.
        QVERIFY(!(w.windowFlags() & Qt::WindowCloseButtonHint));
        QCOMPARE(w.currentPage(), windows::ConfigPage::None);
        QVERIFY(!w.page());
    }

    void entriesOpenTheirPage_data()
    {
        QTest::addColumn<int>("entry");
        QTest::addColumn<bool>("byLabel");
        QTest::addColumn<QString>("title");
        const QStringList titles{"Streaming Options", "General Options", "Debug Settings",
                                 "Camera Options",    "Font Settings",   "Security"};
        for (int n = 1; n <= 6; ++n) {
            QTest::addRow("icon %d", n) << n << false << titles[n - 1];
            QTest::addRow("label %d", n) << n << true << titles[n - 1];
        }
    }
    void entriesOpenTheirPage()
    {
        QFETCH(int, entry);
        QFETCH(bool, byLabel);
        ConfigurationWindow w(nullptr);
        w.show();
        press(byLabel ? static_cast<QWidget*>(w.entryLabel(entry)) : w.entryIcon(entry));
        QCOMPARE(int(w.currentPage()), entry);
        QVERIFY(w.page());
        QTEST(w.page()->windowTitle(), "title");
        // At the top left of the client area, with no window frame of its own.
        QCOMPARE(w.page()->pos(), QPoint(0, 0));
        QVERIFY(!w.page()->isWindow());
    }

    void highlightFollowsThePointer()
    {
        ConfigurationWindow w(nullptr);
        w.show();
        QTest::mouseMove(w.entryIcon(3));
        QCOMPARE(boldEntries(w), QStringList{"Debug Settings"});
        QTest::mouseMove(w.entryLabel(5));
        QCOMPARE(boldEntries(w), QStringList{"Text-On-Image"});
        w.highlight(0);
        QCOMPARE(boldEntries(w), QStringList());
        w.highlight(6);
        QCOMPARE(w.highlighted(), 6);
    }

    void switchingPagesSavesTheOpenOne()
    {
        ConfigurationWindow w(nullptr);
        w.openPage(windows::ConfigPage::General);
        auto* general = qobject_cast<GeneralOptionsWindow*>(w.page());
        QVERIFY(general);
        QPointer<QWidget> old = general;
        general->box(GeneralOptions::AutoCheck)->click();
        w.openPage(windows::ConfigPage::Camera);
        QCOMPARE(GetSetting("Options", "autocheck"), QStringLiteral("0"));
        QVERIFY(old.isNull());
        QVERIFY(qobject_cast<CameraOptionsWindow*>(w.page()));
        QCOMPARE(w.findChildren<CheckOptionsWindow*>().size(), 0);
    }

    void closeSavesTheOpenPage_data()
    {
        QTest::addColumn<bool>("byButton");
        QTest::newRow("Close") << true;
        QTest::newRow("closed otherwise (shutting down)") << false;
    }
    void closeSavesTheOpenPage()
    {
        QFETCH(bool, byButton);
        QPointer<ConfigurationWindow> w = new ConfigurationWindow(nullptr);
        int closedByUser = 0;
        connect(w, &ConfigurationWindow::closedByUser, this, [&] { ++closedByUser; });
        w->show();
        w->openPage(windows::ConfigPage::Streaming);
        auto* page = qobject_cast<StreamingOptionsWindow*>(w->page());
        QVERIFY(page);
        page->qualitySlider->setValue(77);
        if (byButton)
            w->closeButton->click();
        else
            w->close();
        QCOMPARE(GetSetting("JPEG", "Quality"), QStringLiteral("77"));
        QCOMPARE(globals().JpegQuality, 77);
        QCOMPARE(closedByUser, byButton ? 1 : 0);
        QTRY_VERIFY(w.isNull());
    }

    void placesThatPointAtAPageOpenIt()
    {
        registerConfigurationWindow();
        // The video-driver failure window's "Go to configuration": the camera page.
        CameraUnavailableDialog* failure = driverFailureWindow(nullptr);
        failure->configureButton->click();
        QVERIFY(loadedConfigurationWindow());
        QCOMPARE(loadedConfigurationWindow()->currentPage(), windows::ConfigPage::Camera);

        // A capture error points at its switch, which is on the debug page.
        ShowErrorWindow(QStringLiteral("Video Device Error: x"), windows::ConfigPage::Debug);
        QVERIFY(loadedErrorWindow()->configureButton->isVisible());
        QCOMPARE(loadedErrorWindow()->configureButton->text(), QStringLiteral("Go to configuration"));
        loadedErrorWindow()->configureButton->click();
        QCOMPARE(loadedConfigurationWindow()->currentPage(), windows::ConfigPage::Debug);
        QVERIFY(!loadedErrorWindow());
        // Other errors point nowhere.
        ShowErrorWindow(QStringLiteral("Something else"));
        QVERIFY(!loadedErrorWindow()->configureButton->isVisible());
        unloadErrorWindow();

        // Opening without a page keeps the one that is open; shutting down saves it.
        windows::openConfiguration(nullptr, windows::ConfigPage::Security);
        auto* security = qobject_cast<SecurityOptionsWindow*>(loadedConfigurationWindow()->page());
        QVERIFY(security);
        security->box(SecurityOptions::DisableChat)->click();
        windows::openConfiguration(nullptr);
        QCOMPARE(loadedConfigurationWindow()->page(), security);
        QPointer<ConfigurationWindow> w = loadedConfigurationWindow();
        windows::unloadWindow(QStringLiteral("configuration"));
        QCOMPARE(GetSetting("Options", "DisChat"), QStringLiteral("1"));
        QTRY_VERIFY(w.isNull());
        windows::setConfigurationOpener(windows::WindowOpener());
    }

    void labelPageSavesWhenSwitchedAway()
    {
        ConfigurationWindow w(nullptr);
        w.openPage(windows::ConfigPage::Labels);
        auto* labels = qobject_cast<LabelListWindow*>(w.page());
        QVERIFY(labels);
        labels->addLabel();
        w.openPage(windows::ConfigPage::Security);
        QCOMPARE(GetSetting("Captions", "index"), QStringLiteral("1"));
        QCOMPARE(GetSetting("Captions", "1caption"), QStringLiteral("Text label 1"));
    }
};

VANTORA_TEST_MAIN(TestConfigPages)
#include "tst_config_pages.moc"
