#include "capture/encoder/dispatcher.h"

namespace encoder {

void QueueDispatcher::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    arrived_.notify_all();
}

int QueueDispatcher::runPending() {
    std::deque<std::function<void()>> ready;
    {
        std::lock_guard lock(mutex_);
        ready.swap(tasks_);
    }
    for (auto& task : ready)
        task();
    return static_cast<int>(ready.size());
}

bool QueueDispatcher::runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        {
            std::unique_lock lock(mutex_);
            if (!arrived_.wait_until(lock, deadline, [this] { return !tasks_.empty(); }))
                return done();
        }
        runPending();
    }
    return true;
}

#ifdef _WIN32
void WindowDispatcher::post(std::function<void()> task) {
    bool wake;
    {
        std::lock_guard lock(mutex_);
        wake = tasks_.empty();
        tasks_.push_back(std::move(task));
    }
    // One wake-up message per batch: runPending takes everything queued.
    if (wake)
        PostMessageA(window_, message_, 0, 0);
}

int WindowDispatcher::runPending() {
    std::deque<std::function<void()>> ready;
    {
        std::lock_guard lock(mutex_);
        ready.swap(tasks_);
    }
    for (auto& task : ready)
        task();
    return static_cast<int>(ready.size());
}
#endif

} // namespace encoder
