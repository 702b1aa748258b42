#include "community/SignupWizard.h"

#include "capture/Prompt.h"
#include "shell/Desktop.h"
#include "shell/Globals.h"
#include "shell/MainWindow.h"
#include "shell/OnlineController.h"
#include "shell/Product.h"
#include "shell/Settings.h"
#include "shell/WindowRegistry.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QProxyStyle>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {
QPointer<SignupWizard> openWizard;

// The password boxes show "*" for each character, whatever the desktop style uses.
class StarPasswordStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QLabel* linkLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(QStringLiteral("<a href=\"#\">%1</a>").arg(text.toHtmlEscaped()), parent);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    return label;
}
} // namespace

SignupWizard* SignupWizard::instance() { return openWizard.data(); }

SignupWizard* SignupWizard::open(QWidget* owner)
{
    if (!openWizard)
        openWizard = new SignupWizard(owner);
    openWizard->show();
    openWizard->raise();
    openWizard->activateWindow();
    return openWizard;
}

SignupWizard::SignupWizard(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("signupWizard"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(globals().AppName + QStringLiteral(" Registration Wizzard"));

    auto* layout = new QVBoxLayout(this);
    auto* welcome = new QLabel(
        QStringLiteral(
            "Welcome at the %1 Registration Wizzard. If you have finished this wizzard you can use "
            "%1 streaming. The Terms & Conditions can be viewed if you click on the link.")
            .arg(globals().AppName),
        this);
    welcome->setWordWrap(true);
    layout->addWidget(welcome);

    auto* fields = new QFormLayout;
    userEdit = new QLineEdit(this);
    domainBox = new QComboBox(this);
    auto* userRow = new QHBoxLayout;
    userRow->addWidget(userEdit, 1);
    userRow->addWidget(new QLabel(QStringLiteral("."), this));
    userRow->addWidget(domainBox, 1);
    fields->addRow(QStringLiteral("Username:"), userRow);
    passwordEdit = new QLineEdit(this);
    passwordEdit->setEchoMode(QLineEdit::Password);
    fields->addRow(QStringLiteral("Password:"), passwordEdit);
    passwordAgainEdit = new QLineEdit(this);
    passwordAgainEdit->setEchoMode(QLineEdit::Password);
    fields->addRow(QStringLiteral("Re-Enter Pass:"), passwordAgainEdit);
    nameEdit = new QLineEdit(this);
    fields->addRow(QStringLiteral("Name:"), nameEdit);
    emailEdit = new QLineEdit(this);
    whyEmailLink = linkLabel(QStringLiteral("(Why my email?)"), this);
    auto* emailRow = new QHBoxLayout;
    emailRow->addWidget(emailEdit, 1);
    emailRow->addWidget(whyEmailLink);
    fields->addRow(QStringLiteral("E-Mail:"), emailRow);
    layout->addLayout(fields);

    termsBox = new QCheckBox(QStringLiteral("I accept the Terms && Conditions"), this);
    adultBox =
        new QCheckBox(QStringLiteral("This webcam can contain pornograpic material (Adults only)"), this);
    termsLink = linkLabel(QStringLiteral("Terms & Conditions"), this);
    layout->addWidget(termsBox);
    layout->addWidget(adultBox);
    layout->addWidget(termsLink);

    busyBar = new QProgressBar(this);
    busyBar->setRange(0, 100);
    busyBar->setValue(0);
    busyBar->setTextVisible(false);
    busyBar->hide();
    layout->addWidget(busyBar);
    busyTimer = new QTimer(this);
    busyTimer->setInterval(250);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    signUpButton = new QPushButton(QStringLiteral("Sign up"), this);
    signUpButton->setEnabled(false);
    closeButton = new QPushButton(QStringLiteral("Close"), this);
    buttons->addWidget(signUpButton);
    buttons->addWidget(closeButton);
    layout->addLayout(buttons);

    auto* stars = new StarPasswordStyle;
    stars->setParent(this);
    passwordEdit->setStyle(stars);
    passwordAgainEdit->setStyle(stars);

    setTabOrder(userEdit, passwordEdit);
    setTabOrder(passwordEdit, passwordAgainEdit);
    setTabOrder(passwordAgainEdit, nameEdit);
    setTabOrder(nameEdit, emailEdit);

    m_registration = new Registration(
        {[this](const QString& message) { MessageBox::critical(this, boxTitle(), message); },
         [this](const QString& message) {
             return MessageBox::critical(this, boxTitle(), message,
                                         QMessageBox::Retry | QMessageBox::Cancel) == QMessageBox::Retry;
         },
         [this](const SignupForm& f) { accountCreated(f); }},
        this);
    m_registration->setServerHost(globals().ServerHost);
    connect(m_registration, &Registration::busyChanged, this, &SignupWizard::setBusy);

    connect(termsBox, &QCheckBox::toggled, this,
            [this](bool on) { signUpButton->setEnabled(on && !m_registration->busy()); });
    connect(signUpButton, &QPushButton::clicked, this, &SignupWizard::onSignUp);
    connect(closeButton, &QPushButton::clicked, this, &SignupWizard::onClose);
    connect(whyEmailLink, &QLabel::linkActivated, this, &SignupWizard::onWhyEmail);
    connect(termsLink, &QLabel::linkActivated, this, &SignupWizard::onTermsLink);
    connect(busyTimer, &QTimer::timeout, this, &SignupWizard::onBusyTick);

    // Registering works offline: going on with the old account would log it on.
    if (MainWindow* main = mainWindow())
        main->onlineSwitch->setChecked(false);
    domainBox->addItems(globals().AccountDomains);
    domainBox->setCurrentIndex(0);
}

QString SignupWizard::boxTitle() const { return globals().AppName + QStringLiteral(" Registration Wizzard"); }

SignupForm SignupWizard::form() const
{
    SignupForm f;
    f.user = userEdit->text();
    f.password = passwordEdit->text();
    f.passwordAgain = passwordAgainEdit->text();
    f.name = nameEdit->text();
    f.email = emailEdit->text();
    f.domain = domainBox->currentText();
    f.termsAccepted = termsBox->isChecked();
    f.adult = adultBox->isChecked();
    return f;
}

void SignupWizard::onSignUp() { m_registration->sign(form()); }

void SignupWizard::setBusy(bool busy)
{
    signUpButton->setEnabled(!busy && termsBox->isChecked());
    busyBar->setVisible(busy);
    if (busy)
        busyTimer->start();
    else
        busyTimer->stop();
}

void SignupWizard::onBusyTick() { busyBar->setValue(signup::nextBusyValue(busyBar->value())); }

bool SignupWizard::confirmClose()
{
    return MessageBox::show(
               QMessageBox::Information, this, boxTitle(),
               QStringLiteral("If you don't have a username you cannot use the online options of our "
                              "software.\r\n\r\nAre you sure you want to exit registration wizzard?"),
               QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void SignupWizard::onClose()
{
    if (!confirmClose())
        return;
    m_closeConfirmed = true;
    close();
}

void SignupWizard::closeEvent(QCloseEvent* event)
{
    // The title bar's close asks like "Close" does.
    if (!m_closeConfirmed && !confirmClose()) {
        event->ignore();
        return;
    }
    m_closeConfirmed = true;
    if (openWizard == this)
        openWizard = nullptr;
    event->accept();
}

void SignupWizard::onWhyEmail()
{
    MessageBox::information(
        this, boxTitle(),
        QStringLiteral(
            "We use your email ONLY for own purposes. (This means that it only will be used for some "
            "things on our site)\r\nExample is Support, so we can contact you\r\nWe don't sell or give "
            "your email away. Never!\r\nIt WON'T be shown on your member page."));
}

void SignupWizard::onTermsLink() { desktop::openDocument(product::pageUrl(product::Page::Terms)); }

void SignupWizard::accountCreated(const SignupForm& f)
{
    if (MainWindow* main = mainWindow()) {
        main->userNameEdit->setText(f.user);
        main->passwordEdit->setText(f.password);
        main->domainBox->setCurrentIndex(domainBox->currentIndex());
        if (main->domainBox->currentText() != f.domain) // its list was not filled
            main->domainBox->setEditText(f.domain);
        // The online switch stores user name and password only; the domain
        // must be stored too or the logon would go out under the old one.
        SaveSetting(QStringLiteral("Streaming"), QStringLiteral("Domain"), f.domain);
        main->userLabel->setText(f.user);
        main->domainLabel->setText(f.domain);
        QPointer<MainWindow> guard(main);
        // A session still logging off the old account is let finish first.
        OnlineController* online = main->onlineController();
        OnlineController::whenEnded(
            online ? online->session() : nullptr,
            [guard] {
                if (!guard)
                    return;
                if (guard->onlineSwitch->isChecked())
                    guard->onOnlineSwitchToggled();
                else
                    guard->onlineSwitch->setChecked(true);
            },
            30000);
    }
    MessageBox::information(this, boxTitle(), QStringLiteral("Account is created. You're now online"));
    desktop::doEvents();
    m_closeConfirmed = true;
    close();
}

void registerSignupWizard()
{
    windows::setSignupOpener([](QWidget* owner) { SignupWizard::open(owner); });
}
