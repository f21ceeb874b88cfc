#include "capture/profiles.h"
#include "capture/setup_test_fixture.h"

#include <algorithm>
#include <cctype>
#include <functional>
#include <optional>

namespace capture {
namespace {

using Calls = std::vector<std::string>;
using Change = std::function<void(EncodeOptions&)>;

struct AudioRow {
    int channels, hertz, bitsPerSecond;
};
struct VideoRow {
    int codec, bitsPerSecond, width, height, frameRate, quality;
};

struct PredefinedCase {
    const char* code;
    std::optional<AudioRow> audio;
    std::optional<VideoRow> video;
    Calls before;
    Calls after;
};

// With every codec available: WMA9STD is index 4, WMV9 3, WMS9 2.
constexpr int kStd = 4;
constexpr VideoRow av(int bitsPerSecond, int width, int height, int frameRate, int quality = 75) {
    return {3, bitsPerSecond, width, height, frameRate, quality};
}
constexpr VideoRow screen(int bitsPerSecond, int frameRate) {
    return {2, bitsPerSecond, 0, 0, frameRate, 50};
}
const Calls kTwoPasses = {"AudioSource.PreProcessPass(1)", "VideoSource.PreProcessPass(1)"};

const PredefinedCase kPredefinedCases[] = {
    {"av20", AudioRow{1, 8000, 5000}, av(15000, 160, 120, 15000), {}, {}},
    {"av32", AudioRow{1, 11025, 10168}, av(22000, 176, 144, 15000), {}, {}},
    {"av100", AudioRow{1, 16000, 16000}, av(84000, 320, 240, 15000), {}, {}},
    {"av225", AudioRow{2, 32000, 40000}, av(185000, 320, 240, 30000), {}, {}},
    {"av350", AudioRow{2, 32000, 48000}, av(302000, 320, 240, 30000), {}, {}},
    {"av450", AudioRow{2, 44100, 64040}, av(386000, 320, 240, 30000), {}, {}},
    {"av700", AudioRow{2, 44100, 64040}, av(636000, 320, 240, 30000), {}, {}},
    {"av1400", AudioRow{2, 44100, 128040}, av(1272000, 320, 240, 30000), {}, {}},
    {"av350pal", AudioRow{2, 32000, 48000}, av(302000, 384, 288, 25000), {}, {}},
    {"av700pal", AudioRow{2, 44100, 64040}, av(636000, 384, 288, 25000), {}, {}},
    {"av100_2p", AudioRow{1, 16000, 16000}, av(84000, 320, 240, 15000), {}, kTwoPasses},
    {"av350_2p", AudioRow{2, 32000, 48000}, av(302000, 320, 240, 30000), {}, kTwoPasses},
    {"av600vbr",
     AudioRow{2, 44100, 64040},
     av(536000, 320, 240, 24000),
     {"Profile.VBRMode(2, 0, 2)"},
     {"Audience.VideoPeakBitrate(0, 804000)", "Audience.VideoBufferMax(0, 5000)",
      "VideoSource.Optimization(3)", "VideoSource.PreProcessPass(1)"}},
    {"avq97vbr",
     AudioRow{2, 44100, 64040},
     av(536000, 320, 240, 24000, 97),
     {"Profile.VBRMode(2, 0, 3)"},
     {"VideoSource.Optimization(3)"}},
    {"scrn", std::nullopt, screen(2048000, 5000), {}, {}},
    {"scrna", AudioRow{2, 32000, 48024}, screen(2000000, 5000), {}, {}},
    {"scrnab", AudioRow{2, 32000, 32000}, screen(2016000, 5000), {}, {}},
    {"scrn10a", AudioRow{2, 32000, 48024}, screen(2000000, 10000), {}, {}},
    {"scrn15a", AudioRow{2, 32000, 48024}, screen(2000000, 15000), {}, {}},
    {"scrn24a", AudioRow{2, 32000, 48024}, screen(2000000, 24000), {}, {}},
    {"scrn30a", AudioRow{2, 32000, 48024}, screen(2000000, 30000), {}, {}},
    {"scrn10", std::nullopt, screen(2048000, 10000), {}, {}},
    {"scrn15", std::nullopt, screen(2048000, 15000), {}, {}},
    {"scrn24", std::nullopt, screen(2048000, 24000), {}, {}},
    {"scrn30", std::nullopt, screen(2048000, 30000), {}, {}},
    {"a20_1", AudioRow{1, 22050, 20008}, std::nullopt, {}, {}},
    {"a20_2", AudioRow{2, 22050, 20008}, std::nullopt, {}, {}},
    {"a32", AudioRow{2, 32000, 32000}, std::nullopt, {}, {}},
    {"a48", AudioRow{2, 32000, 48024}, std::nullopt, {}, {}},
    {"a64", AudioRow{2, 44100, 64016}, std::nullopt, {}, {}},
    {"a96", AudioRow{2, 44100, 96024}, std::nullopt, {}, {}},
    {"a128", AudioRow{2, 44100, 128016}, std::nullopt, {}, {}},
    {"v20", std::nullopt, av(20000, 176, 144, 15000), {}, {}},
    {"v32", std::nullopt, av(32000, 240, 176, 15000), {}, {}},
};

Calls expectedCalls(const PredefinedCase& c) {
    auto n = [](int v) {
        return std::to_string(v);
    };
    Calls calls = c.before;
    if (const auto& a = c.audio) {
        calls.push_back("Audience.AudioCodec(0, " + n(kStd) + ")");
        calls.push_back("Audience.SetAudioConfig(0, " + n(a->channels) + ", " + n(a->hertz) + ", " +
                        n(a->bitsPerSecond) + ", 16)");
    }
    if (const auto& v = c.video) {
        const bool qualityBased =
            std::find(c.before.begin(), c.before.end(), "Profile.VBRMode(2, 0, 3)") != c.before.end();
        calls.insert(calls.end(),
                     {"Audience.VideoCodec(0, " + n(v->codec) + ")",
                      "Audience.VideoBitrate(0, " + n(v->bitsPerSecond) + ")",
                      "Audience.VideoWidth(0, " + n(v->width) + ")",
                      "Audience.VideoHeight(0, " + n(v->height) + ")",
                      "Audience.VideoFPS(0, " + n(v->frameRate) + ")",
                      "Audience.VideoKeyFrameDistance(0, 10000)", "Audience.VideoBufferSize(0, 5000)",
                      std::string(qualityBased ? "Audience.VideoCompressionQuality(0, "
                                               : "Audience.VideoImageSharpness(0, ") +
                          n(v->quality) + ")"});
    }
    calls.insert(calls.end(), c.after.begin(), c.after.end());
    return calls;
}

std::string upperCase(std::string text) {
    for (char& ch : text)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return text;
}

TEST_F(SetupTest, EveryProfileCodeSetsItsRowInOrder) {
    ASSERT_EQ(std::size(kPredefinedCases), 34u);
    world.haveEveryCodec();
    for (const auto& c : kPredefinedCases) {
        for (const std::string& code : {std::string(c.code), upperCase(c.code)}) {
            g_options = EncodeOptions{};
            g_options.profileCode = code;
            g_options.videoFrameRate = 100000;
            auto audience = prepareProfile(true, true);
            g_audioCodecName.clear();
            g_videoCodecName.clear();
            StepRunner steps;
            EXPECT_TRUE(SetupPredefinedProfile(*audience, steps)) << code;
            EXPECT_EQ(world.calls, expectedCalls(c)) << code;
            EXPECT_EQ(messages(), Calls{}) << code;
            EXPECT_FALSE(steps.lastError()) << code;
            EXPECT_EQ(g_audioCodecName, c.audio ? "Audio codec 353" : "") << code;
            EXPECT_EQ(g_videoCodecName.empty(), !c.video) << code;
            // The working frame rate follows the row's rate.
            EXPECT_EQ(g_options.videoFrameRate, c.video ? static_cast<float>(c.video->frameRate) : 100000.0f)
                << code;
        }
    }
}

TEST_F(SetupTest, UnknownProfileCodeStopsTheBuild) {
    g_options.profileCode = "av351";
    prepareSources(true, true);
    EXPECT_FALSE(SetupProfile());
    EXPECT_EQ(messages(), Calls{"No predefined profile found."});
    EXPECT_EQ(callsStartingWith({"Audience.", "SourceGroup."}), Calls{});
    EXPECT_EQ(g_options.videoFrameRate, -1);
    EXPECT_FALSE(g_needProfileDefaults);
}

struct SourcePassCase {
    const char* code;
    bool audio;
    bool video;
    Calls sourceCalls;
};

TEST_F(SetupTest, TwoPassAndVbrCodesSetOnlyTheSourcesPresent) {
    const SourcePassCase cases[] = {
        {"av100_2p", true, false, {"AudioSource.PreProcessPass(1)"}},
        {"av350_2p", false, true, {"VideoSource.PreProcessPass(1)"}},
        {"av600vbr", true, false, {}},
        {"avq97vbr", true, false, {}},
        {"av600vbr", false, true, {"VideoSource.Optimization(3)", "VideoSource.PreProcessPass(1)"}},
    };
    for (const auto& c : cases) {
        g_options = EncodeOptions{};
        g_options.profileCode = c.code;
        g_objProfile.reset();
        prepareSources(c.audio, c.video);
        EXPECT_TRUE(SetupProfile()) << c.code;
        EXPECT_EQ(callsStartingWith({"AudioSource", "VideoSource"}), c.sourceCalls) << c.code;
        EXPECT_EQ(messages().size(), 1u) << c.code; // only the codec substitution line
        ui.info.clear();
    }
}

TEST_F(SetupTest, ProfileBuildFromCodeAndOptions) {
    g_options.inputPath = addInput("clip.avi");
    world.frameRates[absolutePath("clip.avi")] = 25;
    g_options.profileCode = "AV350";
    g_options.saveProfileFile = "saved.prx";
    prepareSources(true, true);
    EXPECT_TRUE(SetupProfile());
    EXPECT_EQ(world.calls,
              (Calls{"Profile.ContentType(17)", "Profile.ProfileName(\"HVCmdProfile\")",
                     "Profile.AddAudience(10000000)", "Audience.AudioCodec(0, 0)",
                     "Audience.SetAudioConfig(0, 2, 32000, 48000, 16)", "Audience.VideoCodec(0, 0)",
                     "Audience.VideoBitrate(0, 302000)", "Audience.VideoWidth(0, 320)",
                     "Audience.VideoHeight(0, 240)", "Audience.VideoFPS(0, 25000)",
                     "Audience.VideoKeyFrameDistance(0, 10000)", "Audience.VideoBufferSize(0, 5000)",
                     "Audience.VideoImageSharpness(0, 75)", "Audience.VideoFPS(0, 25000)",
                     "SourceGroup.Profile(\"HVCmdProfile\")", "Profile.SaveToFile(\"saved.prx\")"}));
    EXPECT_EQ(messages(), Calls{"Video codec WMV9 is not available: WMV8 is used instead"});
    EXPECT_EQ(g_options.videoFrameRate, -1);
    ASSERT_TRUE(fake::groupProfile(*g_objEncoder));
    EXPECT_EQ(fake::groupProfile(*g_objEncoder)->audiences.at(0).at("VideoBitrate"), 302000);

    // The next file of a folder reuses the profile and its audience.
    world.calls.clear();
    g_options.saveProfileFile.clear();
    const auto profile = g_objProfile;
    EXPECT_TRUE(SetupProfile());
    EXPECT_EQ(g_objProfile, profile);
    EXPECT_EQ(callsStartingWith({"Profile."}), Calls{"Profile.ContentType(17)"});
}

struct FrameRateCase {
    std::optional<double> sourceFps; // nothing: the rate cannot be read
    float requested;                 // -1: not given
    const char* code;                // "" for the defaults
    int expected;
};

TEST_F(SetupTest, FrameRateNeverExceedsTheSourceOrTheProfile) {
    const FrameRateCase cases[] = {
        {15, 30000, "av350", 15000},
        {std::nullopt, -1, "scrn30", 30000},
        {100, -1, "scrn", 5000},
        {29.97, -1, "av350", 29970},
        {0, -1, "scrn30", 30000},
        {200, -1, "scrn30", 30000},
        {15, 30000, "", 15000},
        {std::nullopt, 60000, "", 60000},
        {std::nullopt, 20000, "av350", 20000},
    };
    for (const auto& c : cases) {
        g_options = EncodeOptions{};
        g_options.inputPath = addInput("clip.avi");
        world.frameRates.clear();
        if (c.sourceFps)
            world.frameRates[absolutePath("clip.avi")] = *c.sourceFps;
        g_options.videoFrameRate = c.requested;
        g_options.profileCode = c.code;
        g_objProfile.reset();
        g_needProfileDefaults = true;
        prepareSources(true, true);
        EXPECT_TRUE(SetupProfile()) << c.code;
        const Calls fps = callsStartingWith({"Audience.VideoFPS"});
        EXPECT_EQ(fps.size(), 2u) << c.code;
        for (const std::string& call : fps)
            EXPECT_EQ(call, "Audience.VideoFPS(0, " + std::to_string(c.expected) + ")") << c.code;
        EXPECT_EQ(g_options.videoFrameRate, c.requested) << c.code;
    }
}

TEST_F(SetupTest, DefaultsStandInOnlyWithoutCodeFileOrSession) {
    g_options.videoBitrate = 300000;
    prepareSources(true, true);
    EXPECT_TRUE(SetupProfile());
    // The custom step runs before and after the defaults.
    EXPECT_EQ(callsStartingWith({"Audience.VideoBitrate"}),
              (Calls{"Audience.VideoBitrate(0, 300000)", "Audience.VideoBitrate(0, 300000)"}));
    EXPECT_EQ(callsStartingWith({"Audience.SetAudioConfig"}),
              Calls{"Audience.SetAudioConfig(0, 2, 44100, 64000, 16)"});
    EXPECT_EQ(g_options.audioCodec, "WMA9STD");
    EXPECT_TRUE(g_needProfileDefaults);

    g_options = EncodeOptions{};
    g_options.videoBitrate = 300000;
    g_options.profileCode = "v20";
    g_objProfile.reset();
    prepareSources(false, true);
    EXPECT_TRUE(SetupProfile());
    EXPECT_EQ(callsStartingWith({"Audience.VideoBitrate"}),
              (Calls{"Audience.VideoBitrate(0, 20000)", "Audience.VideoBitrate(0, 300000)"}));
    EXPECT_EQ(g_options.audioCodec, "");
    EXPECT_FALSE(g_needProfileDefaults);

    // Once a code has supplied a profile, defaults are not loaded again.
    g_options.profileCode.clear();
    g_objProfile.reset();
    prepareSources(false, true);
    EXPECT_TRUE(SetupProfile());
    EXPECT_EQ(callsStartingWith({"Audience.VideoBitrate"}), Calls{"Audience.VideoBitrate(0, 300000)"});
    EXPECT_EQ(g_options.videoCodec, "");
}

struct DefaultsCase {
    const char* name;
    Change given;
    Change expected; // applied to the record the defaults give for nothing
};

TEST_F(SetupTest, LoadProfileDefaultsFillsWhatIsUnset) {
    const Change none = [](EncodeOptions&) {
    };
    const DefaultsCase cases[] = {
        {"nothing given", none, none},
        {"four-field setting", [](EncodeOptions& o) { o.audioSetting = "250_44_2_24"; },
         [](EncodeOptions& o) {
             o.audioSetting = "250_44_2_24";
             o.audioCodec = "WMA9PRO";
         }},
        {"four fields override the codec",
         [](EncodeOptions& o) {
             o.audioSetting = "128_44_2_24";
             o.audioCodec = "WMA9LSL";
         },
         [](EncodeOptions& o) {
             o.audioSetting = "128_44_2_24";
             o.audioCodec = "WMA9PRO";
         }},
        {"lossless setting", [](EncodeOptions& o) { o.audioSetting = "Q100_44_2_24"; },
         [](EncodeOptions& o) {
             o.audioSetting = "Q100_44_2_24";
         }},
        {"three fields", [](EncodeOptions& o) { o.audioSetting = "96_44_2"; },
         [](EncodeOptions& o) {
             o.audioSetting = "96_44_2";
         }},
        {"quality mode", [](EncodeOptions& o) { o.audioMode = 2; },
         [](EncodeOptions& o) {
             o.audioMode = 2;
             o.audioSetting = "Q75_44_2";
         }},
        {"quality mode, professional",
         [](EncodeOptions& o) {
             o.audioMode = 2;
             o.audioCodec = "WMA9PRO";
         },
         [](EncodeOptions& o) {
             o.audioMode = 2;
             o.audioCodec = "WMA9PRO";
             o.audioSetting = "Q75_44_2_24";
         }},
        {"quality mode, lossless",
         [](EncodeOptions& o) {
             o.audioMode = 2;
             o.audioCodec = "WMA9LSL";
         },
         [](EncodeOptions& o) {
             o.audioMode = 2;
             o.audioCodec = "WMA9LSL";
             o.audioSetting = "Q100_44_2_16";
         }},
        {"voice", [](EncodeOptions& o) { o.audioCodec = "WMSP9"; },
         [](EncodeOptions& o) {
             o.audioCodec = "WMSP9";
             o.audioSetting = "12_16_1";
         }},
        {"PCM", [](EncodeOptions& o) { o.audioCodec = "PCM"; },
         [](EncodeOptions& o) {
             o.audioCodec = "PCM";
             o.audioSetting = "705_22_2";
         }},
        {"PCM, two passes",
         [](EncodeOptions& o) {
             o.audioMode = 1;
             o.audioCodec = "PCM";
         },
         [](EncodeOptions& o) {
             o.audioMode = 1;
             o.audioCodec = "PCM";
         }},
        {"professional, two passes",
         [](EncodeOptions& o) {
             o.audioMode = 1;
             o.audioCodec = "WMA9PRO";
         },
         [](EncodeOptions& o) {
             o.audioMode = 1;
             o.audioCodec = "WMA9PRO";
             o.audioSetting = "128_44_2_24";
         }},
        {"video quality mode", [](EncodeOptions& o) { o.videoMode = 2; },
         [](EncodeOptions& o) {
             o.videoMode = 2;
             o.videoQuality = 95;
         }},
        {"video peak mode", [](EncodeOptions& o) { o.videoMode = 4; },
         [](EncodeOptions& o) {
             o.videoMode = 4;
         }},
        {"video bit rate", [](EncodeOptions& o) { o.videoBitrate = 400000; },
         [](EncodeOptions& o) {
             o.videoBitrate = 400000;
             o.videoPeakBitrate = 600000;
         }},
        {"video values given",
         [](EncodeOptions& o) {
             o.videoPeakBitrate = 1;
             o.videoQuality = 50;
             o.videoWidth = 640;
             o.audioPeakBuffer = 1000;
         },
         [](EncodeOptions& o) {
             o.videoPeakBitrate = 1;
             o.videoQuality = 50;
             o.videoWidth = 640;
             o.audioPeakBuffer = 1000;
         }},
    };
    EncodeOptions defaults;
    defaults.audioMode = 0;
    defaults.audioCodec = "WMA9STD";
    defaults.audioPeakBuffer = 3000;
    defaults.audioSetting = "64_44_2";
    defaults.videoMode = 0;
    defaults.videoCodec = "WMV9";
    defaults.videoBitrate = 250000;
    defaults.videoWidth = 0;
    defaults.videoHeight = 0;
    defaults.videoKeyDistance = 10000;
    defaults.videoBuffer = 5000;
    defaults.videoPeakBuffer = 5000;
    defaults.videoPeakBitrate = 375000;
    defaults.videoQuality = 75;
    for (const auto& c : cases) {
        g_options = EncodeOptions{};
        c.given(g_options);
        LoadProfileDefaults();
        EncodeOptions expected = defaults;
        c.expected(expected);
        EXPECT_EQ(g_options, expected) << c.name;
    }
}

TEST_F(SetupTest, ProfileFileSetsPassesAndMeetsTheFrameRate) {
    fake::ProfileData file{"FromFile", {{"VBRMode1", 4}, {"VBRMode2", 2}}, {{{"VideoFPS", 25000}}}};
    world.profileFiles[absolutePath("my.prx")] = file;
    g_options.loadProfileFile = "my.prx";
    g_options.videoFrameRate = 30000;
    prepareSources(true, true);
    EXPECT_TRUE(SetupProfile());
    EXPECT_EQ(
        callsStartingWith({"Profile.LoadFromFile", "AudioSource", "VideoSource", "Audience."}),
        (Calls{"Profile.LoadFromFile(\"" + absolutePath("my.prx") + "\")", "VideoSource.PreProcessPass(1)",
               "AudioSource.PreProcessPass(1)", "Audience.VideoFPS(0, 25000)"}));
    EXPECT_FALSE(g_needProfileDefaults);
    EXPECT_EQ(g_options.videoFrameRate, 30000);

    // A file rate above the working rate is lowered; constant modes leave the sources alone.
    file.values = {};
    file.audiences[0]["VideoFPS"] = 60000;
    world.profileFiles[absolutePath("my.prx")] = file;
    g_objProfile.reset();
    prepareSources(true, true);
    EXPECT_TRUE(SetupProfile());
    EXPECT_EQ(callsStartingWith({"AudioSource", "VideoSource", "Audience."}),
              (Calls{"Audience.VideoFPS(0, 30000)", "Audience.VideoFPS(0, 30000)"}));
}

struct ReportCase {
    const char* name;
    Change change;
    std::string failing; // member made to fail, "" for none
    uint32_t number;
    std::string message;
    std::string stillCalled; // a later step that ran all the same
};

TEST_F(SetupTest, EncoderFailuresEndInTheInvalidProfileReport) {
    const ReportCase cases[] = {
        {"packet size", [](EncodeOptions& o) { o.minPacket = 100; }, "Profile.MinPacketSize", 0x80070057,
         "Invalid profile: 0x80070057 Fake failure", "SourceGroup.Profile(\"HVCmdProfile\")"},
        {"refused by the group", [](EncodeOptions&) {}, "SourceGroup.Profile(", 0x80040205,
         "Invalid profile: 0x80040205 Fake failure", ""},
        // The read-back of the refused profile fails too, and the last failure is the one reported.
        {"refused, then read back", [](EncodeOptions& o) { o.maxPacket = 1500; }, "SourceGroup.Profile(",
         0x80040205, "Invalid profile: 0x80040204 No profile is set on the source group.", ""},
        {"inside a code's row", [](EncodeOptions& o) { o.profileCode = "av350"; }, "Audience.VideoBitrate",
         0x80070057, "Invalid profile: 0x80070057 Fake failure", "Audience.VideoWidth(0, 320)"},
        {"inside the custom step",
         [](EncodeOptions& o) {
             o.profileCode = "av350";
             o.videoHeight = 100;
         },
         "Audience.VideoHeight(0, 100)", 0x80070057, "Invalid profile: 0x80070057 Fake failure",
         "SourceGroup.Profile(\"HVCmdProfile\")"},
        {"profile file", [](EncodeOptions& o) { o.loadProfileFile = "missing.prx"; }, "", 0,
         "Invalid profile: 0x8004020A The profile file cannot be read.",
         "SourceGroup.Profile(\"HVCmdProfile\")"},
        {"no audience", [](EncodeOptions& o) { o.profileCode = "av350"; }, "Profile.AddAudience", 0x80070057,
         "Invalid profile: 0x80070057 Fake failure", "SourceGroup.Profile(\"HVCmdProfile\")"},
    };
    for (const auto& c : cases) {
        g_options = EncodeOptions{};
        g_options.saveProfileFile = "saved.prx";
        c.change(g_options);
        world = fake::FakeWorld();
        if (!c.failing.empty())
            world.fail(c.failing, c.number);
        g_objProfile.reset();
        prepareSources(true, true);
        ui.info.clear();
        ui.scrolls = 0;
        EXPECT_FALSE(SetupProfile()) << c.name;
        const Calls lines = messages();
        ASSERT_FALSE(lines.empty()) << c.name;
        EXPECT_EQ(lines.back(), c.message) << c.name;
        EXPECT_EQ(ui.scrolls, static_cast<int>(lines.size()) + 1) << c.name;
        if (!c.stillCalled.empty()) {
            EXPECT_EQ(callsStartingWith({c.stillCalled}).size(), 1u) << c.name;
        }
        EXPECT_EQ(callsStartingWith({"Profile.SaveToFile"}), Calls{}) << c.name;
    }
}

TEST_F(SetupTest, FailedSaveIsReportedAndTheRunGoesOn) {
    world.fail("Profile.SaveToFile", 0x80070005);
    g_options.profileCode = "a64";
    g_options.saveProfileFile = "x:/saved.prx";
    prepareSources(true, false);
    EXPECT_TRUE(SetupProfile());
    EXPECT_EQ(messages(), Calls{"Profile not saved to x:/saved.prx: 0x80070005 Fake failure"});
}

struct FlagCase {
    Change change;
    Calls calls;
};

TEST_F(SetupTest, PixelRatioInterlaceAndPacketSizesReachTheProfile) {
    const FlagCase cases[] = {
        {[](EncodeOptions& o) { o.pixelRatioX = 4; }, {"Profile.NonSquarePixelMode(0, true)"}},
        {[](EncodeOptions& o) { o.pixelRatioY = 3; }, {"Profile.NonSquarePixelMode(0, true)"}},
        {[](EncodeOptions& o) { o.videoPreprocess = 15; }, {}},
        {[](EncodeOptions& o) { o.videoPreprocess = 16; }, {"Profile.InterlaceMode(0, true)"}},
        {[](EncodeOptions& o) { o.videoPreprocess = 18; }, {"Profile.InterlaceMode(0, true)"}},
        {[](EncodeOptions& o) {
             o.minPacket = 100;
             o.maxPacket = 1500;
         },
         {"Profile.MinPacketSize(100)", "GroupProfile.MaxPacketSize(1500)"}},
    };
    for (const auto& c : cases) {
        g_options = EncodeOptions{};
        g_options.profileCode = "v20";
        c.change(g_options);
        g_objProfile.reset();
        prepareSources(false, true);
        EXPECT_TRUE(SetupProfile());
        EXPECT_EQ(callsStartingWith(
                      {"Profile.NonSquare", "Profile.Interlace", "Profile.MinPacket", "GroupProfile."}),
                  c.calls);
    }
}

} // namespace
} // namespace capture
