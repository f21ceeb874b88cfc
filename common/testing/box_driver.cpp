#include "common/testing/box_driver.h"

#include <algorithm>

namespace hv::testing {

namespace {

constexpr wchar_t kDialogClass[] = L"#32770";
constexpr auto kPollInterval = std::chrono::milliseconds(20);

std::wstring windowText(HWND window) {
    wchar_t buffer[2048] = {};
    GetWindowTextW(window, buffer, static_cast<int>(std::size(buffer)));
    return buffer;
}

// The box's static controls: its message and its icon. Their ids differ between systems, their kinds don't.
struct BoxStatics {
    HWND text = nullptr;
    HWND icon = nullptr;
};

BOOL CALLBACK noteStatic(HWND child, LPARAM param) {
    wchar_t className[16] = {};
    GetClassNameW(child, className, static_cast<int>(std::size(className)));
    if (lstrcmpiW(className, L"Static") == 0) {
        auto& statics = *reinterpret_cast<BoxStatics*>(param);
        bool isIcon = (GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON;
        (isIcon ? statics.icon : statics.text) = child;
    }
    return TRUE;
}

SeenBox describe(HWND box) {
    BoxStatics statics;
    EnumChildWindows(box, noteStatic, reinterpret_cast<LPARAM>(&statics));
    SeenBox seen{windowText(box), statics.text ? windowText(statics.text) : L"", false};
    if (statics.icon) {
        auto shown = reinterpret_cast<HICON>(SendMessageW(statics.icon, STM_GETICON, 0, 0));
        seen.errorIcon = shown && shown == LoadIcon(nullptr, IDI_HAND);
    }
    return seen;
}

} // namespace

BoxDriver::BoxDriver(std::wstring title, int button)
    : title_(std::move(title)), button_(button), thread_([this] { watch(); }) {}

BoxDriver::~BoxDriver() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

std::vector<SeenBox> BoxDriver::waitFor(std::size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return seen_.size() >= count; });
    return seen_;
}

std::vector<SeenBox> BoxDriver::seen() const {
    std::lock_guard lock(mutex_);
    return seen_;
}

void BoxDriver::watch() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        lock.unlock();
        HWND box = FindWindowW(kDialogClass, title_.c_str());
        // The box shows itself once its controls hold their texts.
        if (box && !IsWindowVisible(box))
            box = nullptr;
        lock.lock();
        // A box that was answered may stay on the screen for a moment: answer each window once.
        answered_.erase(
            std::remove_if(answered_.begin(), answered_.end(), [](HWND h) { return !IsWindow(h); }),
            answered_.end());
        if (box && std::find(answered_.begin(), answered_.end(), box) == answered_.end()) {
            answered_.push_back(box);
            lock.unlock();
            answer(box);
            lock.lock();
            continue;
        }
        changed_.wait_for(lock, kPollInterval, [this] { return stopping_; });
    }
}

void BoxDriver::answer(HWND box) {
    SeenBox seen = describe(box);
    // Posted rather than sent: the box's own thread is the one that must act on it.
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(button_, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, button_)));
    {
        std::lock_guard lock(mutex_);
        seen_.push_back(std::move(seen));
    }
    changed_.notify_all();
}

} // namespace hv::testing
