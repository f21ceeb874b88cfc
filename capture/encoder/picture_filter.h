// The video source's optimization (deinterlacing, inverse telecine, interlaced encoding) and pixel format:
// what each value asks of the pictures, and the filter graph that does it.
#pragma once

#include "capture/encoder/ffmpeg.h"

#include <cstdint>
#include <string>

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavutil/pixdesc.h>
}

namespace encoder {

// Optimization values (the video source's `Optimization`).
constexpr int32_t kOptimizeNone = 1;
constexpr int32_t kOptimizeDeinterlace = 2;
constexpr int32_t kOptimizeInverseTelecine = 3;
constexpr int32_t kOptimizeInterlaced = 4;
constexpr int32_t kOptimizeInterlacedTopFirst = 0x2004;
constexpr int32_t kOptimizeInterlacedBottomFirst = 0x3004;
// Inverse telecine of a known pattern: 35 + 16 x phase, phases 0-4 (AA, BB, BC, CD, DD) with the top
// field first, 5-9 the same with the bottom field first.
constexpr int32_t kOptimizeTelecinePhase0 = 35;
constexpr int32_t kTelecinePhases = 10;

// Whether the engine knows the value (0: never set, as none).
bool knownOptimization(int32_t optimization);
// The libavfilter graph for an optimization; empty when the pictures pass unchanged.
std::string optimizationGraph(int32_t optimization);
constexpr int kProgressive = -2;      // not an interlaced encoding
constexpr int kSourceFieldOrder = -1; // fields in the order the source flags (top first when unflagged)
// For the interlaced encodings: 1 top field first, 0 bottom field first, or kSourceFieldOrder; for the
// other values kProgressive.
int interlacedFieldOrder(int32_t optimization);

// `PixelFormat` values named outside the table of formats.
constexpr uint32_t kPixelFormatYV12 = 0x32315659;
constexpr uint32_t kPixelFormatYVU9 = 0x39555659;
constexpr uint32_t kPixelFormatRGB8 = 0xE436EB7A;

// FFmpeg's pixel format for a `PixelFormat` value (a FourCC, or the start of an RGB media subtype);
// AV_PIX_FMT_NONE for 0 or an unknown value. YV12 and YVU9 give their plane order's FFmpeg format: the
// chroma planes are swapped when such pictures are stored (see storesSwappedChroma).
AVPixelFormat sourcePixelFormat(int32_t pixelFormat);
// The formats whose FourCC puts V before U.
bool storesSwappedChroma(int32_t pixelFormat);
// The YUV formats an uncompressed stream can store as they are (the FourCC is the value itself).
bool storableUncompressed(int32_t pixelFormat);

struct FilterGraphFreer {
    void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};

// Pictures through a filter graph, timed in milliseconds. Pictures pulled out belong to the filter until
// the next call, and must be used (converted) before the next push: some filters reuse their buffers.
class PictureFilter {
public:
    // Set up for an optimization (one with a graph) of pictures like `first`, arriving at `frameRate`.
    PictureFilter(int32_t optimization, const AVFrame& first, AVRational frameRate);
    // Hands a picture (kept by the caller) with its time; null marks the end of the pictures.
    void push(AVFrame* picture, double timeMs);
    // The next filtered picture and its time, or null when the filter needs more.
    AVFrame* pull(double& timeMs);
    // The rate of the filtered pictures (0/1 when it varies).
    AVRational frameRate() const;

private:
    std::unique_ptr<AVFilterGraph, FilterGraphFreer> graph_;
    AVFilterContext* source_ = nullptr;
    AVFilterContext* sink_ = nullptr;
    av::FramePtr out_ = av::makeFrame();
    double originMs_ = -1; // the filter sees times from its first picture on
};

} // namespace encoder
