// Capture devices: the screen and the sound and video inputs, through FFmpeg's input devices
// (x11grab and PulseAudio on Linux, gdigrab and DirectShow on Windows).
#pragma once

#include "capture/encoder/input.h"

#include <string>
#include <vector>

namespace encoder {

// The name a source is given for the system's default sound input.
inline constexpr const char* kDefaultAudioDevice = "Default_Audio_Device";
inline constexpr const char* kScreenName = "screencap1";

// The whole screen at the given rate (thousandths of a frame per second), mouse pointer included.
InputSpec screenInput(int32_t milliFps);
// A sound input by name; kDefaultAudioDevice is the system's default one. Fails with kNotFound.
InputSpec audioDeviceInput(const std::string& name);
// A video input by name, capturing in `pixelFormat` (a video source's PixelFormat value; 0 or an unknown
// value: the device's own choice). Fails with kNotFound.
InputSpec videoDeviceInput(const std::string& name, int32_t pixelFormat = 0);
// FFmpeg's name for a PixelFormat value (a FourCC, or the start of an RGB media subtype), or null.
const char* devicePixelFormat(int32_t pixelFormat);

std::vector<std::string> audioDeviceNames();
std::vector<std::string> videoDeviceNames();

} // namespace encoder
