// End to end: the console program, as built, on clips this test generates. Every profile code encodes
// (the screen codes capture an Xvfb display the test starts, with a PulseAudio null sink as the sound
// input), folder mode mirrors a tree, the listings run from configuration files, and the report agrees
// with the file the run wrote. Under Wine one profile code and the other cases run.
#include "capture/encoder/test_media.h"
#include "capture/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

namespace fs = std::filesystem;
using encoder::testing::ClipSpec;
using encoder::testing::readFacts;
using encoder::testing::writeClip;

struct Result {
    int code = -1;
    std::string out;
    std::string err;
};

std::string readAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    // The Windows console writes CR LF.
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n'))
            out += s[i];
    }
    return out;
}

fs::path testFolder() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "_" + info->name();
    for (char& c : name)
        if (c == '/')
            c = '_';
    const fs::path folder = fs::absolute("console_test_files") / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

#ifdef _WIN32
// The program next to this runner; its output into files, under a time-out.
Result runProgram(const std::string& arguments, const fs::path& folder) {
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    const std::string program = (fs::path(self).parent_path() / "HVVistrelCmd.exe").string();
    const fs::path outPath = folder / "stdout.txt";
    const fs::path errPath = folder / "stderr.txt";
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    HANDLE err = CreateFileA(errPath.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    std::string line = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
    PROCESS_INFORMATION process = {};
    Result r;
    if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &process)) {
        if (WaitForSingleObject(process.hProcess, 180000) != WAIT_OBJECT_0)
            TerminateProcess(process.hProcess, 255);
        DWORD code = 255;
        GetExitCodeProcess(process.hProcess, &code);
        r.code = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    r.out = readAll(outPath);
    r.err = readAll(errPath);
    return r;
}
#else
// The built program with the arguments split at blanks, its output into files, under a time-out.
Result runProgram(const std::string& arguments, const fs::path& folder) {
    std::vector<std::string> words{"timeout", "180", HV_PROGRAM};
    std::istringstream split(arguments);
    for (std::string w; std::getline(split, w, ' ');)
        words.push_back(w);
    const fs::path outPath = folder / "stdout.txt";
    const fs::path errPath = folder / "stderr.txt";
    const pid_t pid = fork();
    if (pid == 0) {
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Result r;
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = readAll(outPath);
    r.err = readAll(errPath);
    return r;
}
#endif

std::string native(const fs::path& path) {
    return capture::pathText(path);
}

// The value of a report line ("\tFile size: \t\t\t12,345 bytes "), digits only; -1 when it is missing.
long long reportNumber(const std::string& out, const std::string& label) {
    const std::size_t at = out.rfind("\t" + label);
    if (at == std::string::npos)
        return -1;
    std::size_t i = at + 1 + label.size();
    while (i < out.size() && out[i] == '\t')
        ++i;
    std::string digits;
    for (; i < out.size() && out[i] != '\n' && out[i] != '.' && out[i] != ' '; ++i)
        if (std::isdigit(static_cast<unsigned char>(out[i])))
            digits += out[i];
    return digits.empty() ? -1 : std::stoll(digits);
}

const std::string kCompleted = "======== Encoding Completed ========";

// A one-second clip with sound, shared by the cases that encode a file.
ClipSpec avClip() {
    return ClipSpec{"avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_PCM_S16LE, 160, 120, 25, 44100, 2, 1.0};
}

// The report agrees with the file: size, coded frames and audio bytes.
void expectReportMatchesFile(const Result& r, const fs::path& output, bool audio, bool video) {
    ASSERT_TRUE(fs::exists(output)) << r.out;
    const auto facts = readFacts(output.string());
    EXPECT_EQ(reportNumber(r.out, "File size: "), static_cast<long long>(fs::file_size(output)));
    EXPECT_EQ(facts.audio.present, audio);
    EXPECT_EQ(facts.video.present, video);
    EXPECT_EQ(r.out.find("Audio :") != std::string::npos, audio) << r.out;
    EXPECT_EQ(r.out.find("Video :") != std::string::npos, video) << r.out;
    if (video) {
        EXPECT_EQ(reportNumber(r.out, "Total coded frames: "), facts.video.packets) << r.out;
    }
    if (audio) {
        EXPECT_EQ(reportNumber(r.out, "Total bytes:          "), facts.audio.bytes) << r.out;
    }
    EXPECT_NEAR(static_cast<double>(reportNumber(r.out, "File duration: ")), facts.durationMs / 1000.0, 1.0);
}

struct ProfileCase {
    const char* code;
    bool audio;
    bool video;
};

void PrintTo(const ProfileCase& c, std::ostream* os) {
    *os << c.code;
}

class FileProfile : public testing::TestWithParam<ProfileCase> {};

TEST_P(FileProfile, EncodesTheClipAndReportsWhatTheFileHolds) {
    const ProfileCase& c = GetParam();
    const fs::path folder = testFolder();
    writeClip((folder / "clip.avi").string(), avClip());
    const fs::path output = folder / (std::string(c.code) + ".wmv");
    const Result r = runProgram("-input " + native(folder / "clip.avi") + " -profile " + c.code +
                                    " -output " + native(output),
                                folder);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(kCompleted), std::string::npos) << r.out;
    expectReportMatchesFile(r, output, c.audio, c.video);
}

#ifdef _WIN32
// Under Wine one code shows the Windows program works; natively every code runs.
INSTANTIATE_TEST_SUITE_P(Codes, FileProfile, testing::Values(ProfileCase{"av100", true, true}),
                         [](const auto& param) { return std::string(param.param.code); });
#else
INSTANTIATE_TEST_SUITE_P(
    Codes, FileProfile,
    testing::Values(
        ProfileCase{"av20", true, true}, ProfileCase{"av32", true, true}, ProfileCase{"av100", true, true},
        ProfileCase{"av225", true, true}, ProfileCase{"av350", true, true}, ProfileCase{"av450", true, true},
        ProfileCase{"av700", true, true}, ProfileCase{"av1400", true, true},
        ProfileCase{"av350pal", true, true}, ProfileCase{"av700pal", true, true},
        ProfileCase{"av100_2p", true, true}, ProfileCase{"av350_2p", true, true},
        ProfileCase{"av600vbr", true, true}, ProfileCase{"avq97vbr", true, true},
        ProfileCase{"a20_1", true, false}, ProfileCase{"a20_2", true, false}, ProfileCase{"a32", true, false},
        ProfileCase{"a48", true, false}, ProfileCase{"a64", true, false}, ProfileCase{"a96", true, false},
        ProfileCase{"a128", true, false}, ProfileCase{"v20", false, true}, ProfileCase{"v32", false, true}),
    [](const auto& param) { return std::string(param.param.code); });

// An Xvfb display and a PulseAudio server with a null sink, inside the build tree, for the screen codes.
class ScreenProfile : public testing::TestWithParam<ProfileCase> {
public:
    static void SetUpTestSuite() {
        display_ = std::make_unique<encoder::testing::VirtualDisplay>(320, 240);
        // ctest runs cases side by side: each process has a sound server of its own.
        sound_ = std::make_unique<encoder::testing::SoundServer>(
            "console_test_files/pulse-" + std::to_string(getpid()), "hvconsole");
    }
    static void TearDownTestSuite() {
        sound_.reset();
        display_.reset();
    }

protected:
    static inline std::unique_ptr<encoder::testing::VirtualDisplay> display_;
    static inline std::unique_ptr<encoder::testing::SoundServer> sound_;
};

TEST_P(ScreenProfile, CapturesTheDisplayForTwoSeconds) {
    if (!display_->ok() || !sound_->ok())
        GTEST_SKIP() << "no Xvfb or PulseAudio";
    const ProfileCase& c = GetParam();
    const fs::path folder = testFolder();
    const fs::path output = folder / (std::string(c.code) + ".wmv");
    const Result r =
        runProgram(std::string("-profile ") + c.code + " -output " + native(output) + " -duration 2", folder);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find(kCompleted), std::string::npos) << r.out;
    expectReportMatchesFile(r, output, c.audio, c.video);
    // The tick stopped the capture after two seconds; the frames cover at least one second at the
    // profile's frame rate (the engine's capture timeline starts before the first tick).
    const auto facts = readFacts(output.string());
    EXPECT_EQ(facts.video.width, 320);
    const long long fps = reportNumber(r.out, "Expected fps: ");
    ASSERT_GT(fps, 0) << r.out;
    EXPECT_GE(facts.video.packets, fps) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ScreenProfile,
    testing::Values(ProfileCase{"scrn", false, true}, ProfileCase{"scrna", true, true},
                    ProfileCase{"scrnab", true, true}, ProfileCase{"scrn10", false, true},
                    ProfileCase{"scrn10a", true, true}, ProfileCase{"scrn15", false, true},
                    ProfileCase{"scrn15a", true, true}, ProfileCase{"scrn24", false, true},
                    ProfileCase{"scrn24a", true, true}, ProfileCase{"scrn30", false, true},
                    ProfileCase{"scrn30a", true, true}),
    [](const auto& param) { return std::string(param.param.code); });
