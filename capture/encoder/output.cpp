#include "capture/encoder/output.h"

#include "capture/encoder/errors.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace encoder {
namespace {

// The muxer's packet size when none is asked for, and the frame its streaming form puts around each.
constexpr int kDefaultPacketSize = 3200;
constexpr int kChunkHeaderSize = 12;

av::OutputPtr makeMuxer(const char* name, const std::string& path) {
    AVFormatContext* raw = nullptr;
    const int rc = avformat_alloc_output_context2(&raw, nullptr, name, path.empty() ? nullptr : path.c_str());
    if (rc < 0 || !raw)
        errors::raise(errors::kOutputOpenFailed, "Cannot make the output " + path + ": " + av::errorText(rc));
    return av::OutputPtr(raw);
}

} // namespace

AsfOutput::AsfOutput(const std::string& path, int32_t broadcastPort) : path_(path), port_(broadcastPort) {
    if (path_.empty() && port_ == 0)
        errors::raise(errors::kNoOutput, "No output is set.");
    if (!path_.empty())
        targets_.push_back(makeMuxer("asf", path_));
    if (port_ != 0) {
        targets_.push_back(makeMuxer("asf_stream", ""));
        broadcastTarget_ = targets_.back().get();
    }
}

AsfOutput::~AsfOutput() {
    // The broadcast's I/O context belongs to the broadcast, not to the muxer.
    if (broadcastTarget_)
        broadcastTarget_->pb = nullptr;
    targets_.clear();
}

void AsfOutput::open() {
    if (!path_.empty()) {
        const int rc = avio_open(&file().pb, path_.c_str(), AVIO_FLAG_WRITE);
        if (rc < 0)
            errors::raise(errors::kOutputOpenFailed, "Cannot create " + path_ + ": " + av::errorText(rc));
    }
    if (broadcastTarget_) {
        broadcast_ = std::make_unique<HttpBroadcast>(port_);
        broadcastTarget_->pb = broadcast_->io();
        broadcastTarget_->flags |= AVFMT_FLAG_CUSTOM_IO;
    }
}

int AsfOutput::addStream(const AVCodecContext& codec, int32_t fourCC) {
    int index = -1;
    for (const auto& target : targets_) {
        AVStream* s = avformat_new_stream(target.get(), nullptr);
        if (!s)
            errors::raise(errors::kOutputOpenFailed, "Cannot add a stream to the output.");
        avcodec_parameters_from_context(s->codecpar, &codec);
        // The muxer picks the tag itself except where it offers a choice (MPEG-4 part 2 as MP4S).
        if (codec.codec_id == AV_CODEC_ID_MPEG4 || codec.codec_id == AV_CODEC_ID_RAWVIDEO)
            s->codecpar->codec_tag = static_cast<uint32_t>(fourCC);
        s->time_base = codec.time_base;
        s->sample_aspect_ratio = codec.sample_aspect_ratio;
        index = s->index;
    }
    return index;
}

void AsfOutput::writeHeader(const std::vector<std::pair<std::string, std::string>>& metadata,
                            int32_t packetSize) {
    for (const auto& target : targets_) {
        for (const auto& [key, value] : metadata)
            av_dict_set(&target->metadata, key.c_str(), value.c_str(), 0);
        AVDictionary* options = nullptr;
        if (packetSize > 0)
            av_dict_set_int(&options, "packet_size", packetSize, 0);
        const int rc = avformat_write_header(target.get(), &options);
        av_dict_free(&options);
        if (rc < 0)
            errors::raise(errors::kOutputOpenFailed,
                          "Cannot write the output's header: " + av::errorText(rc));
    }
    if (broadcast_)
        broadcast_->headerDone((packetSize > 0 ? packetSize : kDefaultPacketSize) + kChunkHeaderSize);
}

void AsfOutput::write(AVPacket* packet, int streamIndex, AVRational encoderTimeBase) {
    for (size_t i = 0; i < targets_.size(); ++i) {
        AVFormatContext& target = *targets_[i];
        // Each muxer takes its own reference; the last one takes the caller's.
        av::PacketPtr copy;
        AVPacket* p = packet;
        if (i + 1 < targets_.size()) {
            copy.reset(av_packet_clone(packet));
            p = copy.get();
        }
        p->stream_index = streamIndex;
        av_packet_rescale_ts(p, encoderTimeBase, target.streams[streamIndex]->time_base);
        const int rc = av_interleaved_write_frame(&target, p);
        if (rc < 0)
            errors::raise(errors::kOutputOpenFailed, "Cannot write the output: " + av::errorText(rc));
    }
}

int64_t AsfOutput::finish() {
    if (!finished_) {
        finished_ = true;
        for (const auto& target : targets_)
            av_write_trailer(target.get());
        if (broadcastTarget_)
            avio_flush(broadcastTarget_->pb);
        if (!path_.empty())
            avio_closep(&file().pb);
    }
    return bytesWritten();
}

int64_t AsfOutput::bytesWritten() const {
    if (path_.empty())
        return 0;
    if (file().pb)
        return avio_tell(file().pb);
    AVIOContext* probe = nullptr;
    if (avio_open(&probe, path_.c_str(), AVIO_FLAG_READ) < 0)
        return 0;
    const int64_t size = avio_size(probe);
    avio_closep(&probe);
    return size;
}

} // namespace encoder
