#pragma once
// The one clock of the program. Every delay, poll, time-out, form-post wait
// and schedule goes through it, so that tests can make time run faster
// (FastClock) or stand still at a chosen moment (ManualClock) without waiting
// on the real clock. A test installs its clock with ScopedClock, which puts
// the previous one back when it goes.
#include <atomic>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <stop_token>
#include <string>

namespace platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic milliseconds (any origin).
    virtual int64_t TickMs() = 0;
    // The wall clock, in seconds since the epoch.
    virtual std::time_t Now() = 0;
    // How many real milliseconds a wait of ms on this clock lasts (for the
    // system's own waits: poll, timers). At least 1 for any ms > 0.
    virtual int64_t RealMs(int64_t ms) = 0;
    // A pause of ms on this clock; false when stop was requested first.
    virtual bool Sleep(int64_t ms, std::stop_token stop);
};

// The clock in force (the system's unless a test installed another).
Clock& GetClock();

// Shorthands for the clock in force.
int64_t TickMs();
std::time_t WallNow();
int64_t RealMs(int64_t ms);
void SleepMs(int64_t ms);
// A pause that a stop request cuts short; false when it was cut.
bool SleepMs(int64_t ms, std::stop_token stop);

// Local time of a moment, and a local calendar time back to a moment
// (tm_isdst decided by the time zone: -1). Both follow TZ.
std::tm LocalTime(std::time_t t);
std::time_t MakeLocalTime(std::tm local);

class SystemClock : public Clock {
public:
    int64_t TickMs() override;
    std::time_t Now() override;
    int64_t RealMs(int64_t ms) override { return ms; }
};

// Time that runs `speed` times faster than real time, from `start` on the
// wall clock (the real time when 0).
class FastClock : public Clock {
public:
    explicit FastClock(double speed, std::time_t start = 0);
    int64_t TickMs() override;
    std::time_t Now() override;
    int64_t RealMs(int64_t ms) override;

private:
    double m_speed;
    int64_t m_realStartMs;
    std::time_t m_wallStart;
};

// Time that moves only when told to, or when something sleeps through it
// (a sleep passes at once and moves the clock on). System waits (poll,
// timers) take a real millisecond. For arithmetic on dates and times.
class ManualClock : public Clock {
public:
    explicit ManualClock(std::time_t now = 0);
    int64_t TickMs() override;
    std::time_t Now() override;
    int64_t RealMs(int64_t ms) override { return ms > 0 ? 1 : 0; }
    bool Sleep(int64_t ms, std::stop_token stop) override;

    void SetNow(std::time_t now);
    void Advance(int64_t ms);

private:
    std::atomic<int64_t> m_ms; // milliseconds since the epoch
};

// Installs a clock for as long as it lives; the previous one comes back.
class ScopedClock {
public:
    explicit ScopedClock(Clock& clock);
    ~ScopedClock();
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;

private:
    Clock* m_previous;
};

// Sets TZ (and tzset) for as long as it lives.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const std::string& tz);
    ~ScopedTimeZone();
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    bool m_had;
    std::string m_old;
};

} // namespace platform
