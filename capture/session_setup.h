// Turns the option record into an encoder session on g_objEncoder (source group, sources, profile, output,
// the part to encode, display information) and starts it. Routines that return false have printed why.
#pragma once

#include "capture/step_runner.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace capture {

// True when every step succeeded; the encoder then stops by itself at the end of its sources.
bool SetupEncoder();

// The steps of SetupEncoder, in its order.
bool CreateSourceGroup();
bool SetupInput();
bool SetupOutput();
bool SetupTime();
bool SetupDisplayInfo();

// Called by SetupInput for the sources the run has, with its error handling.
void SetupAudioSource(StepRunner& steps);
void SetupVideoSource(StepRunner& steps);

// The name of capture device `number` of a type (encoder::kAudio or kVideo), counted across the source
// plug-ins; empty when there is no such device.
std::string GetDeviceNameFromIndex(int32_t type, int number);

// Whether a source plug-in offers devices of the type (audio or video) that can be used now.
bool PluginOffersDevices(const encoder::IPluginInfo& plugin, int32_t type);

// Prepares and starts the encoder; true once it has started. `beforeStart` runs just before the start
// (the run logic enables its one-second tick and resets the progress display there) and stays in
// effect when the start fails.
bool Transcode(const std::function<void()>& beforeStart);

// The video source's Optimization value for a -v_preproc mode, or -1 for none.
int32_t optimizationForPreprocess(int mode);
// The video source's PixelFormat value for a -pixelformat name (any case), or 0 for none.
uint32_t pixelFormatValue(std::string_view name);

} // namespace capture
