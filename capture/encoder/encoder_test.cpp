#include "capture/encoder/codecs.h"
#include "capture/encoder/dispatcher.h"
#include "capture/encoder/engine.h"
#include "capture/encoder/errors.h"
#include "capture/encoder/pipeline.h"
#include "capture/encoder/profile.h"
#include "capture/encoder/test_media.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <set>
#include <fstream>
#include <thread>
#include <vector>

namespace {

using namespace encoder;
using encoder::testing::ClipSpec;
using encoder::testing::FileFacts;
using encoder::testing::readFacts;
using encoder::testing::writeClip;
namespace fs = std::filesystem;

constexpr int32_t kWmv2 = fourCC('W', 'M', 'V', '2');
constexpr auto kRunTimeout = std::chrono::seconds(120);

// A folder of its own for each test, under the build tree.
fs::path testFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    }
    fs::path folder = fs::path("encoder_test_files") / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

// One encoder driven the way the front end drives it, with the test's thread as the front end's.
class Session {
public:
    Session() : encoder_(factory_.CreateEncoder(dispatcher_)) {
        encoder_->OnStateChange([this](int32_t state) {
            states.push_back(state);
            if (std::this_thread::get_id() != owner_)
                offThread = true;
        });
        group = encoder_->SourceGroupCollection().Add("SG_1");
        profile = factory_.CreateProfile();
        profile->ProfileName("test");
        audience = profile->AddAudience(10000000);
    }

    IEncoder& encoder() { return *encoder_; }
    EngineFactory& factory() { return factory_; }

    // Content type from the group's sources; the profile goes onto the group.
    void useProfile() {
        const bool audio = group->SourceCount(kAudio) > 0;
        const bool video = group->SourceCount(kVideo) > 0;
        profile->ContentType((audio ? kAudioOnly : 0) | (video ? kVideoOnly : 0));
        group->Profile(*profile);
    }

    void start(const fs::path& output) {
        encoder_->File().LocalFileName(output.string());
        encoder_->AutoStop(true);
        encoder_->PrepareToEncode(true);
        encoder_->Start();
    }

    bool waitStopped() {
        return dispatcher_.runUntil([this] { return !states.empty() && states.back() == kStopped; },
                                    std::chrono::duration_cast<std::chrono::milliseconds>(kRunTimeout));
    }
    bool waitRunning() {
        return dispatcher_.runUntil([this] { return !states.empty(); },
                                    std::chrono::duration_cast<std::chrono::milliseconds>(kRunTimeout));
    }
    QueueDispatcher& dispatcher() { return dispatcher_; }

    std::shared_ptr<ISourceGroup> group;
    std::shared_ptr<IProfile> profile;
    std::shared_ptr<IAudience> audience;
    std::vector<int32_t> states;
    bool offThread = false;

private:
    QueueDispatcher dispatcher_;
    EngineFactory factory_;
    std::unique_ptr<IEncoder> encoder_;
    std::thread::id owner_ = std::this_thread::get_id();
};

uint32_t errorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EncoderError& e) {
        EXPECT_FALSE(e.description.empty());
        return e.number;
    }
    return 0;
}

// ---- Every input format the engine accepts, to a WMV2 / 0x161 file

struct InputCase {
    const char* name;
    const char* extension;
    ClipSpec clip;
    int32_t markOut; // for the stills: how long they are shown
};

void PrintTo(const InputCase& c, std::ostream* os) {
    *os << c.name;
}

class InputFormats : public ::testing::TestWithParam<InputCase> {};

