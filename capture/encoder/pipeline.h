// One encoding run: inputs decoded, converted to the audience's format, encoded and written out.
#pragma once

#include "capture/encoder/ffmpeg.h"
#include "capture/encoder/input.h"
#include "capture/encoder/output.h"
#include "capture/encoder/profile.h"
#include "capture/encoder/run_stats.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace encoder {

struct StreamJob {
    InputSpec input;
    int64_t markInMs = 0;
    int64_t markOutMs = 0; // 0: to the end of the input
    bool still = false;
    int64_t stillLengthMs = 0; // how long a still picture is shown
    int32_t cropLeft = 0, cropTop = 0, cropRight = 0, cropBottom = 0;
    int32_t pixelAspectX = 0, pixelAspectY = 0;
    int32_t optimization = 0; // the video source's Optimization
    int32_t pixelFormat = 0;  // the video source's PixelFormat (0: the input's own)
    bool interlaced = false;  // the profile's InterlaceMode: encode the pictures as interlaced
};

struct EncodeJob {
    std::optional<StreamJob> audio;
    std::optional<StreamJob> video;
    AudienceSettings audience;
    int32_t audioVbr = kConstant;
    int32_t videoVbr = kConstant;
    std::string outputPath;    // empty: no file
    int32_t broadcastPort = 0; // 0: no broadcast
    bool realTime = false;     // keep media time with the clock (a broadcast of files)
    std::vector<std::pair<std::string, std::string>> metadata;
    int32_t packetSize = 0;
    bool twoPass = false;        // the video is analysed in a first pass
    int32_t videoComplexity = 0; // 0-100: how hard the video encoder works on each picture
};

class AudioStage;
class VideoStage;

class Pipeline {
public:
    // Opens the inputs and the encoders; fails with the engine's errors.
    explicit Pipeline(const EncodeJob& job);
    ~Pipeline();

    // Creates the output file and writes its header.
    void start();
    // Encodes a little more; false once every input has ended.
    bool step();
    // Flushes the encoders and completes the file.
    void finish();
    const RunStats& stats() const { return stats_; }
    bool realTime() const { return job_.realTime; }

private:
    void startOutput();
    void stepFirstPass();
    void updateStats();

    EncodeJob job_;
    std::unique_ptr<AudioStage> audio_;
    std::unique_ptr<VideoStage> video_;
    std::unique_ptr<VideoStage> firstPass_;
    StreamCounters firstPassCounters_;
    std::unique_ptr<AsfOutput> output_;
    RunStats stats_;
};

} // namespace encoder
