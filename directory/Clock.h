#pragma once
// Time source of the service. Presence expires after a quarter of an hour;
// tests move a ManualClock instead of waiting.

#include <QtGlobal>
#include <atomic>

namespace directory {

class Clock
{
public:
    virtual ~Clock() = default;
    // Milliseconds since the epoch.
    virtual qint64 nowMs() const = 0;
};

class SystemClock : public Clock
{
public:
    qint64 nowMs() const override;
};

class ManualClock : public Clock
{
public:
    explicit ManualClock(qint64 startMs = 1'700'000'000'000) : m_now(startMs) {}
    qint64 nowMs() const override { return m_now.load(); }
    void setNowMs(qint64 ms) { m_now.store(ms); }
    void advanceMs(qint64 ms) { m_now.fetch_add(ms); }

private:
    std::atomic<qint64> m_now;
};

} // namespace directory
