#include "capture/custom_profile.h"
#include "capture/encoder/errors.h"
#include "capture/setup_test_fixture.h"

#include <functional>

namespace capture {
namespace {

using Calls = std::vector<std::string>;
using Change = std::function<void(EncodeOptions&)>;

struct AudioSettingCase {
    const char* setting;
    Change change; // further options, or null
    bool ok;
    Calls calls;    // audience, profile and source calls
    Calls messages; // printed lines
};

TEST_F(SetupTest, AudioSettingIsParsedCheckedAndApplied) {
    const AudioSettingCase cases[] = {
        {"64_44_2", nullptr, true, {"Audience.SetAudioConfig(0, 2, 44100, 64000, 16)"}, {}},
        {"128_44_2_24", nullptr, true, {"Audience.SetAudioConfig(0, 2, 44100, 128000, 24)"}, {}},
        {"705_22_2", nullptr, true, {"Audience.SetAudioConfig(0, 2, 22050, 705600, 16)"}, {}},
        {"1411_44_2", nullptr, true, {"Audience.SetAudioConfig(0, 2, 44100, 1411200, 16)"}, {}},
        {"353_88_2_20", nullptr, true, {"Audience.SetAudioConfig(0, 2, 88200, 352800, 20)"}, {}},
        {"64_11_1", nullptr, true, {"Audience.SetAudioConfig(0, 1, 11025, 64000, 16)"}, {}},
        {"640_96_8", nullptr, true, {"Audience.SetAudioConfig(0, 8, 96000, 640000, 16)"}, {}},
        {"0_44_2", nullptr, true, {"Audience.SetAudioConfig(0, 2, 44100, 0, 16)"}, {}},
        {"Q90_44_2",
         nullptr,
         true,
         {"Profile.VBRMode(1, 0, 3)", "Audience.SetAudioConfig(0, 2, 44100, 90, 16)"},
         {}},
        {"q90_44_2",
         nullptr,
         true,
         {"Profile.VBRMode(1, 0, 3)", "Audience.SetAudioConfig(0, 2, 44100, 90, 16)"},
         {}},
        {"Q100_44_2_16",
         nullptr,
         true,
         {"Profile.VBRMode(1, 0, 3)", "Audience.SetAudioConfig(0, 2, 44100, 100, 16)"},
         {}},
        // A quality level is not checked against the bit rates.
        {"Q5000_44_2",
         nullptr,
         true,
         {"Profile.VBRMode(1, 0, 3)", "Audience.SetAudioConfig(0, 2, 44100, 5000, 16)"},
         {}},
        {"250_44_2_24", nullptr, false, {}, {"Invalid audio bit rate 250000"}},
        {"50_44_2", nullptr, false, {}, {"Invalid audio bit rate 50000"}},
        {"64_45_2", nullptr, false, {}, {"Invalid audio sample rate 45000"}},
        {"64_44_3", nullptr, false, {}, {"Invalid audio channels 3"}},
        {"128_44_2_8", nullptr, false, {}, {"Invalid bits per sample 8"}},
        {"Q90_45_2", nullptr, false, {"Profile.VBRMode(1, 0, 3)"}, {"Invalid audio sample rate 45000"}},
        // Overflowing kilobits are refused, not wrapped.
        {"2147483647_44_2", nullptr, false, {}, {"Invalid audio bit rate 2147483647000"}},
        {"x_44_2", nullptr, false, {}, {"Invalid format x expecting integer value"}},
        {"64_44", nullptr, false, {}, {"Invalid format  expecting integer value"}},
        {"64",
         nullptr,
         false,
         {},
         {"Invalid format  expecting integer value", "Invalid format  expecting integer value"}},
        {"64_44_2_", nullptr, false, {}, {"Invalid format  expecting integer value"}},
        {"64_44_2_16_1", nullptr, false, {}, {"Invalid format 16_1 expecting integer value"}},
        {"Q_44_2", nullptr, false, {"Profile.VBRMode(1, 0, 3)"}, {"Invalid format  expecting integer value"}},
        // Peak mode: the buffer when given, and a peak of one and a half times the bit rate unless given.
        {"64_44_2",
         [](EncodeOptions& o) { o.audioMode = 4; },
         true,
         {"Profile.VBRMode(1, 0, 2)", "AudioSource.PreProcessPass(1)", "Audience.AudioPeakBitrate(0, 96000)",
          "Audience.SetAudioConfig(0, 2, 44100, 64000, 16)"},
         {}},
        {"64_44_2",
         [](EncodeOptions& o) {
             o.audioMode = 4;
             o.audioPeakBuffer = 3000;
             o.audioPeakBitrate = 100000;
         },
         true,
         {"Profile.VBRMode(1, 0, 2)", "AudioSource.PreProcessPass(1)", "Audience.AudioBufferMax(0, 3000)",
          "Audience.AudioPeakBitrate(0, 100000)", "Audience.SetAudioConfig(0, 2, 44100, 64000, 16)"},
         {}},
        // Not peak mode: the peak options are not used.
        {"64_44_2",
         [](EncodeOptions& o) {
             o.audioMode = 3;
             o.audioPeakBuffer = 3000;
         },
         true,
         {"Profile.VBRMode(1, 0, 4)", "AudioSource.PreProcessPass(1)",
          "Audience.SetAudioConfig(0, 2, 44100, 64000, 16)"},
         {}},
    };
    for (const auto& c : cases) {
        g_options = EncodeOptions{};
        g_options.audioSetting = c.setting;
        if (c.change)
            c.change(g_options);
        const int modeBefore = g_options.audioMode;
        auto audience = prepareProfile(true, false);
        ui.info.clear();
        StepRunner steps;
        EXPECT_EQ(SetupCustomAudioProfile(*audience, steps), c.ok) << c.setting;
        EXPECT_EQ(world.calls, c.calls) << c.setting;
        EXPECT_EQ(messages(), c.messages) << c.setting;
        const bool quality = c.setting[0] == 'Q' || c.setting[0] == 'q';
        EXPECT_EQ(g_options.audioMode, quality ? 2 : modeBefore) << c.setting;
        EXPECT_FALSE(steps.lastError()) << c.setting;
    }
}

struct ModeCase {
    int mode;
    Calls audioCalls; // for -a_mode; -v_mode gives the same with type 2 and the video source
    bool ok;
};

TEST_F(SetupTest, EncodingModesSetVbrModeAndSecondPass) {
    const ModeCase cases[] = {
        {-1, {}, true},
        {0, {}, true},
        {1, {"AudioSource.PreProcessPass(1)"}, true},
        {2, {"Profile.VBRMode(1, 0, 3)"}, true},
        {3, {"Profile.VBRMode(1, 0, 4)", "AudioSource.PreProcessPass(1)"}, true},
        {4, {"Profile.VBRMode(1, 0, 2)", "AudioSource.PreProcessPass(1)"}, true},
        {5, {}, false},
        {-2, {}, false},
    };
    for (const auto& c : cases) {
        for (const bool audio : {true, false}) {
            g_options = EncodeOptions{};
            (audio ? g_options.audioMode : g_options.videoMode) = c.mode;
            auto audience = prepareProfile(audio, !audio);
            ui.info.clear();
            StepRunner steps;
            const bool ok =
                audio ? SetupCustomAudioProfile(*audience, steps) : SetupCustomVideoProfile(*audience, steps);
            EXPECT_EQ(ok, c.ok) << c.mode;
            Calls expected = c.audioCalls;
            for (std::string& call : expected) {
                if (!audio && call.starts_with("Profile.VBRMode(1"))
                    call.replace(16, 1, "2");
                if (!audio && call.starts_with("AudioSource"))
                    call.replace(0, 5, "Video");
            }
            EXPECT_EQ(world.calls, expected) << c.mode << (audio ? " audio" : " video");
            Calls expectedMessages;
            if (!c.ok)
                expectedMessages.push_back(std::string(audio ? "Invalid -a_mode " : "Invalid -v_mode ") +
                                           std::to_string(c.mode));
            EXPECT_EQ(messages(), expectedMessages);
        }
    }
}

struct PairingCase {
    const char* videoCodec;
    const char* audioCodec;
    Change change;
    const char* message; // null: accepted
};

TEST_F(SetupTest, UncompressedCodecsGoTogether) {
    world.haveEveryCodec();
    const PairingCase cases[] = {
        {"UNCOMP", "", nullptr, "Audio codec must be uncompressed when using uncompressed video codec"},
        {"UNCOMP", "WMA9STD", nullptr,
         "Audio codec must be uncompressed when using uncompressed video codec"},
        {"WMV9", "PCM", nullptr, "Video codec must be uncompressed when using uncompressed audio codec"},
        {"", "PCM", nullptr, "Video codec must be uncompressed when using uncompressed audio codec"},
        {"UNCOMP", "PCM", nullptr, nullptr},
        {"WMV9", "WMA9STD", nullptr, nullptr},
        {"UNCOMP", "", [](EncodeOptions& o) { o.videoOnly = true; }, nullptr},
        {"", "PCM", [](EncodeOptions& o) { o.audioOnly = true; }, nullptr},
    };
    for (const auto& c : cases) {
        g_options = EncodeOptions{};
        g_options.videoCodec = c.videoCodec;
        g_options.audioCodec = c.audioCodec;
        if (c.change)
            c.change(g_options);
        auto audience = prepareProfile(true, true);
        ui.info.clear();
        StepRunner steps;
        EXPECT_EQ(SetupCustomProfile(*audience, steps), c.message == nullptr)
            << c.videoCodec << "/" << c.audioCodec;
        EXPECT_EQ(messages(), c.message ? Calls{c.message} : Calls{}) << c.videoCodec << "/" << c.audioCodec;
        if (c.message) {
            EXPECT_EQ(world.calls, Calls{}) << "nothing is set after a refused pairing";
        }
    }
}

TEST_F(SetupTest, AudioFailureLeavesVideoUntouched) {
    g_options.audioSetting = "50_44_2";
    g_options.videoBitrate = 300000;
    auto audience = prepareProfile(true, true);
    StepRunner steps;
    EXPECT_FALSE(SetupCustomProfile(*audience, steps));
    EXPECT_EQ(callsStartingWith({"Audience.Video"}), Calls{});

    // Without an audio source only the video options apply.
    g_options.audioSetting = "64_44_2";
    audience = prepareProfile(false, true);
    EXPECT_TRUE(SetupCustomProfile(*audience, steps));
    EXPECT_EQ(world.calls, Calls{"Audience.VideoBitrate(0, 300000)"});
}

TEST_F(SetupTest, VideoOptionsAreAppliedInOrder) {
    world.haveEveryCodec();
    EncodeOptions& o = g_options;
    o.videoCodec = "WMV8";
    o.videoBitrate = 500000;
    o.videoWidth = 640;
    o.videoHeight = 480;
    o.videoFrameRate = 29970;
    o.videoKeyDistance = 8000;
    o.videoBuffer = 4000;
    o.videoQuality = 80;
    o.videoPeakBitrate = 900000; // not peak mode: unused
    o.videoProfile = "MP";
    auto audience = prepareProfile(false, true);
    StepRunner steps;
    EXPECT_TRUE(SetupCustomVideoProfile(*audience, steps));
    EXPECT_EQ(world.calls, (Calls{"Audience.VideoCodec(0, 4)", "Audience.VideoBitrate(0, 500000)",
                                  "Audience.VideoWidth(0, 640)", "Audience.VideoHeight(0, 480)",
                                  "Audience.VideoFPS(0, 29970)", "Audience.VideoKeyFrameDistance(0, 8000)",
                                  "Audience.VideoBufferSize(0, 4000)", "Audience.VideoImageSharpness(0, 80)",
                                  "Audience.Property(2, 0, \"DeviceConformanceTarget\", \"MP\")"}));
    EXPECT_EQ(g_videoCodecName, "Video codec " + std::to_string(0x32564D57));
}

struct VideoModeCase {
    int mode;
    int bitrate;
    int peak;
    Calls calls; // after the mode's own calls
};

TEST_F(SetupTest, VideoQualityAndPeakFollowTheVbrMode) {
    const VideoModeCase cases[] = {
        {2, 500000, 400000, {"Audience.VideoBitrate(0, 500000)", "Audience.VideoCompressionQuality(0, 90)"}},
        {4,
         500000,
         400000,
         {"Audience.VideoBitrate(0, 500000)", "Audience.VideoImageSharpness(0, 90)",
          "Audience.VideoBufferMax(0, 6000)", "Audience.VideoBitrate(0, 400000)",
          "Audience.VideoPeakBitrate(0, 400000)"}},
        {4,
         300000,
         400000,
         {"Audience.VideoBitrate(0, 300000)", "Audience.VideoImageSharpness(0, 90)",
          "Audience.VideoBufferMax(0, 6000)", "Audience.VideoPeakBitrate(0, 400000)"}},
        {3, 500000, 400000, {"Audience.VideoBitrate(0, 500000)", "Audience.VideoImageSharpness(0, 90)"}},
    };
    for (const auto& c : cases) {
        g_options = EncodeOptions{};
        g_options.videoMode = c.mode;
        g_options.videoBitrate = c.bitrate;
        g_options.videoPeakBitrate = c.peak;
        g_options.videoPeakBuffer = 6000;
        g_options.videoQuality = 90;
        auto audience = prepareProfile(false, true);
        StepRunner steps;
        EXPECT_TRUE(SetupCustomVideoProfile(*audience, steps));
        EXPECT_EQ(callsStartingWith({"Audience."}), c.calls) << c.mode;
    }
}

TEST_F(SetupTest, FailingMemberIsPassedOverAndKept) {
    world.fail("Audience.VideoWidth", 0x80070057);
    g_options.videoWidth = 320;
    g_options.videoHeight = 240;
    g_options.audioSetting = "64_44_2";
    auto audience = prepareProfile(true, true);
    StepRunner steps;
    EXPECT_TRUE(SetupCustomProfile(*audience, steps));
    EXPECT_EQ(world.calls, (Calls{"Audience.SetAudioConfig(0, 2, 44100, 64000, 16)",
                                  "Audience.VideoWidth(0, 320)", "Audience.VideoHeight(0, 240)"}));
    ASSERT_TRUE(steps.lastError());
    EXPECT_EQ(steps.lastError()->number, 0x80070057u);
}

struct CodecCase {
    const char* name;
    int32_t type;
    int32_t index;          // with every codec available
    int32_t engineIndex;    // with the engine's codecs
    const char* substitute; // the line the engine's codecs print, or null
};

TEST_F(SetupTest, CodecNamesGiveTheEncodersIndexAndSayWhatStandsIn) {
    const CodecCase cases[] = {
        {"WMA9STD", encoder::kAudio, 4, 0, nullptr},
        {"WMA9PRO", encoder::kAudio, 3, 0, "Audio codec WMA9PRO is not available: WMA9STD is used instead"},
        {"WMA9LSL", encoder::kAudio, 2, 0, "Audio codec WMA9LSL is not available: WMA9STD is used instead"},
        {"WMSP9", encoder::kAudio, 1, 0, "Audio codec WMSP9 is not available: WMA9STD is used instead"},
        {"PCM", encoder::kAudio, 0, 2, nullptr},
        {"unknown", encoder::kAudio, 4, 0, nullptr},
        {"WMV7", encoder::kVideo, 5, 1, nullptr},
        {"WMV8", encoder::kVideo, 4, 0, nullptr},
        {"WMV9", encoder::kVideo, 3, 0, "Video codec WMV9 is not available: WMV8 is used instead"},
        {"WMS9", encoder::kVideo, 2, 0, "Video codec WMS9 is not available: WMV8 is used instead"},
        {"MP41", encoder::kVideo, 1, 2, nullptr},
        {"UNCOMP", encoder::kVideo, 0, 3, nullptr},
        {"wmv9", encoder::kVideo, 3, 0, "Video codec WMV9 is not available: WMV8 is used instead"},
    };
    auto index = [](const CodecCase& c) {
        return c.type == encoder::kAudio ? GetAudioCodecIndex(c.name) : GetVideoCodecIndex(c.name);
    };
    g_objProfile = factory.CreateProfile();
    for (const auto& c : cases) {
        ui.info.clear();
        EXPECT_EQ(index(c), c.engineIndex) << c.name;
        EXPECT_EQ(messages(), c.substitute ? Calls{c.substitute} : Calls{}) << c.name;
    }
    world.haveEveryCodec();
    for (const auto& c : cases) {
        ui.info.clear();
        EXPECT_EQ(index(c), c.index) << c.name;
        EXPECT_EQ(messages(), Calls{}) << c.name;
    }
    // An identifier the encoder has nothing for fails like any member.
    world.videoCodecs = {0};
    EXPECT_THROW(GetVideoCodecIndex("MP41"), encoder::EncoderError);
}

TEST_F(SetupTest, AudioCodecOptionNamesTheCodec) {
    g_options.audioCodec = "WMA9STD";
    auto audience = prepareProfile(true, false);
    StepRunner steps;
    EXPECT_TRUE(SetupCustomAudioProfile(*audience, steps));
    EXPECT_EQ(world.calls, Calls{"Audience.AudioCodec(0, 0)"});
    EXPECT_EQ(g_audioCodecName, "Audio codec 353");

    // A codec the encoder cannot find is skipped and kept; the name stays.
    world.audioCodecs = {0};
    world.calls.clear();
    EXPECT_TRUE(SetupCustomAudioProfile(*audience, steps));
    EXPECT_EQ(world.calls, Calls{});
    EXPECT_EQ(g_audioCodecName, "Audio codec 353");
    ASSERT_TRUE(steps.lastError());
    EXPECT_EQ(steps.lastError()->number, encoder::errors::kNotFound);
}

} // namespace
} // namespace capture
