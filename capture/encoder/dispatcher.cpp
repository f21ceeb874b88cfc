#include "capture/encoder/dispatcher.h"

namespace encoder {

bool TaskQueue::push(std::function<void()> task) {
    bool wasEmpty;
    {
        std::lock_guard lock(mutex_);
        wasEmpty = tasks_.empty();
        tasks_.push_back(std::move(task));
    }
    arrived_.notify_all();
    return wasEmpty;
}

int TaskQueue::runPending() {
    std::deque<std::function<void()>> ready;
    {
        std::lock_guard lock(mutex_);
        ready.swap(tasks_);
    }
    for (auto& task : ready)
        task();
    return static_cast<int>(ready.size());
}

bool TaskQueue::waitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    return arrived_.wait_until(lock, deadline, [this] { return !tasks_.empty(); });
}

bool QueueDispatcher::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (!tasks_.waitUntil(deadline))
            return done();
        runPending();
    }
    return true;
}

#ifdef _WIN32
void WindowDispatcher::post(std::function<void()> task) {
    // One wake-up message per batch: runPending takes everything queued.
    if (tasks_.push(std::move(task)))
        PostMessageA(window_, message_, 0, 0);
}
#endif

} // namespace encoder
