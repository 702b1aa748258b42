// Prompts: queued answers, test mode, and boxes that nobody can see offscreen.

#include "capture/Prompt.h"
#include "tests/support/TestEnvironment.h"

class TestPrompt : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        MessageBox::clearHistory();
        MessageBox::setTestMode(true);
    }

    void queuedAnswerIsTakenOnce()
    {
        MessageBox::setNextAnswer(QMessageBox::No);
        QCOMPARE(MessageBox::question(nullptr, "T", "first?"), QMessageBox::No);
        QCOMPARE(MessageBox::question(nullptr, "T", "second?"), QMessageBox::Yes);
        QCOMPARE(MessageBox::history().size(), 2);
        QCOMPARE(MessageBox::history().at(0).text, QString("first?"));
        QCOMPARE(MessageBox::history().at(0).icon, QMessageBox::Question);
    }

    void offscreenTakesTheAnswerThatChangesNothing_data()
    {
        QTest::addColumn<int>("buttons");
        QTest::addColumn<int>("answer");
        QTest::newRow("yes/no") << int(QMessageBox::Yes | QMessageBox::No) << int(QMessageBox::No);
        QTest::newRow("retry/cancel")
            << int(QMessageBox::Retry | QMessageBox::Cancel) << int(QMessageBox::Cancel);
        QTest::newRow("ok") << int(QMessageBox::Ok) << int(QMessageBox::Ok);
        QTest::newRow("abort/ignore")
            << int(QMessageBox::Abort | QMessageBox::Ignore) << int(QMessageBox::Abort);
    }
    void offscreenTakesTheAnswerThatChangesNothing()
    {
        QFETCH(int, buttons);
        QFETCH(int, answer);
        QCOMPARE(QGuiApplication::platformName(), QString("offscreen"));
        MessageBox::setTestMode(false);
        const auto got = MessageBox::show(QMessageBox::Information, nullptr, "Title", "Text",
                                          MessageBox::Buttons(buttons));
        QCOMPARE(int(got), answer);
        QCOMPARE(MessageBox::history().size(), 1);
    }

    void offscreenFileChoosersAreCancelled()
    {
        MessageBox::setTestMode(false);
        QVERIFY(FileDialog::getSaveFileName(nullptr, "Save", "/tmp/x.avi", "*.avi").isEmpty());
        QVERIFY(FileDialog::getExistingDirectory(nullptr, "Folder").isEmpty());
        FileDialog::setNextFileName("/tmp/y.avi");
        QCOMPARE(FileDialog::getSaveFileName(nullptr, "Save", "/tmp/x.avi", "*.avi"), QString("/tmp/y.avi"));
    }

    void cleanupTestCase() { MessageBox::setTestMode(true); }
};

VANTORA_TEST_MAIN(TestPrompt)
#include "tst_prompt.moc"
