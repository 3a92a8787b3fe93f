#pragma once
// A test clock for procedures that pause between tries against peers that
// answer at once: time runs as real time (or speed times faster), but every
// pause on the program's clock passes at once, moves the clock on by its
// length and is recorded. Installs itself while it lives.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "Clock.h"

namespace testsupport {

class InstantPauses : public platform::FastClock {
public:
    explicit InstantPauses(double speed = 1.0);
    ~InstantPauses() override;

    bool Sleep(int64_t ms, std::stop_token stop) override;
    int64_t TickMs() override { return platform::FastClock::TickMs() + m_slept.load(); }
    std::time_t Now() override { return platform::FastClock::Now() + static_cast<std::time_t>(m_slept.load() / 1000); }
    std::vector<int64_t> Pauses() const;
    void Clear();
    // Runs at each pause with the number of pauses so far (on the pausing thread).
    std::function<void(int count)> onPause;

private:
    mutable std::mutex m_lock;
    std::vector<int64_t> m_pauses;
    std::atomic<int64_t> m_slept{0};
    std::unique_ptr<platform::ScopedClock> m_scope;
};

} // namespace testsupport
