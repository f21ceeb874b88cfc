// The run side of the fake encoder for the run-logic tests: it wraps the set-up fake (which records the
// set-up calls) and adds statistics the test sets, a state-change event posted through the dispatcher as
// the engine posts it, and Start and Stop that behave like a run.
#pragma once

#include "capture/encoder/encoder.h"
#include "capture/fake_encoder.h"
#include "capture/main_window.h"

#include <memory>
#include <string>
#include <vector>

namespace capture::fake {

// Statistics the test sets; `failing` makes every read fail.
struct RunStatistics : encoder::IStatistics {
    encoder::Fixed4 encodingTime;
    encoder::OutputStats overall;
    encoder::OutputStats audio;
    encoder::OutputStats video;
    encoder::FileArchiveStatsValue file;
    bool failing = false;
    bool fileFailing = false; // FileArchiveStats only, as when the run has no file

    encoder::Fixed4 EncodingTime() const override { return check(), encodingTime; }
    encoder::OutputStats WMFOutputStats() const override { return check(), overall; }
    encoder::OutputStats StreamOutputStats(int32_t type, int32_t, int32_t) const override {
        return check(), type == encoder::kAudio ? audio : video;
    }
    encoder::FileArchiveStatsValue FileArchiveStats() const override {
        check();
        if (fileFailing)
            throw encoder::EncoderError(0x80040203, "Fake: no file output");
        return file;
    }

private:
    void check() const {
        if (failing)
            throw encoder::EncoderError(0x80040207, "Fake statistics failure");
    }
};

struct RunWorld {
    RunStatistics statistics;
    // Runs started and stop requests, of every encoder made.
    int starts = 0;
    int stops = 0;
    // Stop reports the stopped state (as the engine does once the file is complete).
    bool stopReportsStopped = true;
};

class RunFactory : public encoder::IEncoderFactory {
public:
    RunFactory(FakeWorld& world, RunWorld& run) : inner_(world), run_(run) {}
    std::unique_ptr<encoder::IEncoder> CreateEncoder(encoder::Dispatcher& dispatcher) override;
    std::shared_ptr<encoder::IProfile> CreateProfile() override { return inner_.CreateProfile(); }
    std::unique_ptr<encoder::IMediaInfo> CreateMediaInfo() override { return inner_.CreateMediaInfo(); }

private:
    FakeFactory inner_;
    RunWorld& run_;
};

// Reports a state of the current g_objEncoder through its dispatcher (the run ending by itself).
void reportState(int32_t state);

// The window: every element and service the run logic uses, recorded.
class RecordingWindow : public UserInterface, public WindowServices {
public:
    explicit RecordingWindow(encoder::Dispatcher& queue) : queue_(queue) {}

    std::string info;
    std::string status;
    std::string labels[3];
    std::string fileLabel;
    std::string lengthLabel;
    std::string progressLabel;
    int minimum = 0;
    int maximum = 100;
    int value = 0;
    std::string command;
    std::string arguments;
    bool timer = false;
    int beeps = 0;
    bool busyPointer = false;
    std::string goCaption;
    std::vector<std::string> messages; // title, then text
    bool closed = false;

    std::vector<std::string> lines() const;

    void appendInfo(std::string_view text) override { info += text; }
    void clearInfo() override { info.clear(); }
    void scrollDisplay() override {}
    void setStatus(std::string_view text) override { status = text; }
    void setRunLabel(RunLabel label, std::string_view text) override {
        labels[static_cast<int>(label)] = text;
    }
    void setFileLabel(std::string_view text) override { fileLabel = text; }
    void setLengthLabel(std::string_view text) override { lengthLabel = text; }
    void setProgressRange(int min, int max) override {
        minimum = min;
        maximum = max;
    }
    int progressMinimum() const override { return minimum; }
    int progressMaximum() const override { return maximum; }
    int progressValue() const override { return value; }
    bool setProgressValue(int v) override {
        if (v < minimum)
            return false;
        value = v;
        return true;
    }
    void setProgressLabel(std::string_view text) override { progressLabel = text; }
    std::string commandText() const override { return command; }
    void setCommandText(std::string_view text) override { command = text; }

    void enableTimer(bool enabled) override { timer = enabled; }
    bool timerEnabled() const override { return timer; }
    void beep() override { ++beeps; }
    void setBusyPointer(bool busy) override { busyPointer = busy; }
    void setGoCaption(std::string_view caption) override { goCaption = caption; }
    void showMessage(MessageIcon, std::string_view title, std::string_view text) override {
        messages.emplace_back(title);
        messages.emplace_back(text);
    }
    void closeWindow() override { closed = true; }
    std::string commandLineArguments() const override { return arguments; }
    encoder::Dispatcher& dispatcher() override { return queue_; }

private:
    encoder::Dispatcher& queue_;
};

} // namespace capture::fake
