#include "capture/help.h"
#include "capture/test_fixture.h"

#include <algorithm>

namespace capture {
namespace {

using Words = std::vector<std::string>;

class HelpTest : public FrontEndTest {
protected:
    Words lines;

    void SetUp() override {
        FrontEndTest::SetUp();
        ShowHelp();
        lines = messages();
    }

    std::size_t indexOf(std::string_view line) const {
        return std::find(lines.begin(), lines.end(), line) - lines.begin();
    }
    // The lines that follow `heading`, up to the next line at the left margin or the end.
    Words descriptionOf(std::string_view heading) const {
        Words description;
        for (std::size_t i = indexOf(heading) + 1; i < lines.size() && lines[i].rfind("    ", 0) == 0; ++i)
            description.push_back(lines[i]);
        return description;
    }
};

TEST_F(HelpTest, HasItsFixedLengthAndLayout) {
    EXPECT_EQ(lines.size(), 308u);
    for (const std::string& line : lines) {
        bool leftMargin = !line.empty() && line[0] != ' ';
        bool description = line.size() > 4 && line.compare(0, 4, "    ") == 0 && line[4] != ' ';
        EXPECT_TRUE(line.empty() || leftMargin || description) << '"' << line << '"';
    }
    EXPECT_EQ(lines.back(), "NOTE: The maximum string length for each one is 255.    ");
}

// Headings and synopses, in the order they appear.
TEST_F(HelpTest, SynopsesInOrder) {
    const char* const expected[] = {
        "Usage for I/O and statistics.",
        "[-wme] <Windows Media Encoder session file>",
        "[-input] <file or directory name>",
        "[-adevice] <audio device number>",
        "[-vdevice] <video device number>",
        "[-output] <file or directory name>",
        "[-outputstring] <string>",
        "[-broadcast] <port>",
        "[-time] <start time> <end time>",
        "[-silent]",
        "[-config] <input configuration file>",
        "[-s_config] <output configuration file>",
        "Usage for profiles.",
        "[-profile] <profile code>",
        "Codes and basic descriptions for the predefined profiles:",
        "[-loadprofile] <profile file name>",
        "Usage for audio settings.",
        "[-a_codec] <codec index>",
        "[-a_codecs]",
        "[-a_content] <mode>",
        "[-a_contentedl] <file name>",
        "[-a_folddown6to2] <surround mix> <center mix> <LFE>",
        "[-a_formats]",
        "[-a_mode] <mode_number>",
        "[-a_peakbitrate] <peak bit rate>",
        "[-a_peakbuffer] <peak buffer>",
        "[-a_setting] <setting>",
        "[-audioonly]",
        "Usage for video settings.",
        "[-v_codec] <codec index>",
        "[-v_width] <width>",
        "[-v_height] <height>",
        "[-v_framerate] <rate>",
        "[-v_keydist] <time>",
        "[-v_preproc] <filter number>",
        "[-v_clip] <left> <top> <right> <bottom>",
        "[-v_mode] <mode number>",
        "[-v_bitrate] <bit rate>",
        "[-v_buffer] <buffer>",
        "[-v_quality] <quality>",
        "[-v_peakbitrate] <peak bit rate>",
        "[-v_peakbuffer] <peak buffer>",
        "[-v_performance] <performance>",
        "[-v_profile] <device conformance>",
        "[-duration] <seconds>",
        "[-saveprofile] <file name>",
        "[-devices]",
        "[-v_codecs]",
        "[-videoonly]",
        "[-pixelratio] <x y>",
        "[-pixelformat] <format>",
        "[-maxpacket] <packet size>",
        "[-minpacket] <packet size>",
        "[-title] <string>",
        "[-author] <string>",
        "[-copyright] <string>",
        "[-description] <string>    ",
        "[-rating] <string>",
        "NOTE: The maximum string length for each one is 255.    ",
    };
    std::size_t previous = 0;
    for (const char* line : expected) {
        std::size_t at = indexOf(line);
        ASSERT_LT(at, lines.size()) << line;
        EXPECT_GE(at, previous) << line;
        previous = at;
        if (line[0] == '[') {
            EXPECT_FALSE(descriptionOf(line).empty()) << line;
        }
    }
    // Every option the parser accepts is described, -push under -broadcast.
    EXPECT_LT(indexOf("    To push to a server instead: -push <server> <publishing point> [<template>]."),
              indexOf("[-time] <start time> <end time>"));
}

// The empty lines that close each section.
TEST_F(HelpTest, SectionsAreSeparated) {
    const std::pair<const char*, std::size_t> sections[] = {
        {"Usage for I/O and statistics.", 2}, {"Usage for profiles.", 2}, {"Usage for audio settings.", 2},
        {"Usage for video settings.", 4},     {"[-title] <string>", 1},
    };
    for (const auto& [heading, emptyBefore] : sections) {
        std::size_t at = indexOf(heading);
        ASSERT_GE(at, emptyBefore + 1) << heading;
        for (std::size_t i = 1; i <= emptyBefore; ++i)
            EXPECT_EQ(lines[at - i], "") << heading;
        EXPECT_NE(lines[at - emptyBefore - 1], "") << heading;
    }
    // Each "Usage for" heading of a settings section is followed by one empty line.
    for (const char* heading :
         {"Usage for I/O and statistics.", "Usage for audio settings.", "Usage for video settings."})
        EXPECT_EQ(lines[indexOf(heading) + 1], "") << heading;
}

TEST_F(HelpTest, ProfileCodeList) {
    const Words expected = {
        "Audio/Video:",
        "    av20: Profile_AudioVideo_Modem_28K (actual rate: 20Kbps)",
        "    av32: Profile_AudioVideo_Modem_56K (32 Kbps)",
        "    av100: Profile_AudioVideo_LAN_100K (100 Kbps)",
        "    av225: Profile_AudioVideo_LAN_256K (225 Kbps)",
        "    av350: Profile_AudioVideo_LANDSL_384K (350 Kbps)",
        "    av450: Profile_AudioVideo_LANDSL_768K (450 Kbps)",
        "    av700: Profile_AudioVideo_NearBroadcast_700K (700 Kbps)",
        "    av1400: Profile_AudioVideo_NearBroadcast_1400K (1400 Kbps)",
        "    av350pal: Profile_AudioVideo_Broadband_PAL_384K (350 Kbps)",
        "    av700pal: Profile_AudioVideo_NearBroadcast_PAL_700K (700 Kbps)",
        "    av100_2p: Profile_AudioVideo_LAN_100K_2Pass (100 Kbps)",
        "    av350_2p: Profile_AudioVideo_LANDSL_384K_2Pass (350 Kbps)",
        "    av600vbr: Profile_AudioVideo_FilmVBR_600K (600 Kbps)",
        "    avq97vbr: Profile_AudioVideo_FilmVBR_Quality97 (Quality 97)",
        "",
        "Audio-only:",
        "    a20_1: Profile_AudioOnly_FMRadioMono_28K (20 Kbps)",
        "    a20_2: Profile_AudioOnly_FMRadioStereo_28K (20 Kbps)",
        "    a32: Profile_AudioOnly_Modem_56K (32 Kbps)",
        "    a48: Profile_AudioOnly_NearCDQuality_48K (48 Kbps)",
        "    a64: Profile_AudioOnly_CDQuality_64K (64 Kbps)",
        "    a96: Profile_AudioOnly_CDAudiophileQuality_96K (96 Kbps)",
        "    a128: Profile_AudioOnly_CDAudiophileQuality_128K (128 Kbps)",
        "",
        "Video-only:",
        "    v20: Profile_VideoOnly_Modem_28K (20 Kbps)",
        "    v32: Profile_VideoOnly_Modem_56K (32 Kbps)",
        "",
        "Screen Capture:",
        "    scrn:  Profile_Screen Capture",
        "    scrna: Profile_Screen_Capture with Audio",
        "    scrnab: Profile_Screen Capture with Basic Audio",
        "",
        "    scrn10:  Profile_Screen Capture",
        "    scrn10a: Profile_Screen Capture with Audio",
        "",
        "    scrn15:  Profile_Screen Capture",
        "    scrn15a: Profile_Screen Capture with Audio",
        "",
        "    scrn24:  Profile_Screen Capture",
        "    scrn24a: Profile_Screen Capture with Audio",
        "",
        "    scrn30:  Profile_Screen Capture",
        "    scrn30a: Profile_Screen Capture with Audio",
        "",
        "[-loadprofile] <profile file name>",
    };
    std::size_t at = indexOf("Codes and basic descriptions for the predefined profiles:");
    ASSERT_LE(at + expected.size(), lines.size());
    EXPECT_EQ(Words(lines.begin() + at + 1, lines.begin() + at + 1 + expected.size()), expected);
}

// Lists whose every entry the text must name, one to a line where the layout says so.
TEST_F(HelpTest, ListsAreComplete) {
    Words codec = descriptionOf("[-a_codec] <codec index>");
    for (std::string_view name : kAudioCodecNames)
        EXPECT_TRUE(std::any_of(codec.begin(), codec.end(), [&](const std::string& l) {
            return l.compare(0, 4 + name.size() + 1, "    " + std::string(name) + " ") == 0;
        })) << name;
    EXPECT_NE(indexOf("    WMA9STD   standard audio codec (default)"), lines.size());
    EXPECT_NE(indexOf("    WMA9LSL   lossless audio codec; needs -a_mode 2"), lines.size());

    Words video = descriptionOf("[-v_codec] <codec index>");
    for (std::string_view name : kVideoCodecNames)
        EXPECT_TRUE(std::any_of(video.begin(), video.end(), [&](const std::string& l) {
            return l.compare(0, 4 + name.size() + 1, "    " + std::string(name) + " ") == 0;
        })) << name;
    EXPECT_NE(indexOf("    WMV9      video codec version 9 (default)"), lines.size());

    Words filters = descriptionOf("[-v_preproc] <filter number>");
    for (int n = 0; n <= 18; ++n) {
        std::string prefix = "    " + std::to_string(n) + " = ";
        EXPECT_EQ(std::count_if(filters.begin(), filters.end(),
                                [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }),
                  1)
            << n;
    }

    Words formats = descriptionOf("[-pixelformat] <format>");
    for (const char* format : {"I420", "IYUV", "RGB24", "RGB32", "RGB555", "RGB565", "RGB8", "UYVY", "YUY2",
                               "YV12", "YVU9", "YVYU"})
        EXPECT_NE(std::find(formats.begin(), formats.end(), std::string("    ") + format), formats.end())
            << format;

    for (const char* heading : {"[-a_mode] <mode_number>", "[-v_mode] <mode number>"}) {
        Words modes = descriptionOf(heading);
        for (int n = 0; n <= 4; ++n)
            EXPECT_TRUE(std::any_of(
                modes.begin(), modes.end(),
                [&](const std::string& l) { return l.rfind("    " + std::to_string(n) + " = ", 0) == 0; }))
                << heading << " " << n;
    }
}

TEST(PadSpaces, PadsButNeverCuts) {
    const struct {
        const char* text;
        std::size_t width;
        std::string padded;
    } cases[] = {
        {"Sampling rate", 20, "Sampling rate       "},
        {"Argument", 24, "Argument                "},
        {"", 3, "   "},
        {"exact", 5, "exact"},
        {"128_44_2_24_and_more_than_24ch", 24, "128_44_2_24_and_more_than_24ch"},
        {"x", 0, "x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PadSpaces(c.text, c.width), c.padded) << c.text;
}

} // namespace
} // namespace capture
