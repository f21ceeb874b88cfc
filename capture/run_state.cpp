#include "capture/run_state.h"

namespace capture {

encoder::IEncoderFactory* g_encoderFactory = nullptr;

std::unique_ptr<encoder::IEncoder> g_objEncoder;
std::shared_ptr<encoder::ISourceGroup> g_objSourceGroup;
std::shared_ptr<encoder::ISource> g_objAudioSource;
std::shared_ptr<encoder::ISource> g_objVideoSource;
std::shared_ptr<encoder::IProfile> g_objProfile;

int32_t g_contentType = 0;
bool g_needProfileDefaults = true;
std::string g_audioCodecName;
std::string g_videoCodecName;

std::chrono::system_clock::time_point g_startTime;
std::chrono::system_clock::time_point g_endTime;
int g_currentPass = 1;
int g_passCount = 1;
int g_tickCount = 0;
bool g_autoStarted = false;

void releaseRunObjects() {
    g_objSourceGroup.reset();
    g_objAudioSource.reset();
    g_objVideoSource.reset();
    g_objProfile.reset();
}

} // namespace capture
