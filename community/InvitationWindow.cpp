#include "community/InvitationWindow.h"

#include "capture/Prompt.h"
#include "server/StreamingEngine.h"
#include "shell/Globals.h"
#include "shell/MainWindow.h"
#include "shell/OnlineController.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>

namespace {
QPointer<InvitationWindow> openWindow;
} // namespace

InvitationWindow* InvitationWindow::instance() { return openWindow.data(); }

InvitationWindow* InvitationWindow::open(QWidget* owner)
{
    if (!openWindow)
        openWindow = new InvitationWindow(owner);
    openWindow->show();
    openWindow->raise();
    openWindow->activateWindow();
    return openWindow;
}

InvitationWindow::InvitationWindow(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("invitation"));
    setWindowTitle(QStringLiteral("Invite someone for chat..."));
    setAttribute(Qt::WA_DeleteOnClose);

    auto* grid = new QGridLayout(this);
    grid->addWidget(new QLabel(QStringLiteral("Username:"), this), 0, 0);
    userNameEdit = new QLineEdit(this);
    userNameEdit->setObjectName(QStringLiteral("userName"));
    grid->addWidget(userNameEdit, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("."), this), 0, 2);
    domainBox = new QComboBox(this);
    domainBox->setObjectName(QStringLiteral("domain"));
    domainBox->addItems(globals().AccountDomains);
    domainBox->setCurrentIndex(0);
    grid->addWidget(domainBox, 0, 3);
    statusLabel = new QLabel(invitation.status(), this);
    statusLabel->setObjectName(QStringLiteral("status"));
    statusLabel->setTextFormat(Qt::PlainText);
    grid->addWidget(statusLabel, 1, 0, 1, 4);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    okButton = new QPushButton(QStringLiteral("OK"), this);
    okButton->setObjectName(QStringLiteral("ok"));
    okButton->setDefault(true);
    cancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    cancelButton->setObjectName(QStringLiteral("cancel"));
    buttons->addWidget(okButton);
    buttons->addWidget(cancelButton);
    grid->addLayout(buttons, 2, 0, 1, 4);

    connect(okButton, &QPushButton::clicked, this, &InvitationWindow::onOk);
    connect(userNameEdit, &QLineEdit::returnPressed, this, &InvitationWindow::onOk);
    connect(cancelButton, &QPushButton::clicked, this, &QWidget::close);
    connect(&invitation, &Invitation::statusChanged, statusLabel, &QLabel::setText);
    connect(&invitation, &Invitation::closeWanted, this, &QWidget::close);
}

Invitation::Sender InvitationWindow::currentSender()
{
    const Globals& g = globals();
    Invitation::Sender s;
    s.serverHost = g.ServerHost;
    s.publicAddress = g.PublicAddress;
    s.accountName = g.AccountName;
    if (MainWindow* main = mainWindow()) {
        if (auto* engine = qobject_cast<StreamingEngine*>(main->onlineController()->session()))
            s.port = engine->listenPort();
    }
    return s;
}

void InvitationWindow::onOk()
{
    if (invitation.state() == Invitation::State::Sending)
        return;
    if (userNameEdit->text().isEmpty()) {
        MessageBox::critical(this, globals().AppName, QStringLiteral("Please enter a username"));
        return;
    }
    okButton->setEnabled(false);
    invitation.send(userNameEdit->text(), domainBox->currentText(), currentSender());
}
