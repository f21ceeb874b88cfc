#include "capture/files.h"
#include "capture/test_fixture.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace capture {
namespace {

using Words = std::vector<std::string>;

// Each test runs in a folder of its own, which is also the current folder.
class ConfigFileTest : public FrontEndTest {
protected:
    fs::path folder;
    fs::path previousFolder;

    void SetUp() override {
        FrontEndTest::SetUp();
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        folder = fs::temp_directory_path() /
                 ("hv-capture-" + std::string(test->name()) + "-" +
                  std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        fs::create_directories(folder);
        previousFolder = fs::current_path();
        fs::current_path(folder);
    }
    void TearDown() override {
        fs::current_path(previousFolder);
        std::error_code ignored;
        fs::remove_all(folder, ignored);
        FrontEndTest::TearDown();
    }

    static void write(const fs::path& name, std::string_view bytes) {
        std::ofstream(name, std::ios::binary) << bytes;
    }
    static std::string read(const fs::path& name) {
        std::ifstream file(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), {});
    }
    std::string absolute(const char* name) const { return pathText(folder / name); }
};

TEST_F(ConfigFileTest, SavedCommandLeavesOutItsOwnOption) {
    EXPECT_TRUE(parse("-s_config mycfg -input a.wmv -output b.wmv"));
    EXPECT_EQ(read("mycfg.weu"), "-input a.wmv -output b.wmv ");
    EXPECT_EQ(g_options.inputPath, "a.wmv");
    EXPECT_EQ(g_options.outputPath, "b.wmv");
}

TEST_F(ConfigFileTest, ExtensionIsAddedUnlessPresentInAnyCase) {
    const std::pair<const char*, const char*> cases[] = {
        {"plain", "plain.weu"}, {"upper.WEU", "upper.WEU"}, {"other.txt", "other.txt.weu"}};
    for (const auto& [name, file] : cases) {
        EXPECT_TRUE(parse(std::string("-silent -s_config ") + name)) << name;
        EXPECT_TRUE(fs::exists(file)) << file;
    }
    EXPECT_FALSE(fs::exists("upper.WEU.weu"));
}

TEST_F(ConfigFileTest, SavingCreatesMissingFolders) {
    std::string name = pathText(fs::path("one") / "two" / "cfg");
    EXPECT_TRUE(parse("-s_config " + name + " -duration 5"));
    EXPECT_EQ(read(fs::path("one") / "two" / "cfg.weu"), "-duration 5 ");
}

TEST_F(ConfigFileTest, SavingWhereAFileBlocksTheFolderRaises) {
    write("blocker", "x");
    std::string name = pathText(fs::path("blocker") / "cfg");
    EXPECT_THROW(parse("-silent -s_config " + name), std::system_error);
}

TEST_F(ConfigFileTest, SavedFileLoadsBackTheSameRecord) {
    const char* command =
        "-input clip.avi -output out.wmv -profile av350 -a_codec wma9pro -v_framerate 29.97 "
        "-v_keydist 5 -time 1000 end -adevice -broadcast -push srv pp tmpl -title T";
    ASSERT_TRUE(parse(std::string(command) + " -s_config saved"));
    const EncodeOptions written = g_options;

    g_options = EncodeOptions{};
    EXPECT_TRUE(parse("-config saved.weu"));
    EXPECT_EQ(g_options, written);
    EXPECT_EQ(messages(), Words{});
}

// The saved text keeps the file name after -config, so the saved file loads the same way.
TEST_F(ConfigFileTest, SavedFileOfACommandWithConfigLoads) {
    write("base.weu", "-v_bitrate 1000 -output base.wmv");
    ASSERT_TRUE(parse("-config base.weu -s_config combo -output mine.wmv"));
    EXPECT_EQ(read("combo.weu"), "-config base.weu -output mine.wmv ");

    g_options = EncodeOptions{};
    EXPECT_TRUE(parse("-config combo.weu"));
    EXPECT_EQ(g_options.videoBitrate, 1000);
    EXPECT_EQ(g_options.outputPath, "mine.wmv");
}

TEST_F(ConfigFileTest, FileOptionsComeBeforeTheCommandsOwn) {
    write("base.weu", "-v_bitrate 1000 -v_width 320");
    EXPECT_TRUE(parse("-v_bitrate 2000 -config base.weu"));
    EXPECT_EQ(g_options.videoBitrate, 2000);
    EXPECT_EQ(g_options.videoWidth, 320);
}

TEST_F(ConfigFileTest, OnlyTheTrimmedFirstLineIsRead) {
    const char* contents[] = {"  -v_width 320  \r\n-bogus", "-v_width 320\n-bogus", "-v_width 320\r-bogus",
                              "-v_width 320"};
    for (const char* content : contents) {
        g_options = EncodeOptions{};
        write("first.weu", content);
        EXPECT_TRUE(parse("-config first.weu")) << content;
        EXPECT_EQ(g_options.videoWidth, 320) << content;
    }
    EXPECT_EQ(messages(), Words{});
}

TEST_F(ConfigFileTest, EmptyFirstLineIsReported) {
    for (const char* content : {"", "   ", "\r\n-v_width 320"}) {
        ui.info.clear();
        write("empty.weu", content);
        EXPECT_FALSE(parse("-config empty.weu -silent"));
        EXPECT_EQ(messages(), Words{"Configuration file " + absolute("empty.weu") + " is empty"});
    }
    EXPECT_EQ(g_options, EncodeOptions{});
}

TEST_F(ConfigFileTest, MissingFileRaises) {
    EXPECT_THROW(parse("-config missing.weu"), std::system_error);
}

TEST_F(ConfigFileTest, FileFailuresStopTheCommand) {
    write("bad.weu", "-v_bitrate fast");
    EXPECT_FALSE(parse("-config bad.weu -output x.wmv"));
    EXPECT_EQ(messages(), Words{"Expect integer value for parameter -v_bitrate"});
    EXPECT_EQ(g_options.outputPath, "");

    ui.info.clear();
    EXPECT_FALSE(parse("-silent -config"));
    EXPECT_EQ(messages(), Words{"Invalid format for parameter -config"});
}

TEST_F(ConfigFileTest, FileMayHoldAnInformationCommand) {
    write("devices.weu", "-devices");
    write("describe.weu", "-input clip.wmv");
    EXPECT_FALSE(parse("-config devices.weu"));
    EXPECT_FALSE(parse("-config describe.weu"));
    EXPECT_EQ(commands.calls, (Words{"ListDevices", "PrintFileInfo clip.wmv"}));
}

TEST_F(ConfigFileTest, FileThatLoadsItselfStopsAtTheLimit) {
    write("self.weu", "-config self.weu");
    write("ping.weu", "-config pong.weu");
    write("pong.weu", "-silent -config ping.weu");
    const std::pair<const char*, const char*> cases[] = {{"self.weu", "self.weu"}, {"ping.weu", "ping.weu"}};
    for (const auto& [first, refused] : cases) {
        ui.info.clear();
        EXPECT_FALSE(parse(std::string("-config ") + first));
        EXPECT_EQ(messages(), Words{"Configuration file " + absolute(refused) +
                                    " not read: configuration files nest more than 16 deep"});
    }
}

// Sixteen files, each loading the next, are within the limit; a seventeenth is not.
TEST_F(ConfigFileTest, NestingLimitIsExact) {
    auto chain = [&](int files) {
        for (int i = 1; i < files; ++i)
            write("chain" + std::to_string(i) + ".weu", "-config chain" + std::to_string(i + 1) + ".weu");
        write("chain" + std::to_string(files) + ".weu", "-v_width 320");
        g_options = EncodeOptions{};
        return parse("-config chain1.weu");
    };
    EXPECT_TRUE(chain(kConfigNestingLimit));
    EXPECT_EQ(g_options.videoWidth, 320);
    EXPECT_FALSE(chain(kConfigNestingLimit + 1));
    EXPECT_EQ(g_options.videoWidth, -1);
}

// Names are Windows-1252 texts; the file system sees the same characters.
TEST_F(ConfigFileTest, SingleByteNamesReachTheFileSystem) {
    EXPECT_TRUE(parse("-title caf\xE9 -s_config caf\xE9"));
    EXPECT_TRUE(fs::exists(fs::path(u"caf\u00E9.weu")));
    EXPECT_EQ(read(fs::path(u"caf\u00E9.weu")), "-title caf\xE9 ");
}

TEST_F(ConfigFileTest, CreateOutputFolderMakesParentsAndKeepsExistingFolders) {
    const fs::path nested = folder / "a" / "b";
    CreateOutputFolder(pathText(nested));
    EXPECT_TRUE(fs::is_directory(nested));
    write(nested / "kept", "x");
    CreateOutputFolder(pathText(nested));
    EXPECT_TRUE(fs::exists(nested / "kept"));
    EXPECT_THROW(CreateOutputFolder(""), std::system_error);
}

#ifdef _WIN32
TEST(Paths, FolderOnAMissingDriveIsRefused) {
    DWORD drives = GetLogicalDrives();
    char letter = 'Z';
    while (letter > 'C' && (drives & (1u << (letter - 'A'))))
        --letter;
    ASSERT_GT(letter, 'C') << "every drive letter is in use";
    EXPECT_THROW(CreateOutputFolder(std::string(1, letter) + ":\\out\\sub"), std::system_error);
}
#endif

TEST(Paths, AbsoluteResolvesDotsAndDropsTrailingSeparator) {
    const fs::path here = fs::current_path();
    EXPECT_EQ(absolutePath("a"), pathText(here / "a"));
    EXPECT_EQ(absolutePath(pathText(fs::path("a") / "." / "b" / ".." / "c")), pathText(here / "a" / "c"));
    EXPECT_EQ(absolutePath(pathText(fs::path("a") / "")), pathText(here / "a"));
    const std::string root = pathText(here.root_path());
    EXPECT_EQ(absolutePath(root), root);
    EXPECT_EQ(parentFolder(root), "");
    EXPECT_EQ(parentFolder(pathText(here / "x.weu")), pathText(here));
}

} // namespace
} // namespace capture
