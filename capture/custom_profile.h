// The audio and video options of the command written into the run's audience, each only when given, on
// top of a profile code, a profile file or the defaults; and the checks of the compact audio setting.
#pragma once

#include "capture/encoder/encoder.h"
#include "capture/step_runner.h"

#include <cstdint>
#include <string_view>

namespace capture {

// The encoder's index for a command-line codec name (a name it does not know counts as "WMA9STD" or
// "WMV9"), asked of g_objProfile. When the encoder substitutes another codec, a line says which.
int32_t GetAudioCodecIndex(std::string_view name);
int32_t GetVideoCodecIndex(std::string_view name);

// False when a check refused an option; the reason has been printed. A failing encoder member is
// skipped and kept in `steps` for the caller's report.
bool SetupCustomProfile(encoder::IAudience& audience, StepRunner& steps);
bool SetupCustomAudioProfile(encoder::IAudience& audience, StepRunner& steps);
bool SetupCustomVideoProfile(encoder::IAudience& audience, StepRunner& steps);

// The fixed lists the audio setting is checked against, whatever the codec.
bool CheckForValidAudioBitRates(int64_t bitsPerSecond);
bool CheckForValidAudioSamplingRates(int64_t hertz);
bool CheckForValidAudioChannel(int64_t channels);
bool CheckForValidDepth(int64_t bitsPerSample);

// A computed rate as a 32-bit value: halves go to the even neighbour, and values beyond the range stop
// at its ends instead of wrapping.
int32_t toInt32(double value);

} // namespace capture
