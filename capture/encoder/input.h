// Reading one stream of a media file: open, probe, seek to the mark-in point and decode.
#pragma once

#include "capture/encoder/ffmpeg.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace encoder {

struct FileProbe {
    bool hasAudio = false;
    bool hasVideo = false;
    bool still = false;     // a picture rather than a moving video
    int64_t durationMs = 0; // 0 when unknown
    double frameRate = 0;   // of the first video stream; 0 without one
};

// Fails with kInputOpenFailed when the file cannot be opened or holds no audio or video.
FileProbe probeFile(const std::string& path);

// What to open: a file, or a capture device through one of FFmpeg's input devices.
struct InputSpec {
    std::string url;
    std::string format; // empty for a file: the format is probed
    std::vector<std::pair<std::string, std::string>> options;
    bool live = false; // a device: never seeked, timed from the run's start (see setWallOrigin)
};

InputSpec fileInput(const std::string& path);

// Decoded frames of the best stream of one type, timed in milliseconds from the start of the file (or
// from the first frame of a device).
class DecodedInput {
public:
    DecodedInput(const InputSpec& input, AVMediaType type, int64_t startMs);
    ~DecodedInput();
    DecodedInput(const DecodedInput&) = delete;
    DecodedInput& operator=(const DecodedInput&) = delete;

    // The next decoded frame (owned by the reader until the next call), or null at the end.
    AVFrame* next();
    // Time of the frame last returned, in milliseconds from the start of the file; none when the frame
    // carries no time.
    std::optional<double> frameTimeMs(const AVFrame* frame) const;
    // A device that stamps its frames with the system clock is timed from this moment (microseconds of
    // av_gettime), so that devices started together stay together; others from their first frame.
    // A device is read from then on by a thread of its own, so that the encoding work (and the other
    // device's waits) never hold up its pictures or sound.
    void setWallOrigin(int64_t microseconds);
    const AVCodecContext& decoder() const { return *decoder_; }
    const AVStream& stream() const { return *format_->streams[streamIndex_]; }

private:
    bool readPacket();

    av::InputPtr format_;
    av::CodecPtr decoder_;
    int streamIndex_ = -1;
    bool live_ = false;
    int64_t wallOrigin_ = AV_NOPTS_VALUE;
    mutable int64_t startPts_ = AV_NOPTS_VALUE; // the file's start, in the stream's time base
    av::PacketPtr packet_ = av::makePacket();
    av::FramePtr frame_ = av::makeFrame();
    bool draining_ = false;
    class DeviceReader;
    std::unique_ptr<DeviceReader> reader_; // last: stops before the input closes
};

// Opens a file or device for reading, failing with kInputOpenFailed.
av::InputPtr openInput(const InputSpec& input);

} // namespace encoder
