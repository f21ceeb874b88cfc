#include "capture/statistics.h"

#include "capture/encode_options.h"
#include "capture/main_window.h"
#include "capture/number_format.h"
#include "capture/run_state.h"
#include "capture/user_interface.h"

#include <chrono>
#include <exception>

namespace capture {

namespace {

// A count held as count / 10000: its raw value is the count.
double count(encoder::Fixed4 value) {
    return static_cast<double>(value.raw);
}

void audioBlock(encoder::IStatistics& statistics) {
    const encoder::OutputStats s = statistics.StreamOutputStats(encoder::kAudio, 0, 0);
    OutputInfo("");
    OutputInfo("Audio :");
    OutputInfo(ReportLine("Codec: ", 3, g_audioCodecName));
    if (g_options.audioMode != 2)
        OutputInfo(
            ReportLine("Expected bit rate: ", 2, FormatNumber(s.ExpectedBitrate, "###,###,##0.0##"), " bps"));
    OutputInfo(
        ReportLine("Average bit rate:     ", 2, FormatNumber(s.AverageBitrate, "###,###,##0.0##"), " bps"));
    OutputInfo(
        ReportLine("Expected sample rate: ", 1, FormatNumber(s.ExpectedSampleRate, "###,###,##0.0##")));
    OutputInfo(ReportLine("Average sample rate:  ", 1, FormatNumber(s.AverageSampleRate, "###,###,##0.0##")));
    OutputInfo(ReportLine("Dropped byte count:   ", 1,
                          FormatNumber(count(s.DroppedByteCount), "###,###,###,##0"), " bytes"));
    OutputInfo(ReportLine("Dropped sample rate:  ", 1,
                          FormatNumber(count(s.DroppedSampleCount), "###,###,##0.0##")));
    OutputInfo(ReportLine("Total bytes:          ", 2, FormatNumber(count(s.ByteCount), "###,###,###,##0"),
                          " bytes"));
}

void videoBlock(encoder::IStatistics& statistics) {
    const encoder::OutputStats s = statistics.StreamOutputStats(encoder::kVideo, 0, 0);
    OutputInfo("");
    OutputInfo("Video :");
    OutputInfo(ReportLine("Codec: ", 3, g_videoCodecName));
    if (g_options.videoMode != 2)
        OutputInfo(
            ReportLine("Expected bit rate: ", 2, FormatNumber(s.ExpectedBitrate, "###,###,##0.0##"), " bps"));
    OutputInfo(
        ReportLine("Average bit rate: ", 2, FormatNumber(s.AverageBitrate, "###,###,##0.0##"), " bps"));
    OutputInfo(ReportLine("Expected fps: ", 2, FormatNumber(s.ExpectedSampleRate / 1000.0, "###,###,##0")));
    OutputInfo(
        ReportLine("Dropped frame count: ", 1, FormatNumber(count(s.DroppedSampleCount), "###,###,##0")));
    OutputInfo(ReportLine("Total coded frames: ", 1, FormatNumber(count(s.SampleCount), "###,###,##0")));
    OutputInfo(ReportLine("Average sample rate: ", 1,
                          FormatNumber(s.AverageSampleRate / 1000.0, "###,###,##0.0##")));
    OutputInfo(
        ReportLine("Dropped bytes: ", 2, FormatNumber(count(s.DroppedByteCount), "#,###,###,##0"), " bytes"));
    OutputInfo(ReportLine("Total bytes: ", 2, FormatNumber(count(s.ByteCount), "#,###,###,##0"), " bytes"));
}

void overallBlock(encoder::IStatistics& statistics) {
    using std::chrono::duration_cast;
    using std::chrono::seconds;
    // Both clock times carry whole seconds.
    const auto encodingSeconds = duration_cast<seconds>(g_endTime.time_since_epoch()).count() -
                                 duration_cast<seconds>(g_startTime.time_since_epoch()).count();
    const encoder::OutputStats overall = statistics.WMFOutputStats();
    OutputInfo("");
    OutputInfo("Overall:");
    OutputInfo(ReportLine("Encoding time: ", 2,
                          FormatNumber(static_cast<double>(encodingSeconds), "###,###,##0.##"), " secs"));
    OutputInfo(
        ReportLine("Average bit rate: ", 2, FormatNumber(overall.AverageBitrate, "####,##0.###"), " bps"));
    if (!g_options.outputPath.empty()) {
        const encoder::FileArchiveStatsValue file = statistics.FileArchiveStats();
        OutputInfo(
            ReportLine("File size: ", 3, FormatNumber(count(file.FileSize), "###,####,###,##0"), " bytes "));
        // FileDuration x 10 is seconds; the raw value is milliseconds.
        OutputInfo(ReportLine("File duration: ", 2,
                              FormatNumber(file.FileDuration.value() * 10, "###,###,###,##0"), " seconds "));
    }
}

} // namespace

void ShowStatistics() {
    if (!g_objEncoder)
        return;
    try {
        encoder::IStatistics& statistics = g_objEncoder->Statistics();
        if (g_objAudioSource)
            audioBlock(statistics);
        if (g_objVideoSource)
            videoBlock(statistics);
        overallBlock(statistics);
    } catch (const std::exception&) {
        if (WindowServices* services = windowServices())
            services->showMessage(MessageIcon::Critical, "ERROR:  File Access",
                                  "Output file could not be created.  Please make sure\r\n"
                                  "you have permission to create a file in the selected output directory.");
    }
}

} // namespace capture
