#include "TestClock.h"

namespace testsupport {

InstantPauses::InstantPauses(double speed)
    : platform::FastClock(speed)
    , m_scope(std::make_unique<platform::ScopedClock>(*this))
{}

InstantPauses::~InstantPauses() = default;

bool InstantPauses::Sleep(int64_t ms, std::stop_token stop)
{
    int count;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_pauses.push_back(ms);
        if (ms > 0)
            m_slept += ms;
        count = static_cast<int>(m_pauses.size());
    }
    if (onPause)
        onPause(count);
    return !stop.stop_requested();
}

std::vector<int64_t> InstantPauses::Pauses() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_pauses;
}

void InstantPauses::Clear()
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_pauses.clear();
}

} // namespace testsupport
