#include "capture/encoder/codecs.h"

#include "capture/encoder/errors.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>
#include <array>
#include <cstdlib>
#include <tuple>

namespace encoder {
namespace {

constexpr std::array kAudioCodecs{
    CodecEntry{0x161, AV_CODEC_ID_WMAV2},
    CodecEntry{0x160, AV_CODEC_ID_WMAV1},
    CodecEntry{0, AV_CODEC_ID_PCM_S16LE},
};
constexpr std::array kVideoCodecs{
    CodecEntry{fourCC('W', 'M', 'V', '2'), AV_CODEC_ID_WMV2},
    CodecEntry{fourCC('W', 'M', 'V', '1'), AV_CODEC_ID_WMV1},
    CodecEntry{fourCC('M', 'P', '4', 'S'), AV_CODEC_ID_MPEG4},
    CodecEntry{0, AV_CODEC_ID_RAWVIDEO},
};

// Identifiers the engine has no encoder for, and what it encodes them with instead.
struct Substitute {
    int32_t type;
    int32_t wanted;
    int32_t used;
};
constexpr std::array kSubstitutes{
    Substitute{kAudio, 0x162, 0x161},
    Substitute{kAudio, 0x163, 0x161},
    Substitute{kAudio, 0x00A, 0x161},
    Substitute{kVideo, fourCC('W', 'M', 'V', '3'), fourCC('W', 'M', 'V', '2')},
    Substitute{kVideo, fourCC('M', 'S', 'S', '2'), fourCC('W', 'M', 'V', '2')},
};

constexpr std::array kSampleRates{8000, 11025, 16000, 22050, 32000, 44100, 48000};
constexpr std::array kWmaBitrates{24000, 32000, 40000, 48000, 64000, 80000, 96000, 128000, 160000, 192000};
constexpr std::array kQualityLevels{10, 25, 50, 75, 90, 98};
// The WMA encoders refuse less than this.
constexpr int32_t kWmaMinBitrate = 24000;

bool isWma(int32_t codecIndex) {
    const AVCodecID id = codecAt(kAudio, codecIndex).id;
    return id == AV_CODEC_ID_WMAV1 || id == AV_CODEC_ID_WMAV2;
}

// A WMA stream gains nothing from more than about two bits per sample.
int32_t wmaMaxBitrate(int32_t rate, int32_t channels) {
    return std::max(kWmaMinBitrate, rate * channels * 2);
}

} // namespace

std::span<const CodecEntry> codecTable(int32_t type) {
    if (type == kAudio)
        return kAudioCodecs;
    if (type == kVideo)
        return kVideoCodecs;
    errors::raise(errors::kInvalidArgument, "The stream type must be 1 (audio) or 2 (video).");
}

const CodecEntry& codecAt(int32_t type, int32_t index) {
    const auto table = codecTable(type);
    if (index < 0 || index >= static_cast<int32_t>(table.size()))
        errors::raise(errors::kInvalidArgument, "The codec index is out of range.");
    return table[static_cast<size_t>(index)];
}

std::string codecDisplayName(int32_t type, int32_t index) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(codecAt(type, index).id);
    return d && d->long_name ? d->long_name : "";
}

int32_t codecIndexFromFourCC(int32_t type, int32_t wanted) {
    for (const Substitute& s : kSubstitutes) {
        if (s.type == type && s.wanted == wanted)
            wanted = s.used;
    }
    const auto table = codecTable(type);
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].fourCC == wanted)
            return static_cast<int32_t>(i);
    }
    errors::raise(errors::kNotFound, "No codec has that identifier.");
}

std::vector<AudioFormat> audioFormats(int32_t codecIndex, int32_t vbrMode) {
    std::vector<AudioFormat> formats;
    const bool wma = isWma(codecIndex);
    for (int32_t rate : kSampleRates) {
        for (int32_t channels : {1, 2}) {
            AudioFormat f{"", 0, rate, channels, 16};
            if (!wma) {
                f.Bitrate = rate * channels * 16;
                formats.push_back(f);
            } else if (vbrMode == kQuality) {
                for (int32_t q : kQualityLevels) {
                    f.Bitrate = q;
                    formats.push_back(f);
                }
            } else {
                for (int32_t bps : kWmaBitrates) {
                    if (bps > wmaMaxBitrate(rate, channels))
                        break;
                    f.Bitrate = bps;
                    formats.push_back(f);
                }
            }
        }
    }
    for (AudioFormat& f : formats) {
        f.Name = (vbrMode == kQuality && wma ? "Q" + std::to_string(f.Bitrate)
                                             : std::to_string(f.Bitrate / 1000) + " kbps") +
                 ", " + std::to_string(f.SampleRate) + " Hz, " + (f.Channels == 1 ? "mono" : "stereo");
    }
    return formats;
}

AudioFormat nearestAudioFormat(int32_t codecIndex, int32_t vbrMode, const AudioFormat& wanted) {
    const auto formats = audioFormats(codecIndex, vbrMode);
    // Ordered by what matters most: the sample rate, the channel count, then the bit rate.
    auto distance = [&](const AudioFormat& f) {
        return std::tuple{std::abs(f.SampleRate - wanted.SampleRate), std::abs(f.Channels - wanted.Channels),
                          std::abs(f.Bitrate - wanted.Bitrate)};
    };
    return *std::min_element(formats.begin(), formats.end(), [&](const AudioFormat& a, const AudioFormat& b) {
        return distance(a) < distance(b);
    });
}

int32_t audioEncodeBitrate(int32_t codecIndex, int32_t vbrMode, const AudioFormat& format) {
    if (!isWma(codecIndex))
        return format.SampleRate * format.Channels * 16;
    if (vbrMode != kQuality)
        return format.Bitrate;
    const int32_t low = kWmaMinBitrate;
    const int32_t high = wmaMaxBitrate(format.SampleRate, format.Channels);
    return low + (high - low) * std::clamp(format.Bitrate, 0, 100) / 100;
}

} // namespace encoder
