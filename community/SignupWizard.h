#pragma once
// The registration wizard window: the form, the busy bar and the boxes the
// registration asks for. What is checked and sent lives in Registration.

#include <QWidget>

#include "community/Registration.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

class SignupWizard : public QWidget
{
    Q_OBJECT
public:
    // The open wizard, or null.
    static SignupWizard* instance();
    // Opens the wizard owned by `owner` (or raises the open one).
    static SignupWizard* open(QWidget* owner);

    QLineEdit* userEdit = nullptr;
    QLineEdit* passwordEdit = nullptr;
    QLineEdit* passwordAgainEdit = nullptr;
    QLineEdit* nameEdit = nullptr;
    QLineEdit* emailEdit = nullptr;
    QComboBox* domainBox = nullptr;
    QCheckBox* termsBox = nullptr;
    QCheckBox* adultBox = nullptr;
    QLabel* termsLink = nullptr;
    QLabel* whyEmailLink = nullptr;
    QPushButton* signUpButton = nullptr;
    QPushButton* closeButton = nullptr;
    QProgressBar* busyBar = nullptr;
    QTimer* busyTimer = nullptr;

    Registration* registration() const { return m_registration; }
    SignupForm form() const;

    void onSignUp();
    void onClose(); // asks, then closes on Yes
    void onWhyEmail();
    void onTermsLink();
    void onBusyTick();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    explicit SignupWizard(QWidget* owner);
    void setBusy(bool busy);
    QString boxTitle() const;
    bool confirmClose();
    void accountCreated(const SignupForm& form);

    Registration* m_registration = nullptr;
    bool m_closeConfirmed = false;
};

// Lets the main window open the wizard when no account is stored.
void registerSignupWizard();
