// Folder mode: the walk is planned when it starts and then carried out one file at a time. A file whose
// encoder started is torn down only once its stopped state has arrived (g_objEncoder_OnStateChange queues
// the continuation), so the front end's thread never waits.
#include "capture/encode_options.h"
#include "capture/files.h"
#include "capture/main_window.h"
#include "capture/run_state.h"
#include "capture/session_setup.h"

#include <algorithm>
#include <array>
#include <filesystem>

namespace capture {

namespace {

#ifdef _WIN32
constexpr std::string_view kSeparator = "\\";
#else
constexpr std::string_view kSeparator = "/";
#endif

constexpr std::array<std::string_view, 9> kMediaExtensions = {"avi", "wav", "mpg", "mpeg", "vob",
                                                              "wmv", "wma", "mp3", "asf"};

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// The names of the folder's files and of its sub-folders, each in name order (the order the Windows
// file system lists them in, whatever the platform).
void listFolder(const std::string& folder, std::vector<std::string>& files,
                std::vector<std::string>& folders) {
    for (const auto& entry : std::filesystem::directory_iterator(toPath(folder))) {
        const std::string name = pathText(entry.path().filename());
        (entry.is_directory() ? folders : files).push_back(name);
    }
    std::sort(files.begin(), files.end());
    std::sort(folders.begin(), folders.end());
}

} // namespace

bool MainWindow::DoDirectoryModeEncoding() {
    if (g_options.outputPath.empty()) {
        OutputInfo("Error: No output directory specified");
        return false;
    }
    EncodeFilesInFolder(absolutePath(g_options.inputPath), absolutePath(g_options.outputPath));
    return true;
}

void MainWindow::EncodeFilesInFolder(const std::string& inputFolder, const std::string& outputFolder) {
    walk_.clear();
    planFolder(inputFolder, outputFolder);
    walking_ = true;
    continueWalk();
}

void MainWindow::planFolder(const std::string& inputFolder, const std::string& outputFolder) {
    std::vector<std::string> files;
    std::vector<std::string> folders;
    listFolder(inputFolder, files, folders);
    walk_.push_back({WalkStep::Heading, inputFolder, {}});
    for (const std::string& name : files) {
        const size_t dot = name.rfind('.');
        const std::string extension = lowerCase(dot == std::string::npos ? name : name.substr(dot + 1));
        const bool media =
            std::find(kMediaExtensions.begin(), kMediaExtensions.end(), extension) != kMediaExtensions.end();
        // A name that is only an extension ("avi") has no base name to give its output.
        if (!media || dot == std::string::npos || dot == 0) {
            walk_.push_back({WalkStep::Skip, name, {}});
            continue;
        }
        walk_.push_back(
            {WalkStep::File, inputFolder + std::string(kSeparator) + name,
             outputFolder + std::string(kSeparator) + name.substr(0, dot) + g_options.outputString});
    }
    for (const std::string& name : folders)
        planFolder(inputFolder + std::string(kSeparator) + name,
                   outputFolder + std::string(kSeparator) + name);
}

void MainWindow::continueWalk() {
    while (!walk_.empty()) {
        const WalkStep step = walk_.front();
        walk_.pop_front();
        switch (step.kind) {
        case WalkStep::Heading:
            OutputInfo("============== Encoding Files in Folder ============== " + step.text);
            break;
        case WalkStep::Skip:
            OutputInfo("Skipping: " + step.text);
            break;
        case WalkStep::File:
            g_options.inputPath = step.text;
            g_options.outputPath = step.output;
            OutputInfo("============== Input " + g_options.inputPath + " " + g_options.outputPath);
            // No extension yet: the output set-up adds "wmv" or "wma", also after a dotted base name.
            g_options.outputPath += ".";
            if (SetupEncoder() && startRun())
                return; // the stopped state continues the walk
            tearDownFile();
            break;
        }
    }
    walking_ = false;
}

void MainWindow::continueAfterFile() {
    tearDownFile();
    continueWalk();
}

void MainWindow::tearDownFile() {
    g_objEncoder->PrepareToEncode(false);
    // A set-up that failed before the group existed has nothing to remove.
    if (g_objSourceGroup)
        g_objEncoder->SourceGroupCollection().Remove("SG_1");
    g_objSourceGroup.reset();
    g_objAudioSource.reset();
    g_objVideoSource.reset();
}

} // namespace capture
