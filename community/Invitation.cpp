#include "community/Invitation.h"

#include "community/ChatInvitations.h"
#include "community/ChatProtocol.h"
#include "shell/WebRequest.h"

Invitation::Invitation(QObject* parent) : QObject(parent)
{
    closeTimer.setSingleShot(true);
    closeTimer.setInterval(1500);
    connect(&closeTimer, &QTimer::timeout, this, &Invitation::onCloseTick);
}

Invitation::~Invitation() = default;

void Invitation::setStatus(const QString& text)
{
    m_status = text;
    emit statusChanged(text);
}

bool Invitation::send(const QString& user, const QString& domain, const Sender& from)
{
    if (user.isEmpty() || m_state == State::Sending)
        return false;
    m_state = State::Sending;
    closeTimer.stop();
    setStatus(QStringLiteral("Status: Sending request..."));
    const QUrl url = chat::invitationUrl(from.serverHost, chat::targetName(user, domain), from.publicAddress,
                                         from.port, from.accountName);
    m_url = url.toString(QUrl::FullyEncoded);
    // Outstanding from now on: the answer may come before our request returns.
    ChatInvitations::instance().sent();
    if (!m_request) {
        m_request = new WebRequest(this);
        connect(m_request, &WebRequest::finished, this, [this](const WebRequest::Result& result) {
            if (!result.ok)
                ChatInvitations::instance().withdrawLast(); // it reached nobody
            m_state = State::Sent;
            // A failed request reads the same: the user learns of an answer only when it comes.
            setStatus(QStringLiteral("Status: Request sent"));
            closeTimer.start();
        });
    }
    m_request->get(url, m_timeoutMs);
    return true;
}

void Invitation::onCloseTick()
{
    closeTimer.stop();
    emit closeWanted();
}
