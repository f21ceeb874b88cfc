#include "capture/custom_profile.h"

#include "capture/encode_options.h"
#include "capture/parser.h"
#include "capture/run_state.h"
#include "capture/user_interface.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <string>

namespace capture {

namespace {

constexpr int32_t fourCC(const char (&text)[5]) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned char>(text[0])) |
                                static_cast<uint32_t>(static_cast<unsigned char>(text[1])) << 8 |
                                static_cast<uint32_t>(static_cast<unsigned char>(text[2])) << 16 |
                                static_cast<uint32_t>(static_cast<unsigned char>(text[3])) << 24);
}

struct CodecId {
    std::string_view name;
    int32_t type;
    int32_t id; // format tag for audio, FourCC for video
};

constexpr std::array<CodecId, 11> kCodecIds = {{
    {"WMA9STD", encoder::kAudio, 0x161},
    {"WMA9PRO", encoder::kAudio, 0x162},
    {"WMA9LSL", encoder::kAudio, 0x163},
    {"WMSP9", encoder::kAudio, 0x00A},
    {"PCM", encoder::kAudio, 0},
    {"WMV7", encoder::kVideo, fourCC("WMV1")},
    {"WMV8", encoder::kVideo, fourCC("WMV2")},
    {"WMV9", encoder::kVideo, fourCC("WMV3")},
    {"WMS9", encoder::kVideo, fourCC("MSS2")},
    {"MP41", encoder::kVideo, fourCC("MP4S")},
    {"UNCOMP", encoder::kVideo, 0},
}};

const CodecId& codecId(int32_t type, std::string_view name) {
    for (const CodecId& c : kCodecIds) {
        if (c.type == type && c.name == name)
            return c;
    }
    return codecId(type, type == encoder::kAudio ? "WMA9STD" : "WMV9");
}

// The command-line name of an identifier, or the identifier itself when no name stands for it.
std::string codecIdText(int32_t type, int32_t id) {
    for (const CodecId& c : kCodecIds) {
        if (c.type == type && c.id == id)
            return std::string(c.name);
    }
    if (type == encoder::kVideo && id != 0) {
        std::string text;
        for (int shift = 0; shift < 32; shift += 8)
            text += static_cast<char>(static_cast<uint32_t>(id) >> shift & 0xFF);
        return text;
    }
    return "0x" + hexNumber(static_cast<uint32_t>(id));
}

int32_t codecIndex(int32_t type, std::string_view name) {
    const CodecId& wanted = codecId(type, name);
    const int32_t index = g_objProfile->GetCodecIndexFromFourCC(type, wanted.id);
    // Only to tell the user; a codec that cannot say what it is still gets used.
    try {
        const int32_t used = g_objProfile->GetCodecFourCCFromIndex(type, index);
        if (used != wanted.id)
            OutputInfo(std::string(type == encoder::kAudio ? "Audio" : "Video") + " codec " +
                       std::string(wanted.name) + " is not available: " + codecIdText(type, used) +
                       " is used instead");
    } catch (const encoder::EncoderError&) {
    }
    return index;
}

// -a_mode and -v_mode: what each mode does to the profile's VBR mode (0: nothing) and to the source.
struct ModeEffect {
    int32_t vbrMode;
    bool twoPasses;
};
constexpr std::array<ModeEffect, 5> kModes = {{
    {0, false},
    {0, true},
    {encoder::kQuality, false},
    {encoder::kBitrateBased, true},
    {encoder::kPeak, true},
}};

bool applyMode(int mode, int32_t type, encoder::ISource* source, std::string_view option, StepRunner& steps) {
    if (mode == -1 || mode == 0)
        return true;
    if (mode < 0 || mode >= static_cast<int>(kModes.size())) {
        OutputInfo("Invalid " + std::string(option) + " " + std::to_string(mode));
        return false;
    }
    const ModeEffect& effect = kModes[static_cast<size_t>(mode)];
    if (effect.vbrMode != 0)
        steps.run([&] { g_objProfile->VBRMode(type, 0, effect.vbrMode); });
    if (effect.twoPasses && source)
        steps.run([&] { source->PreProcessPass(1); });
    return true;
}

