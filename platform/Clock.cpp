#include "Clock.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <thread>

namespace platform {
namespace {

SystemClock g_system;
std::atomic<Clock*> g_clock{&g_system};

int64_t RealTickMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

bool Clock::Sleep(int64_t ms, std::stop_token stop)
{
    if (ms <= 0)
        return !stop.stop_requested();
    const int64_t real = RealMs(ms);
    std::mutex lock;
    std::condition_variable_any wake;
    std::unique_lock<std::mutex> guard(lock);
    wake.wait_for(guard, stop, std::chrono::milliseconds(real), [] { return false; });
    return !stop.stop_requested();
}

Clock& GetClock() { return *g_clock.load(); }

int64_t TickMs() { return GetClock().TickMs(); }

std::time_t WallNow() { return GetClock().Now(); }

int64_t RealMs(int64_t ms) { return GetClock().RealMs(ms); }

void SleepMs(int64_t ms) { GetClock().Sleep(ms, {}); }

bool SleepMs(int64_t ms, std::stop_token stop) { return GetClock().Sleep(ms, std::move(stop)); }

std::tm LocalTime(std::time_t t)
{
    std::tm local{};
    localtime_r(&t, &local);
    return local;
}

std::time_t MakeLocalTime(std::tm local)
{
    local.tm_isdst = -1;
    return std::mktime(&local);
}

int64_t SystemClock::TickMs() { return RealTickMs(); }

std::time_t SystemClock::Now() { return std::time(nullptr); }

FastClock::FastClock(double speed, std::time_t start)
    : m_speed(speed > 0 ? speed : 1.0)
    , m_realStartMs(RealTickMs())
    , m_wallStart(start != 0 ? start : std::time(nullptr))
{}

int64_t FastClock::TickMs()
{
    return static_cast<int64_t>(static_cast<double>(RealTickMs() - m_realStartMs) * m_speed);
}

std::time_t FastClock::Now() { return m_wallStart + static_cast<std::time_t>(TickMs() / 1000); }

int64_t FastClock::RealMs(int64_t ms)
{
    if (ms <= 0)
        return 0;
    const auto real = static_cast<int64_t>(static_cast<double>(ms) / m_speed);
    return real < 1 ? 1 : real;
}

ManualClock::ManualClock(std::time_t now) : m_ms(static_cast<int64_t>(now) * 1000) {}

int64_t ManualClock::TickMs() { return m_ms.load(); }

std::time_t ManualClock::Now() { return static_cast<std::time_t>(m_ms.load() / 1000); }

bool ManualClock::Sleep(int64_t ms, std::stop_token stop)
{
    if (stop.stop_requested())
        return false;
    if (ms > 0)
        m_ms += ms;
    return true;
}

void ManualClock::SetNow(std::time_t now) { m_ms = static_cast<int64_t>(now) * 1000; }

void ManualClock::Advance(int64_t ms) { m_ms += ms; }

ScopedClock::ScopedClock(Clock& clock) : m_previous(g_clock.exchange(&clock)) {}

ScopedClock::~ScopedClock() { g_clock.store(m_previous); }

ScopedTimeZone::ScopedTimeZone(const std::string& tz)
{
    const char* old = std::getenv("TZ");
    m_had = old != nullptr;
    if (m_had)
        m_old = old;
    setenv("TZ", tz.c_str(), 1);
    tzset();
}

ScopedTimeZone::~ScopedTimeZone()
{
    if (m_had)
        setenv("TZ", m_old.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

} // namespace platform
