// A fixture for the run-logic tests: the set-up fixture's world, the run side of the fake encoder, a
// recording window and the main window's run logic on them.
#pragma once

#include "capture/main_window.h"
#include "capture/run_fake.h"
#include "capture/run_state.h"
#include "capture/setup_test_fixture.h"

#include <memory>
#include <string>

namespace capture {

class RunTest : public SetupTest {
protected:
    fake::RunWorld run;
    fake::RunFactory runFactory{world, run};
    fake::RecordingWindow window{dispatcher};
    std::unique_ptr<MainWindow> main;

    void SetUp() override {
        SetupTest::SetUp();
        g_objEncoder.reset();
        g_encoderFactory = &runFactory;
        g_tickCount = 0;
        g_currentPass = 0;
        g_passCount = 0;
        main = std::make_unique<MainWindow>(window, window);
        g_autoStarted = true;
    }
    void TearDown() override {
        main.reset();
        SetupTest::TearDown();
    }

    void go(std::string_view command) {
        window.command = command;
        main->cmdGo_Click();
    }
    // Runs the queued events, and the events they queue.
    void events() {
        while (dispatcher.runPending() > 0) {
        }
    }
    void stopsByItself() {
        fake::reportState(encoder::kStopped);
        events();
    }
    std::vector<std::string> lines() const { return window.lines(); }
    bool hasLine(std::string_view line) const {
        const auto all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }
};

} // namespace capture
