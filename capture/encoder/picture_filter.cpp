#include "capture/encoder/picture_filter.h"

#include "capture/encoder/errors.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

#include <algorithm>
#include <cmath>

namespace encoder {
namespace {

int telecinePhase(int32_t optimization) {
    const int32_t phase = (optimization - kOptimizeTelecinePhase0) / 16;
    if (optimization < kOptimizeTelecinePhase0 || (optimization - kOptimizeTelecinePhase0) % 16 != 0 ||
        phase >= kTelecinePhases)
        return -1;
    return phase;
}

struct PixelFormatEntry {
    uint32_t value;
    AVPixelFormat format;
};

constexpr PixelFormatEntry kPixelFormats[] = {
    {0x30323449, AV_PIX_FMT_YUV420P},       // I420
    {0x56555949, AV_PIX_FMT_YUV420P},       // IYUV
    {kPixelFormatYV12, AV_PIX_FMT_YUV420P}, // V plane first
    {0x32595559, AV_PIX_FMT_YUYV422},       // YUY2
    {0x59565955, AV_PIX_FMT_UYVY422},       // UYVY
    {0x55595659, AV_PIX_FMT_YVYU422},       // YVYU
    {kPixelFormatYVU9, AV_PIX_FMT_YUV410P}, // V plane first
    {0xE436EB7D, AV_PIX_FMT_BGR24},         // RGB24
    {0xE436EB7E, AV_PIX_FMT_BGR0},          // RGB32
    {0xE436EB7C, AV_PIX_FMT_RGB555LE},      // RGB555
    {0xE436EB7B, AV_PIX_FMT_RGB565LE},      // RGB565
    {kPixelFormatRGB8, AV_PIX_FMT_BGR8},    // eight bits a pixel: 3-3-2 here rather than a palette
};

} // namespace

bool knownOptimization(int32_t optimization) {
    switch (optimization) {
    case 0:
    case kOptimizeNone:
    case kOptimizeDeinterlace:
    case kOptimizeInverseTelecine:
    case kOptimizeInterlaced:
    case kOptimizeInterlacedTopFirst:
    case kOptimizeInterlacedBottomFirst:
        return true;
    default:
        return telecinePhase(optimization) >= 0;
    }
}

std::string optimizationGraph(int32_t optimization) {
    if (optimization == kOptimizeDeinterlace)
        return "yadif=mode=send_frame:parity=auto:deint=all";
    // The pattern is found picture by picture (an unflagged source is taken as top field first); then one
    // picture in five, the most like its neighbour, is left out and the rest timed at four fifths of the
    // rate.
    if (optimization == kOptimizeInverseTelecine)
        return "fieldmatch,decimate";
    const int phase = telecinePhase(optimization);
    if (phase < 0)
        return {};
    // The pattern written twice: the filter counts a late start within one pass over the pattern, and the
    // phases CD and DD start in its second half.
    return std::string("detelecine=first_field=") + (phase < 5 ? "top" : "bottom") +
           ":pattern=2323:start_frame=" + std::to_string(phase % 5);
}

int interlacedFieldOrder(int32_t optimization) {
    switch (optimization) {
    case kOptimizeInterlaced:
        return kSourceFieldOrder;
    case kOptimizeInterlacedTopFirst:
        return 1;
    case kOptimizeInterlacedBottomFirst:
        return 0;
    default:
        return kProgressive;
    }
}

AVPixelFormat sourcePixelFormat(int32_t pixelFormat) {
    for (const PixelFormatEntry& e : kPixelFormats) {
        if (e.value == static_cast<uint32_t>(pixelFormat))
            return e.format;
    }
    return AV_PIX_FMT_NONE;
}

bool storesSwappedChroma(int32_t pixelFormat) {
    const auto value = static_cast<uint32_t>(pixelFormat);
    return value == kPixelFormatYV12 || value == kPixelFormatYVU9;
}

bool storableUncompressed(int32_t pixelFormat) {
    const AVPixelFormat format = sourcePixelFormat(pixelFormat);
    return format != AV_PIX_FMT_NONE && !(av_pix_fmt_desc_get(format)->flags & AV_PIX_FMT_FLAG_RGB);
}

PictureFilter::PictureFilter(int32_t optimization, const AVFrame& first, AVRational frameRate)
    : graph_(avfilter_graph_alloc()) {
    const std::string graph = optimizationGraph(optimization);
    auto fail = [&](int rc) {
        errors::raise(errors::kCodecFailed,
                      "Cannot set up the video filter \"" + graph + "\": " + av::errorText(rc));
    };
    if (!graph_)
        fail(AVERROR(ENOMEM));
    // One thread: the engine already runs a thread per device, and the pictures are small work here.
    graph_->nb_threads = 1;
    const AVRational aspect =
        first.sample_aspect_ratio.num > 0 ? first.sample_aspect_ratio : AVRational{1, 1};
    const std::string args = "video_size=" + std::to_string(first.width) + "x" +
                             std::to_string(first.height) + ":pix_fmt=" + std::to_string(first.format) +
                             // Microseconds from the first picture.
                             ":time_base=1/1000000" + ":frame_rate=" + std::to_string(frameRate.num) + "/" +
                             std::to_string(frameRate.den) + ":pixel_aspect=" + std::to_string(aspect.num) +
                             "/" + std::to_string(aspect.den);
    int rc = avfilter_graph_create_filter(&source_, avfilter_get_by_name("buffer"), "in", args.c_str(),
                                          nullptr, graph_.get());
    if (rc < 0)
        fail(rc);
    rc = avfilter_graph_create_filter(&sink_, avfilter_get_by_name("buffersink"), "out", nullptr, nullptr,
                                      graph_.get());
    if (rc < 0)
        fail(rc);
    AVFilterInOut* outputs = avfilter_inout_alloc();
    AVFilterInOut* inputs = avfilter_inout_alloc();
    outputs->name = av_strdup("in");
    outputs->filter_ctx = source_;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink_;
    rc = avfilter_graph_parse_ptr(graph_.get(), graph.c_str(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
    if (rc >= 0)
        rc = avfilter_graph_config(graph_.get(), nullptr);
    if (rc < 0)
        fail(rc);
}

void PictureFilter::push(AVFrame* picture, double timeMs) {
    int rc = 0;
    if (picture) {
        if (originMs_ < 0)
            originMs_ = timeMs;
        const int64_t saved = picture->pts;
        picture->pts = std::llround((timeMs - originMs_) * 1000.0);
        rc = av_buffersrc_add_frame_flags(source_, picture, AV_BUFFERSRC_FLAG_KEEP_REF);
        picture->pts = saved;
    } else {
        rc = av_buffersrc_add_frame_flags(source_, nullptr, 0);
    }
    if (rc < 0)
        errors::raise(errors::kCodecFailed, "The video filter failed: " + av::errorText(rc));
}

AVFrame* PictureFilter::pull(double& timeMs) {
    av_frame_unref(out_.get());
    const int rc = av_buffersink_get_frame(sink_, out_.get());
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF)
        return nullptr;
    if (rc < 0)
        errors::raise(errors::kCodecFailed, "The video filter failed: " + av::errorText(rc));
    timeMs = std::max(originMs_, 0.0) +
             static_cast<double>(out_->pts) * av_q2d(av_buffersink_get_time_base(sink_)) * 1000.0;
    return out_.get();
}

AVRational PictureFilter::frameRate() const {
    return av_buffersink_get_frame_rate(sink_);
}

} // namespace encoder
