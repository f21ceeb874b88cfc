#include "capture/encoder/pipeline.h"

#include "capture/encoder/codecs.h"
#include "capture/encoder/errors.h"
#include "capture/encoder/picture_filter.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
}

#include <algorithm>
#include <cmath>

namespace encoder {
namespace {

av::CodecPtr openEncoder(AVCodecID id, const std::function<void(AVCodecContext&)>& configure) {
    const AVCodec* codec = avcodec_find_encoder(id);
    if (!codec)
        errors::raise(errors::kCodecFailed, std::string("No encoder for ") + avcodec_get_name(id));
    av::CodecPtr ctx(avcodec_alloc_context3(codec));
    configure(*ctx);
    const int rc = avcodec_open2(ctx.get(), codec, nullptr);
    if (rc < 0)
        errors::raise(errors::kCodecFailed, std::string("Cannot open the ") + avcodec_get_name(id) +
                                                " encoder: " + av::errorText(rc));
    return ctx;
}

} // namespace

// An encoder and the output stream it feeds; counts what it writes.
class EncodingStage {
public:
    virtual ~EncodingStage() = default;
    // Media time of the next frame to encode, in milliseconds from the mark-in point.
    virtual double timeMs() const = 0;
    virtual bool done() const = 0;
    virtual void step() = 0;
    virtual void flush() = 0;

    AVCodecContext& encoder() { return *encoder_; }
    int32_t fourCC() const { return fourCC_; }
    void connect(AsfOutput& output, StreamCounters& counters) {
        output_ = &output;
        counters_ = &counters;
        streamIndex_ = output.addStream(*encoder_, fourCC_);
    }
    // An analysis pass: packets are counted and dropped.
    void connectScratch(StreamCounters& counters) { counters_ = &counters; }
    // What a first pass leaves for the second.
    const std::string& passStats() const { return passStats_; }

protected:
    void encode(AVFrame* frame) {
        int rc = avcodec_send_frame(encoder_.get(), frame);
        if (rc < 0 && rc != AVERROR_EOF)
            errors::raise(errors::kCodecFailed, "Encoding failed: " + av::errorText(rc));
        while ((rc = avcodec_receive_packet(encoder_.get(), packet_.get())) >= 0) {
            counters_->packets += 1;
            counters_->bytes += packet_->size;
            if (encoder_->stats_out)
                passStats_ += encoder_->stats_out;
            if (output_)
                output_->write(packet_.get(), streamIndex_, encoder_->time_base);
            av_packet_unref(packet_.get());
        }
    }

    av::CodecPtr encoder_;
    int32_t fourCC_ = 0;
    StreamCounters* counters_ = nullptr;

private:
    AsfOutput* output_ = nullptr;
    int streamIndex_ = -1;
    std::string passStats_;
    av::PacketPtr packet_ = av::makePacket();
};

class AudioStage : public EncodingStage {
public:
    AudioStage(const StreamJob& job, const AudienceSettings& audience, int32_t vbrMode)
        : job_(job), input_(job.input, AVMEDIA_TYPE_AUDIO, job.markInMs) {
        const CodecEntry& codec = codecAt(kAudio, audience.audioCodec);
        fourCC_ = codec.fourCC;
        const AudioFormat& format = audience.audioFormat;
        encoder_ = openEncoder(codec.id, [&](AVCodecContext& c) {
            c.sample_rate = format.SampleRate;
            av_channel_layout_default(&c.ch_layout, format.Channels);
            c.sample_fmt = avcodec_find_encoder(codec.id)->sample_fmts[0];
            c.bit_rate = audioEncodeBitrate(audience.audioCodec, vbrMode, format);
            c.time_base = AVRational{1, format.SampleRate};
        });
        const AVCodecContext& in = input_.decoder();
        SwrContext* swr = nullptr;
        AVChannelLayout inLayout{};
        av_channel_layout_copy(&inLayout, &in.ch_layout);
        if (inLayout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&inLayout, in.ch_layout.nb_channels);
        swr_alloc_set_opts2(&swr, &encoder_->ch_layout, encoder_->sample_fmt, encoder_->sample_rate,
                            &inLayout, in.sample_fmt, in.sample_rate, 0, nullptr);
        av_channel_layout_uninit(&inLayout);
        resampler_.reset(swr);
        if (!swr || swr_init(swr) < 0)
            errors::raise(errors::kCodecFailed, "Cannot convert the audio of " + job.input.url);
        fifo_.reset(av_audio_fifo_alloc(encoder_->sample_fmt, encoder_->ch_layout.nb_channels, 4096));
        frameSize_ = encoder_->frame_size > 0 ? encoder_->frame_size : 1024;
        firstSample_ = job.markInMs * in.sample_rate / 1000;
        endSample_ = job.markOutMs > 0 ? job.markOutMs * in.sample_rate / 1000 : INT64_MAX;
    }

