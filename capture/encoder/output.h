// The ASF output file: streams made from the encoders, metadata, interleaved packets.
#pragma once

#include "capture/encoder/ffmpeg.h"

#include <string>
#include <utility>
#include <vector>

namespace encoder {

class AsfOutput {
public:
    // Fails with kOutputOpenFailed.
    explicit AsfOutput(const std::string& path);

    // Creates the file (fails with kOutputOpenFailed).
    void open();
    // Adds a stream carrying what `codec` encodes; returns its index.
    int addStream(const AVCodecContext& codec, int32_t fourCC);
    // Writes the header with the metadata (title, author, ... and the attributes) and packet size.
    void writeHeader(const std::vector<std::pair<std::string, std::string>>& metadata, int32_t packetSize);
    // Takes the packet, timed in the encoder's time base.
    void write(AVPacket* packet, int streamIndex, AVRational encoderTimeBase);
    // Writes the index and closes the file; returns the file's size in bytes.
    int64_t finish();
    int64_t bytesWritten() const;

private:
    av::OutputPtr format_;
    std::string path_;
    bool finished_ = false;
};

} // namespace encoder
