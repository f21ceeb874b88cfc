#include "capture/test_fixture.h"

#include <functional>

namespace capture {
namespace {

using Words = std::vector<std::string>;
using Change = std::function<void(EncodeOptions&)>;

TEST(SplitCommand, SplitsAtEverySingleBlank) {
    const std::pair<const char*, Words> cases[] = {
        {"", {}},
        {"-devices", {"-devices"}},
        {"-input a.wmv", {"-input", "a.wmv"}},
        {"-input  a.wmv", {"-input", "", "a.wmv"}},
        {" -input", {"", "-input"}},
        {"-input ", {"-input", ""}},
        {"-title\ta b", {"-title\ta", "b"}},
    };
    for (const auto& [text, words] : cases)
        EXPECT_EQ(SplitCommand(text), words) << '"' << text << '"';
}

TEST_F(FrontEndTest, OutputInfoEndsEachLineAndScrolls) {
    OutputInfo("first");
    OutputInfo("");
    EXPECT_EQ(ui.info, "first\r\n\r\n");
    EXPECT_EQ(ui.scrolls, 2);
    setUserInterface(nullptr);
    OutputInfo("nowhere");
    EXPECT_EQ(ui.info, "first\r\n\r\n");
}

struct ConversionCase {
    const char* text;
    int value; // -1: refused
};

TEST_F(FrontEndTest, ConvertStringToIntegerRoundsHalvesToEven) {
    const ConversionCase cases[] = {
        {"0", 0},
        {"42", 42},
        {"007", 7},
        {"+7", 7},
        {" 12 ", 12},
        {"\t12", 12},
        {"2.5", 2},
        {"3.5", 4},
        {"2.51", 3},
        {"2.4999", 2},
        {".5", 0},
        {"1.", 1},
        {"0.5000", 0},
        {"2147483647", 2147483647},
        {"2147483646.5", 2147483646},
        {"2147483647.5", -1},
        {"2147483648", -1},
        {"99999999999999999999", -1},
        {"", -1},
        {" ", -1},
        {".", -1},
        {"+", -1},
        {"-5", -1},
        {"1e3", -1},
        {"0x10", -1},
        {"1,000", -1},
        {"12a", -1},
        {"1.2.3", -1},
        {"end", -1},
    };
    for (const auto& c : cases) {
        ui.info.clear();
        EXPECT_EQ(ConvertStringToInteger(c.text), c.value) << '"' << c.text << '"';
        std::vector<std::string> expected;
        if (c.value == -1)
            expected.push_back(std::string("Invalid format ") + c.text + " expecting integer value");
        EXPECT_EQ(messages(), expected) << '"' << c.text << '"';
    }
}

TEST_F(FrontEndTest, ReadersCheckTheValueWordFirst) {
    const Words words = {"-opt", "7", "-next", "", "x"};
    const char* const invalidFormat = "Invalid format for parameter -opt";
    const struct {
        std::size_t valueIndex;
        std::string text;
        int integer;
        float decimal;
        std::vector<std::string> integerMessages;
    } cases[] = {
        {1, "7", 7, 7.0f, {}},
        {2, "", -1, -1, {invalidFormat}},
        {5, "", -1, -1, {invalidFormat}},
        // An empty word is a value word: empty text, and a number that is no number.
        {3, "", -1, -1, {"Expect integer value for parameter -opt"}},
    };
    for (const auto& c : cases) {
        ui.info.clear();
        EXPECT_EQ(ReadString(words, 0, c.valueIndex), c.text) << c.valueIndex;
        ui.info.clear();
        EXPECT_EQ(ReadInteger(words, 0, c.valueIndex), c.integer) << c.valueIndex;
        EXPECT_EQ(messages(), c.integerMessages) << c.valueIndex;
        EXPECT_EQ(ReadFloat(words, 0, c.valueIndex), c.decimal) << c.valueIndex;
    }
    ui.info.clear();
    EXPECT_EQ(ReadFloat(words, 0, 4), -1);
    EXPECT_EQ(messages(), Words{"Expect float value for parameter -opt"});
}

struct GoodCase {
    const char* command;
    Change change;
};

void PrintTo(const GoodCase& c, std::ostream* os) {
    *os << '"' << c.command << '"';
}

class GoodCommand : public FrontEndTest, public testing::WithParamInterface<GoodCase> {};

TEST_P(GoodCommand, FillsTheRecord) {
    EncodeOptions expected;
    GetParam().change(expected);
    EXPECT_TRUE(parse(GetParam().command));
    EXPECT_EQ(g_options, expected);
    EXPECT_EQ(messages(), Words{});
}

// Every option of the language with good values.
INSTANTIATE_TEST_SUITE_P(
    Options, GoodCommand,
    testing::Values(GoodCase{"-wme live.wme",
                             [](auto& o) {
                                 o.sessionFile = "live.wme";
                             }},
                    GoodCase{"-input clip.avi -silent",
                             [](auto& o) {
                                 o.inputPath = "clip.avi";
                             }},
                    GoodCase{"-audioonly -videoonly",
                             [](auto& o) {
                                 o.audioOnly = true;
                                 o.videoOnly = true;
                             }},
                    GoodCase{"-adevice 2",
                             [](auto& o) {
                                 o.captureDevices = true;
                                 o.audioDevice = 2;
                             }},
                    GoodCase{"-vdevice 1",
                             [](auto& o) {
                                 o.captureDevices = true;
                                 o.videoDevice = 1;
                             }},
                    GoodCase{"-adevice -vdevice 1",
                             [](auto& o) {
                                 o.captureDevices = true;
                                 o.audioDevice = 0;
                                 o.videoDevice = 1;
                             }},
                    GoodCase{"-profile scrna -vdevice",
                             [](auto& o) {
                                 o.profileCode = "scrna";
                                 o.captureDevices = true;
                                 o.videoDevice = 0;
                             }},
                    GoodCase{"-profile AV350",
                             [](auto& o) {
                                 o.profileCode = "AV350";
                             }},
                    GoodCase{"-a_mode 2",
                             [](auto& o) {
                                 o.audioMode = 2;
                             }},
                    GoodCase{"-a_codec wma9pro",
                             [](auto& o) {
                                 o.audioCodec = "WMA9PRO";
                             }},
                    GoodCase{"-a_setting q90_44_2",
                             [](auto& o) {
                                 o.audioSetting = "q90_44_2";
                             }},
                    GoodCase{"-a_peakbitrate 96000 -a_peakbuffer 3000",
                             [](auto& o) {
                                 o.audioPeakBitrate = 96000;
                                 o.audioPeakBuffer = 3000;
                             }},
                    GoodCase{"-a_content 2",
                             [](auto& o) {
                                 o.audioContentMode = 2;
                             }},
                    GoodCase{"-a_content 0",
                             [](auto& o) {
                                 o.audioContentMode = 0;
                             }},
                    GoodCase{"-a_contentedl show.txt",
                             [](auto& o) {
                                 o.audioContentEdl = "show.txt";
                             }},
                    GoodCase{"-a_folddown6to2 3 4 5",
                             [](auto& o) {
                                 o.foldDownSurround = 3;
                                 o.foldDownCenter = 4;
                                 o.foldDownLfe = 5;
                             }},
                    GoodCase{"-v_mode 4",
                             [](auto& o) {
                                 o.videoMode = 4;
                             }},
                    GoodCase{"-v_codec Wmv9",
                             [](auto& o) {
                                 o.videoCodec = "WMV9";
                             }},
                    GoodCase{"-v_bitrate 500000 -v_buffer 5000",
                             [](auto& o) {
                                 o.videoBitrate = 500000;
                                 o.videoBuffer = 5000;
                             }},
                    GoodCase{"-v_width 320 -v_height 240",
                             [](auto& o) {
                                 o.videoWidth = 320;
                                 o.videoHeight = 240;
                             }},
                    GoodCase{"-v_framerate 29.97",
                             [](auto& o) {
                                 o.videoFrameRate = 29970;
                             }},
                    GoodCase{"-v_framerate 15",
                             [](auto& o) {
                                 o.videoFrameRate = 15000;
                             }},
                    GoodCase{"-v_keydist 10",
                             [](auto& o) {
                                 o.videoKeyDistance = 10000;
                             }},
                    GoodCase{"-v_keydist 2147483",
                             [](auto& o) {
                                 o.videoKeyDistance = 2147483000;
                             }},
                    GoodCase{"-v_quality 75",
                             [](auto& o) {
                                 o.videoQuality = 75;
                             }},
                    GoodCase{"-v_peakbitrate 750000 -v_peakbuffer 4000",
                             [](auto& o) {
                                 o.videoPeakBitrate = 750000;
                                 o.videoPeakBuffer = 4000;
                             }},
                    GoodCase{"-v_performance 0",
                             [](auto& o) {
                                 o.videoPerformance = 0;
                             }},
                    GoodCase{"-v_performance 80",
                             [](auto& o) {
                                 o.videoPerformance = 80;
                             }},
                    GoodCase{"-v_performance 100",
                             [](auto& o) {
                                 o.videoPerformance = 100;
                             }},
                    GoodCase{"-v_preproc 0",
                             [](auto& o) {
                                 o.videoPreprocess = 0;
                             }},
                    GoodCase{"-v_preproc 18",
                             [](auto& o) {
                                 o.videoPreprocess = 18;
                             }},
                    GoodCase{"-pixelformat yuy2",
                             [](auto& o) {
                                 o.pixelFormat = "yuy2";
                             }},
                    GoodCase{"-pixelratio 10 11",
                             [](auto& o) {
                                 o.pixelRatioX = 10;
                                 o.pixelRatioY = 11;
                             }},
                    GoodCase{"-v_clip 1 2 3 4",
                             [](auto& o) {
                                 o.clipLeft = 1;
                                 o.clipTop = 2;
                                 o.clipRight = 3;
                                 o.clipBottom = 4;
                             }},
                    GoodCase{"-v_profile mp",
                             [](auto& o) {
                                 o.videoProfile = "MP";
                             }},
                    GoodCase{"-output b.wmv -outputstring _lo",
                             [](auto& o) {
                                 o.outputPath = "b.wmv";
                                 o.outputString = "_lo";
                             }},
                    GoodCase{"-broadcast 8081",
                             [](auto& o) {
                                 o.broadcastPort = 8081;
                             }},
                    GoodCase{"-output b.wmv -broadcast",
                             [](auto& o) {
                                 o.outputPath = "b.wmv";
                                 o.broadcastPort = 8080;
                             }},
                    GoodCase{"-broadcast -silent",
                             [](auto& o) {
                                 o.broadcastPort = 8080;
                             }},
                    GoodCase{"-push server point",
                             [](auto& o) {
                                 o.pushServer = "server";
                                 o.pushPublishingPoint = "point";
                             }},
                    GoodCase{"-push server point template",
                             [](auto& o) {
                                 o.pushServer = "server";
                                 o.pushPublishingPoint = "point";
                                 o.pushTemplate = "template";
                             }},
                    GoodCase{"-push server point -silent",
                             [](auto& o) {
                                 o.pushServer = "server";
                                 o.pushPublishingPoint = "point";
                             }},
                    GoodCase{"-time 5000 end",
                             [](auto& o) {
                                 o.markIn = 5000;
                                 o.markOut = 0;
                             }},
                    GoodCase{"-time 5000 10000",
                             [](auto& o) {
                                 o.markIn = 5000;
                                 o.markOut = 10000;
                             }},
                    GoodCase{"-duration 30",
                             [](auto& o) {
                                 o.duration = 30;
                             }},
                    GoodCase{"-silent -silent",
                             [](auto&) {
                             }},
                    GoodCase{"-title t -author a -copyright c -description d -rating r",
                             [](auto& o) {
                                 o.title = "t";
                                 o.author = "a";
                                 o.copyright = "c";
                                 o.description = "d";
                                 o.rating = "r";
                             }},
                    GoodCase{"-saveprofile out.prx -loadprofile in.prx",
                             [](auto& o) {
                                 o.saveProfileFile = "out.prx";
                                 o.loadProfileFile = "in.prx";
                             }},
                    GoodCase{"-verbose 3 -silent",
                             [](auto&) {
                             }},
                    GoodCase{"-maxpacket 1500 -minpacket 100",
                             [](auto& o) {
                                 o.maxPacket = 1500;
                                 o.minPacket = 100;
                             }},
                    // Names in any case; values as typed.
                    GoodCase{"-OUTPUT B.WMV -V_Bitrate 7",
                             [](auto& o) {
                                 o.outputPath = "B.WMV";
                                 o.videoBitrate = 7;
                             }},
                    // A later value overwrites an earlier one.
                    GoodCase{"-v_bitrate 1 -v_bitrate 2",
                             [](auto& o) {
                                 o.videoBitrate = 2;
                             }},
                    GoodCase{"-v_bitrate 2.5 -v_width 3.5",
                             [](auto& o) {
                                 o.videoBitrate = 2;
                                 o.videoWidth = 4;
                             }},
                    // A single word that is no information command is an ordinary command.
                    GoodCase{"-audioonly", [](auto& o) {
                                 o.audioOnly = true;
                             }}));

TEST_F(FrontEndTest, EveryCodecNameInAnyCase) {
    for (std::string_view name : kAudioCodecNames) {
        std::string lower(name);
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_TRUE(parse("-a_codec " + lower)) << name;
        EXPECT_EQ(g_options.audioCodec, name);
    }
    for (std::string_view name : kVideoCodecNames) {
        EXPECT_TRUE(parse("-v_codec " + std::string(name))) << name;
        EXPECT_EQ(g_options.videoCodec, name);
    }
    EXPECT_EQ(messages(), Words{});
}

struct BadCase {
    std::string command;
    Words messages;
    Change change = [](EncodeOptions&) {
    }; // what was read before the failure
};

void PrintTo(const BadCase& c, std::ostream* os) {
    *os << '"' << c.command << '"';
}

class BadCommand : public FrontEndTest, public testing::WithParamInterface<BadCase> {};

TEST_P(BadCommand, FailsWithItsMessage) {
    EncodeOptions expected;
    GetParam().change(expected);
    EXPECT_FALSE(parse(GetParam().command));
    EXPECT_EQ(messages(), GetParam().messages);
    EXPECT_EQ(g_options, expected);
    EXPECT_EQ(commands.calls, Words{});
}

INSTANTIATE_TEST_SUITE_P(
    Values, BadCommand,
    testing::Values(
        BadCase{"-output -title x", {"Invalid format for parameter -output"}},
        BadCase{"-v_bitrate abc", {"Expect integer value for parameter -v_bitrate"}},
        BadCase{"-v_bitrate 2147483648", {"Expect integer value for parameter -v_bitrate"}},
        BadCase{"-V_BITRATE x", {"Expect integer value for parameter -V_BITRATE"}},
        BadCase{"-v_framerate fast", {"Expect float value for parameter -v_framerate"}},
        BadCase{"-v_framerate 1" + std::string(39, '0') + " -silent",
                {"Expect float value for parameter -v_framerate"}},
        BadCase{"-v_framerate 3" + std::string(37, '0') + " -silent",
                {"Invalid range for parameter -v_framerate"}},
        BadCase{"-v_keydist 2147484", {"Invalid range for parameter -v_keydist"}},
        BadCase{"-a_codec mp3", {"Please enter correct audio codec index only"}},
        BadCase{"-a_codec -output x",
                {"Invalid format for parameter -a_codec", "Please enter correct audio codec index only"}},
        BadCase{"-v_codec wmv10", {"Please enter correct video codec index only"}},
        BadCase{"-v_codec  wmv9", {"Please enter correct video codec index only"}},
        BadCase{"-a_content 3", {"Invalid range for parameter -a_content"}}, BadCase{"-v_performance 50", {}},
        BadCase{"-v_performance 120", {}}, BadCase{"-v_preproc 19", {"Invalid preproc value: 19"}},
        BadCase{"-v_preproc x",
                {"Expect integer value for parameter -v_preproc", "Invalid preproc value: x"}},
        BadCase{"-v_preproc -silent",
                {"Invalid format for parameter -v_preproc", "Invalid preproc value: -silent"}},
        BadCase{"-time 5000 x",
                {"Invalid format x expecting integer value"},
                [](auto& o) {
                    o.markIn = 5000;
                }},
        BadCase{"-time x end", {"Expect integer value for parameter -time"}},
        BadCase{"-time 5000 -silent",
                {"Invalid format for parameter -time"},
                [](auto& o) {
                    o.markIn = 5000;
                }},
        BadCase{"-push server",
                {"Invalid format for parameter -push"},
                [](auto& o) {
                    o.pushServer = "server";
                }},
        BadCase{"-broadcast x", {"Expect integer value for parameter -broadcast"}},
        BadCase{"-adevice x",
                {"Expect integer value for parameter -adevice"},
                [](auto& o) {
                    o.captureDevices = true;
                }},
        BadCase{"-bogus 1", {"Invalid parameter: -bogus"}},
        BadCase{"b.wmv -output", {"Invalid parameter: b.wmv"}},
        // An empty word between options, and an empty word as a value.
        BadCase{"-input clip.wmv  -output x.wmv",
                {"Invalid parameter: "},
                [](auto& o) {
                    o.inputPath = "clip.wmv";
                }},
        BadCase{"-output  x.wmv", {}},
        BadCase{"-v_bitrate  5", {"Expect integer value for parameter -v_bitrate"}},
        // Values read before the failure stay.
        BadCase{"-v_bitrate 5 -bogus",
                {"Invalid parameter: -bogus"},
                [](auto& o) {
                    o.videoBitrate = 5;
                }},
        BadCase{"-v_clip 1 2 x 4",
                {"Expect integer value for parameter -v_clip"},
                [](auto& o) {
                    o.clipLeft = 1;
                    o.clipTop = 2;
                }},
        // Not read in the first pass, so never opened; the main pass fails quietly.
        BadCase{"-CONFIG missing.weu", {}},
        BadCase{"-silent -s_config", {"Invalid format for parameter -s_config"}}));

// Every option that takes a value, given as the last word.
TEST_F(FrontEndTest, MissingValueIsInvalidFormat) {
    const char* const options[] = {
        "-wme",           "-input",        "-profile",      "-a_mode",        "-a_setting",
        "-a_peakbitrate", "-a_peakbuffer", "-a_content",    "-a_contentedl",  "-a_folddown6to2",
        "-v_mode",        "-v_bitrate",    "-v_buffer",     "-v_width",       "-v_height",
        "-v_framerate",   "-v_keydist",    "-v_quality",    "-v_peakbitrate", "-v_peakbuffer",
        "-v_performance", "-v_preproc",    "-pixelformat",  "-pixelratio",    "-v_clip",
        "-v_profile",     "-output",       "-outputstring", "-push",          "-time",
        "-duration",      "-title",        "-author",       "-copyright",     "-description",
        "-rating",        "-saveprofile",  "-loadprofile",  "-verbose",       "-s_config",
        "-config",        "-maxpacket",    "-minpacket",
    };
    for (const char* option : options) {
        ui.info.clear();
        EXPECT_FALSE(parse(std::string("-silent ") + option)) << option;
        EXPECT_EQ(messages(), Words{std::string("Invalid format for parameter ") + option}) << option;
    }
    for (const auto& [option, complaint] :
         {std::pair{"-a_codec", "Please enter correct audio codec index only"},
          std::pair{"-v_codec", "Please enter correct video codec index only"}}) {
        ui.info.clear();
        EXPECT_FALSE(parse(std::string("-silent ") + option));
        EXPECT_EQ(messages(), (Words{std::string("Invalid format for parameter ") + option, complaint}));
    }
    EXPECT_EQ(g_options, EncodeOptions{});
}

TEST_F(FrontEndTest, ValuesPersistAcrossCommands) {
    ASSERT_TRUE(parse("-audioonly -a_codec wma9pro -output a.wmv"));
    ASSERT_TRUE(parse("-output b.wmv -silent"));
    EXPECT_TRUE(g_options.audioOnly);
    EXPECT_EQ(g_options.outputPath, "b.wmv");
    // A refused value does not replace the one in force.
    EXPECT_FALSE(parse("-output  -silent"));
    EXPECT_FALSE(parse("-v_bitrate 9 -v_bitrate x"));
    EXPECT_FALSE(parse("-a_codec mp3 -silent"));
    EXPECT_FALSE(parse("-a_content 5 -silent"));
    EXPECT_FALSE(parse("-v_preproc 30 -silent"));
    EXPECT_EQ(g_options.outputPath, "b.wmv");
    EXPECT_EQ(g_options.videoBitrate, 9);
    EXPECT_EQ(g_options.audioCodec, "WMA9PRO");
    EXPECT_EQ(g_options.audioContentMode, -1);
    EXPECT_EQ(g_options.videoPreprocess, -1);
}

struct InformationCase {
    const char* command;
    const char* call; // nullptr: the usage text
};

TEST_F(FrontEndTest, InformationCommandsStopTheRun) {
    const InformationCase cases[] = {
        {"-devices", "ListDevices"},
        {"-DEVICES", "ListDevices"},
        {"-a_codecs", "ListAudioCodecs"},
        {"-a_formats", "ListAudioFormats"},
        {"-v_codecs", "ListVideoCodecs"},
        {"-help?", "ShowHelpChm"},
        {"-input clip.wmv", "PrintFileInfo clip.wmv"},
        {"-INPUT C:clip.wmv", "PrintFileInfo C:clip.wmv"},
        {"-help", nullptr},
        {"-HELP", nullptr},
        {"-?", nullptr},
        {"-all?", nullptr},
        {"/?", nullptr},
    };
    for (const auto& c : cases) {
        commands.calls.clear();
        ui.info.clear();
        EXPECT_FALSE(parse(c.command)) << c.command;
        if (c.call) {
            EXPECT_EQ(commands.calls, Words{c.call}) << c.command;
            EXPECT_EQ(ui.info, "") << c.command;
        } else {
            EXPECT_EQ(commands.calls, Words{}) << c.command;
            EXPECT_EQ(messages().size(), 308u) << c.command;
        }
    }
}

TEST_F(FrontEndTest, InputWithoutUsableNameDescribesNothing) {
    EXPECT_FALSE(parse("-input -output"));
    EXPECT_EQ(messages(), Words{"Invalid format for parameter -input"});
    EXPECT_FALSE(parse("-input "));
    EXPECT_EQ(commands.calls, Words{});
    EXPECT_EQ(g_options.inputPath, "");
}

TEST_F(FrontEndTest, InformationCommandsWithoutProviderDoNothing) {
    setInformationCommands(nullptr);
    EXPECT_FALSE(parse("-devices"));
    EXPECT_FALSE(parse("-input clip.wmv"));
    EXPECT_EQ(g_options.inputPath, "clip.wmv");
    EXPECT_EQ(ui.info, "");
}

} // namespace
} // namespace capture
