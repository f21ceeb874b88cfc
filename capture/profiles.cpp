#include "capture/profiles.h"

#include "capture/custom_profile.h"
#include "capture/encode_options.h"
#include "capture/files.h"
#include "capture/run_state.h"
#include "capture/user_interface.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <optional>
#include <string>

namespace capture {

namespace {

struct AudioRow {
    int32_t channels;
    int32_t hertz;
    int32_t bitsPerSecond;
};

struct VideoRow {
    std::string_view codec;
    int32_t bitsPerSecond;
    int32_t width; // 0: the source's
    int32_t height;
    int32_t frameRate; // thousandths of a frame per second
    int32_t quality;
};

// What a few codes set beyond their audiences.
enum class Further { None, TwoPasses, PeakVbr, QualityVbr };

struct PredefinedProfile {
    std::string_view code;
    std::optional<AudioRow> audio;
    std::optional<VideoRow> video;
    Further further = Further::None;
};

constexpr AudioRow kAv100Audio{1, 16000, 16000};
constexpr VideoRow kAv100Video{"WMV9", 84000, 320, 240, 15000, 75};
constexpr AudioRow kAv350Audio{2, 32000, 48000};
constexpr VideoRow kAv350Video{"WMV9", 302000, 320, 240, 30000, 75};
constexpr AudioRow kScreenAudio{2, 32000, 48024};

constexpr VideoRow screenVideo(int32_t bitsPerSecond, int32_t frameRate) {
    return {"WMS9", bitsPerSecond, 0, 0, frameRate, 50};
}

const PredefinedProfile kPredefinedProfiles[] = {
    {"av20", AudioRow{1, 8000, 5000}, VideoRow{"WMV9", 15000, 160, 120, 15000, 75}},
    {"av32", AudioRow{1, 11025, 10168}, VideoRow{"WMV9", 22000, 176, 144, 15000, 75}},
    {"av100", kAv100Audio, kAv100Video},
    {"av225", AudioRow{2, 32000, 40000}, VideoRow{"WMV9", 185000, 320, 240, 30000, 75}},
    {"av350", kAv350Audio, kAv350Video},
    {"av450", AudioRow{2, 44100, 64040}, VideoRow{"WMV9", 386000, 320, 240, 30000, 75}},
    {"av700", AudioRow{2, 44100, 64040}, VideoRow{"WMV9", 636000, 320, 240, 30000, 75}},
    {"av1400", AudioRow{2, 44100, 128040}, VideoRow{"WMV9", 1272000, 320, 240, 30000, 75}},
    {"av350pal", kAv350Audio, VideoRow{"WMV9", 302000, 384, 288, 25000, 75}},
    {"av700pal", AudioRow{2, 44100, 64040}, VideoRow{"WMV9", 636000, 384, 288, 25000, 75}},
    {"av100_2p", kAv100Audio, kAv100Video, Further::TwoPasses},
    {"av350_2p", kAv350Audio, kAv350Video, Further::TwoPasses},
    {"av600vbr", AudioRow{2, 44100, 64040}, VideoRow{"WMV9", 536000, 320, 240, 24000, 75}, Further::PeakVbr},
    {"avq97vbr", AudioRow{2, 44100, 64040}, VideoRow{"WMV9", 536000, 320, 240, 24000, 97},
     Further::QualityVbr},
    {"scrn", std::nullopt, screenVideo(2048000, 5000)},
    {"scrna", kScreenAudio, screenVideo(2000000, 5000)},
    {"scrnab", AudioRow{2, 32000, 32000}, screenVideo(2016000, 5000)},
    {"scrn10a", kScreenAudio, screenVideo(2000000, 10000)},
    {"scrn15a", kScreenAudio, screenVideo(2000000, 15000)},
    {"scrn24a", kScreenAudio, screenVideo(2000000, 24000)},
    {"scrn30a", kScreenAudio, screenVideo(2000000, 30000)},
    {"scrn10", std::nullopt, screenVideo(2048000, 10000)},
    {"scrn15", std::nullopt, screenVideo(2048000, 15000)},
    {"scrn24", std::nullopt, screenVideo(2048000, 24000)},
    {"scrn30", std::nullopt, screenVideo(2048000, 30000)},
    {"a20_1", AudioRow{1, 22050, 20008}, std::nullopt},
    {"a20_2", AudioRow{2, 22050, 20008}, std::nullopt},
    {"a32", AudioRow{2, 32000, 32000}, std::nullopt},
    {"a48", AudioRow{2, 32000, 48024}, std::nullopt},
    {"a64", AudioRow{2, 44100, 64016}, std::nullopt},
    {"a96", AudioRow{2, 44100, 96024}, std::nullopt},
    {"a128", AudioRow{2, 44100, 128016}, std::nullopt},
    {"v20", std::nullopt, VideoRow{"WMV9", 20000, 176, 144, 15000, 75}},
    {"v32", std::nullopt, VideoRow{"WMV9", 32000, 240, 176, 15000, 75}},
};

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && lowerCase(text.substr(0, prefix.size())) == lowerCase(prefix);
}

// Frame rate of the input file in thousandths; an input whose rate cannot be read does not limit the
// frame rate below 100 fps.
float sourceFrameRate() {
    constexpr float kCeiling = 100000;
    if (g_options.inputPath.empty())
        return kCeiling;
    try {
        std::unique_ptr<encoder::IMediaInfo> info = g_encoderFactory->CreateMediaInfo();
        if (!info)
            return kCeiling;
        info->FileName(absolutePath(g_options.inputPath));
        const double rate = info->FrameRate() * 1000;
        return std::isfinite(rate) && rate > 0 ? static_cast<float>(rate) : kCeiling;
    } catch (const encoder::EncoderError&) {
        return kCeiling;
    }
}

bool twoPassMode(const std::optional<int32_t>& vbrMode) {
    return vbrMode == encoder::kPeak || vbrMode == encoder::kBitrateBased;
}

// A profile file brings its own frame rate and bit-rate modes: the sources follow its modes, and the
// working frame rate and the file's rate meet at the lower of the two.
void followLoadedProfile(encoder::IAudience& audience, StepRunner& steps) {
    float& frameRate = g_options.videoFrameRate;
    if (g_objVideoSource) {
        if (twoPassMode(steps.value([&] { return g_objProfile->VBRMode(encoder::kVideo, 0); })))
            steps.run([&] { g_objVideoSource->PreProcessPass(1); });
        if (auto fps = steps.value([&] { return audience.VideoFPS(0); })) {
            if (static_cast<float>(*fps) <= frameRate)
                frameRate = static_cast<float>(*fps);
            else
                steps.run([&] { audience.VideoFPS(0, toInt32(frameRate)); });
        }
    }
    if (g_objAudioSource &&
        twoPassMode(steps.value([&] { return g_objProfile->VBRMode(encoder::kAudio, 0); })))
        steps.run([&] { g_objAudioSource->PreProcessPass(1); });
}

// Steps 2 to 12 of the build; false for the early ends that have printed their reason.
bool buildProfile(StepRunner& steps) {
    EncodeOptions& o = g_options;
    std::shared_ptr<encoder::IAudience> audience;
    if (!g_objProfile) {
        g_objProfile = g_encoderFactory->CreateProfile();
        steps.run([&] { g_objProfile->ContentType(g_contentType); });
        steps.run([&] { g_objProfile->ProfileName("HVCmdProfile"); });
        steps.set(audience, [&] { return g_objProfile->AddAudience(10000000); });
    } else {
        steps.run([&] { g_objProfile->ContentType(g_contentType); });
        steps.set(audience, [&] { return g_objProfile->Audience(0); });
    }

    if (o.videoFrameRate == -1)
        o.videoFrameRate = 30000;
    o.videoFrameRate = std::min(o.videoFrameRate, sourceFrameRate());

    // Without an audience the failure that lost it is reported at the end.
    if (!o.profileCode.empty()) {
        const bool matched = !audience || SetupPredefinedProfile(*audience, steps);
        g_needProfileDefaults = false;
        if (!matched)
            return false;
    }
    if (!o.loadProfileFile.empty()) {
        steps.run([&] { g_objProfile->LoadFromFile(absolutePath(o.loadProfileFile)); });
        g_needProfileDefaults = false;
        steps.set(audience, [&] { return g_objProfile->Audience(0); });
        if (audience)
            followLoadedProfile(*audience, steps);
    }
    if (audience && !SetupCustomProfile(*audience, steps))
        return false;
    if (g_needProfileDefaults) {
        LoadProfileDefaults();
        if (audience && !SetupCustomProfile(*audience, steps))
            return false;
    }

    if (o.pixelRatioX != -1 || o.pixelRatioY != -1)
        steps.run([&] { g_objProfile->NonSquarePixelMode(0, true); });
    if (o.videoPreprocess >= 16 && o.videoPreprocess <= 18)
        steps.run([&] { g_objProfile->InterlaceMode(0, true); });
    if (o.minPacket != -1)
        steps.run([&] { g_objProfile->MinPacketSize(o.minPacket); });
    steps.run([&] { g_objSourceGroup->Profile(*g_objProfile); });
    if (o.maxPacket != -1)
        steps.run([&] { g_objSourceGroup->Profile()->MaxPacketSize(o.maxPacket); });
    return true;
}

} // namespace

