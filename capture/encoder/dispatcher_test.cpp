#include "capture/encoder/dispatcher.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using encoder::QueueDispatcher;

TEST(Dispatcher, QueueRunsTasksOnTheOwningThreadInOrder) {
    QueueDispatcher dispatcher;
    std::vector<int> order;
    std::vector<std::thread::id> threads;
    std::thread poster([&] {
        for (int i = 0; i < 3; ++i)
            dispatcher.post([&, i] {
                order.push_back(i);
                threads.push_back(std::this_thread::get_id());
            });
    });
    poster.join();
    EXPECT_TRUE(order.empty()); // nothing runs until the owner asks
    EXPECT_EQ(dispatcher.runPending(), 3);
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    for (auto id : threads)
        EXPECT_EQ(id, std::this_thread::get_id());
    EXPECT_FALSE(dispatcher.runUntil([] { return false; }, std::chrono::milliseconds(20)));
}

#ifdef _WIN32
constexpr UINT kWakeMessage = WM_APP + 7;
encoder::WindowDispatcher* g_dispatcher = nullptr;

LRESULT CALLBACK testWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kWakeMessage) {
        g_dispatcher->runPending();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST(Dispatcher, WindowRunsTasksFromItsMessageLoop) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = testWindowProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "HvDispatcherTest";
    RegisterClassA(&wc);
    HWND window =
        CreateWindowA("HvDispatcherTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    encoder::WindowDispatcher dispatcher(window, kWakeMessage);
    g_dispatcher = &dispatcher;

    int ran = 0;
    DWORD ranOn = 0;
    std::thread poster([&] {
        for (int i = 0; i < 5; ++i)
            dispatcher.post([&] {
                ++ran;
                ranOn = GetCurrentThreadId();
            });
    });
    poster.join();
    MSG msg;
    const DWORD deadline = GetTickCount() + 10000;
    while (ran < 5 && GetTickCount() < deadline) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        else
            Sleep(1);
    }
    EXPECT_EQ(ran, 5);
    EXPECT_EQ(ranOn, GetCurrentThreadId());
    g_dispatcher = nullptr;
    DestroyWindow(window);
}
#endif

} // namespace