TEST_P(InputFormats, EncodeToAsfFile) {
    const InputCase& c = GetParam();
    const fs::path folder = testFolder();
    const fs::path input = folder / (std::string("in.") + c.extension);
    writeClip(input.string(), c.clip);

    Session s;
    s.group->AutoSetFileSource(input.string());
    const bool hasVideo = c.clip.video != AV_CODEC_ID_NONE;
    const bool hasAudio = c.clip.audio != AV_CODEC_ID_NONE;
    ASSERT_EQ(s.group->SourceCount(kAudio), hasAudio ? 1 : 0);
    ASSERT_EQ(s.group->SourceCount(kVideo), hasVideo ? 1 : 0);
    if (hasVideo) {
        s.audience->VideoCodec(0, s.profile->GetCodecIndexFromFourCC(kVideo, kWmv2));
        s.audience->VideoBitrate(0, 300000);
        s.audience->VideoFPS(0, 15000);
        if (c.markOut)
            s.group->Source(kVideo, 0)->MarkOut(c.markOut);
    }
    if (hasAudio) {
        s.audience->AudioCodec(0, s.profile->GetCodecIndexFromFourCC(kAudio, 0x161));
        s.audience->SetAudioConfig(0, 2, 44100, 64000, 16);
    }
    s.useProfile();
    const fs::path output = folder / (hasVideo ? "out.wmv" : "out.wma");
    s.start(output);
    ASSERT_TRUE(s.waitStopped());
    EXPECT_EQ(s.states, (std::vector<int32_t>{kRunning, kStopped}));
    EXPECT_FALSE(s.offThread);
    EXPECT_EQ(s.encoder().RunState(), kStopped);

    const FileFacts facts = readFacts(output.string());
    const double seconds = c.markOut ? c.markOut / 1000.0 : c.clip.seconds;
    // The WMA codecs' delays add a frame or two (about 46 ms each) to a clip that went through them.
    EXPECT_NEAR(static_cast<double>(facts.durationMs), seconds * 1000, 200);
    ASSERT_EQ(facts.video.present, hasVideo);
    ASSERT_EQ(facts.audio.present, hasAudio);
    if (hasVideo) {
        EXPECT_EQ(facts.video.tag, static_cast<uint32_t>(kWmv2));
        EXPECT_EQ(facts.video.width, c.clip.width);
        EXPECT_EQ(facts.video.height, c.clip.height);
        // A file whose streams start apart (encoder delays) may give one frame more.
        EXPECT_NEAR(static_cast<double>(facts.video.decoded), seconds * 15, 1);
    }
    if (hasAudio) {
        EXPECT_EQ(facts.audio.tag, 0x161u);
        EXPECT_EQ(facts.audio.sampleRate, 44100);
        EXPECT_EQ(facts.audio.channels, 2);
        EXPECT_NEAR(static_cast<double>(facts.audio.decoded), seconds * 44100, 44100 * 0.1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Encoder, InputFormats,
    ::testing::Values(
        InputCase{"avi", "avi",
                  ClipSpec{"avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_PCM_S16LE, 160, 120, 25, 22050, 1}, 0},
        InputCase{"mpg", "mpg",
                  ClipSpec{"mpeg", AV_CODEC_ID_MPEG1VIDEO, AV_CODEC_ID_MP2, 176, 144, 25, 44100, 2}, 0},
        InputCase{"asf", "asf", ClipSpec{"asf", AV_CODEC_ID_WMV2, AV_CODEC_ID_WMAV2, 160, 120, 25, 32000, 2},
                  0},
        InputCase{"wmv", "wmv", ClipSpec{"asf", AV_CODEC_ID_WMV1, AV_CODEC_ID_WMAV1, 160, 120, 15, 22050, 1},
                  0},
        InputCase{"wma", "wma", ClipSpec{"asf", AV_CODEC_ID_NONE, AV_CODEC_ID_WMAV2, 0, 0, 25, 44100, 2}, 0},
        InputCase{"wav", "wav", ClipSpec{"wav", AV_CODEC_ID_NONE, AV_CODEC_ID_PCM_S16LE, 0, 0, 25, 48000, 1},
                  0},
        InputCase{"mp3", "mp3", encoder::testing::mp3Clip(), 0},
        InputCase{"bmp", "bmp", ClipSpec{nullptr, AV_CODEC_ID_BMP, AV_CODEC_ID_NONE, 96, 64}, 2000},
        InputCase{"jpg", "jpg", ClipSpec{nullptr, AV_CODEC_ID_MJPEG, AV_CODEC_ID_NONE, 96, 64}, 2000}),
    [](const ::testing::TestParamInfo<InputCase>& param) { return std::string(param.param.name); });

// ---- Display information and attributes land in the file

TEST(Encoder, DisplayInfoAndAttributesAreStored) {
    const fs::path folder = testFolder();
    const fs::path input = folder / "in.wav";
    writeClip(input.string(),
              ClipSpec{"wav", AV_CODEC_ID_NONE, AV_CODEC_ID_PCM_S16LE, 0, 0, 25, 44100, 2, 0.5});
    Session s;
    s.group->AutoSetFileSource(input.string());
    s.useProfile();
    IDisplayInfo& info = s.encoder().DisplayInfo();
    info.Title("A title");
    info.Author("An author");
    info.Copyright("(c) someone");
    info.Description("What it is");
    info.Rating("PG");
    s.encoder().Attributes().Add("SurroundMix", -3);
    s.encoder().Attributes().Add("Note", std::string("text value"));
    s.start(folder / "out.wma");
    ASSERT_TRUE(s.waitStopped());

    const FileFacts facts = readFacts((folder / "out.wma").string());
    auto value = [&](const char* key) {
        auto it = facts.metadata.find(key);
        return it == facts.metadata.end() ? std::string("<missing>") : it->second;
    };
    EXPECT_EQ(value("title"), "A title");
    EXPECT_EQ(value("artist"), "An author"); // the reader's name for the author
    EXPECT_EQ(value("copyright"), "(c) someone");
    EXPECT_EQ(value("comment"), "What it is");
    EXPECT_EQ(value("rating"), "PG");
    EXPECT_EQ(value("SurroundMix"), "-3");
    EXPECT_EQ(value("Note"), "text value");
}

// ---- Mark-in and mark-out

TEST(Encoder, AudioMarksAreExactToTheSample) {
    const fs::path folder = testFolder();
    const fs::path input = folder / "in.wav";
    writeClip(input.string(),
              ClipSpec{"wav", AV_CODEC_ID_NONE, AV_CODEC_ID_PCM_S16LE, 0, 0, 25, 44100, 2, 3.0});
    Session s;
    s.group->AutoSetFileSource(input.string());
    auto source = s.group->Source(kAudio, 0);
    source->MarkIn(250);
    source->MarkOut(1250);
    // Uncompressed output: no codec frame rounds the length.
    s.audience->AudioCodec(0, s.profile->GetCodecIndexFromFourCC(kAudio, 0));
    s.audience->SetAudioConfig(0, 2, 44100, 1411200, 16);
    s.useProfile();
    s.start(folder / "out.wma");
    ASSERT_TRUE(s.waitStopped());

    const FileFacts facts = readFacts((folder / "out.wma").string());
    EXPECT_EQ(facts.audio.decoded, 44100);
}

TEST(Encoder, VideoMarksStartAtTheMarkedFrame) {
    const fs::path folder = testFolder();
    const fs::path input = folder / "in.avi";
    writeClip(input.string(), ClipSpec{"avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_NONE, 160, 120, 25, 0, 0, 4.0});
    Session s;
    s.group->AutoSetFileSource(input.string());
    auto source = s.group->Source(kVideo, 0);
    source->MarkIn(1400); // source frame 35: luma 16 + 4 * 35
    source->MarkOut(2400);
    s.audience->VideoFPS(0, 25000);
    s.audience->VideoBitrate(0, 1000000);
    s.useProfile();
    s.start(folder / "out.wmv");
    ASSERT_TRUE(s.waitStopped());

    const FileFacts facts = readFacts((folder / "out.wmv").string());
    EXPECT_EQ(facts.video.decoded, 25);
    EXPECT_NEAR(facts.video.firstLuma, 16 + 4 * 35, 3);
    EXPECT_NEAR(static_cast<double>(facts.durationMs), 1000, 100);
}

// ---- Cropping and pixel aspect ratio

struct PictureCase {
    const char* name;
    int32_t left, top, right, bottom; // cropping margins
    int32_t width, height;            // the audience's size (0: the source's)
    bool nonSquare;
    int32_t aspectX, aspectY;
    int expectWidth, expectHeight;
    int expectAspectNum, expectAspectDen; // 0/1: none stored
};

TEST(Encoder, CroppingAndPixelAspectReachTheFile) {
    const PictureCase cases[] = {
        {"uncropped", 0, 0, 0, 0, 0, 0, false, 0, 0, 160, 120, 0, 1},
        {"cropped", 10, 20, 30, 40, 0, 0, false, 0, 0, 120, 60, 0, 1},
        {"odd size rounded down", 1, 0, 0, 1, 0, 0, false, 0, 0, 158, 118, 0, 1},
        {"audience size wins", 40, 0, 0, 30, 320, 240, false, 0, 0, 320, 240, 0, 1},
        {"non-square pixels", 0, 0, 0, 0, 0, 0, true, 4, 3, 160, 120, 4, 3},
        {"ratio without the mode", 0, 0, 0, 0, 0, 0, false, 4, 3, 160, 120, 0, 1},
    };
    const fs::path folder = testFolder();
    const fs::path input = folder / "in.avi";
    writeClip(input.string(), ClipSpec{"avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_NONE, 160, 120, 25, 0, 0, 0.4});
    for (const PictureCase& c : cases) {
        SCOPED_TRACE(c.name);
        Session s;
        s.group->AutoSetFileSource(input.string());
        auto source = s.group->Source(kVideo, 0);
        source->CroppingLeftMargin(c.left);
        source->CroppingTopMargin(c.top);
        source->CroppingRightMargin(c.right);
        source->CroppingBottomMargin(c.bottom);
        source->PixelAspectRatioX(c.aspectX);
        source->PixelAspectRatioY(c.aspectY);
        s.profile->NonSquarePixelMode(0, c.nonSquare);
        s.audience->VideoWidth(0, c.width);
        s.audience->VideoHeight(0, c.height);
        s.useProfile();
        s.start(folder / "out.wmv");
        ASSERT_TRUE(s.waitStopped());

        const FileFacts facts = readFacts((folder / "out.wmv").string());
        EXPECT_EQ(facts.video.width, c.expectWidth);
        EXPECT_EQ(facts.video.height, c.expectHeight);
        EXPECT_EQ(facts.video.aspectNum, c.expectAspectNum);
        EXPECT_EQ(facts.video.aspectDen, c.expectAspectDen);
        EXPECT_GT(facts.video.decoded, 0);
    }
}

TEST(Encoder, CroppingThatLeavesNoPictureFailsToPrepare) {
    const fs::path folder = testFolder();
    const fs::path input = folder / "in.avi";
    writeClip(input.string(), ClipSpec{"avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_NONE, 160, 120, 25, 0, 0, 0.4});
    Session s;
    s.group->AutoSetFileSource(input.string());
    auto source = s.group->Source(kVideo, 0);
    source->CroppingLeftMargin(100);
    source->CroppingRightMargin(60);
    s.useProfile();
    s.encoder().File().LocalFileName((folder / "out.wmv").string());
    EXPECT_EQ(errorOf([&] { s.encoder().PrepareToEncode(true); }), errors::kInvalidArgument);
}

// ---- The video source's optimization and pixel format

constexpr int kLumaBlack = 16, kLumaWhite = 235;

// Fills a planar 4:2:0 picture: luma from `luma(x, row)`, chroma neutral.
void paint(AVFrame& f, const std::function<int(int x, int row)>& luma) {
    for (int row = 0; row < f.height; ++row)
        for (int x = 0; x < f.width; ++x)
            f.data[0][static_cast<ptrdiff_t>(row) * f.linesize[0] + x] = static_cast<uint8_t>(luma(x, row));
    for (int plane = 1; plane < 3; ++plane)
        for (int row = 0; row < f.height / 2; ++row)
            std::fill_n(f.data[plane] + static_cast<ptrdiff_t>(row) * f.linesize[plane], f.width / 2, 128);
}

// How much the two fields of a picture disagree: the mean luma step from each even row to the odd row
// below it.
double combing(const encoder::testing::Picture& p) {
    double sum = 0;
    for (int row = 0; row + 1 < p.height; row += 2)
        for (int x = 0; x < p.width; ++x)
            sum += std::abs(p.luma(x, row) - p.luma(x, row + 1));
    return sum / (p.width * (p.height / 2));
}

// Encodes `input` uncompressed with the video source set up by `configure`, and reads the pictures back.
std::vector<encoder::testing::Picture> encodePictures(const fs::path& folder, const fs::path& input,
                                                      int32_t fps,
                                                      const std::function<void(Session&)>& configure) {
    Session s;
    s.group->AutoSetFileSource(input.string());
    s.audience->VideoCodec(0, s.profile->GetCodecIndexFromFourCC(kVideo, 0));
    s.audience->VideoFPS(0, fps);
    configure(s);
    s.useProfile();
    s.start(folder / "out.wmv");
    EXPECT_TRUE(s.waitStopped());
    return encoder::testing::readPictures((folder / "out.wmv").string());
}

TEST(VideoSource, TakesOnlyTheOptimizationsAndPixelFormatsItKnows) {
    const fs::path folder = testFolder();
    const fs::path input = folder / "in.avi";
    writeClip(input.string(), ClipSpec{"avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_NONE, 64, 48, 25, 0, 0, 0.2});
    Session s;
    s.group->AutoSetFileSource(input.string());
    auto video = s.group->Source(kVideo, 0);
    for (int32_t known : {0, 1, 2, 3, 4, 35, 51, 99, 115, 179, 0x2004, 0x3004}) {
        EXPECT_EQ(errorOf([&] { video->Optimization(known); }), 0u) << known;
        EXPECT_EQ(video->Optimization(), known);
    }
    for (int32_t unknown : {-1, 5, 19, 36, 195, 0x1004, 0x4004})
        EXPECT_EQ(errorOf([&] { video->Optimization(unknown); }), errors::kInvalidArgument) << unknown;
    for (uint32_t known : {0u, 0x30323449u, 0x32315659u, 0x39555659u, 0xE436EB7Au, 0xE436EB7Eu})
        EXPECT_EQ(errorOf([&] { video->PixelFormat(static_cast<int32_t>(known)); }), 0u) << std::hex << known;
    for (uint32_t unknown : {1u, 0x34363248u, 0xE436EB79u})
        EXPECT_EQ(errorOf([&] { video->PixelFormat(static_cast<int32_t>(unknown)); }),
                  errors::kInvalidArgument)
            << std::hex << unknown;
}

// Interlaced video of a bar moving 4 pixels a field: the even rows (first field) show it where it was, the
// odd rows where it went.
TEST(VideoSource, DeinterlacingJoinsTheFields) {
    const fs::path folder = testFolder();
    const fs::path input = folder / "in.avi";
    ClipSpec clip{"avi", AV_CODEC_ID_RAWVIDEO, AV_CODEC_ID_NONE, 64, 48, 25, 0, 0, 1.0};
    clip.draw = [](int64_t n, AVFrame& f) {
        paint(f, [n](int x, int row) {
            const int left = static_cast<int>((2 * n + row % 2) * 4 % 56);
            return x >= left && x < left + 8 ? kLumaWhite : kLumaBlack;
        });
    };
    writeClip(input.string(), clip);
    for (const auto& [optimization, combed] : {std::pair{1, true}, std::pair{2, false}}) {
        SCOPED_TRACE(optimization);
        const auto pictures = encodePictures(folder, input, 25000, [&](Session& s) {
            s.group->Source(kVideo, 0)->Optimization(optimization);
        });
        ASSERT_EQ(pictures.size(), 25u);
        for (size_t i = 1; i + 1 < pictures.size(); ++i) {
            if (combed)
                EXPECT_GT(combing(pictures[i]), 20) << i;
            else
                EXPECT_LT(combing(pictures[i]), 3) << i;
        }
    }
}

// Film of 24 pictures a second (picture k a flat grey of luma 16 + 5 k) telecined to 30 with the pattern
// AA BB BC CD DD, the clip starting at `phase` of it.
void writeTelecinedClip(const fs::path& path, int phase, bool topFirst) {
    ClipSpec clip{"avi", AV_CODEC_ID_RAWVIDEO, AV_CODEC_ID_NONE, 64, 48, 30, 0, 0, 40 / 30.0};
    clip.draw = [phase, topFirst](int64_t n, AVFrame& f) {
        static constexpr int kFirstField[5] = {0, 1, 1, 2, 3};
        static constexpr int kSecondField[5] = {0, 1, 2, 3, 3};
        const int64_t frame = n + phase;
        const int base = static_cast<int>(frame / 5) * 4;
        const int first = 16 + 5 * (base + kFirstField[frame % 5]);
        const int second = 16 + 5 * (base + kSecondField[frame % 5]);
        paint(f, [&](int, int row) { return (row % 2 == 0) == topFirst ? first : second; });
    };
    writeClip(path.string(), clip);
}

struct TelecineCase {
    const char* name;
    int phase;
    bool topFirst;
    int32_t optimization;
    bool restored;
};

TEST(VideoSource, InverseTelecineRestoresTheFilmPictures) {
    const TelecineCase cases[] = {
        {"AA top first", 0, true, 35, true},           {"BB top first", 1, true, 51, true},
        {"BC top first", 2, true, 67, true},           {"CD top first", 3, true, 83, true},
        {"DD top first", 4, true, 99, true},           {"AA bottom first", 0, false, 115, true},
        {"BC bottom first", 2, false, 147, true},      {"DD bottom first", 4, false, 179, true},
        {"pattern found by itself", 2, true, 3, true}, {"wrong phase", 0, true, 67, false},
        {"no optimization", 0, true, 1, false},
    };
    const fs::path folder = testFolder();
    for (const TelecineCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path input = folder / "in.avi";
        writeTelecinedClip(input, c.phase, c.topFirst);
        const auto pictures = encodePictures(folder, input, 24000, [&](Session& s) {
            s.group->Source(kVideo, 0)->Optimization(c.optimization);
        });
        ASSERT_GE(pictures.size(), 30u);
        // A clip cut in the middle of a film picture (BC, CD) starts with half of one.
        int combed = 0;
        std::set<int> film;
        for (size_t i = 1; i < pictures.size(); ++i) {
            if (combing(pictures[i]) > 2)
                ++combed;
            else
                film.insert(pictures[i].luma(0, 0));
        }
        if (c.restored) {
            EXPECT_EQ(combed, 0);
            // 32 film pictures in all; the first and the last may be cut short.
            EXPECT_GE(film.size(), 29u);
        } else {
            EXPECT_GE(combed, 5);
        }
    }
    // Video that was never telecined keeps its length: a picture in five is left out.
    const fs::path plain = folder / "plain.avi";
    writeClip(plain.string(),
              ClipSpec{"avi", AV_CODEC_ID_RAWVIDEO, AV_CODEC_ID_NONE, 64, 48, 30, 0, 0, 40 / 30.0});
    const auto pictures =
        encodePictures(folder, plain, 24000, [](Session& s) { s.group->Source(kVideo, 0)->Optimization(3); });
    EXPECT_NEAR(static_cast<double>(pictures.size()), 32, 1);
    ASSERT_FALSE(pictures.empty());
    EXPECT_NEAR(pictures.back().luma(0, 0), 16 + 4 * 39, 8);
}

TEST(VideoSource, InterlacedEncodingKeepsTheFieldOrder) {
    const fs::path folder = testFolder();
    const fs::path input = folder / "in.avi";
    writeClip(input.string(), ClipSpec{"avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_NONE, 64, 48, 25, 0, 0, 0.4});
    struct Case {
        bool interlaceMode;
        int32_t optimization;
        bool interlaced, topFirst;
    };
    for (const Case& c : {Case{true, 0x2004, true, true}, Case{true, 0x3004, true, false},
                          Case{true, 4, true, true}, Case{false, 0x3004, false, false}}) {
        SCOPED_TRACE(std::to_string(c.interlaceMode) + " " + std::to_string(c.optimization));
        Session s;
        s.group->AutoSetFileSource(input.string());
        s.group->Source(kVideo, 0)->Optimization(c.optimization);
        s.audience->VideoCodec(0, s.profile->GetCodecIndexFromFourCC(kVideo, fourCC('M', 'P', '4', 'S')));
        s.profile->InterlaceMode(0, c.interlaceMode);
        s.useProfile();
        s.start(folder / "out.wmv");
        ASSERT_TRUE(s.waitStopped());
        const auto pictures = encoder::testing::readPictures((folder / "out.wmv").string());
        ASSERT_FALSE(pictures.empty());
        EXPECT_EQ(pictures[0].interlaced, c.interlaced);
        if (c.interlaced) {
            EXPECT_EQ(pictures[0].topFieldFirst, c.topFirst);
        }
    }
}

struct PixelFormatCase {
    const char* name;
    uint32_t pixelFormat;
    uint32_t storedTag; // what the uncompressed stream is stored as
    int colourTolerance;
    size_t maxGreys; // distinct greys left of a ramp of 64
};

// A file's pictures reach the encoder in the source's pixel format: the uncompressed codec stores the YUV
// formats as they are; the others pass through the format on their way to I420.
TEST(VideoSource, PixelFormatShapesThePictures) {
    const PixelFormatCase cases[] = {
        {"input's own", 0, 0x30323449, 2, 64},    {"I420", 0x30323449, 0x30323449, 2, 64},
        {"IYUV", 0x56555949, 0x56555949, 2, 64},  {"YV12", 0x32315659, 0x32315659, 2, 64},
        {"YUY2", 0x32595559, 0x32595559, 2, 64},  {"UYVY", 0x59565955, 0x59565955, 2, 64},
        {"YVYU", 0x55595659, 0x55595659, 2, 64},  {"YVU9", 0x39555659, 0x39555659, 2, 64},
        {"RGB24", 0xE436EB7D, 0x30323449, 4, 64}, {"RGB555", 0xE436EB7C, 0x30323449, 8, 64},
        {"RGB8", 0xE436EB7A, 0x30323449, 40, 16},
    };
    const fs::path folder = testFolder();
    const fs::path input = folder / "in.avi";
    // The top half a grey ramp, the bottom half red (Y 81, U 90, V 240).
    ClipSpec clip{"avi", AV_CODEC_ID_RAWVIDEO, AV_CODEC_ID_NONE, 64, 48, 25, 0, 0, 0.2};
    clip.draw = [](int64_t, AVFrame& f) {
        paint(f, [](int x, int row) { return row < 24 ? kLumaBlack + x * 3 : 81; });
        for (int row = 12; row < 24; ++row) {
            std::fill_n(f.data[1] + static_cast<ptrdiff_t>(row) * f.linesize[1], 32, 90);
            std::fill_n(f.data[2] + static_cast<ptrdiff_t>(row) * f.linesize[2], 32, 240);
        }
    };
    writeClip(input.string(), clip);
    for (const PixelFormatCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto pictures = encodePictures(folder, input, 25000, [&](Session& s) {
            s.group->Source(kVideo, 0)->PixelFormat(static_cast<int32_t>(c.pixelFormat));
        });
        EXPECT_EQ(readFacts((folder / "out.wmv").string()).video.tag, c.storedTag);
        ASSERT_FALSE(pictures.empty());
        const auto& p = pictures[0];
        EXPECT_NEAR(p.luma(10, 40), 81, c.colourTolerance);
        EXPECT_NEAR(p.u[20 * 32 + 10], 90, c.colourTolerance);
        EXPECT_NEAR(p.v[20 * 32 + 10], 240, c.colourTolerance);
        std::set<int> greys;
        for (int x = 0; x < 64; ++x)
            greys.insert(p.luma(x, 4));
        EXPECT_LE(greys.size(), c.maxGreys);
    }
}

// ---- Statistics agree with the file

TEST(Encoder, StatisticsAgreeWithTheFile) {
    const fs::path folder = testFolder();
    const fs::path input = folder / "in.avi";
    writeClip(input.string(),
              ClipSpec{"avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_PCM_S16LE, 160, 120, 25, 44100, 2, 2.0});
    Session s;
    s.group->AutoSetFileSource(input.string());
    s.audience->VideoFPS(0, 20000);
    s.audience->VideoBitrate(0, 200000);
    s.audience->SetAudioConfig(0, 2, 44100, 64000, 16);
    s.useProfile();
    s.encoder().VideoComplexity(100); // the slowest video settings still encode
    s.start(folder / "out.wmv");
    ASSERT_TRUE(s.waitStopped());

    const FileFacts facts = readFacts((folder / "out.wmv").string());
    IStatistics& stats = s.encoder().Statistics();
    const FileArchiveStatsValue archive = stats.FileArchiveStats();
    EXPECT_EQ(archive.FileSize.raw, static_cast<int64_t>(fs::file_size(folder / "out.wmv")));
    EXPECT_NEAR(archive.FileDuration.value() * 10, 2.0, 0.1);
    EXPECT_NEAR(stats.EncodingTime().value() * 10, 2.0, 0.1);

    const OutputStats video = stats.StreamOutputStats(kVideo, 0, 0);
    EXPECT_EQ(video.SampleCount.raw, facts.video.packets);
    EXPECT_EQ(video.ByteCount.raw, facts.video.bytes);
    EXPECT_EQ(video.ExpectedBitrate, 200000);
    EXPECT_EQ(video.ExpectedSampleRate, 20000);
    EXPECT_NEAR(video.AverageSampleRate, 20000, 500);
    const OutputStats audio = stats.StreamOutputStats(kAudio, 0, 0);
    EXPECT_EQ(audio.SampleCount.raw, facts.audio.packets);
    EXPECT_EQ(audio.ByteCount.raw, facts.audio.bytes);
    EXPECT_EQ(audio.ExpectedBitrate, 64000);
    EXPECT_EQ(audio.ExpectedSampleRate, 44100);
    const OutputStats total = stats.WMFOutputStats();
    EXPECT_EQ(total.ByteCount.raw, facts.audio.bytes + facts.video.bytes);
    EXPECT_EQ(total.ExpectedBitrate, 264000);
    EXPECT_NEAR(total.AverageBitrate, (facts.audio.bytes + facts.video.bytes) * 8 / 2.0, 30000);
}

// ---- Stop in the middle of a run

TEST(Encoder, StopEndsTheRunWithAPlayableFile) {
    const fs::path folder = testFolder();
    const fs::path input = folder / "in.avi";
    writeClip(input.string(),
              ClipSpec{"avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_PCM_S16LE, 320, 240, 10, 22050, 1, 300});
    Session s;
    s.group->AutoSetFileSource(input.string());
    s.audience->VideoFPS(0, 30000);
    s.useProfile();
    s.start(folder / "out.wmv");
    ASSERT_TRUE(s.waitRunning());
    EXPECT_EQ(s.encoder().RunState(), kRunning);
    EXPECT_EQ(errorOf([&] { s.encoder().PrepareToEncode(true); }), errors::kWrongState);
    while (s.encoder().Statistics().EncodingTime().raw < 1000)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    s.encoder().Stop();
    ASSERT_TRUE(s.waitStopped());
    EXPECT_EQ(s.states, (std::vector<int32_t>{kRunning, kStopped}));

    const FileFacts facts = readFacts((folder / "out.wmv").string());
    EXPECT_GT(facts.video.decoded, 0);
    EXPECT_LT(facts.durationMs, 300 * 1000);
    EXPECT_EQ(facts.video.tag, static_cast<uint32_t>(kWmv2));
}

TEST(Encoder, ReleasingARunningEncoderDropsItsEvents) {
    const fs::path folder = testFolder();
    const fs::path input = folder / "in.avi";
    writeClip(input.string(), ClipSpec{"avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_NONE, 320, 240, 10, 0, 0, 300});
    QueueDispatcher dispatcher;
    EngineFactory factory;
    int events = 0;
    {
        auto encoder = factory.CreateEncoder(dispatcher);
        encoder->OnStateChange([&](int32_t) { ++events; });
        auto group = encoder->SourceGroupCollection().Add("SG_1");
        group->AutoSetFileSource(input.string());
        auto profile = factory.CreateProfile();
        profile->ContentType(kVideoOnly);
        profile->AddAudience(1000000);
        group->Profile(*profile);
        encoder->File().LocalFileName((folder / "out.wmv").string());
        encoder->Start();
    }
    dispatcher.runPending();
    EXPECT_EQ(events, 0);
    EXPECT_TRUE(readFacts((folder / "out.wmv").string()).video.present);
}

// ---- Errors

TEST(Encoder, SetUpErrorsCarryTheirNumbers) {
    const fs::path folder = testFolder();
    const fs::path wav = folder / "in.wav";
    writeClip(wav.string(),
              ClipSpec{"wav", AV_CODEC_ID_NONE, AV_CODEC_ID_PCM_S16LE, 0, 0, 25, 44100, 2, 1.0});

    Session s;
    auto video = s.group->AddSource(kVideo);
    EXPECT_EQ(errorOf([&] { video->SetInput((folder / "missing.avi").string()); }), errors::kInputOpenFailed);
    EXPECT_EQ(errorOf([&] { video->SetInput(wav.string()); }), errors::kNoSuchStream);
    EXPECT_EQ(errorOf([&] { video->ContentMode(1); }), errors::kInvalidArgument);
    EXPECT_EQ(errorOf([&] { s.group->AddSource(kVideo); }), errors::kInvalidArgument);
    EXPECT_EQ(errorOf([&] { s.group->Profile(); }), errors::kNoProfile);
    EXPECT_EQ(errorOf([&] { s.encoder().SourceGroupCollection().Remove("SG_2"); }), errors::kNotFound);

    Session t;
    auto audio = t.group->AddSource(kAudio);
    audio->SetInput(wav.string());
    EXPECT_EQ(audio->Duration(), 1000);
    EXPECT_EQ(errorOf([&] { t.encoder().PrepareToEncode(true); }), errors::kNoProfile);
    t.profile->ContentType(kVideoOnly);
    t.group->Profile(*t.profile);
    EXPECT_EQ(errorOf([&] { t.encoder().PrepareToEncode(true); }), errors::kProfileMismatch);
    t.useProfile();
    EXPECT_EQ(errorOf([&] { t.encoder().PrepareToEncode(true); }), errors::kNoOutput);
    t.encoder().File().LocalFileName((folder / "out.wma").string());
    audio->MarkOut(1500);
    EXPECT_EQ(errorOf([&] { t.encoder().PrepareToEncode(true); }), errors::kMarkOutBeyondLength);
    audio->MarkIn(800);
    audio->MarkOut(500);
    EXPECT_EQ(errorOf([&] { t.encoder().PrepareToEncode(true); }), errors::kBadMarks);
    audio->MarkOut(0);
    EXPECT_EQ(errorOf([&] { t.encoder().PrepareToEncode(true); }), 0u);
}

// ---- Codecs

struct CodecCase {
    int32_t type;
    int32_t wanted;
    int32_t used;
};

TEST(Encoder, CodecIdentifiersMapToTheNearestCodec) {
    EngineFactory factory;
    auto profile = factory.CreateProfile();
    for (const CodecCase& c :
         {CodecCase{kVideo, fourCC('W', 'M', 'V', '3'), kWmv2},
          CodecCase{kVideo, fourCC('M', 'S', 'S', '2'), kWmv2},
          CodecCase{kVideo, fourCC('W', 'M', 'V', '1'), fourCC('W', 'M', 'V', '1')},
          CodecCase{kVideo, fourCC('M', 'P', '4', 'S'), fourCC('M', 'P', '4', 'S')}, CodecCase{kVideo, 0, 0},
          CodecCase{kAudio, 0x162, 0x161}, CodecCase{kAudio, 0x163, 0x161}, CodecCase{kAudio, 0x00A, 0x161},
          CodecCase{kAudio, 0x161, 0x161}, CodecCase{kAudio, 0, 0}}) {
        const int32_t index = profile->GetCodecIndexFromFourCC(c.type, c.wanted);
        EXPECT_EQ(profile->GetCodecFourCCFromIndex(c.type, index), c.used) << std::hex << c.wanted;
        EXPECT_FALSE(
            (c.type == kAudio ? profile->EnumAudioCodec(index) : profile->EnumVideoCodec(index)).empty());
    }
    EXPECT_EQ(errorOf([&] { profile->GetCodecIndexFromFourCC(kVideo, fourCC('H', '2', '6', '4')); }),
              errors::kNotFound);
}

} // namespace

namespace {

// ---- Audio formats

struct AudioConfigCase {
    int32_t channels, rate, bitrate;
    int32_t usedChannels, usedRate, usedBitrate;
};

TEST(Profile, SetAudioConfigTakesTheNearestFormat) {
    EngineFactory factory;
    auto profile = factory.CreateProfile();
    auto audience = profile->AddAudience(1000000);
    auto& settings = dynamic_cast<Audience&>(*audience).settings();
    for (const AudioConfigCase& c :
         {AudioConfigCase{2, 44100, 64040, 2, 44100, 64000},
          AudioConfigCase{2, 32000, 48024, 2, 32000, 48000},
          // below what the codec can do: its least bit rate
          AudioConfigCase{1, 8000, 5000, 1, 8000, 24000}, AudioConfigCase{2, 22050, 20008, 2, 22050, 24000},
          // rates and channel counts it lacks
          AudioConfigCase{2, 96000, 128000, 2, 48000, 128000},
          AudioConfigCase{6, 44100, 192000, 2, 44100, 160000}}) {
        audience->SetAudioConfig(0, c.channels, c.rate, c.bitrate, 16);
        EXPECT_EQ(settings.audioFormat.Channels, c.usedChannels) << c.rate << " " << c.bitrate;
        EXPECT_EQ(settings.audioFormat.SampleRate, c.usedRate) << c.rate << " " << c.bitrate;
        EXPECT_EQ(settings.audioFormat.Bitrate, c.usedBitrate) << c.rate << " " << c.bitrate;
    }
}

TEST(Profile, AudioFormatListsFollowTheMode) {
    EngineFactory factory;
    auto profile = factory.CreateProfile();
    const int32_t wma = profile->GetCodecIndexFromFourCC(kAudio, 0x161);
    ASSERT_GT(profile->AudioFormatCount(wma), 0);
    bool has64k = false;
    for (int32_t i = 0; i < profile->AudioFormatCount(wma); ++i) {
        const AudioFormat f = profile->EnumAudioFormat(wma, i);
        EXPECT_GE(f.Bitrate, 24000);
        EXPECT_LE(f.SampleRate, 48000);
        has64k |= f.Bitrate == 64000 && f.SampleRate == 44100 && f.Channels == 2 && f.BitsPerSample == 16;
    }
    EXPECT_TRUE(has64k);
    profile->VBRMode(kAudio, 0, kQuality);
    for (int32_t i = 0; i < profile->AudioFormatCount(wma); ++i)
        EXPECT_LE(profile->EnumAudioFormat(wma, i).Bitrate, 100);
    EXPECT_EQ(errorOf([&] { profile->EnumAudioFormat(wma, profile->AudioFormatCount(wma)); }),
              errors::kInvalidArgument);
}

// ---- Profile files

TEST(Profile, SavedFileLoadsBackIdentical) {
    const fs::path folder = testFolder();
    EngineFactory factory;
    auto profile = factory.CreateProfile();
    profile->ProfileName("Name with <markup> & \"quotes\"");
    profile->ContentType(kAudioVideo);
    profile->VBRMode(kVideo, 0, kPeak);
    profile->NonSquarePixelMode(0, true);
    profile->MaxPacketSize(1500);
    auto a = profile->AddAudience(10000000);
    a->AudioCodec(0, profile->GetCodecIndexFromFourCC(kAudio, 0x161));
    a->SetAudioConfig(0, 1, 22050, 32000, 16);
    a->AudioPeakBitrate(0, 48000);
    a->VideoCodec(0, profile->GetCodecIndexFromFourCC(kVideo, fourCC('M', 'P', '4', 'S')));
    a->VideoBitrate(0, 302000);
    a->VideoWidth(0, 320);
    a->VideoHeight(0, 240);
    a->VideoFPS(0, 29970);
    a->VideoPeakBitrate(0, 453000);
    a->VideoImageSharpness(0, 50);
    a->Property(kVideo, 0, "DeviceConformanceTarget", "MP");
    const std::string path = (folder / "p.prx").string();
    profile->SaveToFile(path);

    auto loaded = factory.CreateProfile();
    loaded->LoadFromFile(path);
    EXPECT_TRUE(dynamic_cast<Profile&>(*loaded) == dynamic_cast<Profile&>(*profile));
    EXPECT_EQ(loaded->Audience(0)->Property(kVideo, 0, "DeviceConformanceTarget"), "MP");
}

TEST(Profile, DamagedFilesAreRefused) {
    const fs::path folder = testFolder();
    EngineFactory factory;
    auto profile = factory.CreateProfile();
    for (const char* text : {"", "not xml at all", "<profile version=\"1\" name=\"x\"", "<other/>",
                             "<profile version=\"1\" name=\"x\" contenttype=\"abc\"/>",
                             "<profile version=\"9\" name=\"x\" contenttype=\"17\"/>"}) {
        const fs::path path = folder / "bad.prx";
        std::ofstream(path, std::ios::binary) << text;
        EXPECT_EQ(errorOf([&] { profile->LoadFromFile(path.string()); }), errors::kBadProfileFile) << text;
    }
    EXPECT_EQ(errorOf([&] { profile->LoadFromFile((folder / "missing.prx").string()); }),
              errors::kBadProfileFile);
}

} // namespace

namespace {

// ---- Two passes

TEST(Encoder, TwoPassRunAnalysesTheVideoFirst) {
    const fs::path folder = testFolder();
    const fs::path input = folder / "in.avi";
    writeClip(input.string(),
              ClipSpec{"avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_PCM_S16LE, 160, 120, 25, 22050, 1, 3.0});

    EncodeJob job;
    job.video = StreamJob{};
    job.video->input = fileInput(input.string());
    job.audio = StreamJob{};
    job.audio->input = fileInput(input.string());
    job.audience.videoFps = 25000;
    job.audience.videoBitrate = 200000;
    job.audience.audioFormat = AudioFormat{"", 32000, 22050, 1, 16};
    job.outputPath = (folder / "pipeline.wmv").string();
    job.twoPass = true;
    Pipeline pipeline(job);
    pipeline.start();
    int64_t last = 0;
    bool restarted = false;
    while (pipeline.step()) {
        restarted |= pipeline.stats().mediaMs < last;
        last = pipeline.stats().mediaMs;
    }
    pipeline.finish();
    EXPECT_TRUE(restarted); // the media time starts again with the second pass
    FileFacts facts = readFacts(job.outputPath);
    EXPECT_EQ(facts.video.decoded, 75);
    EXPECT_TRUE(facts.audio.present);

    // The engine runs two passes for a video source with PreProcessPass 1; the events stay 2 then 5.
    Session s;
    s.group->AutoSetFileSource(input.string());
    s.group->Source(kVideo, 0)->PreProcessPass(1);
    s.audience->VideoFPS(0, 25000);
    s.useProfile();
    s.start(folder / "engine.wmv");
    ASSERT_TRUE(s.waitStopped());
    EXPECT_EQ(s.states, (std::vector<int32_t>{kRunning, kStopped}));
    facts = readFacts((folder / "engine.wmv").string());
    EXPECT_EQ(facts.video.decoded, 75);
    EXPECT_NEAR(s.encoder().Statistics().EncodingTime().value() * 10, 3.0, 0.1);
}

} // namespace

namespace {

// ---- The media-information object

TEST(MediaInfo, DescribesAFile) {
    const fs::path folder = testFolder();
    const fs::path input = folder / "in.avi";
    writeClip(input.string(),
              ClipSpec{"avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_PCM_S16LE, 160, 120, 25, 22050, 1, 1.0});
    EngineFactory factory;
    auto info = factory.CreateMediaInfo();
    info->FileName(input.string());
    EXPECT_EQ(info->FileName(), input.string());
    EXPECT_DOUBLE_EQ(info->FrameRate(), 25.0);
    const std::string text = info->MediaInfo();
    for (const char* part : {"mpeg4", "160x120", "22050 Hz", "Duration: 0:00:01.000", "\r\n"})
        EXPECT_NE(text.find(part), std::string::npos) << part << " in\n" << text;

    info->FileName((folder / "missing.avi").string());
    EXPECT_EQ(errorOf([&] { info->FrameRate(); }), errors::kInputOpenFailed);
}

} // namespace

namespace {

// ---- Session files

TEST(Session, LoadSetsUpARunnableEncoder) {
    const fs::path folder = testFolder();
    const fs::path input = folder / "in.avi";
    writeClip(input.string(),
              ClipSpec{"avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_PCM_S16LE, 160, 120, 25, 22050, 1, 2.0});
    EngineFactory factory;
    auto profile = factory.CreateProfile();
    profile->ContentType(kAudioVideo);
    profile->MaxPacketSize(2000);
    profile->AddAudience(1000000)->VideoFPS(0, 10000);
    const fs::path profilePath = folder / "p.prx";
    profile->SaveToFile(profilePath.string());
    std::ifstream profileFile(profilePath, std::ios::binary);
    std::string profileText((std::istreambuf_iterator<char>(profileFile)), std::istreambuf_iterator<char>());
    profileText.erase(0, profileText.find("<profile"));

    const fs::path output = folder / "out.wmv";
    const fs::path sessionPath = folder / "s.wme";
    std::ofstream(sessionPath, std::ios::binary)
        << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<session version=\"1\">\n"
        << "  <output file=\"" << output.string() << "\"/>\n"
        << "  <displayinfo title=\"From &quot;the&quot; session\" author=\"me\"/>\n"
        << "  <attribute name=\"CenterMix\" value=\"-2\"/>\n"
        << "  <sourcegroup name=\"SG_1\">\n"
        << "    <source type=\"1\" input=\"" << input.string() << "\" markin=\"500\"/>\n"
        << "    <source type=\"2\" input=\"" << input.string() << "\" markin=\"500\" preprocesspass=\"1\"/>\n"
        << profileText << "  </sourcegroup>\n</session>\n";

    Session s; // its own group "SG_1" is replaced by the file's
    s.encoder().Load(sessionPath.string());
    ASSERT_EQ(s.encoder().SourceGroupCollection().Count(), 1);
    auto group = s.encoder().SourceGroupCollection().Item(0);
    EXPECT_EQ(group->SourceCount(kAudio), 1);
    EXPECT_EQ(group->Source(kVideo, 0)->PreProcessPass(), 1);
    EXPECT_EQ(group->Profile()->MaxPacketSize(), 2000);
    EXPECT_EQ(s.encoder().File().LocalFileName(), output.string());
    EXPECT_EQ(s.encoder().DisplayInfo().Title(), "From \"the\" session");

    s.encoder().AutoStop(true);
    s.encoder().Start();
    ASSERT_TRUE(s.waitStopped());
    const FileFacts facts = readFacts(output.string());
    EXPECT_EQ(facts.video.decoded, 15);
    EXPECT_EQ(facts.metadata.at("title"), "From \"the\" session");
    EXPECT_EQ(facts.metadata.at("CenterMix"), "-2");

    std::ofstream(folder / "bad.wme", std::ios::binary) << "<session version=\"1\"><nonsense/></session>";
    EXPECT_EQ(errorOf([&] { s.encoder().Load((folder / "bad.wme").string()); }), errors::kBadSessionFile);
    EXPECT_EQ(errorOf([&] { s.encoder().Load((folder / "missing.wme").string()); }), errors::kBadSessionFile);
}

} // namespace
