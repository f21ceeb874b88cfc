// The run's encoder profile: one audience, built from a session file, a profile code, a profile file and
// the command's options (each later one overriding the earlier), or from defaults when the first three
// are missing; then handed to the source group.
#pragma once

#include "capture/encoder/encoder.h"
#include "capture/step_runner.h"

#include <cstdint>
#include <string_view>

namespace capture {

// True when the profile was built and handed to the source group. Encoder failures do not stop the
// build: the last one is reported ("Invalid profile: 0x...") at its end.
bool SetupProfile();

// The fixed settings of a profile code (any case); false, with "No predefined profile found.", for a
// code without a row.
bool SetupPredefinedProfile(encoder::IAudience& audience, StepRunner& steps);

void SetupAudioAudience(encoder::IAudience& audience, std::string_view codec, int32_t channels, int32_t hertz,
                        int32_t bitsPerSecond, int32_t bitsPerSample, StepRunner& steps);
// frameRate (thousandths of a frame per second) is lowered to the working frame rate of the build
// (g_options.videoFrameRate), or else becomes it.
void SetupVideoAudience(encoder::IAudience& audience, std::string_view codec, int32_t bitsPerSecond,
                        int32_t width, int32_t height, int32_t& frameRate, int32_t bufferMs, int32_t quality,
                        int32_t keyDistanceMs, StepRunner& steps);

// Fills every unset audio and video option with its default (in g_options, where they stay).
void LoadProfileDefaults();

} // namespace capture