bool SetupProfile() {
    StepRunner steps;
    const float requestedFrameRate = g_options.videoFrameRate;
    const bool built = buildProfile(steps);
    // The lowering applies to this build only.
    g_options.videoFrameRate = requestedFrameRate;
    if (!built)
        return false;
    if (const auto& error = steps.lastError()) {
        OutputInfo("Invalid profile: 0x" + hexNumber(error->number) + " " + error->description);
        steps.clear();
        if (UserInterface* ui = userInterface())
            ui->scrollDisplay();
        return false;
    }
    if (!g_options.saveProfileFile.empty()) {
        // The run does not depend on the copy; the user learns it was not written.
        try {
            g_objProfile->SaveToFile(g_options.saveProfileFile);
        } catch (const encoder::EncoderError& error) {
            OutputInfo("Profile not saved to " + g_options.saveProfileFile + ": 0x" +
                       hexNumber(error.number) + " " + error.description);
        }
    }
    return true;
}

bool SetupPredefinedProfile(encoder::IAudience& audience, StepRunner& steps) {
    const std::string code = lowerCase(g_options.profileCode);
    const auto row = std::find_if(std::begin(kPredefinedProfiles), std::end(kPredefinedProfiles),
                                  [&](const PredefinedProfile& p) { return p.code == code; });
    if (row == std::end(kPredefinedProfiles)) {
        OutputInfo("No predefined profile found.");
        return false;
    }

    if (row->further == Further::PeakVbr)
        steps.run([&] { g_objProfile->VBRMode(encoder::kVideo, 0, encoder::kPeak); });
    else if (row->further == Further::QualityVbr)
        steps.run([&] { g_objProfile->VBRMode(encoder::kVideo, 0, encoder::kQuality); });

    if (const auto& a = row->audio)
        SetupAudioAudience(audience, "WMA9STD", a->channels, a->hertz, a->bitsPerSecond, 16, steps);
    if (const auto& v = row->video) {
        int32_t frameRate = v->frameRate;
        SetupVideoAudience(audience, v->codec, v->bitsPerSecond, v->width, v->height, frameRate, 5000,
                           v->quality, 10000, steps);
    }

    // These touch the sources; a source the run does not have has nothing to set.
    const auto& video = g_objVideoSource;
    switch (row->further) {
    case Further::TwoPasses:
        if (g_objAudioSource)
            steps.run([&] { g_objAudioSource->PreProcessPass(1); });
        if (video)
            steps.run([&] { video->PreProcessPass(1); });
        break;
    case Further::PeakVbr:
        if (auto bitrate = steps.value([&] { return audience.VideoBitrate(0); }))
            steps.run([&] { audience.VideoPeakBitrate(0, toInt32(*bitrate * 1.5)); });
        steps.run([&] { audience.VideoBufferMax(0, 5000); });
        if (video) {
            steps.run([&] { video->Optimization(3); }); // inverse telecine
            steps.run([&] { video->PreProcessPass(1); });
        }
        break;
    case Further::QualityVbr:
        if (video)
            steps.run([&] { video->Optimization(3); });
        break;
    case Further::None:
        break;
    }
    return true;
}