    double timeMs() const override { return static_cast<double>(sent_) * 1000.0 / encoder_->sample_rate; }
    bool done() const override { return inputEnded_; }

    void step() override {
        AVFrame* frame = input_.next();
        if (!frame) {
            inputEnded_ = true;
            return;
        }
        const int rate = input_.decoder().sample_rate;
        if (!positioned_) {
            positioned_ = true;
            const std::optional<double> t = input_.frameTimeMs(frame);
            position_ = t ? std::llround(*t * rate / 1000.0) : 0;
        }
        // Exact to the sample: keep only the part of the frame between the marks.
        const int64_t begin = std::max(position_, firstSample_);
        const int64_t end = std::min(position_ + frame->nb_samples, endSample_);
        if (end > begin) {
            // Sound that starts after the mark (a late device, a file whose sound begins later) starts
            // as late in the output.
            if (sent_ == 0 && av_audio_fifo_size(fifo_.get()) == 0 && begin > firstSample_)
                sent_ = av_rescale(begin - firstSample_, encoder_->sample_rate, rate);
            convert(frame, static_cast<int>(begin - position_), static_cast<int>(end - begin));
        }
        position_ += frame->nb_samples;
        if (position_ >= endSample_)
            inputEnded_ = true;
        drain(false);
    }

    void setWallOrigin(int64_t microseconds) { input_.setWallOrigin(microseconds); }

    void flush() override {
        // What the resampler still holds, then the last (padded) frame, then the encoder's delay.
        const int rc = swr_convert(resampler_.get(), nullptr, 0, nullptr, 0);
        (void)rc;
        convert(nullptr, 0, 0);
        drain(true);
        encode(nullptr);
    }

private:
    void convert(const AVFrame* frame, int offset, int count) {
        const uint8_t* planes[AV_NUM_DATA_POINTERS] = {};
        if (frame) {
            const int bytes = av_get_bytes_per_sample(static_cast<AVSampleFormat>(frame->format));
            const bool planar = av_sample_fmt_is_planar(static_cast<AVSampleFormat>(frame->format));
            const int step = planar ? bytes : bytes * frame->ch_layout.nb_channels;
            for (int p = 0; p < (planar ? frame->ch_layout.nb_channels : 1) && p < AV_NUM_DATA_POINTERS; ++p)
                planes[p] = frame->extended_data[p] + static_cast<ptrdiff_t>(offset) * step;
        }
        const int room = swr_get_out_samples(resampler_.get(), count);
        if (room <= 0)
            return;
        av::FramePtr out = av::makeFrame();
        out->format = encoder_->sample_fmt;
        av_channel_layout_copy(&out->ch_layout, &encoder_->ch_layout);
        out->nb_samples = room;
        out->sample_rate = encoder_->sample_rate;
        if (av_frame_get_buffer(out.get(), 0) < 0)
            errors::raise(errors::kCodecFailed, "Out of memory.");
        const int made = swr_convert(resampler_.get(), out->data, room, frame ? planes : nullptr, count);
        if (made > 0)
            av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(out->data), made);
    }

    void drain(bool last) {
        while (av_audio_fifo_size(fifo_.get()) >= frameSize_ ||
               (last && av_audio_fifo_size(fifo_.get()) > 0)) {
            const int available = std::min(av_audio_fifo_size(fifo_.get()), frameSize_);
            const bool fixedSize = encoder_->frame_size > 0 &&
                                   !(encoder_->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) &&
                                   !(encoder_->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
            av::FramePtr frame = av::makeFrame();
            frame->format = encoder_->sample_fmt;
            av_channel_layout_copy(&frame->ch_layout, &encoder_->ch_layout);
            frame->sample_rate = encoder_->sample_rate;
            frame->nb_samples = fixedSize ? frameSize_ : available;
            if (av_frame_get_buffer(frame.get(), 0) < 0)
                errors::raise(errors::kCodecFailed, "Out of memory.");
            // A short last frame of a fixed-size codec is padded with silence.
            av_samples_set_silence(frame->extended_data, 0, frame->nb_samples, frame->ch_layout.nb_channels,
                                   encoder_->sample_fmt);
            av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->data), available);
            frame->pts = sent_;
            sent_ += available;
            counters_->units += available;
            counters_->mediaMs = static_cast<int64_t>(timeMs());
            encode(frame.get());
        }
    }

    StreamJob job_;
    DecodedInput input_;
    av::ResamplerPtr resampler_;
    av::FifoPtr fifo_;
    int frameSize_ = 1024;
    int64_t firstSample_ = 0;
    int64_t endSample_ = INT64_MAX;
    int64_t position_ = 0; // input sample at the start of the next decoded frame
    bool positioned_ = false;
    int64_t sent_ = 0; // output samples handed to the encoder
    bool inputEnded_ = false;
};

