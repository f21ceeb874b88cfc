// The engine's speed and capture quality, measured against the ffmpeg command-line tool in the same run:
//   (a) a 10 s 1280x720 30 fps clip with sound transcoded to WMV2 + 0x161 by the engine and by ffmpeg with
//       the same settings (single-threaded both), best of three runs each;
//   (b) a 30 s capture of a 1280x720 Xvfb display at 30 fps, something moving on it, with the sound of a
//       PulseAudio null sink: the share of frames dropped and the offset between picture and sound.
// Both parts need a few minutes; the helpers it starts (Xvfb, PulseAudio, ffplay, pacat) end with it.
// Usage: encoder_bench [work folder]   (default: encoder_bench_files in the current folder)
#include "capture/encoder/codecs.h"
#include "capture/encoder/devices.h"
#include "capture/encoder/dispatcher.h"
#include "capture/encoder/engine.h"
#include "capture/encoder/ffmpeg.h"
#include "capture/encoder/test_media.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <atomic>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace encoder;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFps = 30;
constexpr int kVideoBitrate = 2000000;
constexpr int kKeyFrameMs = 10000;
constexpr int kSampleRate = 44100;
constexpr int kAudioBitrate = 128000;

// A helper program for as long as the object lives; its output goes nowhere, its input from `input`.
class ChildProcess {
public:
    ChildProcess(std::vector<std::string> args, const char* input = "/dev/null") {
        pid_ = fork();
        if (pid_ == 0) {
            const int in = open(input, O_RDONLY);
            const int out = open("/dev/null", O_WRONLY);
            if (in < 0 || out < 0)
                _exit(126);
            dup2(in, 0);
            dup2(out, 1);
            dup2(out, 2);
            std::vector<char*> argv;
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
    }
    ~ChildProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }

private:
    pid_t pid_ = -1;
};

