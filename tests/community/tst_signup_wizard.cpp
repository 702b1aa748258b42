// The registration wizard against the real vantora-directory on loopback,
// inside the real main window with the real streaming engine: the question
// on a start without account, every local check, every answer word, the
// directory gone and back, and the wizard's own boxes.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include "capture/Prompt.h"
#include "community/CommunityWindows.h"
#include "community/SignupWizard.h"
#include "server/StreamingEngine.h"
#include "shell/Desktop.h"
#include "shell/Globals.h"
#include "shell/MainWindow.h"
#include "shell/OnlineController.h"
#include "shell/Settings.h"
#include "shell/WindowRegistry.h"
#include "tests/support/DirectoryProcess.h"
#include "tests/support/TestEnvironment.h"

namespace {
const QString kTitle = QStringLiteral("Vantora Registration Wizzard");
const QString kDomain = QStringLiteral("vantora.example");
const QStringList kDirectoryArgs{QStringLiteral("--domains"), QStringLiteral("vantora.example")};
} // namespace

class TestSignupWizard : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void noAccountQuestion_data();
    void noAccountQuestion();
    void wizardOpensOffline();
    void localChecksInOrder_data();
    void localChecksInOrder();
    void answerWords_data();
    void answerWords();
    void busyWhileTheRequestRuns();
    void directoryGoneThenCancel();
    void directoryGoneThenBackOnRetry();
    void closeAsksFirst_data();
    void closeAsksFirst();
    void whyEmailAndTerms();

private:
    SignupWizard* openWizard();
    void fill(SignupWizard* w, const QString& user, const QString& password, const QString& email,
              int domainIndex = 0);
    void goOffline();
    void signAndWait(SignupWizard* w);
    DirectoryProcess m_dir;
    MainWindow* m_main = nullptr;
    QList<QUrl> m_opened;
    int m_settingsNo = 0;
};

void TestSignupWizard::initTestCase()
{
    QVERIFY2(m_dir.start(kDirectoryArgs), m_dir.log().constData());
    QVERIFY(m_dir.addMember(QStringLiteral("taken"), kDomain, QStringLiteral("secret1")));
    QVERIFY(m_dir.addMember(QStringLiteral("mailer"), kDomain, QStringLiteral("secret1"),
                            QStringLiteral("used@example.org")));
    qputenv("VANTORA_SERVER", m_dir.hostPort().toLatin1());
    StreamingEngine::setListenAddress(QHostAddress::LocalHost);
    StreamingEngine::registerFactory();
    registerCommunityWindows();
    desktop::setUrlOpener([this](const QUrl& u) {
        m_opened.append(u);
        return true;
    });
    m_main = buildMainWindow();
    QVERIFY(m_main);
}

void TestSignupWizard::init()
{
    resetGlobals();
    QCOMPARE(globals().ServerHost, m_dir.hostPort());
    setSettingsPath(testenv::root() + QStringLiteral("/signup-%1.ini").arg(++m_settingsNo));
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Port"), QStringLiteral("0"));
    m_main->domainBox->clear();
    m_main->domainBox->addItems(globals().AccountDomains);
    m_main->userNameEdit->clear();
    m_main->passwordEdit->clear();
    MessageBox::clearHistory();
    m_opened.clear();
}

void TestSignupWizard::cleanup()
{
    if (SignupWizard* w = SignupWizard::instance()) {
        MessageBox::setNextAnswer(QMessageBox::Yes);
        w->onClose();
    }
    QVERIFY(!SignupWizard::instance());
    goOffline();
}

void TestSignupWizard::goOffline()
{
    if (m_main->onlineSwitch->isChecked())
        m_main->onlineSwitch->setChecked(false);
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->onlineController()->session(), 30000);
}

SignupWizard* TestSignupWizard::openWizard()
{
    SignupWizard* w = SignupWizard::open(m_main);
    w->termsBox->setChecked(true);
    return w;
}

void TestSignupWizard::fill(SignupWizard* w, const QString& user, const QString& password,
                            const QString& email, int domainIndex)
{
    w->userEdit->setText(user);
    w->passwordEdit->setText(password);
    w->passwordAgainEdit->setText(password);
    w->nameEdit->setText(QStringLiteral("Test Member"));
    w->emailEdit->setText(email);
    w->domainBox->setCurrentIndex(domainIndex);
}

