// The listings: codecs without a short name are left out and the rest numbered without gaps; devices
// are numbered per plug-in; the audio-format tables take their column count from the short name.
#include "capture/run_test_fixture.h"

#include <gtest/gtest.h>

namespace capture {
namespace {

using Lines = std::vector<std::string>;

class ListingTest : public RunTest {
protected:
    void SetUp() override {
        RunTest::SetUp();
        g_objEncoder = runFactory.CreateEncoder(dispatcher);
    }
    Lines linesStartingWith(std::string_view prefix) const {
        Lines out;
        for (const std::string& l : lines())
            if (l.starts_with(prefix))
                out.push_back(l);
        return out;
    }
};

TEST_F(ListingTest, CodecsWithoutAShortNameAreLeftOutAndTheRestNumberedFromZero) {
    world.audioCodecs = {0x161, 0x160, 0}; // 0x160 has no short name
    main->ListAudioCodecs();
    EXPECT_EQ(lines().at(1), "Audio Codecs: ");
    EXPECT_EQ(linesStartingWith("\t["),
              (Lines{"\t[0] WMA9STD : Audio codec 353", "\t[1] PCM : Audio codec 0",
                     "\t[0] WMA9STD : Audio codec 353", "\t[1] PCM : Audio codec 0",
                     "\t[0] WMA9STD : Audio codec 353", "\t[1] PCM : Audio codec 0",
                     "\t[0] WMA9STD : Audio codec 353", "\t[1] PCM : Audio codec 0"}));
    EXPECT_EQ(linesStartingWith("C").front(), "CBR Mode :");
}

TEST_F(ListingTest, AudioFormatTablesHaveFiveColumnsForTheProfessionalAndLosslessCodecs) {
    world.audioCodecs = {0x162, 0x160};
    main->ListAudioFormats();
    EXPECT_EQ(linesStartingWith("\t")[0], "\tWMA9PRO : Audio codec 354 (WMA9PRO):");
    const Lines headers = linesStartingWith("\t\tArgument");
    ASSERT_EQ(headers.size(), 8u);
    EXPECT_EQ(headers[0],
              "\t\tArgument                Bitrate         Sampling rate       Channel   BitsPerSample");
    EXPECT_EQ(headers[1], "\t\tArgument                Bitrate         Sampling rate       Channel");
    // Mode 3 is quality based.
    EXPECT_EQ(headers[4],
              "\t\tArgument                Quality         Sampling rate       Channel   BitsPerSample");
    EXPECT_EQ(linesStartingWith("\tAudio codec 352:").size(), 4u);
}

TEST_F(ListingTest, DevicesAreNumberedFromZeroForEachPlugIn) {
    world.plugins = {{"Sound", true, 1, {"mic0", "mic1"}},
                     {"Both", true, 3, {"combo"}},
                     {"Idle", false, 1, {"unused"}},
                     {"Screen", true, 6, {"screencap1"}}};
    main->ListDevices();
    EXPECT_EQ(lines(), (Lines{"audio device:", "\t0 : mic0", "\t1 : mic1", "\t0 : combo",
                              "video device:", "\t0 : combo", "\t0 : screencap1"}));
}

} // namespace
} // namespace capture
