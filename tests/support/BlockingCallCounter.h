#pragma once
// Counts the blocking calls (SNMP requests, HTTP posts, folder walks) made
// while it lives: those on the thread that made it (a window test's GUI
// thread, which such calls must not hold up) and those on other threads.
#include <array>
#include <atomic>
#include <memory>
#include <thread>

#include "BlockingCalls.h"

namespace testsupport {

class BlockingCallCounter {
public:
    BlockingCallCounter()
    {
        m_old = SetBlockingCallObserver([counts = m_counts, maker = std::this_thread::get_id()](BlockingCall call) {
            const auto kind = static_cast<size_t>(call);
            (std::this_thread::get_id() == maker ? counts->here : counts->elsewhere)[kind]++;
        });
    }
    ~BlockingCallCounter() { SetBlockingCallObserver(m_old); }
    BlockingCallCounter(const BlockingCallCounter&) = delete;
    BlockingCallCounter& operator=(const BlockingCallCounter&) = delete;

    int OnMakerThread(BlockingCall call) const { return m_counts->here[static_cast<size_t>(call)]; }
    int Elsewhere(BlockingCall call) const { return m_counts->elsewhere[static_cast<size_t>(call)]; }
    int OnMakerThread() const { return Sum(m_counts->here); }

private:
    using Counts = std::array<std::atomic<int>, 3>;
    struct Shared {
        Counts here{};
        Counts elsewhere{};
    };
    static int Sum(const Counts& c) { return c[0] + c[1] + c[2]; }

    // Shared with the observer, which a late worker may still call.
    std::shared_ptr<Shared> m_counts = std::make_shared<Shared>();
    BlockingCallObserver m_old;
};

} // namespace testsupport