void TestSignupWizard::signAndWait(SignupWizard* w)
{
    QPointer<SignupWizard> guard(w);
    QSignalSpy sent(w->registration(), &Registration::sending);
    QTest::mouseClick(w->signUpButton, Qt::LeftButton);
    // An unanswered Retry box in test mode retries at once: stop at the second attempt.
    // A wizard that created the account closes and is deleted meanwhile.
    QTRY_VERIFY_WITH_TIMEOUT(!guard || !guard->registration()->busy() || sent.size() > 1, 30000);
    QVERIFY2(sent.size() == 1, qPrintable(MessageBox::history().value(0).text));
}

void TestSignupWizard::noAccountQuestion_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("yes opens the wizard") << true;
    QTest::newRow("no explains where") << false;
}

void TestSignupWizard::noAccountQuestion()
{
    QFETCH(bool, yes);
    MessageBox::setNextAnswer(yes ? QMessageBox::Yes : QMessageBox::No);
    m_main->onlineSwitch->setChecked(true);
    QVERIFY(!m_main->onlineSwitch->isChecked());
    const auto& shown = MessageBox::history();
    QVERIFY(!shown.isEmpty());
    QCOMPARE(shown[0].icon, QMessageBox::Question);
    QCOMPARE(shown[0].text,
             QStringLiteral(
                 "You need to create an account at Vantora to use streaming. Would you create an account?"));
    if (yes) {
        QCOMPARE(shown.size(), 1);
        SignupWizard* w = SignupWizard::instance();
        QVERIFY(w);
        QCOMPARE(w->parentWidget(), m_main);
        QVERIFY(w->isVisible());
        QVERIFY(!w->isModal());
    } else {
        QCOMPARE(shown.size(), 2);
        QCOMPARE(shown[1].icon, QMessageBox::Information);
        QCOMPARE(shown[1].text,
                 QStringLiteral(
                     "You can create an account later in the configuration window --> Streaming Options"));
        QVERIFY(!SignupWizard::instance());
    }
}

void TestSignupWizard::wizardOpensOffline()
{
    // Online with a stored account: opening the wizard logs off first.
    SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Domain"), kDomain);
    m_main->userNameEdit->setText(QStringLiteral("taken"));
    m_main->passwordEdit->setText(QStringLiteral("secret1"));
    m_main->onlineSwitch->setChecked(true);
    QVERIFY(m_main->onlineController()->session());
    QTRY_VERIFY_WITH_TIMEOUT(globals().LoggedIn, 30000);

    SignupWizard* w = SignupWizard::open(m_main);
    QVERIFY(!m_main->onlineSwitch->isChecked());
    QTRY_VERIFY_WITH_TIMEOUT(!m_main->onlineController()->session(), 30000);
    QCOMPARE(w->windowTitle(), kTitle);
    QCOMPARE(w->domainBox->count(), 2);
    QCOMPARE(w->domainBox->itemText(0), kDomain);
    QCOMPARE(w->domainBox->itemText(1), QStringLiteral("camfriends.example"));
    QCOMPARE(w->domainBox->currentIndex(), 0);
    QCOMPARE(w->passwordEdit->echoMode(), QLineEdit::Password);
    QCOMPARE(w->passwordAgainEdit->echoMode(), QLineEdit::Password);
    for (QLineEdit* edit : {w->passwordEdit, w->passwordAgainEdit})
        QCOMPARE(edit->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, edit), int('*'));
    QVERIFY(!w->termsBox->isChecked());
    QVERIFY(!w->adultBox->isChecked());
    QVERIFY(!w->signUpButton->isEnabled());
    QVERIFY(w->busyBar->isHidden());
    w->termsBox->setChecked(true);
    QVERIFY(w->signUpButton->isEnabled());
    w->termsBox->setChecked(false);
    QVERIFY(!w->signUpButton->isEnabled());
    // Opening again raises the same window.
    QCOMPARE(SignupWizard::open(m_main), w);
}

