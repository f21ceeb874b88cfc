// Go, Stop, the one-second tick and the state changes, against the recording window and the fake encoder.
#include "capture/encode_options.h"
#include "capture/help.h"
#include "capture/run_test_fixture.h"

#include <gtest/gtest.h>

namespace capture {
namespace {

using Calls = std::vector<std::string>;

TEST_F(RunTest, FewerThanTwoWordsShowTheHelpAndTheDefaultCommand) {
    for (const char* command : {"", "-devices", "-input"}) {
        window.info = "earlier text\r\n";
        window.arguments.clear();
        go(command);
        EXPECT_EQ(window.beeps, 1) << command;
        window.beeps = 0;
        EXPECT_EQ(window.status, "Change parameters, then press Go.  (Help is above)");
        const auto shown = lines();
        ASSERT_FALSE(shown.empty());
        EXPECT_NE(shown.front(), "earlier text");
        EXPECT_GT(shown.size(), 300u);
        EXPECT_EQ(window.command, defaultCommand());
        EXPECT_TRUE(commands.calls.empty());
        EXPECT_EQ(run.starts, 0);
        EXPECT_FALSE(main->busy());
    }
    EXPECT_TRUE(defaultCommand().starts_with("-profile scrna -output "));
    EXPECT_TRUE(defaultCommand().ends_with("HVVIS" + std::string(toPath("/").make_preferred().string()) +
                                           "cap1.wmv -duration 30"));
}

TEST_F(RunTest, AFileRunStartsThenReportsRunningAndStopped) {
    const std::string out = testFolder();
    addInput("clip.avi");
    // A source the fake gives its length: one attached by SetInput.
    go("-input clip.avi -audioonly -output " + out + "/clip.wma");
    EXPECT_EQ(run.starts, 1);
    EXPECT_EQ(window.status, "Initializing Codecs...");
    EXPECT_TRUE(window.timer);
    EXPECT_EQ(window.fileLabel, "  Encoding: clip.avi");
    EXPECT_EQ(window.lengthLabel, "Media Length: 10 secs");
    EXPECT_EQ(g_options.duration, 10.0);
    EXPECT_TRUE(main->busy());

    events();
    EXPECT_EQ(window.status, "  Running... Pass:  1 \\ 1");
    EXPECT_TRUE(window.busyPointer);

    window.value = 40;
    stopsByItself();
    EXPECT_EQ(window.status, "  Done.");
    EXPECT_FALSE(window.busyPointer);
    EXPECT_EQ(window.value, 100);
    EXPECT_EQ(window.progressLabel, "100%");
    EXPECT_FALSE(window.timer);
    EXPECT_EQ(window.goCaption, "&Go");
    EXPECT_EQ(window.beeps, 1);
    const auto shown = lines();
    const auto completed = std::find(shown.begin(), shown.end(), "======== Encoding Completed ========");
    ASSERT_NE(completed, shown.end());
    EXPECT_EQ(*(completed - 1), "");
    EXPECT_NE(std::find(completed, shown.end(), "Overall:"), shown.end());
    EXPECT_FALSE(main->busy());
    EXPECT_EQ(main->completedRuns(), 1);
}

TEST_F(RunTest, TheTickShowsRoundedFiguresAndThePercentageOfTheDuration) {
    addInput("clip.avi"); // 10 seconds
    go("-input clip.avi -audioonly -output " + testFolder() + "/clip.wma");
    events();
    // 2.5 s and 2.5 Kbps round to the even 2; 3.5 Kbps to 4.
    run.statistics.encodingTime.raw = 2500;
    run.statistics.overall.ExpectedBitrate = 2500;
    run.statistics.overall.CurrentBitrate = 3500;
    main->Timer1_Timer();
    EXPECT_EQ(window.labels[0], "Elapsed time: \r\n2 secs");
    EXPECT_EQ(window.labels[1], "Expected bit rate: \r\n2 Kbps");
    EXPECT_EQ(window.labels[2], "Current bit rate: \r\n4 Kbps");
    EXPECT_EQ(window.value, 25);
    EXPECT_EQ(window.progressLabel, "25%");

    // The encoding time going back means a second pass has begun.
    run.statistics.encodingTime.raw = 1000;
    main->Timer1_Timer();
    EXPECT_EQ(g_currentPass, 2);
    EXPECT_EQ(window.status, "Running... Pass:  2 / 1");
    EXPECT_EQ(window.value, 10);

    // Past the duration the bar stays at its maximum.
    run.statistics.encodingTime.raw = 20000;
    main->Timer1_Timer();
    EXPECT_EQ(window.value, 100);
    EXPECT_EQ(run.stops, 0);
}

TEST_F(RunTest, AFailingTickIsDroppedAndTheNextOneRuns) {
    addInput("clip.avi");
    go("-input clip.avi -audioonly -output " + testFolder() + "/clip.wma");
    run.statistics.failing = true;
    run.statistics.encodingTime.raw = 5000;
    main->Timer1_Timer();
    EXPECT_EQ(window.labels[0], "");
    EXPECT_FALSE(window.closed);
    run.statistics.failing = false;
    main->Timer1_Timer();
    EXPECT_EQ(window.labels[0], "Elapsed time: \r\n5 secs");
    EXPECT_EQ(window.value, 50);
}

TEST_F(RunTest, AScreenCaptureStopsAfterAsManyTicksAsItsDuration) {
    go("-profile scrn -output " + testFolder() + "/cap.wmv -duration 3");
    ASSERT_EQ(run.starts, 1);
    events();
    main->Timer1_Timer();
    main->Timer1_Timer();
    EXPECT_EQ(run.stops, 0);
    EXPECT_TRUE(window.timer);
    main->Timer1_Timer();
    EXPECT_EQ(run.stops, 1);
    EXPECT_FALSE(window.timer);
    EXPECT_EQ(g_tickCount, 0);
    events();
    EXPECT_EQ(window.status, "  Done.");
    EXPECT_TRUE(hasLine("======== Encoding Completed ========"));
}

TEST_F(RunTest, StopBeforeAnyGoDoesNothing) {
    main->cmdStop_Click();
    EXPECT_EQ(run.stops, 0);
    EXPECT_EQ(window.status, "");
}

TEST_F(RunTest, StopShowsItsStatusUntilTheStoppedStateArrives) {
    addInput("clip.avi");
    go("-input clip.avi -output " + testFolder() + "/clip.wmv");
    events();
    main->cmdStop_Click();
    EXPECT_EQ(run.stops, 1);
    EXPECT_FALSE(window.timer);
    EXPECT_EQ(window.status, "Stopped by user.");
    EXPECT_FALSE(hasLine("======== Encoding Completed ========"));
    events();
    EXPECT_EQ(window.status, "  Done.");
    EXPECT_TRUE(hasLine("======== Encoding Completed ========"));
    EXPECT_EQ(main->completedRuns(), 1);
}

TEST_F(RunTest, TheFirstTickPressesGoWithTheProgramsArguments) {
    g_autoStarted = false;
    addInput("clip.avi");
    window.arguments = "-input clip.avi -output " + testFolder() + "/clip.wmv";
    main->Timer1_Timer();
    EXPECT_TRUE(g_autoStarted);
    EXPECT_EQ(window.command, window.arguments);
    EXPECT_EQ(run.starts, 1);
    // Later ticks follow the run instead.
    main->Timer1_Timer();
    EXPECT_EQ(run.starts, 1);
}

TEST_F(RunTest, EachGoMakesANewEncoderAndOptionsPersist) {
    const std::string out = testFolder();
    addInput("clip.avi");
    go("-input clip.avi -output " + out + "/a.wmv -audioonly");
    const encoder::IEncoder* first = g_objEncoder.get();
    go("-input clip.avi -output " + out + "/b.wmv");
    EXPECT_NE(g_objEncoder.get(), first);
    EXPECT_TRUE(g_options.audioOnly);
    EXPECT_EQ(run.starts, 2);
}

struct ErrorCase {
    const char* name;
    std::string command;
    const char* failingCall; // a fake member that fails with 0x80070057, or none
    std::string title;
    std::string text;
};

TEST_F(RunTest, ErrorsThatReachGoShowTheirNumberAndCloseTheWindow) {
    const std::string out = testFolder();
    addInput("clip.avi");
    const ErrorCase cases[] = {
        {"encoder error", "-input clip.avi -output " + out + "/x.wmv", "File.LocalFileName",
         "ERROR:  -2147024809", "Fake failure"},
        {"unreadable configuration file", "-config " + out + "/missing.weu", nullptr, "ERROR:  ", ""},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        window.messages.clear();
        window.closed = false;
        if (c.failingCall)
            world.fail(c.failingCall, 0x80070057, 1);
        go(c.command);
        ASSERT_EQ(window.messages.size(), 2u);
        EXPECT_TRUE(window.messages[0].starts_with(c.title)) << window.messages[0];
        EXPECT_TRUE(window.messages[1].starts_with(c.text)) << window.messages[1];
        EXPECT_TRUE(window.closed);
        EXPECT_TRUE(main->failed());
        EXPECT_EQ(run.starts, 0);
    }
}

TEST_F(RunTest, WithoutAnEngineGoSaysTheSoftwareIsMissing) {
    g_encoderFactory = nullptr;
    go("-input clip.avi -output x.wmv");
    ASSERT_EQ(window.messages.size(), 2u);
    EXPECT_EQ(window.messages[0], "Missing Software");
    EXPECT_TRUE(window.closed);
}

TEST_F(RunTest, ASetupThatFailsLeavesTheWindowReady) {
    go("-input absent.avi -output " + testFolder() + "/x.wmv");
    EXPECT_EQ(run.starts, 0);
    EXPECT_FALSE(window.closed);
    EXPECT_FALSE(main->busy());
    EXPECT_EQ(window.status, "Initializing Codecs...");
    EXPECT_TRUE(lines().front().starts_with("Error: 0x80040200 - ")) << window.info;
}

} // namespace
} // namespace capture