class VideoStage : public EncodingStage {
public:
    // pass: 0 a single pass, 1 the analysis pass, 2 the pass that uses `firstPassStats`.
    VideoStage(const StreamJob& job, const AudienceSettings& audience, int32_t vbrMode, int32_t complexity,
               int pass = 0, std::string firstPassStats = {})
        : job_(job), input_(job.input, AVMEDIA_TYPE_VIDEO, job.markInMs),
          firstPassStats_(std::move(firstPassStats)) {
        const CodecEntry& codec = codecAt(kVideo, audience.videoCodec);
        fourCC_ = codec.fourCC;
        if (!job.still)
            filtered_ = !optimizationGraph(job.optimization).empty();
        sourceFormat_ = sourcePixelFormat(job.pixelFormat);
        const bool storeSourceFormat =
            codec.id == AV_CODEC_ID_RAWVIDEO && storableUncompressed(job.pixelFormat);
        // An interlaced encoding without a field order of its own takes the source's.
        if (job.interlaced) {
            const int order = interlacedFieldOrder(job.optimization);
            fieldOrder_ = order == kProgressive ? kSourceFieldOrder : order;
        }
        const AVCodecContext& in = input_.decoder();
        if (in.width <= 0 || in.height <= 0)
            errors::raise(errors::kInputOpenFailed, "No picture could be read from " + job.input.url + ".");
        const int srcWidth = in.width - job.cropLeft - job.cropRight;
        const int srcHeight = in.height - job.cropTop - job.cropBottom;
        if (srcWidth <= 0 || srcHeight <= 0)
            errors::raise(errors::kInvalidArgument, "The cropping margins leave no picture.");
        // Even sizes: the encoders take 4:2:0 pictures.
        const int width = (audience.videoWidth > 0 ? audience.videoWidth : srcWidth) & ~1;
        const int height = (audience.videoHeight > 0 ? audience.videoHeight : srcHeight) & ~1;
        fps_ = audience.videoFps;
        sourceFrameMs_ = 1000.0 / av_q2d(inputRate());
        encoder_ = openEncoder(codec.id, [&](AVCodecContext& c) {
            c.width = std::max(width, 2);
            c.height = std::max(height, 2);
            c.pix_fmt = storeSourceFormat ? sourceFormat_ : AV_PIX_FMT_YUV420P;
            av_reduce(&c.time_base.num, &c.time_base.den, 1000, fps_, 65535);
            c.framerate = AVRational{c.time_base.den, c.time_base.num};
            c.bit_rate = audience.videoBitrate;
            c.gop_size =
                std::max(1, static_cast<int>(int64_t{audience.videoKeyFrameDistance} * fps_ / 1000000));
            c.max_b_frames = 0;
            // More effort, better pictures for the bits: the macroblock decision by bits, then by
            // rate-distortion.
            c.mb_decision = complexity >= 80   ? FF_MB_DECISION_RD
                            : complexity >= 40 ? FF_MB_DECISION_BITS
                                               : FF_MB_DECISION_SIMPLE;
            if (pass == 1)
                c.flags |= AV_CODEC_FLAG_PASS1;
            if (pass == 2) {
                c.flags |= AV_CODEC_FLAG_PASS2;
                // Read during avcodec_open2 only; the string outlives it.
                c.stats_in = firstPassStats_.data();
            }
            // Of the engine's codecs only MPEG-4 codes interlaced pictures as fields.
            if (fieldOrder_ != kProgressive && codec.id == AV_CODEC_ID_MPEG4)
                c.flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
            if (fieldOrder_ >= 0)
                c.field_order = fieldOrder_ ? AV_FIELD_TT : AV_FIELD_BB;
            if (job.pixelAspectX > 0 && job.pixelAspectY > 0)
                c.sample_aspect_ratio = AVRational{job.pixelAspectX, job.pixelAspectY};
            if (vbrMode == kQuality) {
                // Quality 100 is the finest quantiser, 0 the coarsest.
                c.flags |= AV_CODEC_FLAG_QSCALE;
                c.global_quality = FF_QP2LAMBDA * (31 - audience.videoCompressionQuality * 30 / 100);
            } else if (vbrMode == kPeak && audience.videoPeakBitrate > 0) {
                c.rc_max_rate = audience.videoPeakBitrate;
                c.rc_buffer_size = static_cast<int>(int64_t{audience.videoPeakBitrate} *
                                                    std::max(audience.videoBufferMax, 1000) / 1000);
            }
        });
        if (storeSourceFormat) {
            fourCC_ = job.pixelFormat;
            swapChroma_ = storesSwappedChroma(job.pixelFormat);
        } else if (codec.id == AV_CODEC_ID_RAWVIDEO) {
            fourCC_ = static_cast<int32_t>(avcodec_pix_fmt_to_codec_tag(encoder_->pix_fmt));
        }
        endMs_ = job.markOutMs > 0 ? static_cast<double>(job.markOutMs) : -1;
        if (job.still)
            endMs_ = static_cast<double>(job.markInMs + std::max<int64_t>(job.stillLengthMs, 1));
    }

