// The codecs the engine encodes with, in index order, and the formats each offers.
#pragma once

#include "capture/encoder/encoder.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

#include <span>
#include <vector>

namespace encoder {

struct CodecEntry {
    int32_t fourCC; // format tag for audio
    AVCodecID id;
};

std::span<const CodecEntry> codecTable(int32_t type);
// Fails with kInvalidArgument for a type other than audio or video, or an index out of range.
const CodecEntry& codecAt(int32_t type, int32_t index);
std::string codecDisplayName(int32_t type, int32_t index);
// The index for a tag or FourCC, taking the nearest substitute for one the engine cannot encode.
int32_t codecIndexFromFourCC(int32_t type, int32_t fourCC);

// Audio formats of a codec in a VBR mode: bit rate (or quality level in quality mode), rate, channels.
std::vector<AudioFormat> audioFormats(int32_t codecIndex, int32_t vbrMode);
// The supported format nearest the request: same rate and channels when possible, then the nearest
// bit rate.
AudioFormat nearestAudioFormat(int32_t codecIndex, int32_t vbrMode, const AudioFormat& wanted);
// The constant bit rate an audio format is encoded at (a quality level maps onto the codec's range).
int32_t audioEncodeBitrate(int32_t codecIndex, int32_t vbrMode, const AudioFormat& format);

constexpr int32_t fourCC(char a, char b, char c, char d) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned char>(a)) |
                                static_cast<uint32_t>(static_cast<unsigned char>(b)) << 8 |
                                static_cast<uint32_t>(static_cast<unsigned char>(c)) << 16 |
                                static_cast<uint32_t>(static_cast<unsigned char>(d)) << 24);
}

} // namespace encoder