void TestSignupWizard::localChecksInOrder_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("again");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("email");
    QTest::addColumn<bool>("terms");
    QTest::addColumn<QString>("message");
    const QString u = QStringLiteral("someone"), p = QStringLiteral("pass1"), n = QStringLiteral("Some One"),
                  e = QStringLiteral("some@one.org");
    QTest::newRow("passwords differ")
        << QStringLiteral("a b") << p << QStringLiteral("other") << QStringLiteral("x") << QStringLiteral("x")
        << false << QStringLiteral("Passwords doesn't match. Please re-enter passwords");
    QTest::newRow("user with a blank") << QStringLiteral("some one") << p << p << n << e << true
                                       << QStringLiteral("Username contains invalid characters");
    QTest::newRow("user with a double quote") << QStringLiteral("some\"one") << p << p << n << e << true
                                              << QStringLiteral("Username contains invalid characters");
    QTest::newRow("password with apostrophe")
        << u << QStringLiteral("ab'c") << QStringLiteral("ab'c") << n << e << true
        << QStringLiteral("Password contains invalid characters");
    QTest::newRow("name with ampersand") << u << p << p << QStringLiteral("Me & You") << e << true
                                         << QStringLiteral("Name contains invalid characters");
    QTest::newRow("email with apostrophe") << u << p << p << n << QStringLiteral("o'neil@one.org") << true
                                           << QStringLiteral("E-Mail contains invalid characters");
    QTest::newRow("email without @") << u << p << p << n << QStringLiteral("some.one.org") << true
                                     << QStringLiteral("Invalid E-Mail address");
    QTest::newRow("email without point")
        << u << p << p << n << QStringLiteral("some@one") << true << QStringLiteral("Invalid E-Mail address");
    QTest::newRow("email too short") << u << p << p << n << QStringLiteral("@.a") << true
                                     << QStringLiteral("Invalid E-Mail address");
    QTest::newRow("name too short") << QStringLiteral("so") << p << p << QStringLiteral("So") << e << true
                                    << QStringLiteral("Invalid Name");
    QTest::newRow("user too short") << QStringLiteral("so") << p << p << n << e << true
                                    << QStringLiteral("Invalid Username (minimal 3 characters)");
    QTest::newRow("password too short") << u << QStringLiteral("abc") << QStringLiteral("abc") << n << e
                                        << true << QStringLiteral("Invalid Password (minimal 4 characters)");
    QTest::newRow("terms not accepted")
        << u << p << p << n << e << false << QStringLiteral("You must agree the terms && conditions");
}

void TestSignupWizard::localChecksInOrder()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, again);
    QFETCH(QString, name);
    QFETCH(QString, email);
    QFETCH(bool, terms);
    QFETCH(QString, message);
    SignupWizard* w = SignupWizard::open(m_main);
    w->userEdit->setText(user);
    w->passwordEdit->setText(password);
    w->passwordAgainEdit->setText(again);
    w->nameEdit->setText(name);
    w->emailEdit->setText(email);
    w->termsBox->setChecked(terms);
    QSignalSpy sent(w->registration(), &Registration::sending);
    QSignalSpy busy(w->registration(), &Registration::busyChanged);
    // The button is off without the terms; pressed anyway, the last check refuses.
    w->onSignUp();
    QCOMPARE(MessageBox::history().size(), 1);
    const MessageBox::Shown& box = MessageBox::history().first();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, kTitle);
    QCOMPARE(box.text, message);
    QCOMPARE(box.buttons, MessageBox::Buttons(QMessageBox::Ok));
    QCOMPARE(sent.size(), 0);
    QCOMPARE(busy.size(), 2); // busy, then idle again
    QVERIFY(!w->registration()->busy());
    QVERIFY(w->busyBar->isHidden());
    QCOMPARE(w->signUpButton->isEnabled(), terms);
}

void TestSignupWizard::answerWords_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("email");
    QTest::addColumn<int>("domainIndex");
    QTest::addColumn<QString>("message"); // empty: created
    QTest::newRow("user name in use") << QStringLiteral("taken") << QStringLiteral("new1@example.org") << 0
                                      << QStringLiteral("Username is in use by another member");
    QTest::newRow("email in use") << QStringLiteral("newcomer") << QStringLiteral("used@example.org") << 0
                                  << QStringLiteral(
                                         "E-Mail is in use by another account. Contact "
                                         "support@vantora.example if you have forgot you password");
    QTest::newRow("domain closed") << QStringLiteral("newcomer") << QStringLiteral("new2@example.org") << 1
                                   << QStringLiteral(
                                          "Domain camfriends.example is currently not avaible for new "
                                          "accounts. Try few days later or register on another domain.");
    QTest::newRow("created") << QStringLiteral("newcomer") << QStringLiteral("new3@example.org") << 0
                             << QString();
}

