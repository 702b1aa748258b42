#include "directory/RateLimiter.h"

namespace directory {

RateLimiter::RateLimiter(const Clock& clock, int limit, qint64 windowMs, int maxKeys)
    : m_clock(clock), m_limit(limit), m_windowMs(windowMs), m_maxKeys(maxKeys)
{}

void RateLimiter::expire(std::deque<qint64>& events, qint64 now) const
{
    while (!events.empty() && now - events.front() >= m_windowMs)
        events.pop_front();
}

void RateLimiter::prune(qint64 now)
{
    for (auto it = m_events.begin(); it != m_events.end();) {
        expire(*it, now);
        it = it->empty() ? m_events.erase(it) : std::next(it);
    }
    // Still full of live keys (a flood from many addresses): forget them all
    // rather than grow; the limit is a brake, not a ledger.
    if (m_events.size() >= m_maxKeys)
        m_events.clear();
}

bool RateLimiter::isLimited(const QString& key)
{
    if (m_limit <= 0)
        return false;
    std::lock_guard lock(m_lock);
    auto it = m_events.find(key);
    if (it == m_events.end())
        return false;
    expire(*it, m_clock.nowMs());
    return int(it->size()) >= m_limit;
}

std::deque<qint64>& RateLimiter::currentEvents(const QString& key, qint64 now)
{
    // A new key may not grow the table past its bound: make room first.
    if (!m_events.contains(key) && m_events.size() >= m_maxKeys)
        prune(now);
    std::deque<qint64>& events = m_events[key];
    expire(events, now);
    return events;
}

void RateLimiter::record(const QString& key)
{
    if (m_limit <= 0)
        return;
    std::lock_guard lock(m_lock);
    const qint64 now = m_clock.nowMs();
    std::deque<qint64>& events = currentEvents(key, now);
    events.push_back(now);
    // Only the last `limit` events decide anything.
    while (int(events.size()) > m_limit)
        events.pop_front();
}

bool RateLimiter::tryTake(const QString& key)
{
    if (m_limit <= 0)
        return true;
    std::lock_guard lock(m_lock);
    const qint64 now = m_clock.nowMs();
    std::deque<qint64>& events = currentEvents(key, now);
    if (int(events.size()) >= m_limit)
        return false;
    events.push_back(now);
    return true;
}

} // namespace directory
