#include "community/ChatInvitations.h"

#include <chrono>

ChatInvitations& ChatInvitations::instance()
{
    static ChatInvitations invitations;
    return invitations;
}

void ChatInvitations::setClock(Clock clock) { m_clock = std::move(clock); }

void ChatInvitations::reset()
{
    m_sentAt.clear();
    m_showing = false;
}

qint64 ChatInvitations::now() const
{
    if (m_clock)
        return m_clock();
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void ChatInvitations::expire()
{
    const qint64 t = now();
    while (!m_sentAt.isEmpty() && t - m_sentAt.front() >= kLifetimeMs)
        m_sentAt.removeFirst();
}

void ChatInvitations::sent()
{
    expire();
    if (m_sentAt.size() >= kMaxOutstanding)
        m_sentAt.removeFirst();
    m_sentAt.append(now());
}

void ChatInvitations::withdrawLast()
{
    if (!m_sentAt.isEmpty())
        m_sentAt.removeLast();
}

int ChatInvitations::outstanding()
{
    expire();
    return int(m_sentAt.size());
}

bool ChatInvitations::takeAnswer()
{
    expire();
    if (m_sentAt.isEmpty())
        return false;
    m_sentAt.removeFirst();
    return true;
}

bool ChatInvitations::beginRejectNotice()
{
    if (!takeAnswer() || m_showing)
        return false;
    m_showing = true;
    return true;
}

void ChatInvitations::endRejectNotice() { m_showing = false; }