void TestSignupWizard::answerWords()
{
    QFETCH(QString, user);
    QFETCH(QString, email);
    QFETCH(int, domainIndex);
    QFETCH(QString, message);
    // A password with blanks and characters that mean something in an address.
    const QString password = QStringLiteral("my pass+1#");
    SignupWizard* w = openWizard();
    fill(w, user, password, email, domainIndex);
    w->adultBox->setChecked(true);
    QPointer<SignupWizard> guard(w);
    signAndWait(w);
    const auto& shown = MessageBox::history();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].title, kTitle);
    if (!message.isEmpty()) {
        QCOMPARE(shown[0].icon, QMessageBox::Critical);
        QCOMPARE(shown[0].text, message);
        QVERIFY(guard && guard->isVisible());
        QVERIFY(w->busyBar->isHidden());
        QVERIFY(w->signUpButton->isEnabled());
        QVERIFY(!m_main->onlineSwitch->isChecked());
        QVERIFY(!m_main->onlineController()->session());
        return;
    }
    QCOMPARE(shown[0].icon, QMessageBox::Information);
    QCOMPARE(shown[0].text, QStringLiteral("Account is created. You're now online"));
    QTRY_VERIFY(!guard);
    QVERIFY(!SignupWizard::instance());
    // The main window has the account, has stored it and logs on with it.
    QCOMPARE(m_main->userNameEdit->text(), user);
    QCOMPARE(m_main->passwordEdit->text(), password);
    QCOMPARE(m_main->domainBox->currentIndex(), domainIndex);
    QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Username")), user);
    QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Password")), password);
    QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Domain")), kDomain);
    QCOMPARE(GetSetting(QStringLiteral("Streaming"), QStringLiteral("Enable")), QStringLiteral("1"));
    QVERIFY(m_main->onlineSwitch->isChecked());
    QVERIFY(m_main->onlineController()->session());
    QCOMPARE(globals().AccountName, user + u'.' + kDomain);
    QTRY_VERIFY_WITH_TIMEOUT(globals().LoggedIn, 30000);
    QCOMPARE(m_main->lastResponseLabel->text(), QStringLiteral("OK"));
}

void TestSignupWizard::busyWhileTheRequestRuns()
{
    SignupWizard* w = openWizard();
    fill(w, QStringLiteral("taken"), QStringLiteral("pass1"), QStringLiteral("busy@example.org"));
    QSignalSpy sent(w->registration(), &Registration::sending);
    QTest::mouseClick(w->signUpButton, Qt::LeftButton);
    QVERIFY(w->registration()->busy());
    QVERIFY(!w->signUpButton->isEnabled());
    QVERIFY(!w->busyBar->isHidden());
    QVERIFY(w->busyTimer->isActive());
    QCOMPARE(w->busyTimer->interval(), 250);
    w->onSignUp(); // a second press while busy sends nothing
    QCOMPARE(sent.size(), 1);
    w->onBusyTick();
    QCOMPARE(w->busyBar->value(), 10);
    QTRY_VERIFY_WITH_TIMEOUT(!w->registration()->busy(), 30000);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(MessageBox::history().size(), 1);
    QVERIFY(!w->busyTimer->isActive());
}

void TestSignupWizard::directoryGoneThenCancel()
{
    const quint16 port = m_dir.port();
    m_dir.stop();
    SignupWizard* w = openWizard();
    const QString password = QStringLiteral("gone pass");
    fill(w, QStringLiteral("latecomer"), password, QStringLiteral("late@example.org"));
    MessageBox::setNextAnswer(QMessageBox::Cancel);
    signAndWait(w);
    QVERIFY2(m_dir.start(kDirectoryArgs +
                         QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:%1").arg(port)}),
             m_dir.log().constData());
    const auto& shown = MessageBox::history();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown[0].icon, QMessageBox::Critical);
    QCOMPARE(shown[0].title, kTitle);
    QCOMPARE(shown[0].buttons, MessageBox::Buttons(QMessageBox::Retry | QMessageBox::Cancel));
    QVERIFY2(shown[0].text.startsWith(QStringLiteral("ERROR: ")), qPrintable(shown[0].text));
    QVERIFY2(!shown[0].text.contains(QStringLiteral("gone")), qPrintable(shown[0].text));
    QVERIFY(w->isVisible());
    QVERIFY(w->busyBar->isHidden());
    QVERIFY(w->signUpButton->isEnabled());
    QVERIFY(!m_main->onlineSwitch->isChecked());
}

