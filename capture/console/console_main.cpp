// hvvistrel (HVVistrelCmd.exe on Windows): the capture program's console front end. It runs Go once with
// its own arguments, writes every information-box line to standard output and, when standard error is a
// terminal, keeps one progress line there. Ctrl+C is Stop: the file in hand is completed and its
// statistics printed; a second Ctrl+C leaves at once. Exit codes: capture/README.md.
#include "capture/encoder/dispatcher.h"
#include "capture/main_window.h"
#include "capture/run_state.h"

#ifdef HV_HAVE_ENGINE
#include "capture/encoder/engine.h"
#endif

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace {

using namespace capture;
using Clock = std::chrono::steady_clock;

enum ExitCode { kCompleted = 0, kNotEncoded = 1, kUsage = 2, kError = 3, kInterrupted = 130 };

std::atomic<int> g_interrupts{0};

#ifdef _WIN32
BOOL WINAPI onControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    if (g_interrupts.fetch_add(1) > 0)
        ExitProcess(kInterrupted);
    return TRUE;
}

bool stderrIsTerminal() {
    return _isatty(_fileno(stderr)) != 0;
}

// The process command line after the program name, as the system holds it.
std::string argumentsText(int, char**) {
    const char* line = GetCommandLineA();
    if (*line == '"') {
        ++line;
        while (*line && *line != '"')
            ++line;
        if (*line)
            ++line;
    } else {
        while (*line && *line != ' ' && *line != '\t')
            ++line;
    }
    while (*line == ' ' || *line == '\t')
        ++line;
    return line;
}
#else
void onInterrupt(int) {
    if (g_interrupts.fetch_add(1) > 0)
        _exit(kInterrupted);
}

bool stderrIsTerminal() {
    return isatty(fileno(stderr)) != 0;
}

// The arguments joined by single blanks: the command Go splits again.
std::string argumentsText(int argc, char** argv) {
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            text += ' ';
        text += argv[i];
    }
    return text;
}
#endif

// A label's two lines as one.
std::string oneLine(std::string text) {
    for (std::string::size_type at; (at = text.find("\r\n")) != std::string::npos;)
        text.erase(at, 2);
    return text;
}

class ConsoleWindow : public UserInterface, public WindowServices {
public:
    ConsoleWindow(std::string arguments) : command_(std::move(arguments)), progress_(stderrIsTerminal()) {}

    // UserInterface: the information box is standard output.
    void appendInfo(std::string_view text) override {
        clearProgress();
        std::string out;
        out.reserve(text.size());
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                continue;
            out += text[i];
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
    }
    void clearInfo() override {}
    void scrollDisplay() override {}
    void setStatus(std::string_view text) override { status_ = text; }
    void setRunLabel(RunLabel label, std::string_view text) override {
        labels_[static_cast<int>(label)] = oneLine(std::string(text));
    }
    void setFileLabel(std::string_view) override {}
    void setLengthLabel(std::string_view) override {}
    void setProgressRange(int minimum, int maximum) override {
        minimum_ = minimum;
        maximum_ = maximum;
    }
    int progressMinimum() const override { return minimum_; }
    int progressMaximum() const override { return maximum_; }
    int progressValue() const override { return value_; }
    bool setProgressValue(int value) override {
        if (value < minimum_)
            return false;
        value_ = value;
        return true;
    }
    void setProgressLabel(std::string_view text) override { percent_ = text; }
    std::string commandText() const override { return command_; }
    // Go puts the default command here after the help: it is printed for the user to adapt.
    void setCommandText(std::string_view text) override {
        if (text == command_)
            return;
        command_ = text;
        usageShown_ = true;
        appendInfo(command_ + "\r\n");
    }

    // WindowServices.
    void enableTimer(bool enabled) override {
        if (enabled && !timer_)
            nextTick_ = Clock::now() + std::chrono::seconds(1);
        timer_ = enabled;
    }
    bool timerEnabled() const override { return timer_; }
    void beep() override {}
    void setBusyPointer(bool) override {}
    void setGoCaption(std::string_view) override {}
    void showMessage(MessageIcon, std::string_view title, std::string_view text) override {
        clearProgress();
        std::fprintf(stderr, "%.*s\n%s\n", static_cast<int>(title.size()), title.data(),
                     oneLineBreaks(text).c_str());
        std::fflush(stderr);
    }
    void closeWindow() override { closed_ = true; }
    std::string commandLineArguments() const override { return command_; }
    encoder::Dispatcher& dispatcher() override { return queue_; }

    // The main loop: events as they arrive, a tick every second while the timer is enabled, Ctrl+C as
    // Stop; until the run (or the folder walk) is over or the window closed.
    void run(MainWindow& window) {
        while (!closed_ && window.busy()) {
            const auto until = timer_ ? std::min(nextTick_, Clock::now() + std::chrono::milliseconds(100))
                                      : Clock::now() + std::chrono::milliseconds(100);
            queue_.runUntil([&] { return closed_ || !window.busy() || g_interrupts.load() > stopsSeen_; },
                            std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::max(until - Clock::now(), Clock::duration::zero())));
            if (g_interrupts.load() > stopsSeen_) {
                stopsSeen_ = g_interrupts.load();
                window.cmdStop_Click();
            }
            if (timer_ && Clock::now() >= nextTick_) {
                nextTick_ += std::chrono::seconds(1);
                window.Timer1_Timer();
                showProgress();
            }
        }
        clearProgress();
    }

    bool closed() const { return closed_; }
    bool usageShown() const { return usageShown_; }

private:
    static std::string oneLineBreaks(std::string_view text) {
        std::string out(text);
        for (std::string::size_type at; (at = out.find("\r\n")) != std::string::npos;)
            out.erase(at, 1);
        return out;
    }

    void showProgress() {
        if (!progress_)
            return;
        std::string line = labels_[0] + "  " + labels_[1] + "  " + labels_[2] + "  " + percent_ + "  Pass " +
                           std::to_string(g_currentPass) + " / " + std::to_string(g_passCount);
        std::fprintf(stderr, "\r%s\x1b[K", line.c_str());
        std::fflush(stderr);
        progressShown_ = true;
    }
    void clearProgress() {
        if (!progressShown_)
            return;
        std::fputs("\r\x1b[K", stderr);
        std::fflush(stderr);
        progressShown_ = false;
    }

    std::string command_;
    bool progress_;
    bool progressShown_ = false;
    std::string status_;
    std::string labels_[3];
    std::string percent_;
    int minimum_ = 0;
    int maximum_ = 100;
    int value_ = 0;
    bool usageShown_ = false;
    bool timer_ = false;
    bool closed_ = false;
    int stopsSeen_ = 0;
    Clock::time_point nextTick_;
    encoder::QueueDispatcher queue_;
};

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    SetConsoleCtrlHandler(onControl, TRUE);
#else
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigaction(SIGINT, &action, nullptr);
#endif
#ifdef HV_HAVE_ENGINE
    encoder::EngineFactory engine;
    g_encoderFactory = &engine;
#endif
    ConsoleWindow console(argumentsText(argc, argv));
    int code;
    {
        MainWindow window(console, console);
        // The window presses Go on its first tick; the console does it at once.
        g_autoStarted = true;
        window.cmdGo_Click();
        console.run(window);
        if (window.failed())
            code = kError;
        else if (console.usageShown())
            code = kUsage;
        else if (window.completedRuns() > 0)
            code = kCompleted;
        else
            code = kNotEncoded;
    }
    g_encoderFactory = nullptr;
    return code;
}