    double timeMs() const override { return outputTime(frames_) - static_cast<double>(job_.markInMs); }
    bool done() const override { return finished_; }

    void step() override {
        if (inputEnded_) {
            // No more input: repeat the last picture up to the end of the stream.
            if (held_ && endMs_ > outputTime(frames_))
                emit();
            else
                finished_ = true;
            return;
        }
        std::optional<double> stamped;
        AVFrame* frame = nextPicture(stamped);
        if (!frame || (job_.still && held_)) {
            inputEnded_ = true;
            if (endMs_ < 0)
                endMs_ = lastInputMs_ + sourceFrameMs_;
            return;
        }
        double t = stamped ? *stamped : lastInputMs_ < 0 ? 0 : lastInputMs_ + sourceFrameMs_;
        if (job_.still)
            t = 0;
        if (endMs_ >= 0 && t >= endMs_) {
            inputEnded_ = true;
            return;
        }
        // Every output frame due before this picture shows the one held so far. The tolerance keeps
        // rounding from giving a frame that falls exactly on an output time to the frame before.
        constexpr double kTolerance = 0.01;
        while (held_ && outputTime(frames_) < t - kTolerance && (endMs_ < 0 || outputTime(frames_) < endMs_))
            emit();
        held_ = convert(frame);
        heldShown_ = 0;
        lastInputMs_ = t;
    }

    void setWallOrigin(int64_t microseconds) { input_.setWallOrigin(microseconds); }

    void flush() override {
        if (held_) {
            while (endMs_ > outputTime(frames_))
                emit();
        }
        encode(nullptr);
    }

private:
    double outputTime(int64_t index) const {
        return static_cast<double>(job_.markInMs) + static_cast<double>(index) * 1000.0 * 1000.0 / fps_;
    }

    // The next source picture, through the optimization filter when there is one, with its time.
    AVFrame* nextPicture(std::optional<double>& timeMs) {
        if (!filtered_) {
            AVFrame* frame = input_.next();
            if (frame)
                timeMs = input_.frameTimeMs(frame);
            return frame;
        }
        for (;;) {
            double filtered = 0;
            if (filter_) {
                if (AVFrame* out = filter_->pull(filtered)) {
                    timeMs = filtered;
                    return out;
                }
            }
            if (filterDrained_)
                return nullptr;
            AVFrame* frame = input_.next();
            if (!frame) {
                if (filter_)
                    filter_->push(nullptr, 0);
                filterDrained_ = true;
                continue;
            }
            if (!filter_) {
                filter_ = std::make_unique<PictureFilter>(job_.optimization, *frame, inputRate());
                const AVRational out = filter_->frameRate();
                if (out.num > 0 && out.den > 0)
                    sourceFrameMs_ = 1000.0 / av_q2d(out);
            }
            const std::optional<double> t = input_.frameTimeMs(frame);
            lastPushedMs_ = t ? *t : lastPushedMs_ < 0 ? 0 : lastPushedMs_ + 1000.0 / av_q2d(inputRate());
            filter_->push(frame, lastPushedMs_);
        }
    }