void TestSignupWizard::directoryGoneThenBackOnRetry()
{
    const quint16 port = m_dir.port();
    m_dir.stop();
    SignupWizard* w = openWizard();
    fill(w, QStringLiteral("patient"), QStringLiteral("pass1"), QStringLiteral("patient@example.org"));
    // The directory comes back while the Retry box is up; the retry goes to it.
    bool restarted = false;
    int attempts = 0;
    connect(w->registration(), &Registration::sending, this, [&] {
        if (++attempts == 2)
            restarted = m_dir.start(kDirectoryArgs + QStringList{QStringLiteral("--listen"),
                                                                 QStringLiteral("127.0.0.1:%1").arg(port)});
    });
    MessageBox::setNextAnswer(QMessageBox::Retry);
    QPointer<SignupWizard> guard(w);
    QTest::mouseClick(w->signUpButton, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!guard, 30000);
    QVERIFY2(restarted, m_dir.log().constData());
    QCOMPARE(attempts, 2);
    const auto& shown = MessageBox::history();
    QCOMPARE(shown.size(), 2);
    QCOMPARE(shown[0].answer, QMessageBox::Retry);
    QCOMPARE(shown[1].text, QStringLiteral("Account is created. You're now online"));
    QTRY_VERIFY_WITH_TIMEOUT(globals().LoggedIn, 30000);
    QCOMPARE(globals().AccountName, QStringLiteral("patient.vantora.example"));
}

void TestSignupWizard::closeAsksFirst_data()
{
    QTest::addColumn<bool>("titleBar");
    QTest::addColumn<bool>("yes");
    QTest::newRow("Close, No") << false << false;
    QTest::newRow("Close, Yes") << false << true;
    QTest::newRow("title bar, No") << true << false;
    QTest::newRow("title bar, Yes") << true << true;
}

void TestSignupWizard::closeAsksFirst()
{
    QFETCH(bool, titleBar);
    QFETCH(bool, yes);
    QPointer<SignupWizard> w = SignupWizard::open(m_main);
    MessageBox::setNextAnswer(yes ? QMessageBox::Yes : QMessageBox::No);
    if (titleBar)
        w->close();
    else
        QTest::mouseClick(w->closeButton, Qt::LeftButton);
    QCOMPARE(MessageBox::history().size(), 1);
    const MessageBox::Shown& box = MessageBox::history().first();
    QCOMPARE(box.icon, QMessageBox::Information);
    QCOMPARE(box.title, kTitle);
    QCOMPARE(box.buttons, MessageBox::Buttons(QMessageBox::Yes | QMessageBox::No));
    QCOMPARE(box.text,
             QStringLiteral("If you don't have a username you cannot use the online options of our "
                            "software.\r\n\r\nAre you sure you want to exit registration wizzard?"));
    if (yes) {
        QVERIFY(!SignupWizard::instance());
        QTRY_VERIFY(!w);
    } else {
        QVERIFY(w && w->isVisible());
        QCOMPARE(SignupWizard::instance(), w.data());
    }
}

void TestSignupWizard::whyEmailAndTerms()
{
    SignupWizard* w = SignupWizard::open(m_main);
    emit w->whyEmailLink->linkActivated(QStringLiteral("#"));
    QCOMPARE(MessageBox::history().size(), 1);
    QCOMPARE(MessageBox::history()[0].icon, QMessageBox::Information);
    QCOMPARE(MessageBox::history()[0].title, kTitle);
    QCOMPARE(MessageBox::history()[0].text,
             QStringLiteral(
                 "We use your email ONLY for own purposes. (This means that it only will be used for some "
                 "things on our site)\r\nExample is Support, so we can contact you\r\nWe don't sell or give "
                 "your email away. Never!\r\nIt WON'T be shown on your member page."));
    emit w->termsLink->linkActivated(QStringLiteral("#"));
    QCOMPARE(m_opened, QList<QUrl>{QUrl(QStringLiteral("http://%1/terms.html").arg(m_dir.hostPort()))});
    QCOMPARE(w->termsBox->text(), QStringLiteral("I accept the Terms && Conditions"));
    QCOMPARE(w->adultBox->text(),
             QStringLiteral("This webcam can contain pornograpic material (Adults only)"));
}

VANTORA_TEST_MAIN(TestSignupWizard)
#include "tst_signup_wizard.moc"
