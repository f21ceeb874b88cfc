// Dispatchers that carry the engine's reports to the front end's thread.
#pragma once

#include "capture/encoder/encoder.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#ifdef _WIN32
#include <windows.h>
#endif

namespace encoder {

// Tasks handed over by other threads, run by the owning thread.
class TaskQueue {
public:
    // Queues a task; true when the queue was empty before.
    bool push(std::function<void()> task);
    // Runs every task queued so far; returns how many ran.
    int runPending();
    // Waits until a task is queued (true) or the deadline passes (false).
    bool waitUntil(std::chrono::steady_clock::time_point deadline);

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::function<void()>> tasks_;
};

// For a console or a test: tasks wait in a queue until the owning thread runs them.
class QueueDispatcher : public Dispatcher {
public:
    void post(std::function<void()> task) override { tasks_.push(std::move(task)); }

    // Runs every task queued so far; returns how many ran.
    int runPending() { return tasks_.runPending(); }
    // Runs tasks as they arrive until `done` holds or the time is up; returns `done()`.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

private:
    TaskQueue tasks_;
};

#ifdef _WIN32
// For a window: post() queues the task and posts `message` to the window as a wake-up; the window
// procedure answers that message with runPending(). The window must outlive the posting engine.
class WindowDispatcher : public Dispatcher {
public:
    WindowDispatcher(HWND window, UINT message) : window_(window), message_(message) {}
    void post(std::function<void()> task) override;
    int runPending() { return tasks_.runPending(); }

private:
    HWND window_;
    UINT message_;
    TaskQueue tasks_;
};
#endif

} // namespace encoder
