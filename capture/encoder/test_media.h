// Test clips made with FFmpeg's libraries, and what an output file holds when read back.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
}

struct AVFrame;

namespace encoder::testing {

struct ClipSpec {
    const char* muxer; // nullptr: one encoded picture written as the whole file
    AVCodecID video = AV_CODEC_ID_NONE;
    AVCodecID audio = AV_CODEC_ID_NONE;
    int width = 160;
    int height = 120;
    int fps = 25;
    int sampleRate = 44100;
    int channels = 2;
    double seconds = 2.0;
    // Draws picture n instead (a planar 4:2:0 frame of the clip's size); with the uncompressed codec the
    // clip holds exactly what it draws.
    std::function<void(int64_t n, AVFrame& picture)> draw = {};
};

// Writes the clip. Picture n of a video is a flat grey of luma 16 + 4 * (n % 50), so a decoded picture
// tells which source frame it came from.
void writeClip(const std::string& path, const ClipSpec& spec);

// The mp3 encoder where this FFmpeg has one; otherwise MPEG audio layer 2, which .mp3 readers take too.
ClipSpec mp3Clip();

struct StreamFacts {
    bool present = false;
    uint32_t tag = 0;
    int width = 0, height = 0;
    int sampleRate = 0, channels = 0;
    int64_t packets = 0;
    int64_t bytes = 0;
    int64_t decoded = 0;              // frames (video) or samples (audio)
    double firstLuma = -1;            // mean luma of the first decoded picture
    double startMs = -1;              // time of the first packet
    double endMs = 0;                 // time at which the last packet ends
    int aspectNum = 0, aspectDen = 0; // the stream's pixel aspect ratio (0/0 unset)
};

struct FileFacts {
    StreamFacts audio;
    StreamFacts video;
    int64_t durationMs = 0;
    int64_t fileSize = 0;
    std::map<std::string, std::string> metadata;
};

FileFacts readFacts(const std::string& path);

// A decoded picture, converted to planar 4:2:0.
struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> y, u, v; // rows of width (chroma: width / 2) bytes
    bool interlaced = false, topFieldFirst = false;
    int luma(int x, int row) const { return y[static_cast<size_t>(row) * width + x]; }
};

// Every picture of the file's video stream, in order.
std::vector<Picture> readPictures(const std::string& path);

#ifndef _WIN32
// An Xvfb display of its own, set as DISPLAY for as long as the object lives.
class VirtualDisplay {
public:
    VirtualDisplay(int width, int height);
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;
    bool ok() const { return !display_.empty(); }

private:
    int pid_ = -1;
    std::string display_;
};

// A PulseAudio server whose default source is the monitor of a null sink named `sink`. Its runtime
// folder (and the HOME it writes its cookie to) lie in `folder`.
class SoundServer {
public:
    SoundServer(const std::string& folder, const std::string& sink);
    ~SoundServer();
    SoundServer(const SoundServer&) = delete;
    SoundServer& operator=(const SoundServer&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};
#endif

} // namespace encoder::testing
