#include "capture/encoder/input.h"

#include "capture/encoder/errors.h"

#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string_view>
#include <thread>

extern "C" {
#include <libavdevice/avdevice.h>
#include <libavutil/time.h>
}

namespace encoder {
namespace {

// A picture file: read by one of the image demuxers, which give a single frame.
bool isStill(const AVFormatContext& format) {
    const std::string_view name = format.iformat->name;
    return name == "image2" || name.ends_with("_pipe");
}

} // namespace

InputSpec fileInput(const std::string& path) {
    InputSpec spec;
    spec.url = path;
    return spec;
}

av::InputPtr openInput(const InputSpec& input) {
    const AVInputFormat* format = nullptr;
    if (!input.format.empty()) {
        static std::once_flag devicesRegistered;
        std::call_once(devicesRegistered, [] { avdevice_register_all(); });
        format = av_find_input_format(input.format.c_str());
        if (!format)
            errors::raise(errors::kInputOpenFailed, "This build has no " + input.format + " input.");
    }
    AVDictionary* options = nullptr;
    for (const auto& [key, value] : input.options)
        av_dict_set(&options, key.c_str(), value.c_str(), 0);
    AVFormatContext* raw = nullptr;
    int rc = avformat_open_input(&raw, input.url.c_str(), format, &options);
    av_dict_free(&options);
    if (rc < 0)
        errors::raise(errors::kInputOpenFailed, "Cannot open " + input.url + ": " + av::errorText(rc));
    av::InputPtr opened(raw);
    rc = avformat_find_stream_info(opened.get(), nullptr);
    if (rc < 0)
        errors::raise(errors::kInputOpenFailed, "Cannot read " + input.url + ": " + av::errorText(rc));
    return opened;
}

FileProbe probeFile(const std::string& path) {
    av::InputPtr format = openInput(fileInput(path));
    FileProbe probe;
    const int audio = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    const int video = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    probe.hasAudio = audio >= 0;
    probe.hasVideo = video >= 0;
    if (!probe.hasAudio && !probe.hasVideo)
        errors::raise(errors::kInputOpenFailed, path + " holds neither audio nor video.");
    if (probe.hasVideo) {
        const AVStream& s = *format->streams[video];
        probe.still = isStill(*format);
        const AVRational rate = s.avg_frame_rate.num ? s.avg_frame_rate : s.r_frame_rate;
        probe.frameRate = probe.still || rate.den == 0 ? 0 : av_q2d(rate);
    }
    if (format->duration != AV_NOPTS_VALUE && !probe.still)
        probe.durationMs = av_rescale(format->duration, 1000, AV_TIME_BASE);
    return probe;
}

DecodedInput::DecodedInput(const InputSpec& input, AVMediaType type, int64_t startMs)
    : format_(openInput(input)), live_(input.live) {
    const std::string& path = input.url;
    const AVCodec* codec = nullptr;
    streamIndex_ = av_find_best_stream(format_.get(), type, -1, -1, &codec, 0);
    if (streamIndex_ < 0 || !codec)
        errors::raise(errors::kNoSuchStream,
                      path + " holds no decodable " + (type == AVMEDIA_TYPE_AUDIO ? "audio." : "video."));
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        if (static_cast<int>(i) != streamIndex_)
            format_->streams[i]->discard = AVDISCARD_ALL;
    }
    const AVStream& s = stream();
    decoder_.reset(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder_.get(), s.codecpar);
    decoder_->pkt_timebase = s.time_base;
    int rc = avcodec_open2(decoder_.get(), codec, nullptr);
    if (rc < 0)
        errors::raise(errors::kCodecFailed, "Cannot decode " + path + ": " + av::errorText(rc));

    if (live_)
        return; // timed from its first frame
    const int64_t fileStart = format_->start_time == AV_NOPTS_VALUE ? 0 : format_->start_time;
    startPts_ = av_rescale_q(fileStart, AV_TIME_BASE_Q, s.time_base);
    if (startMs > 0) {
        // Land a little before the mark: seeking is by key frame and the caller trims to the exact time.
        const int64_t target =
            fileStart + av_rescale(std::max<int64_t>(0, startMs - 1000), AV_TIME_BASE, 1000);
        av_seek_frame(format_.get(), -1, target, AVSEEK_FLAG_BACKWARD);
    }
}

