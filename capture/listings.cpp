// The information commands: codec, audio-format and device listings, the description of a media file
// and the help viewer.
#include "capture/encode_options.h"
#include "capture/files.h"
#include "capture/help.h"
#include "capture/listings.h"
#include "capture/main_window.h"
#include "capture/run_state.h"
#include "capture/session_setup.h"

#include <cmath>
#include <memory>
#include <span>
#include <system_error>

#ifdef _WIN32
#include "common/win32_handles.h"
#endif

namespace capture {

namespace {

constexpr int32_t fourCC(const char (&code)[5]) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned char>(code[0])) |
                                static_cast<uint32_t>(static_cast<unsigned char>(code[1])) << 8 |
                                static_cast<uint32_t>(static_cast<unsigned char>(code[2])) << 16 |
                                static_cast<uint32_t>(static_cast<unsigned char>(code[3])) << 24);
}

struct ShortName {
    int32_t identifier;
    std::string_view name;
};

constexpr ShortName kAudioShortNames[] = {
    {353, "WMA9STD"}, {354, "WMA9PRO"}, {355, "WMA9LSL"}, {10, "WMSP9"}, {0, "PCM"}};
constexpr ShortName kVideoShortNames[] = {{fourCC("WMV1"), "WMV7"}, {fourCC("WMV2"), "WMV8"},
                                          {fourCC("WMV3"), "WMV9"}, {fourCC("MSS2"), "WMS9"},
                                          {fourCC("MP4S"), "MP41"}, {0, "UNCOMP"}};

constexpr std::string_view kModeLines[] = {
    "CBR Mode :", "Peak Bit Rate-Based VBR Audio Mode :", "Quality-Based VBR Audio Mode :",
    "Bit Rate-Based VBR Audio Mode :"};

std::string roundedThousandths(int32_t value) {
    return std::to_string(std::llrint(value / 1000.0));
}

// 88200, 44100, 22050 and 11025 Hz are shown by their first two digits, others in whole kHz.
std::string samplingText(int32_t hertz) {
    switch (hertz) {
    case 88200:
        return "88";
    case 44100:
        return "44";
    case 22050:
        return "22";
    case 11025:
        return "11";
    default:
        return roundedThousandths(hertz);
    }
}

void listCodecs(int32_t type) {
    const bool audio = type == encoder::kAudio;
    const auto profile = g_encoderFactory->CreateProfile();
    OutputInfo(audio ? "\r\nAudio Codecs: " : "\r\nVideo Codecs: ");
    for (int32_t mode = 1; mode <= 4; ++mode) {
        profile->VBRMode(type, 0, mode);
        OutputInfo(kModeLines[mode - 1]);
        int counter = 0;
        const int32_t codecs = audio ? profile->AudioCodecCount() : profile->VideoCodecCount();
        for (int32_t index = 0; index < codecs; ++index) {
            const std::string name = audio ? profile->EnumAudioCodec(index) : profile->EnumVideoCodec(index);
            const std::string_view shortName =
                codecShortName(type, profile->GetCodecFourCCFromIndex(type, index));
            if (shortName.empty())
                continue;
            OutputInfo("\t[" + std::to_string(counter) + "] " + std::string(shortName) + " : " + name);
            ++counter;
        }
        OutputInfo("\r\n");
    }
}

} // namespace

std::string_view codecShortName(int32_t type, int32_t identifier) {
    for (const ShortName& s : type == encoder::kAudio ? std::span<const ShortName>(kAudioShortNames)
                                                      : std::span<const ShortName>(kVideoShortNames)) {
        if (s.identifier == identifier)
            return s.name;
    }
    return {};
}

void MainWindow::ListAudioCodecs() {
    listCodecs(encoder::kAudio);
}

void MainWindow::ListVideoCodecs() {
    listCodecs(encoder::kVideo);
}