void SetupAudioAudience(encoder::IAudience& audience, std::string_view codec, int32_t channels, int32_t hertz,
                        int32_t bitsPerSecond, int32_t bitsPerSample, StepRunner& steps) {
    if (auto index = steps.value([&] { return GetAudioCodecIndex(codec); })) {
        steps.set(g_audioCodecName, [&] { return g_objProfile->EnumAudioCodec(*index); });
        steps.run([&] { audience.AudioCodec(0, *index); });
    }
    steps.run([&] { audience.SetAudioConfig(0, channels, hertz, bitsPerSecond, bitsPerSample); });
}

void SetupVideoAudience(encoder::IAudience& audience, std::string_view codec, int32_t bitsPerSecond,
                        int32_t width, int32_t height, int32_t& frameRate, int32_t bufferMs, int32_t quality,
                        int32_t keyDistanceMs, StepRunner& steps) {
    float& working = g_options.videoFrameRate;
    if (static_cast<float>(frameRate) > working)
        frameRate = toInt32(working);
    else
        working = static_cast<float>(frameRate);

    if (auto index = steps.value([&] { return GetVideoCodecIndex(codec); })) {
        steps.set(g_videoCodecName, [&] { return g_objProfile->EnumVideoCodec(*index); });
        steps.run([&] { audience.VideoCodec(0, *index); });
    }
    steps.run([&] { audience.VideoBitrate(0, bitsPerSecond); });
    steps.run([&] { audience.VideoWidth(0, width); });
    steps.run([&] { audience.VideoHeight(0, height); });
    steps.run([&] { audience.VideoFPS(0, frameRate); });
    steps.run([&] { audience.VideoKeyFrameDistance(0, keyDistanceMs); });
    steps.run([&] { audience.VideoBufferSize(0, bufferMs); });
    if (steps.value([&] { return g_objProfile->VBRMode(encoder::kVideo, 0); }) == encoder::kQuality)
        steps.run([&] { audience.VideoCompressionQuality(0, quality); });
    else
        steps.run([&] { audience.VideoImageSharpness(0, quality); });
}

