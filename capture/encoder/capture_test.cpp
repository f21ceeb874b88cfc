// Capture from the screen and the default sound input. Natively the test brings its own X display
// (Xvfb) and sound server (PulseAudio with a null sink), both inside the build tree; under Wine the
// bench's display serves the screen capture.
#include "capture/encoder/codecs.h"
#include "capture/encoder/devices.h"
#include "capture/encoder/dispatcher.h"
#include "capture/encoder/engine.h"
#include "capture/encoder/errors.h"
#include "capture/encoder/test_media.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

namespace {

using namespace encoder;
namespace fs = std::filesystem;

#ifndef _WIN32
using encoder::testing::SoundServer;
using encoder::testing::VirtualDisplay;
#endif

fs::path testFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    fs::path folder = fs::path("encoder_test_files") / (std::string("Capture_") + info->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

// Captures for about `ms` of media time, then stops.
void captureFor(IEncoder& encoder, QueueDispatcher& dispatcher, int64_t ms, std::vector<int32_t>& states) {
    encoder.OnStateChange([&](int32_t state) { states.push_back(state); });
    encoder.AutoStop(true);
    encoder.Start();
    const auto limit = std::chrono::seconds(60);
    ASSERT_TRUE(dispatcher.runUntil([&] { return encoder.Statistics().EncodingTime().raw >= ms; },
                                    std::chrono::duration_cast<std::chrono::milliseconds>(limit)));
    encoder.Stop();
    ASSERT_TRUE(dispatcher.runUntil([&] { return !states.empty() && states.back() == kStopped; },
                                    std::chrono::duration_cast<std::chrono::milliseconds>(limit)));
}

// The dispatcher's runUntil only looks at its predicate when a task arrives: keep one arriving.
struct Ticker {
    explicit Ticker(QueueDispatcher& d)
        : thread([&d, this] {
              while (!done) {
                  d.post([] {});
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          }) {}
    ~Ticker() {
        done = true;
        thread.join();
    }
    std::atomic<bool> done = false;
    std::thread thread;
};

TEST(Capture, ScreenIsEncodedAtItsOwnSize) {
#ifndef _WIN32
    VirtualDisplay display(320, 240);
    if (!display.ok())
        GTEST_SKIP() << "no Xvfb";
#endif
    const fs::path folder = testFolder();
    QueueDispatcher dispatcher;
    Ticker ticker(dispatcher);
    EngineFactory factory;
    auto encoder = factory.CreateEncoder(dispatcher);
    auto group = encoder->SourceGroupCollection().Add("SG_1");
    group->AddSource(kVideo)->SetInput(kScreenName, "screencap");
    auto profile = factory.CreateProfile();
    profile->ContentType(kVideoOnly);
    auto audience = profile->AddAudience(2000000);
    audience->VideoFPS(0, 10000);
    audience->VideoBitrate(0, 500000);
    group->Profile(*profile);
    encoder->File().LocalFileName((folder / "screen.wmv").string());
    std::vector<int32_t> states;
    captureFor(*encoder, dispatcher, 1500, states);
    EXPECT_EQ(states, (std::vector<int32_t>{kRunning, kStopped}));

    const auto facts = encoder::testing::readFacts((folder / "screen.wmv").string());
    ASSERT_TRUE(facts.video.present);
    EXPECT_EQ(facts.video.tag, static_cast<uint32_t>(fourCC('W', 'M', 'V', '2')));
#ifndef _WIN32
    EXPECT_EQ(facts.video.width, 320);
    EXPECT_EQ(facts.video.height, 240);
#else
    EXPECT_GT(facts.video.width, 0);
#endif
    EXPECT_GE(facts.video.decoded, 15);
    const OutputStats stats = encoder->Statistics().StreamOutputStats(kVideo, 0, 0);
    EXPECT_EQ(stats.SampleCount.raw, facts.video.packets);
}

TEST(Capture, DefaultSoundInputWithTheScreen) {
#ifndef _WIN32
    VirtualDisplay display(320, 240);
    SoundServer sound("encoder_test_files/pulse", "hvtest");
    if (!display.ok() || !sound.ok())
        GTEST_SKIP() << "no Xvfb or PulseAudio";
#else
    if (audioDeviceNames().empty())
        GTEST_SKIP() << "no sound input";
#endif
    const fs::path folder = testFolder();
    QueueDispatcher dispatcher;
    Ticker ticker(dispatcher);
    EngineFactory factory;
    auto encoder = factory.CreateEncoder(dispatcher);
    auto group = encoder->SourceGroupCollection().Add("SG_1");
    group->AddSource(kVideo)->SetInput(kScreenName, "screencap");
    group->AddSource(kAudio)->SetInput(kDefaultAudioDevice, "device");
    auto profile = factory.CreateProfile();
    profile->ContentType(kAudioVideo);
    auto audience = profile->AddAudience(2000000);
    audience->VideoFPS(0, 10000);
    audience->SetAudioConfig(0, 2, 32000, 48024, 16);
    group->Profile(*profile);
    encoder->File().LocalFileName((folder / "cap.wmv").string());
    std::vector<int32_t> states;
    captureFor(*encoder, dispatcher, 1500, states);

    const auto facts = encoder::testing::readFacts((folder / "cap.wmv").string());
    ASSERT_TRUE(facts.audio.present);
    ASSERT_TRUE(facts.video.present);
    EXPECT_EQ(facts.audio.tag, 0x161u);
    EXPECT_EQ(facts.audio.sampleRate, 32000);
    EXPECT_GT(facts.audio.decoded, 0);
    EXPECT_GT(facts.video.decoded, 0);
}

TEST(Capture, PixelFormatsNameTheDeviceFormat) {
    const std::pair<uint32_t, const char*> cases[] = {
        {0x30323449, "yuv420p"}, {0x32315659, "yuv420p"}, {0x32595559, "yuyv422"},  {0x59565955, "uyvy422"},
        {0xE436EB7D, "bgr24"},   {0xE436EB7E, "bgr0"},    {0xE436EB7C, "rgb555le"}, {0xE436EB7B, "rgb565le"},
    };
    for (const auto& [value, name] : cases)
        EXPECT_STREQ(devicePixelFormat(static_cast<int32_t>(value)), name) << std::hex << value;
    EXPECT_EQ(devicePixelFormat(0), nullptr);
    EXPECT_EQ(devicePixelFormat(0x34363248), nullptr); // a FourCC no capture format has
}

TEST(Capture, UnknownDeviceFailsToPrepare) {
    QueueDispatcher dispatcher;
    EngineFactory factory;
    auto encoder = factory.CreateEncoder(dispatcher);
    auto group = encoder->SourceGroupCollection().Add("SG_1");
    group->AddSource(kVideo)->SetInput("No such camera", "device");
    auto profile = factory.CreateProfile();
    profile->ContentType(kVideoOnly);
    profile->AddAudience(100000);
    group->Profile(*profile);
    encoder->File().LocalFileName("unused.wmv");
    try {
        encoder->PrepareToEncode(true);
        FAIL() << "prepared";
    } catch (const EncoderError& e) {
        EXPECT_EQ(e.number, errors::kNotFound);
    }
}

} // namespace
