// What a run has encoded so far, kept by the pipeline and read through the statistics object.
#pragma once

#include "capture/encoder/encoder.h"

#include <cstdint>
#include <deque>
#include <utility>

namespace encoder {

struct StreamCounters {
    bool present = false;
    int32_t expectedBitrate = 0;
    int32_t expectedSampleRate = 0; // Hz, or thousandths of a frame per second
    int64_t packets = 0;
    int64_t bytes = 0;
    int64_t units = 0; // audio samples or video frames encoded
    int64_t droppedPackets = 0;
    int64_t droppedBytes = 0;
    int64_t mediaMs = 0;
};

struct RunStats {
    StreamCounters audio;
    StreamCounters video;
    int64_t mediaMs = 0;   // media time encoded in the current pass
    int64_t fileBytes = 0; // bytes of the output file so far
    bool hasFile = false;
    // (media time, total stream bytes) over the last second or so, for the current bit rate
    std::deque<std::pair<int64_t, int64_t>> recent;

    void noteProgress();
    OutputStats stream(const StreamCounters& c, bool isVideo) const;
    OutputStats total() const;
};

} // namespace encoder