    av::FramePtr convert(AVFrame* frame) {
        // The field order is the source picture's; cropping and scaling keep only the flags.
        const int topFirst = fieldOrder_ == kSourceFieldOrder
                                 ? (frame->interlaced_frame ? frame->top_field_first : 1)
                                 : fieldOrder_;
        frame->crop_left = static_cast<size_t>(job_.cropLeft);
        frame->crop_right = static_cast<size_t>(job_.cropRight);
        frame->crop_top = static_cast<size_t>(job_.cropTop);
        frame->crop_bottom = static_cast<size_t>(job_.cropBottom);
        av_frame_apply_cropping(frame, AV_FRAME_CROP_UNALIGNED);
        if (sourceFormat_ != AV_PIX_FMT_NONE && frame->format != sourceFormat_)
            frame = inSourceFormat(frame);
        scaler_.reset(sws_getCachedContext(
            scaler_.release(), frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
            encoder_->width, encoder_->height, encoder_->pix_fmt, SWS_BICUBIC, nullptr, nullptr, nullptr));
        if (!scaler_)
            errors::raise(errors::kCodecFailed, "Cannot convert the pictures of " + job_.input.url);
        av::FramePtr out = av::makeFrame();
        out->format = encoder_->pix_fmt;
        out->width = encoder_->width;
        out->height = encoder_->height;
        if (av_frame_get_buffer(out.get(), 0) < 0)
            errors::raise(errors::kCodecFailed, "Out of memory.");
        sws_scale(scaler_.get(), frame->data, frame->linesize, 0, frame->height, out->data, out->linesize);
        if (swapChroma_) {
            std::swap(out->data[1], out->data[2]);
            std::swap(out->linesize[1], out->linesize[2]);
        }
        if (fieldOrder_ != kProgressive) {
            out->interlaced_frame = 1;
            out->top_field_first = topFirst;
        }
        return out;
    }

    // The picture as the source's pixel format delivers it (a screen or a file has a format of its own; a
    // camera was asked for this one already).
    AVFrame* inSourceFormat(AVFrame* frame) {
        sourceScaler_.reset(sws_getCachedContext(
            sourceScaler_.release(), frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
            frame->width, frame->height, sourceFormat_, SWS_POINT, nullptr, nullptr, nullptr));
        if (!sourceScaler_)
            errors::raise(errors::kCodecFailed, "Cannot convert the pictures of " + job_.input.url);
        sourcePicture_ = av::makeFrame();
        sourcePicture_->format = sourceFormat_;
        sourcePicture_->width = frame->width;
        sourcePicture_->height = frame->height;
        if (av_frame_get_buffer(sourcePicture_.get(), 0) < 0)
            errors::raise(errors::kCodecFailed, "Out of memory.");
        sws_scale(sourceScaler_.get(), frame->data, frame->linesize, 0, frame->height, sourcePicture_->data,
                  sourcePicture_->linesize);
        av_frame_copy_props(sourcePicture_.get(), frame);
        return sourcePicture_.get();
    }

    AVRational inputRate() const {
        const AVRational rate = input_.stream().avg_frame_rate.num ? input_.stream().avg_frame_rate
                                                                   : input_.stream().r_frame_rate;
        return rate.num > 0 && rate.den > 0 ? rate : AVRational{fps_, 1000};
    }

    void emit() {
        // The encoder keeps its own reference: the held picture is only replaced, never written over.
        av::FramePtr frame(av_frame_clone(held_.get()));
        frame->pts = frames_;
        frame->pict_type = AV_PICTURE_TYPE_NONE;
        // A device that did not deliver the next picture in time: the frame shows the last one again.
        if (job_.input.live && heldShown_ > 0)
            counters_->droppedPackets += 1;
        ++heldShown_;
        ++frames_;
        counters_->units = frames_;
        counters_->mediaMs = static_cast<int64_t>(timeMs());
        encode(frame.get());
    }

