#include "capture/encoder/run_stats.h"

namespace encoder {
namespace {

int32_t perSecond(int64_t amount, int64_t ms, int64_t scale = 1) {
    return ms > 0 ? static_cast<int32_t>(amount * 1000 * scale / ms) : 0;
}

constexpr int64_t kCurrentWindowMs = 1000;

} // namespace

void RunStats::noteProgress() {
    recent.emplace_back(mediaMs, audio.bytes + video.bytes);
    while (recent.size() > 2 && recent[1].first <= mediaMs - kCurrentWindowMs)
        recent.pop_front();
}

OutputStats RunStats::stream(const StreamCounters& c, bool isVideo) const {
    OutputStats s;
    s.ExpectedBitrate = c.expectedBitrate;
    s.AverageBitrate = perSecond(c.bytes * 8, c.mediaMs);
    s.CurrentBitrate = s.AverageBitrate;
    s.ExpectedSampleRate = c.expectedSampleRate;
    // Video rates are in thousandths of a frame per second, like the expected one.
    s.AverageSampleRate = perSecond(c.units, c.mediaMs, isVideo ? 1000 : 1);
    s.SampleCount = Fixed4{c.packets};
    s.ByteCount = Fixed4{c.bytes};
    s.DroppedSampleCount = Fixed4{c.droppedPackets};
    s.DroppedByteCount = Fixed4{c.droppedBytes};
    return s;
}

OutputStats RunStats::total() const {
    OutputStats s;
    s.ExpectedBitrate = audio.expectedBitrate + video.expectedBitrate;
    const int64_t bytes = audio.bytes + video.bytes;
    s.AverageBitrate = perSecond(bytes * 8, mediaMs);
    if (recent.size() >= 2)
        s.CurrentBitrate = perSecond((recent.back().second - recent.front().second) * 8,
                                     recent.back().first - recent.front().first);
    s.SampleCount = Fixed4{audio.packets + video.packets};
    s.ByteCount = Fixed4{bytes};
    s.DroppedSampleCount = Fixed4{audio.droppedPackets + video.droppedPackets};
    s.DroppedByteCount = Fixed4{audio.droppedBytes + video.droppedBytes};
    return s;
}

} // namespace encoder
