#pragma once
// "Invite someone for chat...": a member name, a domain, OK sends the
// invitation (Invitation does the work), the window closes by itself after.

#include <QWidget>

#include "community/Invitation.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

class InvitationWindow : public QWidget
{
    Q_OBJECT
public:
    // The one window, made on first use and shown modeless.
    static InvitationWindow* open(QWidget* owner);
    static InvitationWindow* instance();

    explicit InvitationWindow(QWidget* owner = nullptr);

    QLineEdit* userNameEdit = nullptr;
    QComboBox* domainBox = nullptr;
    QLabel* statusLabel = nullptr;
    QPushButton* okButton = nullptr;
    QPushButton* cancelButton = nullptr;
    Invitation invitation;

    void onOk();

    // Our side of the invitation: the directory, our address and port, our name.
    static Invitation::Sender currentSender();
};
