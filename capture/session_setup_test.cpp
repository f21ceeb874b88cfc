#include "capture/session_setup.h"
#include "capture/setup_test_fixture.h"

#include <filesystem>
#include <functional>

namespace capture {
namespace {

using Calls = std::vector<std::string>;
using Change = std::function<void(EncodeOptions&)>;
namespace fs = std::filesystem;

#ifdef _WIN32
constexpr const char* kJoin = "\\\\";
#else
constexpr const char* kJoin = "//";
#endif

// The calls that build the session, without the profile's.
Calls sessionCalls(const std::vector<std::string>& calls) {
    Calls out;
    for (const std::string& c : calls) {
        if (!c.starts_with("Audience.") && !c.starts_with("Profile.") && !c.starts_with("GroupProfile.") &&
            !c.starts_with("SourceGroup.Profile("))
            out.push_back(c);
    }
    return out;
}

TEST_F(SetupTest, DefaultCommandCapturesScreenAndSound) {
    const std::string output = testFolder() + "/HVVIS/cap1.wmv";
    g_options.profileCode = "scrna";
    g_options.outputPath = output;
    g_options.duration = 30;
    ASSERT_TRUE(SetupEncoder());
    EXPECT_EQ(sessionCalls(world.calls),
              (Calls{"SourceGroupCollection.Add(\"SG_1\")", "SourceGroup.AddSource(2)",
                     "VideoSource.SetInput(\"screencap1\", \"screencap\")", "SourceGroup.AddSource(1)",
                     "AudioSource.SetInput(\"Default_Audio_Device\", \"device\")",
                     "File.LocalFileName(\"" + output + "\")", "Encoder.AutoStop(true)"}));
    EXPECT_EQ(g_contentType, encoder::kAudioVideo);
    EXPECT_TRUE(fs::is_directory(toPath(parentFolder(output))));
    EXPECT_EQ(g_options.outputPath, output);
    EXPECT_TRUE(fake::groupProfile(*g_objEncoder));
}

struct InputCase {
    const char* code;
    bool fileAudio, fileVideo;
    Calls calls; // "<input>" stands for the absolute input path
    bool audioOnly, videoOnly;
    int32_t contentType;
};

TEST_F(SetupTest, FileInputFollowsTheProfileCode) {
    const InputCase cases[] = {
        {"", true, true, {"SourceGroup.AutoSetFileSource(<input>)"}, false, false, encoder::kAudioVideo},
        {"av350", true, false, {"SourceGroup.AutoSetFileSource(<input>)"}, false, false, encoder::kAudioOnly},
        {"a20_1",
         true,
         true,
         {"SourceGroup.AddSource(1)", "AudioSource.SetInput(<input>, \"\")"},
         true,
         false,
         encoder::kAudioOnly},
        {"A64",
         true,
         true,
         {"SourceGroup.AddSource(1)", "AudioSource.SetInput(<input>, \"\")"},
         true,
         false,
         encoder::kAudioOnly},
        {"a",
         true,
         true,
         {"SourceGroup.AddSource(1)", "AudioSource.SetInput(<input>, \"\")"},
         true,
         false,
         encoder::kAudioOnly},
        {"v20",
         true,
         true,
         {"SourceGroup.AddSource(2)", "VideoSource.SetInput(<input>, \"\")"},
         false,
         true,
         encoder::kVideoOnly},
        // A screen code on a file adds the screen to the file's first video source.
        {"scrn",
         true,
         true,
         {"SourceGroup.AutoSetFileSource(<input>)", "SourceGroup.AddSource(2)",
          "VideoSource.SetInput(\"screencap1\", \"screencap\")"},
         false,
         false,
         encoder::kAudioVideo},
    };
    for (const auto& c : cases) {
        g_options = EncodeOptions{};
        g_options.inputPath = "clip.avi";
        g_options.profileCode = c.code;
        world.files.clear();
        addInput("clip.avi", c.fileAudio, c.fileVideo);
        prepareSources(false, false);
        g_contentType = 0;
        ui.info.clear();
        EXPECT_TRUE(SetupInput()) << c.code;
        Calls expected = c.calls;
        for (std::string& call : expected) {
            if (const size_t at = call.find("<input>"); at != std::string::npos)
                call.replace(at, 7, "\"" + absolutePath("clip.avi") + "\"");
        }
        EXPECT_EQ(world.calls, expected) << c.code;
        EXPECT_EQ(g_options.audioOnly, c.audioOnly) << c.code;
        EXPECT_EQ(g_options.videoOnly, c.videoOnly) << c.code;
        EXPECT_EQ(g_contentType, c.contentType) << c.code;
        EXPECT_EQ(messages(), Calls{}) << c.code;
    }
}

TEST_F(SetupTest, AudioOnlyStaysForLaterCommands) {
    g_options.inputPath = addInput("clip.avi");
    g_options.profileCode = "a20_1";
    prepareSources(false, false);
    ASSERT_TRUE(SetupInput());
    g_options.profileCode = "av350";
    prepareSources(false, false);
    ASSERT_TRUE(SetupInput());
    EXPECT_EQ(world.calls, (Calls{"SourceGroup.AddSource(1)",
                                  "AudioSource.SetInput(\"" + absolutePath("clip.avi") + "\", \"\")"}));
    EXPECT_FALSE(g_objVideoSource);
}

TEST_F(SetupTest, FileInputFailuresAreSkippedAndReportedAtTheEnd) {
    // A missing input.
    g_options.inputPath = "missing.avi";
    g_options.pixelFormat = "YUY2";
    prepareSources(false, false);
    EXPECT_FALSE(SetupInput());
    EXPECT_EQ(messages(), Calls{"Error: 0x80040200 - The input cannot be opened."});
    EXPECT_FALSE(g_objAudioSource);
    EXPECT_FALSE(g_objVideoSource);

    // A failing source setting: the next settings are still made.
    ui.info.clear();
    g_options.inputPath = addInput("clip.avi");
    g_options.videoPreprocess = 5;
    g_options.clipLeft = 8;
    world.fail("VideoSource.Optimization", 0x80070057);
    prepareSources(false, false);
    EXPECT_FALSE(SetupInput());
    EXPECT_EQ(messages(), Calls{"Error: 0x80070057 - Fake failure"});
    EXPECT_EQ(callsStartingWith({"VideoSource."}),
              (Calls{"VideoSource.Optimization(3)", "VideoSource.PixelFormat(844715353)",
                     "VideoSource.CroppingLeftMargin(8)"}));

    // SetupEncoder stops there: no profile is built.
    ui.info.clear();
    EXPECT_FALSE(SetupEncoder());
    EXPECT_EQ(callsStartingWith({"SourceGroup.Profile(", "File.", "Encoder.AutoStop"}), Calls{});
}

TEST_F(SetupTest, DeviceAndScreenFailuresGoUp) {
    world.plugins = {{"Sound", true, 1, {"mic0"}}};
    world.fail("AudioSource.SetInput", 0x80004001);
    g_options.audioDevice = 0;
    prepareSources(false, false);
    EXPECT_THROW(SetupInput(), encoder::EncoderError);

    g_options = EncodeOptions{};
    g_options.profileCode = "scrn";
    world.fail("VideoSource.SetInput", 0x80004001);
    prepareSources(false, false);
    EXPECT_THROW(SetupInput(), encoder::EncoderError);
}

struct DeviceCase {
    int32_t type;
    int number;
    const char* name; // "" when there is none
};

TEST_F(SetupTest, DevicesAreCountedAcrossThePlugins) {
    world.plugins = {
        {"Sound", true, 1, {"mic0", "mic1"}}, {"Idle", false, 3, {"idle"}}, {"Card", true, 3, {"card"}},
        {"Camera", true, 2, {"cam"}},         {"Screen", true, 6, {"scr"}}, {"Other", true, 4, {"other"}},
    };
    const DeviceCase cases[] = {
        {encoder::kAudio, 0, "mic0"}, {encoder::kAudio, 1, "mic1"}, {encoder::kAudio, 2, "card"},
        {encoder::kAudio, 3, ""},     {encoder::kVideo, 0, "card"}, {encoder::kVideo, 1, "cam"},
        {encoder::kVideo, 2, "scr"},  {encoder::kVideo, 3, ""},     {encoder::kAudio, -1, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetDeviceNameFromIndex(c.type, c.number), c.name) << c.type << " " << c.number;
}

struct CaptureCase {
    Change change;
    bool ok;
    Calls calls;
    Calls messages;
};

TEST_F(SetupTest, DeviceCaptures) {
    world.plugins = {{"Sound", true, 1, {"mic0"}}, {"Camera", true, 2, {"cam0", "cam1"}}};
    const CaptureCase cases[] = {
        {[](EncodeOptions& o) { o.audioDevice = 5; },
         false,
         {},
         {"Error: Invalid audio device number specified"}},
        {[](EncodeOptions& o) { o.videoDevice = 2; },
         false,
         {},
         {"Error: Invalid video device number specified"}},
        // The audio device is attached before the video number is found wrong.
        {[](EncodeOptions& o) {
             o.audioDevice = 0;
             o.videoDevice = 9;
         },
         false,
         {"SourceGroup.AddSource(1)", "AudioSource.SetInput(\"mic0\", \"device\")"},
         {"Error: Invalid video device number specified"}},
        {[](EncodeOptions& o) {
             o.audioDevice = 0;
             o.videoDevice = 1;
         },
         true,
         {"SourceGroup.AddSource(1)", "AudioSource.SetInput(\"mic0\", \"device\")",
          "SourceGroup.AddSource(2)", "VideoSource.SetInput(\"cam1\", \"device\")"},
         {}},
    };
    for (const auto& c : cases) {
        g_options = EncodeOptions{};
        c.change(g_options);
        prepareSources(false, false);
        ui.info.clear();
        EXPECT_EQ(SetupInput(), c.ok);
        EXPECT_EQ(world.calls, c.calls);
        EXPECT_EQ(messages(), c.messages);
    }
}

TEST_F(SetupTest, DeviceCaptureNeedsADuration) {
    world.plugins = {{"Sound", true, 1, {"mic0"}}};
    g_options.audioDevice = 0;
    g_options.captureDevices = true;
    g_options.profileCode = "a64";
    EXPECT_FALSE(SetupEncoder());
    EXPECT_EQ(messages(), Calls{"Duration must be specified when capturing from devices."});

    // A duration left by an earlier file run passes.
    ui.info.clear();
    g_options.duration = 12.5;
    g_objEncoder = factory.CreateEncoder(dispatcher);
    releaseRunObjects();
    EXPECT_TRUE(SetupEncoder());
    EXPECT_EQ(messages(), Calls{});
}

TEST_F(SetupTest, PreprocessingModesGiveTheirOptimization) {
    const std::pair<int, int32_t> cases[] = {
        {-1, -1}, {0, 1},   {1, 2},    {2, 2},  {3, 2},       {4, 2},       {5, 3},   {6, 35},
        {7, 51},  {10, 99}, {15, 179}, {16, 4}, {17, 0x2004}, {18, 0x3004}, {19, -1},
    };
    for (const auto& [mode, optimization] : cases) {
        g_options = EncodeOptions{};
        g_options.inputPath = addInput("clip.avi");
        g_options.videoPreprocess = mode;
        prepareSources(false, false);
        ui.info.clear();
        EXPECT_TRUE(SetupInput()) << mode;
        EXPECT_EQ(callsStartingWith({"VideoSource.Optimization"}),
                  optimization == -1
                      ? Calls{}
                      : Calls{"VideoSource.Optimization(" + std::to_string(optimization) + ")"})
            << mode;
        const bool unsupported = mode >= 2 && mode <= 4;
        EXPECT_EQ(messages(), unsupported
                                  ? Calls{"Preprocessing mode not supported. Use -height and -width to "
                                          "adjust video size."}
                                  : Calls{})
            << mode;
    }
}

TEST_F(SetupTest, PixelFormatsByName) {
    const std::pair<const char*, uint32_t> cases[] = {
        {"I420", 0x30323449},
        {"IYUV", 0x56555949},
        {"YV12", 0x32315659},
        {"yuy2", 0x32595559},
        {"UYVY", 0x59565955},
        {"YVYU", 0x55595659},
        {"YVU9", 0x39555659},
        {"RGB24", 0xE436EB7D},
        {"rgb32", 0xE436EB7E},
        {"RGB555", 0xE436EB7C},
        {"RGB565", 0xE436EB7B},
        {"RGB8", 0xE436EB7A},
        {"NV12", 0},
        {"", 0},
    };
    for (const auto& [name, value] : cases) {
        g_options = EncodeOptions{};
        g_options.inputPath = addInput("clip.avi");
        g_options.pixelFormat = name;
        prepareSources(false, false);
        EXPECT_TRUE(SetupInput()) << name;
        EXPECT_EQ(callsStartingWith({"VideoSource.PixelFormat"}),
                  value == 0
                      ? Calls{}
                      : Calls{"VideoSource.PixelFormat(" + std::to_string(static_cast<int32_t>(value)) + ")"})
            << name;
    }
}

TEST_F(SetupTest, SourceSettingsInOrder) {
    EncodeOptions& o = g_options;
    o.inputPath = addInput("clip.avi");
    o.audioContentMode = 1;
    o.audioContentEdl = "edl";
    o.videoPreprocess = 0;
    o.pixelFormat = "I420";
    o.pixelRatioX = 4;
    o.pixelRatioY = 3;
    o.videoPerformance = 60;
    o.clipLeft = 1;
    o.clipTop = 2;
    o.clipRight = 3;
    o.clipBottom = 4;
    prepareSources(false, false);
    EXPECT_TRUE(SetupInput());
    EXPECT_EQ(world.calls, (Calls{"SourceGroup.AutoSetFileSource(\"" + absolutePath("clip.avi") + "\")",
                                  "AudioSource.ContentMode(1)", "AudioSource.ContentEDL(\"edl\")",
                                  "VideoSource.Optimization(1)", "VideoSource.PixelFormat(808596553)",
                                  "VideoSource.PixelAspectRatioX(4)", "VideoSource.PixelAspectRatioY(3)",
                                  "Encoder.VideoComplexity(60)", "VideoSource.CroppingLeftMargin(1)",
                                  "VideoSource.CroppingRightMargin(3)", "VideoSource.CroppingTopMargin(2)",
                                  "VideoSource.CroppingBottomMargin(4)"}));
}

struct OutputCase {
    const char* name;
    Change change;      // on a record whose input is clip.avi with audio and video
    bool video;         // the group has a video source
    std::string output; // "<dir>" stands for the test's folder
};

TEST_F(SetupTest, OutputNamesAndFolders) {
    const std::string dir = testFolder();
    const OutputCase cases[] = {
        {"folder", [&](EncodeOptions& o) { o.outputPath = dir; }, true,
         "<dir>" + std::string(kJoin) + "clip.wmv"},
        {"folder, audio", [&](EncodeOptions& o) { o.outputPath = dir; }, false,
         "<dir>" + std::string(kJoin) + "clip.wma"},
        {"folder, capture",
         [&](EncodeOptions& o) {
             o.outputPath = dir;
             o.inputPath.clear();
         },
         true, "<dir>" + std::string(kJoin) + "output.wmv"},
        {"final dot", [&](EncodeOptions& o) { o.outputPath = dir + "/x."; }, true, "<dir>/x.wmv"},
        {"no extension", [&](EncodeOptions& o) { o.outputPath = dir + "/x"; }, false, "<dir>/x.wma"},
        {"extension kept", [&](EncodeOptions& o) { o.outputPath = dir + "/x.asf"; }, true, "<dir>/x.asf"},
        {"dotted name", [&](EncodeOptions& o) { o.outputPath = dir + "/my.clip_lo."; }, true,
         "<dir>/my.clip_lo.wmv"},
        {"new folders", [&](EncodeOptions& o) { o.outputPath = dir + "/a/b/c.wmv"; }, true,
         "<dir>/a/b/c.wmv"},
    };
    for (const auto& c : cases) {
        g_options = EncodeOptions{};
        g_options.inputPath = "clip.avi";
        c.change(g_options);
        prepareSources(true, c.video);
        EXPECT_TRUE(SetupOutput()) << c.name;
        std::string expected = c.output;
        expected.replace(0, 5, dir);
        EXPECT_EQ(g_options.outputPath, expected) << c.name;
        EXPECT_EQ(world.calls, Calls{"File.LocalFileName(\"" + expected + "\")"}) << c.name;
        EXPECT_TRUE(fs::is_directory(toPath(parentFolder(absolutePath(expected))))) << c.name;
    }
}

TEST_F(SetupTest, OutputThatCannotBeCreatedGoesUp) {
    const std::string dir = testFolder();
    writeTextFile(dir + "/file", "");
    g_options.outputPath = dir + "/file/x.wmv";
    prepareSources(true, true);
    EXPECT_THROW(SetupOutput(), fs::filesystem_error);
}

struct NetworkCase {
    Change change;
    Calls calls;
};

TEST_F(SetupTest, BroadcastAndPush) {
    const NetworkCase cases[] = {
        {[](EncodeOptions& o) { o.broadcastPort = 8080; }, {"Broadcast.PortNumber(1, 8080)"}},
        {[](EncodeOptions& o) {
             o.pushServer = "srv:80";
             o.pushPublishingPoint = "pp";
         },
         {"Broadcast.ServerName(\"srv:80\")", "Broadcast.PublishingPoint(\"pp\")"}},
        {[](EncodeOptions& o) {
             o.broadcastPort = 9000;
             o.pushServer = "srv";
             o.pushPublishingPoint = "pp";
             o.pushTemplate = "tpl";
         },
         {"Broadcast.PortNumber(1, 9000)", "Broadcast.ServerName(\"srv\")",
          "Broadcast.PublishingPoint(\"pp\")", "Broadcast.Template(\"tpl\")"}},
    };
    for (const auto& c : cases) {
        g_options = EncodeOptions{};
        c.change(g_options);
        prepareSources(true, true);
        EXPECT_TRUE(SetupOutput());
        EXPECT_EQ(world.calls, c.calls);
        EXPECT_EQ(g_options.outputPath, "");
    }
}

TEST_F(SetupTest, SessionFileSuppliesGroupProfileAndOutput) {
    fake::ProfileData profile{"Session", {{"MaxPacketSize", 1400}}, {{{"AudioCodec", 1}, {"VideoCodec", 2}}}};
    world.sessions[absolutePath("s.wme")] = {true, true, profile, "from-session.wmv"};
    g_options.sessionFile = "s.wme";
    ASSERT_TRUE(CreateSourceGroup());
    EXPECT_EQ(world.calls, (Calls{"Encoder.Load(\"" + absolutePath("s.wme") + "\")",
                                  "Profile.LoadFromIWMProfile(\"Session\")"}));
    EXPECT_TRUE(g_objAudioSource);
    EXPECT_TRUE(g_objVideoSource);
    EXPECT_EQ(g_audioCodecName, "Audio codec 352");
    EXPECT_EQ(g_videoCodecName, "Video codec " + std::to_string(0x5334504D));
    EXPECT_EQ(g_options.maxPacket, 1400);
    EXPECT_FALSE(g_needProfileDefaults);

    // The run goes on with the session's profile and output; a given -maxpacket is kept.
    world.calls.clear();
    g_options.maxPacket = 500;
    g_objEncoder = factory.CreateEncoder(dispatcher);
    releaseRunObjects();
    ASSERT_TRUE(SetupEncoder());
    EXPECT_EQ(g_options.maxPacket, 500);
    EXPECT_EQ(g_options.outputPath, "from-session.wmv");
    EXPECT_EQ(callsStartingWith({"SourceGroup.Profile(", "GroupProfile."}),
              (Calls{"SourceGroup.Profile(\"Session\")", "GroupProfile.MaxPacketSize(500)"}));
}

TEST_F(SetupTest, SessionFileThatFailsToLoad) {
    g_options.sessionFile = "missing.wme";
    EXPECT_FALSE(CreateSourceGroup());
    EXPECT_EQ(messages(), Calls{"Loading the session (.wme) file failed: missing.wme"});
    EXPECT_EQ(g_options.maxPacket, -1);

    // A session whose group has no profile.
    ui.info.clear();
    world.sessions[absolutePath("s.wme")] = {};
    world.fail("SourceGroup.Profile?", 0x80040204);
    g_options.sessionFile = "s.wme";
    g_objEncoder = factory.CreateEncoder(dispatcher);
    EXPECT_FALSE(SetupEncoder());
    EXPECT_EQ(messages(), Calls{"Loading the session (.wme) file failed: s.wme"});
}

TEST_F(SetupTest, MarksOnEverySourcePresent) {
    g_options.markIn = 5000;
    g_options.markOut = 10000;
    prepareSources(true, true);
    EXPECT_TRUE(SetupTime());
    EXPECT_EQ(world.calls, (Calls{"AudioSource.MarkIn(5000)", "VideoSource.MarkIn(5000)",
                                  "AudioSource.MarkOut(10000)", "VideoSource.MarkOut(10000)"}));
    g_options.markIn = -1;
    g_options.markOut = 0;
    prepareSources(false, true);
    EXPECT_TRUE(SetupTime());
    EXPECT_EQ(world.calls, Calls{"VideoSource.MarkOut(0)"});
}

TEST_F(SetupTest, DisplayInformationAndFoldDown) {
    EncodeOptions& o = g_options;
    o.title = "T";
    o.author = "A";
    o.copyright = "C";
    o.description = "D";
    o.rating = "R";
    o.foldDownSurround = 3;
    o.foldDownCenter = 4;
    o.foldDownLfe = 0;
    EXPECT_TRUE(SetupDisplayInfo());
    EXPECT_EQ(world.calls, (Calls{"DisplayInfo.Title(\"T\")", "DisplayInfo.Author(\"A\")",
                                  "DisplayInfo.Copyright(\"C\")", "DisplayInfo.Description(\"D\")",
                                  "DisplayInfo.Rating(\"R\")", "Attributes.Add(\"SurroundMix\", -3)",
                                  "Attributes.Add(\"CenterMix\", -4)", "Attributes.Add(\"LFEMix\", 0)"}));
    world.calls.clear();
    g_options = EncodeOptions{};
    g_options.author = "A";
    EXPECT_TRUE(SetupDisplayInfo());
    EXPECT_EQ(world.calls, Calls{"DisplayInfo.Author(\"A\")"});
}

struct TranscodeCase {
    const char* name;
    std::function<void(fake::FakeWorld&)> plan;
    bool started;
    Calls calls;
    Calls messages;
    bool beforeStartRan;
};

TEST_F(SetupTest, TranscodePreparesRetriesAndStarts) {
    const TranscodeCase cases[] = {
        {"plain",
         [](fake::FakeWorld&) {},
         true,
         {"Encoder.PrepareToEncode(true)", "Encoder.Start()"},
         {},
         true},
        {"mark-out beyond the end",
         [](fake::FakeWorld& w) { w.fail("Encoder.PrepareToEncode", 0xC00D1B59, 1); },
         true,
         {"Encoder.PrepareToEncode(true)", "AudioSource.MarkOut(0)", "VideoSource.MarkOut(0)",
          "Encoder.PrepareToEncode(true)", "Encoder.Start()"},
         {},
         true},
        {"retry fails too",
         [](fake::FakeWorld& w) {
             w.fail("Encoder.PrepareToEncode", 0xC00D1B59, 1);
             w.fail("Encoder.PrepareToEncode", 0x8004020B, 1);
         },
         false,
         {"Encoder.PrepareToEncode(true)", "AudioSource.MarkOut(0)", "VideoSource.MarkOut(0)",
          "Encoder.PrepareToEncode(true)", "Encoder.Start()"},
         {"Start encoder failed with error -2147220981 Fake failure"},
         true},
        {"prepare fails",
         [](fake::FakeWorld& w) { w.fail("Encoder.PrepareToEncode", 0x80040203); },
         false,
         {"Encoder.PrepareToEncode(true)"},
         {"Prepare to encode failed with error -2147220989 Fake failure"},
         false},
        {"start fails",
         [](fake::FakeWorld& w) { w.fail("Encoder.Start", 0x80040208); },
         false,
         {"Encoder.PrepareToEncode(true)", "Encoder.Start()"},
         {"Start encoder failed with error -2147220984 Fake failure"},
         true},
    };
    for (const auto& c : cases) {
        world = fake::FakeWorld();
        c.plan(world);
        prepareSources(true, true);
        ui.info.clear();
        g_startTime = {};
        int beforeStart = 0;
        EXPECT_EQ(Transcode([&] { ++beforeStart; }), c.started) << c.name;
        EXPECT_EQ(world.calls, c.calls) << c.name;
        EXPECT_EQ(messages(), c.messages) << c.name;
        EXPECT_EQ(beforeStart, c.beforeStartRan ? 1 : 0) << c.name;
        EXPECT_EQ(g_startTime != std::chrono::system_clock::time_point{}, c.started) << c.name;
    }
}

} // namespace
} // namespace capture