#endif

TEST(FolderMode, MirrorsTheTreeAndSkipsOtherFiles) {
    const fs::path folder = testFolder();
    const fs::path in = folder / "in";
    fs::create_directories(in / "sub");
    writeClip((in / "a.avi").string(), avClip());
    writeClip((in / "sub" / "b.c.avi").string(), avClip());
    std::ofstream(in / "notes.txt") << "not media";
    std::ofstream(in / "sub" / "readme.md") << "not media";
    const fs::path out = folder / "out";
    const Result r = runProgram(
        "-input " + native(in) + " -output " + native(out) + " -outputstring _lo -profile av20", folder);
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Skipping: notes.txt\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Skipping: readme.md\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("============== Encoding Files in Folder ============== " + native(in / "sub")),
              std::string::npos)
        << r.out;
    std::size_t completions = 0;
    for (std::size_t at = 0; (at = r.out.find(kCompleted, at)) != std::string::npos; at += kCompleted.size())
        ++completions;
    EXPECT_EQ(completions, 2u) << r.out;
    EXPECT_TRUE(fs::exists(out / "a_lo.wmv"));
    EXPECT_TRUE(fs::exists(out / "sub" / "b.c_lo.wmv"));
    // Each report comes after its own file's completion line: the first file's statistics agree with it.
    EXPECT_LT(r.out.find(kCompleted), r.out.find("============== Input " + native(in / "sub" / "b.c.avi")));
}