// "Bitrate_SamplingRate_Channels[_BitDepth]": the first three fields end at the first three "_"; the
// fourth is the rest. A missing field is empty, so it fails as a field that is not a number.
std::array<std::string, 4> splitAudioSetting(const std::string& setting) {
    std::array<std::string, 4> fields;
    size_t start = 0;
    for (size_t i = 0; i < 3; ++i) {
        const size_t end = start > setting.size() ? std::string::npos : setting.find('_', start);
        if (start <= setting.size())
            fields[i] = setting.substr(start, end == std::string::npos ? std::string::npos : end - start);
        start = end == std::string::npos ? setting.size() + 1 : end + 1;
    }
    fields[3] = start <= setting.size() ? setting.substr(start) : "16";
    return fields;
}

// Kilobits per second, with the three PCM rates that are not whole kilobits.
int64_t audioBitsPerSecond(int64_t kbps) {
    switch (kbps) {
    case 1411:
        return 1411200;
    case 705:
        return 705600;
    case 353:
        return 352800;
    default:
        return kbps * 1000;
    }
}

// Kilohertz, with the rates of the 11025 Hz family.
int64_t audioHertz(int64_t khz) {
    switch (khz) {
    case 88:
        return 88200;
    case 44:
        return 44100;
    case 22:
        return 22050;
    case 11:
        return 11025;
    default:
        return khz * 1000;
    }
}

template <size_t N> bool listed(const std::array<int64_t, N>& list, int64_t value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

} // namespace

