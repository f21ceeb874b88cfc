#include "capture/encoder/output.h"

#include "capture/encoder/errors.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace encoder {

AsfOutput::AsfOutput(const std::string& path) : path_(path) {
    AVFormatContext* raw = nullptr;
    const int rc = avformat_alloc_output_context2(&raw, nullptr, "asf", path.c_str());
    if (rc < 0 || !raw)
        errors::raise(errors::kOutputOpenFailed, "Cannot make the output " + path + ": " + av::errorText(rc));
    format_.reset(raw);
}

int AsfOutput::addStream(const AVCodecContext& codec, int32_t fourCC) {
    AVStream* s = avformat_new_stream(format_.get(), nullptr);
    if (!s)
        errors::raise(errors::kOutputOpenFailed, "Cannot add a stream to " + path_);
    avcodec_parameters_from_context(s->codecpar, &codec);
    // The muxer picks the tag itself except where it offers a choice (MPEG-4 part 2 as MP4S).
    if (codec.codec_id == AV_CODEC_ID_MPEG4)
        s->codecpar->codec_tag = static_cast<uint32_t>(fourCC);
    else if (codec.codec_id == AV_CODEC_ID_RAWVIDEO)
        s->codecpar->codec_tag = avcodec_pix_fmt_to_codec_tag(codec.pix_fmt);
    s->time_base = codec.time_base;
    s->sample_aspect_ratio = codec.sample_aspect_ratio;
    return s->index;
}

void AsfOutput::open() {
    const int rc = avio_open(&format_->pb, path_.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0)
        errors::raise(errors::kOutputOpenFailed, "Cannot create " + path_ + ": " + av::errorText(rc));
}

void AsfOutput::writeHeader(const std::vector<std::pair<std::string, std::string>>& metadata,
                            int32_t packetSize) {
    for (const auto& [key, value] : metadata)
        av_dict_set(&format_->metadata, key.c_str(), value.c_str(), 0);
    AVDictionary* options = nullptr;
    if (packetSize > 0)
        av_dict_set_int(&options, "packet_size", packetSize, 0);
    const int rc = avformat_write_header(format_.get(), &options);
    av_dict_free(&options);
    if (rc < 0)
        errors::raise(errors::kOutputOpenFailed, "Cannot write " + path_ + ": " + av::errorText(rc));
}

void AsfOutput::write(AVPacket* packet, int streamIndex, AVRational encoderTimeBase) {
    packet->stream_index = streamIndex;
    av_packet_rescale_ts(packet, encoderTimeBase, format_->streams[streamIndex]->time_base);
    const int rc = av_interleaved_write_frame(format_.get(), packet);
    if (rc < 0)
        errors::raise(errors::kOutputOpenFailed, "Cannot write " + path_ + ": " + av::errorText(rc));
}

int64_t AsfOutput::finish() {
    if (!finished_) {
        finished_ = true;
        av_write_trailer(format_.get());
        avio_closep(&format_->pb);
    }
    return bytesWritten();
}

int64_t AsfOutput::bytesWritten() const {
    if (format_->pb)
        return avio_tell(format_->pb);
    AVIOContext* probe = nullptr;
    if (avio_open(&probe, path_.c_str(), AVIO_FLAG_READ) < 0)
        return 0;
    const int64_t size = avio_size(probe);
    avio_closep(&probe);
    return size;
}

} // namespace encoder
