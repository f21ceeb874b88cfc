// The end-of-run report: its layout, number patterns and conditions, against set statistics.
#include "capture/encode_options.h"
#include "capture/run_test_fixture.h"
#include "capture/statistics.h"

#include <gtest/gtest.h>

namespace capture {
namespace {

using Lines = std::vector<std::string>;
using std::chrono::milliseconds;

class StatisticsTest : public RunTest {
protected:
    void SetUp() override {
        RunTest::SetUp();
        g_objEncoder = runFactory.CreateEncoder(dispatcher);
        g_objSourceGroup = g_objEncoder->SourceGroupCollection().Add("SG_1");
        g_audioCodecName = "Windows Media Audio 9";
        g_videoCodecName = "Windows Media Video 9";
        g_options.outputPath = "out.wmv";
        auto& s = run.statistics;
        s.audio = {64040, 64016, 0, 44100, 44099, {}, {1234567}, {3}, {0}};
        s.video = {302000, 299999, 0, 29970, 29970, {1500}, {12345678}, {2}, {0}};
        s.overall.AverageBitrate = 366015;
        s.file = {{4567890}, {12345}};
        // 100.9 s to 103.1 s: whole seconds 100 and 103.
        g_startTime = std::chrono::system_clock::time_point(milliseconds(100900));
        g_endTime = std::chrono::system_clock::time_point(milliseconds(103100));
    }
    void withSources(bool audio, bool video) {
        g_objAudioSource = audio ? g_objSourceGroup->AddSource(encoder::kAudio) : nullptr;
        g_objVideoSource = video ? g_objSourceGroup->AddSource(encoder::kVideo) : nullptr;
    }
};

const Lines kAudioBlock = {"",
                           "Audio :",
                           "\tCodec: \t\t\tWindows Media Audio 9",
                           "\tExpected bit rate: \t\t64,040.0 bps",
                           "\tAverage bit rate:     \t\t64,016.0 bps",
                           "\tExpected sample rate: \t44,100.0",
                           "\tAverage sample rate:  \t44,099.0",
                           "\tDropped byte count:   \t0 bytes",
                           "\tDropped sample rate:  \t3.0",
                           "\tTotal bytes:          \t\t1,234,567 bytes"};
const Lines kVideoBlock = {"",
                           "Video :",
                           "\tCodec: \t\t\tWindows Media Video 9",
                           "\tExpected bit rate: \t\t302,000.0 bps",
                           "\tAverage bit rate: \t\t299,999.0 bps",
                           "\tExpected fps: \t\t30",
                           "\tDropped frame count: \t2",
                           "\tTotal coded frames: \t1,500",
                           "\tAverage sample rate: \t29.97",
                           "\tDropped bytes: \t\t0 bytes",
                           "\tTotal bytes: \t\t12,345,678 bytes"};
const Lines kOverallBlock = {"",
                             "Overall:",
                             "\tEncoding time: \t\t3. secs",
                             "\tAverage bit rate: \t\t366,015. bps",
                             "\tFile size: \t\t\t4,567,890 bytes ",
                             "\tFile duration: \t\t12 seconds "};

Lines joined(std::initializer_list<Lines> blocks) {
    Lines all;
    for (const Lines& b : blocks)
        all.insert(all.end(), b.begin(), b.end());
    return all;
}

Lines without(Lines lines, std::string_view prefix) {
    std::erase_if(lines, [&](const std::string& l) { return l.starts_with(prefix); });
    return lines;
}

TEST_F(StatisticsTest, ReportsEachStreamTheRunHasThenTheOverallFigures) {
    struct Case {
        const char* name;
        bool audio, video;
        int audioMode, videoMode;
        const char* output;
        Lines expected;
    };
    const Case cases[] = {
        {"audio and video", true, true, -1, -1, "out.wmv", joined({kAudioBlock, kVideoBlock, kOverallBlock})},
        {"audio only", true, false, -1, -1, "out.wma", joined({kAudioBlock, kOverallBlock})},
        {"video only", false, true, -1, -1, "out.wmv", joined({kVideoBlock, kOverallBlock})},
        {"peak-based audio has no expected rate", true, false, 2, 2, "out.wma",
         joined({without(kAudioBlock, "\tExpected bit rate"), kOverallBlock})},
        {"peak-based video has no expected rate", false, true, 1, 2, "out.wmv",
         joined({without(kVideoBlock, "\tExpected bit rate"), kOverallBlock})},
        {"no output file", false, true, -1, -1, "",
         joined({kVideoBlock, without(without(kOverallBlock, "\tFile size"), "\tFile duration")})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        window.info.clear();
        withSources(c.audio, c.video);
        g_options.audioMode = c.audioMode;
        g_options.videoMode = c.videoMode;
        g_options.outputPath = c.output;
        ShowStatistics();
        EXPECT_EQ(lines(), c.expected);
        EXPECT_TRUE(window.messages.empty());
    }
}

TEST_F(StatisticsTest, AStatisticThatCannotBeReadEndsTheReportWithTheFileAccessBox) {
    withSources(false, true);
    run.statistics.fileFailing = true;
    ShowStatistics();
    Lines expected = joined({kVideoBlock, kOverallBlock});
    expected.erase(expected.end() - 2, expected.end());
    EXPECT_EQ(lines(), expected);
    EXPECT_EQ(window.messages,
              (Lines{"ERROR:  File Access", "Output file could not be created.  Please make sure\r\n"
                                            "you have permission to create a file in the selected "
                                            "output directory."}));
}

} // namespace
} // namespace capture