    StreamJob job_;
    DecodedInput input_;
    std::string firstPassStats_;
    bool filtered_ = false; // through an optimization filter
    std::unique_ptr<PictureFilter> filter_;
    bool filterDrained_ = false;
    double lastPushedMs_ = -1;
    AVPixelFormat sourceFormat_ = AV_PIX_FMT_NONE;
    av::ScalerPtr sourceScaler_;
    av::FramePtr sourcePicture_;
    bool swapChroma_ = false;
    int fieldOrder_ = kProgressive; // or 1 top first, 0 bottom first, kSourceFieldOrder
    int32_t fps_ = 30000;
    double sourceFrameMs_ = 33.3;
    double endMs_ = -1; // from the start of the file; -1 until known
    double lastInputMs_ = -1;
    av::ScalerPtr scaler_;
    av::FramePtr held_;
    int64_t heldShown_ = 0; // output frames that have shown the held picture
    int64_t frames_ = 0;
    bool inputEnded_ = false;
    bool finished_ = false;
};

Pipeline::Pipeline(const EncodeJob& job) : job_(job) {
    if (job.audio)
        audio_ = std::make_unique<AudioStage>(*job.audio, job.audience, job.audioVbr);
    if (job.video && job.twoPass) {
        firstPass_ =
            std::make_unique<VideoStage>(*job.video, job.audience, job.videoVbr, job.videoComplexity, 1);
        firstPass_->connectScratch(firstPassCounters_);
    } else if (job.video) {
        video_ = std::make_unique<VideoStage>(*job.video, job.audience, job.videoVbr, job.videoComplexity);
    }
}

Pipeline::~Pipeline() = default;

void Pipeline::start() {
    // Devices are timed from now: what they buffered before the start is left out.
    const int64_t now = av_gettime();
    if (audio_)
        audio_->setWallOrigin(now);
    if (video_)
        video_->setWallOrigin(now);
    output_ = std::make_unique<AsfOutput>(job_.outputPath, job_.broadcastPort);
    output_->open();
    // With an analysis pass the streams are known, and the header written, once it is over.
    if (!firstPass_)
        startOutput();
}

void Pipeline::startOutput() {
    if (video_) {
        stats_.video.present = true;
        stats_.video.expectedBitrate = job_.audience.videoBitrate;
        stats_.video.expectedSampleRate = job_.audience.videoFps;
        video_->connect(*output_, stats_.video);
    }
    if (audio_) {
        stats_.audio.present = true;
        stats_.audio.expectedBitrate = static_cast<int32_t>(audio_->encoder().bit_rate);
        stats_.audio.expectedSampleRate = audio_->encoder().sample_rate;
        audio_->connect(*output_, stats_.audio);
    }
    output_->writeHeader(job_.metadata, job_.packetSize);
    stats_.hasFile = output_->hasFile();
    updateStats();
}

void Pipeline::stepFirstPass() {
    if (!firstPass_->done()) {
        firstPass_->step();
        stats_.mediaMs = static_cast<int64_t>(firstPass_->timeMs());
        stats_.noteProgress();
        return;
    }
    firstPass_->flush();
    video_ = std::make_unique<VideoStage>(*job_.video, job_.audience, job_.videoVbr, job_.videoComplexity, 2,
                                          firstPass_->passStats());
    firstPass_.reset();
    stats_.recent.clear();
    startOutput();
}

bool Pipeline::step() {
    if (firstPass_) {
        stepFirstPass();
        return true;
    }
    // The stage that is behind in media time goes next, so the muxer interleaves little.
    EncodingStage* next = nullptr;
    for (EncodingStage* stage :
         {static_cast<EncodingStage*>(audio_.get()), static_cast<EncodingStage*>(video_.get())}) {
        if (stage && !stage->done() && (!next || stage->timeMs() < next->timeMs()))
            next = stage;
    }
    if (!next)
        return false;
    next->step();
    updateStats();
    return true;
}

void Pipeline::finish() {
    if (!output_)
        return;
    if (firstPass_) {
        // Stopped during the analysis pass: nothing was encoded for the file yet.
        firstPass_.reset();
        video_ =
            std::make_unique<VideoStage>(*job_.video, job_.audience, job_.videoVbr, job_.videoComplexity);
        startOutput();
    }
    if (audio_)
        audio_->flush();
    if (video_)
        video_->flush();
    stats_.fileBytes = output_->finish();
    updateStats();
}

void Pipeline::updateStats() {
    stats_.mediaMs = std::max(stats_.audio.mediaMs, stats_.video.mediaMs);
    if (output_)
        stats_.fileBytes = output_->bytesWritten();
    stats_.noteProgress();
}

} // namespace encoder