// Reads a device's packets into a queue on its own thread until told to stop or the device ends.
class DecodedInput::DeviceReader {
public:
    DeviceReader(AVFormatContext& format, int streamIndex)
        : thread_([this, &format, streamIndex] { run(format, streamIndex); }) {}
    ~DeviceReader() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    // The next packet, moved into `packet`; false once the device has ended.
    bool pop(AVPacket& packet) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !queue_.empty() || ended_; });
        if (queue_.empty())
            return false;
        av_packet_move_ref(&packet, queue_.front().get());
        queue_.pop_front();
        changed_.notify_all();
        return true;
    }

private:
    // Enough for a few seconds of any device; a full queue holds the device back rather than grow.
    static constexpr size_t kMaxQueued = 256;

    void run(AVFormatContext& format, int streamIndex) {
        av::PacketPtr packet = av::makePacket();
        while (av_read_frame(&format, packet.get()) >= 0) {
            if (packet->stream_index != streamIndex) {
                av_packet_unref(packet.get());
                continue;
            }
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stop_ || queue_.size() < kMaxQueued; });
            if (stop_)
                break;
            queue_.push_back(std::move(packet));
            packet = av::makePacket();
            changed_.notify_all();
        }
        std::lock_guard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<av::PacketPtr> queue_;
    bool stop_ = false;
    bool ended_ = false;
    std::thread thread_; // last: starts once the rest is set up
};

DecodedInput::~DecodedInput() = default;

void DecodedInput::setWallOrigin(int64_t microseconds) {
    wallOrigin_ = microseconds;
    if (live_ && !reader_)
        reader_ = std::make_unique<DeviceReader>(*format_, streamIndex_);
}

bool DecodedInput::readPacket() {
    if (reader_) {
        av_packet_unref(packet_.get());
        return reader_->pop(*packet_);
    }
    while (true) {
        av_packet_unref(packet_.get());
        const int rc = av_read_frame(format_.get(), packet_.get());
        if (rc < 0)
            return false;
        if (packet_->stream_index == streamIndex_)
            return true;
    }
}

AVFrame* DecodedInput::next() {
    while (true) {
        av_frame_unref(frame_.get());
        const int rc = avcodec_receive_frame(decoder_.get(), frame_.get());
        if (rc >= 0)
            return frame_.get();
        if (rc == AVERROR_EOF)
            return nullptr;
        if (rc != AVERROR(EAGAIN))
            return nullptr;
        if (draining_)
            return nullptr;
        if (readPacket()) {
            // A damaged packet is skipped; the decoder goes on with the next.
            avcodec_send_packet(decoder_.get(), packet_.get());
        } else {
            draining_ = true;
            avcodec_send_packet(decoder_.get(), nullptr);
        }
    }
}

std::optional<double> DecodedInput::frameTimeMs(const AVFrame* frame) const {
    const int64_t pts = frame->best_effort_timestamp;
    if (pts == AV_NOPTS_VALUE)
        return std::nullopt;
    const AVRational timeBase = stream().time_base;
    if (startPts_ == AV_NOPTS_VALUE && live_ && wallOrigin_ != AV_NOPTS_VALUE) {
        // Stamped with the system clock when it lies within seconds of it.
        constexpr int64_t kClockSlackUs = 10 * 1000 * 1000;
        if (std::llabs(av_rescale_q(pts, timeBase, AV_TIME_BASE_Q) - av_gettime()) < kClockSlackUs)
            startPts_ = av_rescale_q(wallOrigin_, AV_TIME_BASE_Q, timeBase);
    }
    if (startPts_ == AV_NOPTS_VALUE)
        startPts_ = pts;
    return static_cast<double>(pts - startPts_) * av_q2d(timeBase) * 1000.0;
}

} // namespace encoder