int32_t toInt32(double value) {
    if (std::isnan(value))
        return 0;
    const double rounded = std::nearbyint(value);
    if (rounded >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (rounded <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(rounded);
}

int32_t GetAudioCodecIndex(std::string_view name) {
    return codecIndex(encoder::kAudio, name);
}

int32_t GetVideoCodecIndex(std::string_view name) {
    return codecIndex(encoder::kVideo, name);
}

bool CheckForValidAudioBitRates(int64_t bitsPerSecond) {
    static constexpr std::array<int64_t, 29> kRates = {
        0,      4000,   5000,   6000,   8000,   10000,  12000,  16000,  17000,  20000,
        22000,  32000,  40000,  48000,  64000,  80000,  96000,  128000, 160000, 192000,
        256000, 320000, 352800, 384000, 440000, 640000, 705600, 768000, 1411200};
    return listed(kRates, bitsPerSecond);
}

bool CheckForValidAudioSamplingRates(int64_t hertz) {
    static constexpr std::array<int64_t, 9> kRates = {96000, 88200, 48000, 44100, 32000,
                                                      22050, 16000, 11025, 8000};
    return listed(kRates, hertz);
}

bool CheckForValidAudioChannel(int64_t channels) {
    static constexpr std::array<int64_t, 4> kChannels = {1, 2, 6, 8};
    return listed(kChannels, channels);
}

bool CheckForValidDepth(int64_t bitsPerSample) {
    static constexpr std::array<int64_t, 3> kDepths = {16, 20, 24};
    return listed(kDepths, bitsPerSample);
}

bool SetupCustomProfile(encoder::IAudience& audience, StepRunner& steps) {
    if (!g_options.audioOnly && !g_options.videoOnly) {
        const bool uncompressedVideo = g_options.videoCodec == "UNCOMP";
        const bool uncompressedAudio = g_options.audioCodec == "PCM";
        if (uncompressedVideo && !uncompressedAudio) {
            OutputInfo("Audio codec must be uncompressed when using uncompressed video codec");
            return false;
        }
        if (!uncompressedVideo && uncompressedAudio) {
            OutputInfo("Video codec must be uncompressed when using uncompressed audio codec");
            return false;
        }
    }
    if (g_objAudioSource && !SetupCustomAudioProfile(audience, steps))
        return false;
    if (g_objVideoSource)
        return SetupCustomVideoProfile(audience, steps);
    return true;
}

bool SetupCustomAudioProfile(encoder::IAudience& audience, StepRunner& steps) {
    EncodeOptions& o = g_options;
    if (!applyMode(o.audioMode, encoder::kAudio, g_objAudioSource.get(), "-a_mode", steps))
        return false;
    if (!o.audioCodec.empty()) {
        if (auto index = steps.value([&] { return GetAudioCodecIndex(o.audioCodec); })) {
            steps.set(g_audioCodecName, [&] { return g_objProfile->EnumAudioCodec(*index); });
            steps.run([&] { audience.AudioCodec(0, *index); });
        }
    }
    if (o.audioSetting.empty())
        return true;

    std::array<std::string, 4> fields = splitAudioSetting(o.audioSetting);
    const bool qualityBased = !fields[0].empty() && (fields[0][0] == 'Q' || fields[0][0] == 'q');
    if (qualityBased) {
        o.audioMode = 2;
        steps.run([&] { g_objProfile->VBRMode(encoder::kAudio, 0, encoder::kQuality); });
        fields[0].erase(0, 1);
    }
    std::array<int64_t, 4> values{};
    for (size_t i = 0; i < fields.size(); ++i)
        values[i] = ConvertStringToInteger(fields[i]);
    if (std::find(values.begin(), values.end(), -1) != values.end())
        return false;
    auto [bitrate, hertz, channels, bits] = values;

    if (!qualityBased)
        bitrate = audioBitsPerSecond(bitrate);
    if (steps.value([&] { return g_objProfile->VBRMode(encoder::kAudio, 0); }) == encoder::kPeak) {
        if (o.audioPeakBuffer != -1)
            steps.run([&] { audience.AudioBufferMax(0, o.audioPeakBuffer); });
        const int32_t peak =
            o.audioPeakBitrate != -1 ? o.audioPeakBitrate : toInt32(static_cast<double>(bitrate) * 1.5);
        steps.run([&] { audience.AudioPeakBitrate(0, peak); });
    }
    hertz = audioHertz(hertz);
    if (!qualityBased && !CheckForValidAudioBitRates(bitrate)) {
        OutputInfo("Invalid audio bit rate " + std::to_string(bitrate));
        return false;
    }
    if (!CheckForValidAudioSamplingRates(hertz)) {
        OutputInfo("Invalid audio sample rate " + std::to_string(hertz));
        return false;
    }
    if (!CheckForValidAudioChannel(channels)) {
        OutputInfo("Invalid audio channels " + std::to_string(channels));
        return false;
    }
    if (!CheckForValidDepth(bits)) {
        OutputInfo("Invalid bits per sample " + std::to_string(bits));
        return false;
    }
    // The checks have bounded every value but a quality level, which came from a 32-bit conversion.
    steps.run([&] {
        audience.SetAudioConfig(0, static_cast<int32_t>(channels), static_cast<int32_t>(hertz),
                                static_cast<int32_t>(bitrate), static_cast<int32_t>(bits));
    });
    return true;
}

bool SetupCustomVideoProfile(encoder::IAudience& audience, StepRunner& steps) {
    const EncodeOptions& o = g_options;
    if (!applyMode(o.videoMode, encoder::kVideo, g_objVideoSource.get(), "-v_mode", steps))
        return false;
    if (!o.videoCodec.empty()) {
        if (auto index = steps.value([&] { return GetVideoCodecIndex(o.videoCodec); })) {
            steps.set(g_videoCodecName, [&] { return g_objProfile->EnumVideoCodec(*index); });
            steps.run([&] { audience.VideoCodec(0, *index); });
        }
    }
    if (o.videoBitrate != -1)
        steps.run([&] { audience.VideoBitrate(0, o.videoBitrate); });
    if (o.videoWidth != -1)
        steps.run([&] { audience.VideoWidth(0, o.videoWidth); });
    if (o.videoHeight != -1)
        steps.run([&] { audience.VideoHeight(0, o.videoHeight); });
    if (o.videoFrameRate != -1)
        steps.run([&] { audience.VideoFPS(0, toInt32(o.videoFrameRate)); });
    if (o.videoKeyDistance != -1)
        steps.run([&] { audience.VideoKeyFrameDistance(0, o.videoKeyDistance); });
    if (o.videoBuffer != -1)
        steps.run([&] { audience.VideoBufferSize(0, o.videoBuffer); });

    const int32_t vbrMode =
        steps.value([&] { return g_objProfile->VBRMode(encoder::kVideo, 0); }).value_or(encoder::kConstant);
    if (o.videoQuality != -1) {
        if (vbrMode == encoder::kQuality)
            steps.run([&] { audience.VideoCompressionQuality(0, o.videoQuality); });
        else
            steps.run([&] { audience.VideoImageSharpness(0, o.videoQuality); });
    }
    if (vbrMode == encoder::kPeak) {
        if (o.videoPeakBuffer != -1)
            steps.run([&] { audience.VideoBufferMax(0, o.videoPeakBuffer); });
        if (o.videoPeakBitrate != -1) {
            if (steps.value([&] { return audience.VideoBitrate(0); }) > o.videoPeakBitrate)
                steps.run([&] { audience.VideoBitrate(0, o.videoPeakBitrate); });
            steps.run([&] { audience.VideoPeakBitrate(0, o.videoPeakBitrate); });
        }
    }
    if (!o.videoProfile.empty())
        steps.run([&] { audience.Property(encoder::kVideo, 0, "DeviceConformanceTarget", o.videoProfile); });
    return true;
}

} // namespace capture
