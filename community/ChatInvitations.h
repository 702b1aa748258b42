#pragma once
// The invitations this user sent that have not been answered yet. An answer
// ("CHAT ACCEPT" or "CHAT REJECT") is taken only while one is outstanding,
// so a stranger cannot open chat windows or message boxes on our screen, and
// a rejection is shown in one box at a time however many arrive.

#include <QList>
#include <functional>

class ChatInvitations
{
public:
    // An invitation nobody answered within this time is forgotten.
    static constexpr qint64 kLifetimeMs = 15 * 60 * 1000;
    // Invitations remembered at most; a newer one pushes out the oldest.
    static constexpr int kMaxOutstanding = 32;

    using Clock = std::function<qint64()>; // monotonic milliseconds

    static ChatInvitations& instance();
    void setClock(Clock clock); // empty: the steady clock
    void reset();

    // An invitation is on its way.
    void sent();
    // The last one sent never reached anybody (its request failed).
    void withdrawLast();
    int outstanding();

    // An answer arrived: true when it answers an outstanding invitation,
    // which it then uses up.
    bool takeAnswer();
    // A rejection arrived: true when a box is to be shown now, that is when it
    // answers an outstanding invitation and no such box is showing.
    bool beginRejectNotice();
    void endRejectNotice();
    bool rejectNoticeShowing() const { return m_showing; }

private:
    qint64 now() const;
    void expire();

    Clock m_clock;
    QList<qint64> m_sentAt;
    bool m_showing = false;
};
