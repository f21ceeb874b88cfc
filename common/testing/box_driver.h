// Answers the modal message boxes a test provokes, so that the code under test can go on: a thread
// looks for dialog boxes with a given title, notes what they say and presses one of their buttons.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hv::testing {

struct SeenBox {
    std::wstring title;
    std::wstring text;
    bool errorIcon = false; // the critical-stop icon of MB_ICONERROR
};

class BoxDriver {
public:
    // Watches the desktop for boxes titled `title`, from this process or any other, and answers each one
    // with the button `button` (IDOK, IDYES, IDNO, ...).
    explicit BoxDriver(std::wstring title, int button = IDOK);
    ~BoxDriver();
    BoxDriver(const BoxDriver&) = delete;
    BoxDriver& operator=(const BoxDriver&) = delete;

    // Waits until `count` boxes have been answered or `timeout` has passed; returns the boxes answered.
    std::vector<SeenBox> waitFor(std::size_t count = 1,
                                 std::chrono::milliseconds timeout = std::chrono::seconds(30));
    std::vector<SeenBox> seen() const;

private:
    void watch();
    void answer(HWND box);

    std::wstring title_;
    int button_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<SeenBox> seen_;
    std::vector<HWND> answered_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace hv::testing
