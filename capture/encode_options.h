// The option record of the capture program: every later step of a run reads it. Nothing clears it, so
// a value set by one command stays in force for the following commands until a command sets it again.
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace capture {

// Unset numbers hold -1, unset texts are empty, flags are false.
struct EncodeOptions {
    // Input, output and session files.
    std::string inputPath;    // file or folder to encode; empty for a capture
    std::string outputPath;   // output file, or an existing folder
    std::string outputString; // appended to output names in folder mode
    std::string profileCode;  // predefined profile code, as typed
    std::string sessionFile;  // -wme
    std::string saveProfileFile;
    std::string loadProfileFile;

    // Display information.
    std::string title;
    std::string author;
    std::string copyright;
    std::string description;
    std::string rating;

    // Capture devices, broadcast and push.
    int audioDevice = -1;
    int videoDevice = -1;
    bool captureDevices = false;
    int broadcastPort = -1;
    std::string pushServer;
    std::string pushPublishingPoint;
    std::string pushTemplate;

    // The part to encode, in milliseconds; a markOut of 0 means the end of the input.
    int markIn = -1;
    int markOut = -1;
    // Seconds. Whole for a capture; a file run replaces it with the media length, which has a fraction.
    double duration = -1;
    bool audioOnly = false;
    bool videoOnly = false;

    // Audio. Bit rates in bits per second, buffers in milliseconds.
    int audioMode = -1;
    std::string audioCodec; // one of kAudioCodecNames
    std::string audioSetting;
    int audioPeakBitrate = -1;
    int audioPeakBuffer = -1;
    int audioContentMode = -1; // 0, 1 or 2
    std::string audioContentEdl;
    int foldDownSurround = -1;
    int foldDownCenter = -1;
    int foldDownLfe = -1;

    // Video. Bit rates in bits per second, buffers and key-frame distances in milliseconds.
    int videoMode = -1;
    std::string videoCodec; // one of kVideoCodecNames
    int videoBitrate = -1;
    int videoBuffer = -1;
    int videoWidth = -1;
    int videoHeight = -1;
    int videoQuality = -1;
    int videoPeakBitrate = -1;
    int videoPeakBuffer = -1;
    float videoFrameRate = -1; // thousandths of a frame per second
    int videoKeyDistance = -1;
    int videoPerformance = -1; // 0, 20, 40, 60, 80 or 100
    int videoPreprocess = -1;  // 0 to 18
    std::string pixelFormat;
    int pixelRatioX = -1;
    int pixelRatioY = -1;
    int clipLeft = -1;
    int clipTop = -1;
    int clipRight = -1;
    int clipBottom = -1;
    std::string videoProfile; // device conformance, upper case
    int maxPacket = -1;
    int minPacket = -1;

    bool operator==(const EncodeOptions&) const = default;
};

// Held by the main window for its whole life.
extern EncodeOptions g_options;

// The codec names -a_codec and -v_codec accept.
inline constexpr std::array<std::string_view, 5> kAudioCodecNames = {"WMA9STD", "WMA9PRO", "WMA9LSL", "WMSP9",
                                                                     "PCM"};
inline constexpr std::array<std::string_view, 6> kVideoCodecNames = {"WMV7", "WMV8", "WMV9",
                                                                     "WMS9", "MP41", "UNCOMP"};

} // namespace capture