void LoadProfileDefaults() {
    EncodeOptions& o = g_options;
    // A fourth field (the bit depth) needs the professional codec, unless the setting is lossless.
    if (!o.audioSetting.empty() && std::count(o.audioSetting.begin(), o.audioSetting.end(), '_') == 3 &&
        !startsWithIgnoringCase(o.audioSetting, "Q100"))
        o.audioCodec = "WMA9PRO";

    if (o.audioMode == -1)
        o.audioMode = 0;
    if (o.audioCodec.empty())
        o.audioCodec = "WMA9STD";
    if (o.audioPeakBuffer == -1)
        o.audioPeakBuffer = 3000;
    if (o.audioSetting.empty()) {
        if (o.audioMode == 2 && o.audioCodec == "WMA9PRO")
            o.audioSetting = "Q75_44_2_24";
        else if (o.audioMode == 2 && o.audioCodec == "WMA9LSL")
            o.audioSetting = "Q100_44_2_16";
        else if (o.audioMode == 2)
            o.audioSetting = "Q75_44_2";
        else if (o.audioMode == 0 && o.audioCodec == "WMSP9")
            o.audioSetting = "12_16_1";
        else if (o.audioMode == 0 && o.audioCodec == "PCM")
            o.audioSetting = "705_22_2";
        else if (o.audioCodec == "WMA9PRO")
            o.audioSetting = "128_44_2_24";
        else
            o.audioSetting = "64_44_2";
    }

    if (o.videoMode == -1)
        o.videoMode = 0;
    if (o.videoCodec.empty())
        o.videoCodec = "WMV9";
    if (o.videoBitrate == -1)
        o.videoBitrate = 250000;
    if (o.videoWidth == -1)
        o.videoWidth = 0;
    if (o.videoHeight == -1)
        o.videoHeight = 0;
    if (o.videoKeyDistance == -1)
        o.videoKeyDistance = 10000;
    if (o.videoBuffer == -1)
        o.videoBuffer = 5000;
    if (o.videoPeakBuffer == -1)
        o.videoPeakBuffer = 5000;
    if (o.videoPeakBitrate == -1)
        o.videoPeakBitrate = toInt32(o.videoBitrate * 1.5);
    if (o.videoQuality == -1)
        o.videoQuality = o.videoMode == 2 ? 95 : 75;
}

} // namespace capture
