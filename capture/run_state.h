// The run state the main window holds for a run: the encoder object and what the set-up builds on it,
// the codec names the report shows, and the progress fields. Go replaces the encoder objects; the rest
// lives as long as the window.
#pragma once

#include "capture/encoder/encoder.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

namespace capture {

// Makes encoders, profiles and media-information objects: the engine in the program, a fake in tests.
extern encoder::IEncoderFactory* g_encoderFactory;

extern std::unique_ptr<encoder::IEncoder> g_objEncoder;
extern std::shared_ptr<encoder::ISourceGroup> g_objSourceGroup;
// Null when the run has no such stream.
extern std::shared_ptr<encoder::ISource> g_objAudioSource;
extern std::shared_ptr<encoder::ISource> g_objVideoSource;
extern std::shared_ptr<encoder::IProfile> g_objProfile;

// encoder::kAudioOnly, kVideoOnly or kAudioVideo; 0 until a run has sources.
extern int32_t g_contentType;
// True until a session file, a profile code or a profile file supplies a profile; never set back.
extern bool g_needProfileDefaults;
// Display names of the chosen codecs.
extern std::string g_audioCodecName;
extern std::string g_videoCodecName;

// When the encoder started, and when it reported the stopped state.
extern std::chrono::system_clock::time_point g_startTime;
extern std::chrono::system_clock::time_point g_endTime;
// The pass being encoded (1 or 2) and the run's number of passes.
extern int g_currentPass;
extern int g_passCount;
// Ticks counted during a screen capture.
extern int g_tickCount;
// Set once the first tick has pressed Go.
extern bool g_autoStarted;

// What Go does before parsing a command: the previous run's group, sources and profile go.
void releaseRunObjects();

} // namespace capture
