// The output: an ASF file, an HTTP broadcast of the framed stream, or both, fed the same packets.
#pragma once

#include "capture/encoder/broadcast.h"
#include "capture/encoder/ffmpeg.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace encoder {

class AsfOutput {
public:
    // An empty path means no file; port 0 no broadcast. Fails with kOutputOpenFailed.
    AsfOutput(const std::string& path, int32_t broadcastPort);
    ~AsfOutput();

    // Creates the file and starts serving the port (fails with kOutputOpenFailed).
    void open();
    // Adds a stream carrying what `codec` encodes; returns its index.
    int addStream(const AVCodecContext& codec, int32_t fourCC);
    // Writes the header with the metadata (title, author, ... and the attributes) and packet size.
    void writeHeader(const std::vector<std::pair<std::string, std::string>>& metadata, int32_t packetSize);
    // Takes the packet, timed in the encoder's time base.
    void write(AVPacket* packet, int streamIndex, AVRational encoderTimeBase);
    // Writes the index and closes the file; returns the file's size in bytes.
    int64_t finish();
    bool hasFile() const { return !path_.empty(); }
    // Bytes of the file so far.
    int64_t bytesWritten() const;

private:
    AVFormatContext& file() const { return *targets_.front(); }

    std::string path_;
    int32_t port_;
    std::unique_ptr<HttpBroadcast> broadcast_; // outlives the muxer writing into it
    std::vector<av::OutputPtr> targets_;       // the file's first
    AVFormatContext* broadcastTarget_ = nullptr;
    bool finished_ = false;
};

} // namespace encoder
