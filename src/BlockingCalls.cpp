#include "BlockingCalls.h"

#include <atomic>
#include <memory>
#include <mutex>

namespace {

std::mutex g_lock;
std::shared_ptr<const BlockingCallObserver> g_observer;
// Set while an observer is installed: the calls skip the lock otherwise.
std::atomic<bool> g_watched{false};

} // namespace

BlockingCallObserver SetBlockingCallObserver(BlockingCallObserver observer)
{
    std::lock_guard<std::mutex> guard(g_lock);
    BlockingCallObserver old = g_observer ? *g_observer : BlockingCallObserver{};
    g_observer = observer ? std::make_shared<const BlockingCallObserver>(std::move(observer)) : nullptr;
    g_watched = g_observer != nullptr;
    return old;
}

void NoteBlockingCall(BlockingCall call)
{
    if (!g_watched.load(std::memory_order_relaxed))
        return;
    std::shared_ptr<const BlockingCallObserver> observer;
    {
        std::lock_guard<std::mutex> guard(g_lock);
        observer = g_observer;
    }
    if (observer)
        (*observer)(call);
}