// The dispatcher's runUntil only looks at its predicate when a task arrives: keep one arriving.
class Ticker {
public:
    explicit Ticker(QueueDispatcher& d)
        : thread_([&d, this] {
              while (!done_) {
                  d.post([] {});
                  std::this_thread::sleep_for(std::chrono::milliseconds(20));
              }
          }) {}
    ~Ticker() {
        done_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> done_ = false;
    std::thread thread_;
};

void setAudience(IAudience& audience) {
    audience.VideoCodec(0, 0); // WMV2
    audience.AudioCodec(0, 0); // 0x161
    audience.VideoWidth(0, kWidth);
    audience.VideoHeight(0, kHeight);
    audience.VideoFPS(0, kFps * 1000);
    audience.VideoBitrate(0, kVideoBitrate);
    audience.VideoKeyFrameDistance(0, kKeyFrameMs);
    audience.SetAudioConfig(0, 2, kSampleRate, kAudioBitrate, 16);
}

struct EngineRun {
    double seconds = 0;
    OutputStats video;
    OutputStats audio;
};

// Runs a set-up through to its stopped event; a capture is stopped after `captureMs` of media time.
EngineRun runEngine(const std::vector<std::pair<int32_t, std::string>>& inputs, const fs::path& output,
                    int64_t captureMs = 0) {
    QueueDispatcher dispatcher;
    Ticker ticker(dispatcher);
    EngineFactory factory;
    auto encoder = factory.CreateEncoder(dispatcher);
    auto group = encoder->SourceGroupCollection().Add("SG_1");
    int32_t content = 0;
    for (const auto& [type, input] : inputs) {
        const bool device = input == kScreenName || input == kDefaultAudioDevice;
        group->AddSource(type)->SetInput(input, input == kScreenName ? "screencap" : device ? "device" : "");
        content |= type == kAudio ? kAudioOnly : kVideoOnly;
    }
    auto profile = factory.CreateProfile();
    profile->ContentType(content);
    setAudience(*profile->AddAudience(kVideoBitrate + kAudioBitrate));
    group->Profile(*profile);
    encoder->File().LocalFileName(output.string());
    encoder->AutoStop(true);
    std::vector<int32_t> states;
    encoder->OnStateChange([&](int32_t state) { states.push_back(state); });
    encoder->PrepareToEncode(true);
    const auto limit = std::chrono::minutes(5);
    const Clock::time_point begin = Clock::now();
    encoder->Start();
    if (captureMs > 0) {
        dispatcher.runUntil([&] { return encoder->Statistics().EncodingTime().raw >= captureMs; }, limit);
        encoder->Stop();
    }
    dispatcher.runUntil([&] { return !states.empty() && states.back() == kStopped; }, limit);
    EngineRun run;
    run.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    run.video = encoder->Statistics().StreamOutputStats(kVideo, 0, 0);
    run.audio = encoder->Statistics().StreamOutputStats(kAudio, 0, 0);
    return run;
}

// The same transcoding by the ffmpeg tool: same codecs, rates, size, frame rate, key-frame distance,
// one thread for decoding, filtering and encoding, no B-frames, simple macroblock decision.
double runTool(const fs::path& input, const fs::path& output, int32_t audioBitrate) {
    const std::string command =
        "ffmpeg -nostdin -hide_banner -loglevel error -y -threads 1 -i '" + input.string() +
        "' -filter_threads 1 -filter_complex_threads 1 -map 0:v -map 0:a -c:v wmv2 -threads 1 -b:v " +
        std::to_string(kVideoBitrate) + " -g " + std::to_string(kKeyFrameMs * kFps / 1000) +
        " -bf 0 -mbd simple -s " + std::to_string(kWidth) + "x" + std::to_string(kHeight) + " -r " +
        std::to_string(kFps) + " -pix_fmt yuv420p -c:a wmav2 -b:a " + std::to_string(audioBitrate) + " -ar " +
        std::to_string(kSampleRate) + " -ac 2 -f asf '" + output.string() + "'";
    const Clock::time_point begin = Clock::now();
    if (std::system(command.c_str()) != 0)
        std::printf("  ffmpeg failed: %s\n", command.c_str());
    return std::chrono::duration<double>(Clock::now() - begin).count();
}

void transcodeBench(const fs::path& folder) {
    std::printf("(a) transcoding a 10 s %dx%d %d fps clip with sound to WMV2 + 0x161, one thread\n", kWidth,
                kHeight, kFps);
    const fs::path clip = folder / "clip720.avi";
    testing::ClipSpec spec{
        "avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_PCM_S16LE, kWidth, kHeight, kFps, kSampleRate, 2, 10.0};
    testing::writeClip(clip.string(), spec);
    const double frames = 10.0 * kFps;
    double engineBest = 1e9, toolBest = 1e9;
    int32_t audioBitrate = kAudioBitrate;
    for (int i = 0; i < 3; ++i) {
        const EngineRun run =
            runEngine({{kAudio, clip.string()}, {kVideo, clip.string()}}, folder / "engine.wmv");
        audioBitrate = run.audio.ExpectedBitrate;
        engineBest = std::min(engineBest, run.seconds);
        toolBest = std::min(toolBest, runTool(clip, folder / "tool.wmv", audioBitrate));
    }
    const auto engineFacts = testing::readFacts((folder / "engine.wmv").string());
    const auto toolFacts = testing::readFacts((folder / "tool.wmv").string());
    std::printf("  engine: %.0f fps (%.2f s, %lld frames, %lld bytes)\n", frames / engineBest, engineBest,
                static_cast<long long>(engineFacts.video.decoded),
                static_cast<long long>(engineFacts.fileSize));
    std::printf("  ffmpeg: %.0f fps (%.2f s, %lld frames, %lld bytes)\n", frames / toolBest, toolBest,
                static_cast<long long>(toolFacts.video.decoded), static_cast<long long>(toolFacts.fileSize));
    std::printf("  ratio engine/ffmpeg: %.2f (aim: at least 0.9)\n", toolBest / engineBest);
}

// The 0x161 encoder's priming (silence before the first sample), in milliseconds.
double audioPrimingMs() {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
    av::CodecPtr c(avcodec_alloc_context3(codec));
    c->sample_rate = kSampleRate;
    av_channel_layout_default(&c->ch_layout, 2);
    c->sample_fmt = codec->sample_fmts[0];
    c->bit_rate = kAudioBitrate;
    if (avcodec_open2(c.get(), codec, nullptr) < 0)
        return 0;
    return 1000.0 * c->initial_padding / kSampleRate;
}

void captureBench(const fs::path& folder) {
    std::printf("(b) capturing a %dx%d screen at %d fps with sound for 30 s\n", kWidth, kHeight, kFps);
    testing::VirtualDisplay display(kWidth, kHeight);
    testing::SoundServer sound((folder / "pulse").string(), "hvbench");
    if (!display.ok() || !sound.ok()) {
        std::printf("  skipped: no Xvfb or PulseAudio\n");
        return;
    }
    // A moving test picture, and a client that keeps the null sink running so its monitor delivers
    // sound from the start.
    ChildProcess player({"ffplay", "-loglevel", "quiet", "-an", "-noborder", "-left", "0", "-top", "0", "-f",
                         "lavfi", "-i", "testsrc2=size=640x360:rate=30"});
    ChildProcess keepAlive({"pacat", "--playback", "-d", "hvbench", "--latency-msec=20", "--raw"},
                           "/dev/zero");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    if (!player.running())
        std::printf("  (ffplay is not running: the screen is static)\n");
    const fs::path output = folder / "capture.wmv";
    const EngineRun run = runEngine(
        {{kVideo, std::string(kScreenName)}, {kAudio, std::string(kDefaultAudioDevice)}}, output, 30000);
    const auto facts = testing::readFacts(output.string());
    const int64_t frames = run.video.SampleCount.raw;
    const int64_t dropped = run.video.DroppedSampleCount.raw;
    std::printf(
        "  frames: %lld, repeated for want of a new picture (dropped): %lld = %.2f%% (aim: at most 1%%)\n",
        static_cast<long long>(frames), static_cast<long long>(dropped),
        frames > 0 ? 100.0 * static_cast<double>(dropped) / static_cast<double>(frames) : 0.0);
    std::printf("  video %.0f-%.0f ms, audio %.0f-%.0f ms in the file\n", facts.video.startMs,
                facts.video.endMs, facts.audio.startMs, facts.audio.endMs);
    // The sound's first packet starts with the encoder's priming: its first real sample comes that much
    // later in the file.
    std::printf("  audio-video offset at the start: %+.0f ms (aim: within 50 ms)\n",
                facts.audio.startMs + audioPrimingMs() - facts.video.startMs);
}

} // namespace

int main(int argc, char** argv) {
    const fs::path folder = fs::absolute(argc > 1 ? argv[1] : "encoder_bench_files");
    fs::create_directories(folder);
    // Caught here so that the stack unwinds: the helper programs end with their owners.
    try {
        transcodeBench(folder);
        captureBench(folder);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "encoder_bench: %s\n", e.what());
        return 1;
    }
    return 0;
}
