#pragma once
// Counts events per key (an address, an account) in a sliding window and says
// when a key has had its share. Thread-safe; memory stays bounded however many
// keys an attacker invents.

#include "directory/Clock.h"

#include <QHash>
#include <QString>
#include <deque>
#include <mutex>

namespace directory {

class RateLimiter
{
public:
    // At most `limit` events per key within `windowMs`; limit 0 means no limit.
    RateLimiter(const Clock& clock, int limit, qint64 windowMs, int maxKeys = 100000);

    // True when the key already had `limit` events in the window.
    bool isLimited(const QString& key);
    void record(const QString& key);
    // isLimited(), and when not, record(): one step for "may this happen now".
    bool tryTake(const QString& key);

    int limit() const { return m_limit; }

private:
    // Drops events older than the window; caller holds the lock.
    void expire(std::deque<qint64>& events, qint64 now) const;
    void prune(qint64 now);
    // The key's events still inside the window; the caller holds the lock.
    std::deque<qint64>& currentEvents(const QString& key, qint64 now);

    const Clock& m_clock;
    int m_limit;
    qint64 m_windowMs;
    int m_maxKeys;
    std::mutex m_lock;
    QHash<QString, std::deque<qint64>> m_events;
};

} // namespace directory