struct ListingCase {
    const char* word;
    std::vector<std::string> expected;
};

void PrintTo(const ListingCase& c, std::ostream* os) {
    *os << c.word;
}

class Listing : public testing::TestWithParam<ListingCase> {};

TEST_P(Listing, RunsFromAConfigurationFile) {
    const fs::path folder = testFolder();
    std::ofstream(folder / "listing.weu") << GetParam().word << "\r\n";
    const Result r = runProgram("-config " + native(folder / "listing.weu"), folder);
    EXPECT_EQ(r.code, 1) << r.err;
    for (const std::string& text : GetParam().expected)
        EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;
    EXPECT_EQ(r.out.find(kCompleted), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Words, Listing,
    testing::Values(ListingCase{"-a_codecs", {"\nAudio Codecs: \n", "CBR Mode :\n", "\t[0] WMA9STD : "}},
                    ListingCase{"-v_codecs", {"\nVideo Codecs: \n", "\t[0] WMV8 : "}},
                    ListingCase{"-a_formats", {"Quality-Based VBR Audio Mode :", "\t\tArgument", "64_44_2 "}},
                    ListingCase{"-devices", {"audio device:\n", "video device:\n"}},
                    ListingCase{"-help", {"Usage for I/O and statistics.", "[-profile] <profile code>"}}),
    [](const auto& param) { return std::string(param.param.word + 1); });

TEST(FileInformation, InputAloneDescribesTheClip) {
    const fs::path folder = testFolder();
    writeClip((folder / "clip.avi").string(), avClip());
    const Result r = runProgram("-input " + native(folder / "clip.avi"), folder);
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.out.find("Duration: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Stream "), std::string::npos) << r.out;
    EXPECT_FALSE(fs::exists(folder / "clip.wmv"));
}

TEST(Usage, FewerThanTwoWordsPrintTheHelpAndTheDefaultCommand) {
    const fs::path folder = testFolder();
    for (const std::string arguments : {"", "-help"}) {
        const Result r = runProgram(arguments, folder);
        EXPECT_EQ(r.code, 2) << arguments;
        EXPECT_NE(r.out.find("Usage for I/O and statistics."), std::string::npos) << arguments;
        // The last line is the default command.
        const std::size_t last = r.out.rfind('\n', r.out.size() - 2);
        const std::string line = r.out.substr(last + 1);
        EXPECT_TRUE(line.starts_with("-profile scrna -output ")) << line;
        EXPECT_TRUE(line.ends_with("cap1.wmv -duration 30\n")) << line;
        EXPECT_NE(line.find("HVVIS"), std::string::npos) << line;
    }
}

TEST(ErrorHandler, AnUnreadableConfigurationFileEndsWithTheErrorNumber) {
    const fs::path folder = testFolder();
    const Result r = runProgram("-config " + native(folder / "missing.weu"), folder);
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.err.starts_with("ERROR:  ")) << r.err;
    EXPECT_NE(r.err.find("missing.weu"), std::string::npos) << r.err;
}

TEST(ErrorHandler, AnInputTheEngineCannotOpenIsReportedAndNothingEncoded) {
    const fs::path folder = testFolder();
    std::ofstream(folder / "broken.avi") << "not a clip";
    const Result r = runProgram(
        "-input " + native(folder / "broken.avi") + " -output " + native(folder / "x.wmv"), folder);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("Error: 0x80040200 - "), std::string::npos) << r.out;
}

} // namespace