void MainWindow::ListAudioFormats() {
    const auto profile = g_encoderFactory->CreateProfile();
    OutputInfo("\r\nAudio Codecs: ");
    for (int32_t mode = 1; mode <= 4; ++mode) {
        profile->VBRMode(encoder::kAudio, 0, mode);
        OutputInfo(kModeLines[mode - 1]);
        const bool quality = mode == 3;
        for (int32_t codec = 0; codec < profile->AudioCodecCount(); ++codec) {
            const std::string name = profile->EnumAudioCodec(codec);
            const std::string shortName(
                codecShortName(encoder::kAudio, profile->GetCodecFourCCFromIndex(encoder::kAudio, codec)));
            if (shortName.empty())
                OutputInfo("\t" + name + ":");
            else
                OutputInfo("\t" + shortName + " : " + name + " (" + shortName + "):");
            OutputInfo("\r\n");
            const bool fiveColumns = shortName == "WMA9PRO" || shortName == "WMA9LSL";
            std::string header = "\t\t" + PadSpaces("Argument", 24) +
                                 PadSpaces(quality ? "Quality" : "Bitrate", 16) +
                                 PadSpaces("Sampling rate", 20);
            header += fiveColumns ? PadSpaces("Channel", 10) + "BitsPerSample" : std::string("Channel");
            OutputInfo(header);
            OutputInfo("\t\t" + std::string(84, '-'));
            for (int32_t index = 0; index < profile->AudioFormatCount(codec); ++index) {
                const encoder::AudioFormat format = profile->EnumAudioFormat(codec, index);
                const std::string rate =
                    quality ? "Q" + std::to_string(format.Bitrate) : roundedThousandths(format.Bitrate);
                const std::string sampling = samplingText(format.SampleRate);
                const std::string channels = std::to_string(format.Channels);
                const std::string bits = std::to_string(format.BitsPerSample);
                std::string argument = rate + "_" + sampling + "_" + channels;
                if (fiveColumns)
                    argument += "_" + bits;
                OutputInfo("\t\t" + PadSpaces(argument, 24) + PadSpaces(rate, 16) + PadSpaces(sampling, 20) +
                           (fiveColumns ? PadSpaces(channels, 10) + bits : channels));
            }
            OutputInfo("\r\n\r\n");
        }
        OutputInfo("\r\n");
    }
}

void MainWindow::ListDevices() {
    encoder::IPluginInfoManager& plugins = g_objEncoder->SourcePluginInfoManager();
    for (const int32_t type : {encoder::kAudio, encoder::kVideo}) {
        OutputInfo(type == encoder::kAudio ? "audio device:" : "video device:");
        for (int32_t i = 0; i < plugins.count(); ++i) {
            const auto plugin = plugins.Item(i);
            if (!PluginOffersDevices(*plugin, type))
                continue;
            for (int32_t j = 0; j < plugin->count(); ++j)
                OutputInfo("\t" + std::to_string(j) + " : " + plugin->Item(j));
        }
    }
}

void MainWindow::PrintFileInfo() {
    const auto info = g_encoderFactory->CreateMediaInfo();
    info->FileName(absolutePath(g_options.inputPath));
    OutputInfo(info->MediaInfo());
}

void MainWindow::ShowHelpChm() {
#ifdef _WIN32
    char windows[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryA(windows, sizeof windows);
    const std::string folder(windows, length);
    const std::string drive = folder.substr(0, 2);
    const std::string command = folder + "\\hh.exe \"" + drive +
                                "\\program files\\windows media components\\encoder\\wmencutil.chm\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNOACTIVATE;
    PROCESS_INFORMATION process = {};
    std::string commandLine = command;
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        throw std::system_error(static_cast<int>(GetLastError()), std::system_category(),
                                "The help viewer could not be started: " + command);
    // Not waited for: the viewer runs on its own.
    const hv::UniqueHandle thread(process.hThread);
    const hv::UniqueHandle viewer(process.hProcess);
#else
    OutputInfo("There is no help viewer on this system; -help prints the usage text.");
#endif
}

} // namespace capture
