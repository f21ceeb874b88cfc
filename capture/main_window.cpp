#include "capture/main_window.h"

#include "capture/encode_options.h"
#include "capture/files.h"
#include "capture/help.h"
#include "capture/run_state.h"
#include "capture/session_setup.h"
#include "capture/statistics.h"
#include "capture/step_runner.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include "probes/probes.h"
#endif

namespace capture {

namespace {

WindowServices* g_services = nullptr;

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// A number as the window shows it: whole numbers without a point, others in their shortest form.
std::string numberText(double value) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

// Rounded to the nearest whole number, halves to the even one.
long long roundEven(double value) {
    return std::llrint(value);
}

#ifdef _WIN32
// The drive letter of the program's registered folder, or of the Windows folder.
char appDrive() {
    std::string value;
    if (probes::getKeyValue(HKEY_LOCAL_MACHINE,
                            "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\HVVistrel.exe", "",
                            value) &&
        !value.empty())
        return value[0];
    char windows[256] = {};
    GetWindowsDirectoryA(windows, sizeof windows);
    return windows[0] ? windows[0] : 'C';
}
#endif

} // namespace

void setWindowServices(WindowServices* services) {
    g_services = services;
}

WindowServices* windowServices() {
    return g_services;
}

std::string defaultCommand() {
#ifdef _WIN32
    const std::string output = std::string(1, appDrive()) + ":\\HVVIS\\cap1.wmv";
#else
    const char* home = std::getenv("HOME");
    const std::string output = std::string(home && *home ? home : "/tmp") + "/HVVIS/cap1.wmv";
#endif
    return "-profile scrna -output " + output + " -duration 30";
}

ErrorReport describeError(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const encoder::EncoderError& e) {
        return {decimalNumber(e.number), e.description};
    } catch (const std::system_error& e) {
        return {std::to_string(e.code().value()), e.what()};
    } catch (const std::exception& e) {
        return {"0", e.what()};
    } catch (...) {
        return {"0", "Unknown error"};
    }
}

MainWindow::MainWindow(UserInterface& ui, WindowServices& services) : ui_(ui), services_(services) {
    setUserInterface(&ui_);
    setWindowServices(&services_);
    setInformationCommands(this);
    g_autoStarted = false;
}

MainWindow::~MainWindow() {
    walk_.clear();
    releaseRunObjects();
    g_objEncoder.reset();
    setInformationCommands(nullptr);
    setWindowServices(nullptr);
    setUserInterface(nullptr);
}

void MainWindow::cmdGo_Click() {
    runGuarded(&MainWindow::go);
}

void MainWindow::runGuarded(void (MainWindow::*action)()) {
    try {
        (this->*action)();
    } catch (...) {
        goErrorHandler(std::current_exception());
    }
}

void MainWindow::go() {
    if (ui_.commandText().empty())
        ui_.setCommandText(services_.commandLineArguments());
    const std::string command = ui_.commandText();
    ui_.setStatus("Initializing Codecs...");
    const Words words = SplitCommand(command);
    if (words.size() < 2) {
        services_.beep();
        ui_.setStatus("Change parameters, then press Go.  (Help is above)");
        ui_.clearInfo();
        ShowHelp();
        ui_.setCommandText(defaultCommand());
        return;
    }

    // A new Go abandons whatever the previous one left running.
    ++generation_;
    walk_.clear();
    walking_ = false;
    running_ = false;
    releaseRunObjects();
    g_objEncoder.reset();
    if (!g_encoderFactory)
        throw encoder::EncoderError(0x80040154, "The encoding engine is not part of this build.");
    g_objEncoder = g_encoderFactory->CreateEncoder(services_.dispatcher());
    g_objEncoder->OnStateChange([this](int32_t state) { g_objEncoder_OnStateChange(state); });

    if (!ParseParameters(words))
        return;
    const std::string& input = g_options.inputPath;
    std::error_code ignored;
    if (!input.empty() && std::filesystem::is_directory(toPath(absolutePath(input)), ignored)) {
        DoDirectoryModeEncoding();
        return;
    }
    if (!SetupEncoder())
        return;
    startRun();
}

bool MainWindow::startRun() {
    const bool started = Transcode([this] {
        services_.enableTimer(true);
        setupProgressBar();
    });
    running_ = started;
    return started;
}

void MainWindow::goErrorHandler(std::exception_ptr error) {
    failed_ = true;
    walk_.clear();
    walking_ = false;
    if (!isEncoderMissing()) {
        const ErrorReport report = describeError(error);
        services_.showMessage(MessageIcon::Critical, "ERROR:  " + report.number, report.description);
    }
    services_.closeWindow();
}

// Our engine is linked into the program and brings its own media libraries, so the only software that
// can be missing is the engine itself, in a build made without it.
bool MainWindow::isEncoderMissing() {
    if (g_encoderFactory)
        return false;
    services_.showMessage(MessageIcon::Exclamation, "Missing Software",
                          "This build of the program has no encoding engine.\r\n"
                          "Encoding, the listings and the file information need the 64-bit or the "
                          "native build.");
    return true;
}

void MainWindow::cmdStop_Click() {
    if (!g_objEncoder)
        return;
    // Stop ends a folder walk too: the file in hand is completed, no further file is started.
    walk_.clear();
    g_objEncoder->Stop();
    services_.enableTimer(false);
    ui_.setStatus("Stopped by user.");
}

void MainWindow::Timer1_Timer() {
    try {
        if (!g_autoStarted) {
            cmdGo_Click();
            g_autoStarted = true;
            return;
        }
        if (!g_objEncoder)
            return;
        const double d = std::nearbyint(g_options.duration);
        encoder::IStatistics& stats = g_objEncoder->Statistics();
        const encoder::Fixed4 encodingTime = stats.EncodingTime();
        const encoder::OutputStats output = stats.WMFOutputStats();
        ui_.setRunLabel(RunLabel::ElapsedTime, "Elapsed time: \r\n" +
                                                   std::to_string(roundEven(encodingTime.value() * 10)) +
                                                   " secs");
        ui_.setRunLabel(RunLabel::ExpectedBitrate,
                        "Expected bit rate: \r\n" +
                            std::to_string(roundEven(output.ExpectedBitrate / 1000.0)) + " Kbps");
        ui_.setRunLabel(RunLabel::CurrentBitrate,
                        "Current bit rate: \r\n" + std::to_string(roundEven(output.CurrentBitrate / 1000.0)) +
                            " Kbps");
        if (d != 0) {
            // EncodingTime x 1000000 is the raw value x 100.
            const double percent =
                std::floor(std::floor(static_cast<double>(encodingTime.raw) * 100 / d) / 1000);
            if (ui_.progressValue() > percent) {
                ++g_currentPass;
                ui_.setStatus("Running... Pass:  " + std::to_string(g_currentPass) + " / " +
                              std::to_string(g_passCount));
            }
            const int maximum = ui_.progressMaximum();
            const int value = percent >= maximum ? maximum : static_cast<int>(percent);
            if (!ui_.setProgressValue(value))
                return;
            ui_.setProgressLabel(std::to_string(ui_.progressValue()) + "%");
        }
        if (lowerCase(g_options.profileCode).starts_with("scrn")) {
            ++g_tickCount;
            if (g_tickCount >= g_options.duration) {
                g_tickCount = 0;
                g_objEncoder->Stop();
                services_.enableTimer(false);
            }
        }
    } catch (...) {
        // A failing tick is dropped; the next one runs normally.
    }
}

void MainWindow::g_objEncoder_OnStateChange(int32_t state) {
    switch (state) {
    case encoder::kRunning:
        ui_.setStatus("  Running... Pass:  " + std::to_string(g_currentPass) + " \\ " +
                      std::to_string(g_passCount));
        services_.setBusyPointer(true);
        break;
    case encoder::kPaused:
        ui_.setStatus("  Paused...");
        break;
    case encoder::kStopped:
        g_endTime = std::chrono::system_clock::now();
        ui_.setStatus("  Done.");
        services_.setBusyPointer(false);
        ui_.setProgressValue(100);
        ui_.setProgressLabel(std::to_string(ui_.progressValue()) + "%");
        services_.beep();
        services_.setGoCaption("&Go");
        services_.enableTimer(false);
        OutputInfo("\r\n======== Encoding Completed ========");
        ShowStatistics();
        ui_.scrollDisplay();
        if (running_) {
            running_ = false;
            ++completedRuns_;
        }
        if (walking_) {
            // The file is torn down and the next one set up after this event, not inside it.
            const unsigned generation = generation_;
            services_.dispatcher().post([this, generation] {
                if (generation == generation_)
                    runGuarded(&MainWindow::continueAfterFile);
            });
        }
        break;
    default:
        break;
    }
}

void MainWindow::setupProgressBar() {
    g_tickCount = 0;
    ui_.setProgressRange(0, 100);
    ui_.setProgressValue(0);
    g_currentPass = 1;
    int passes = 1;
    ui_.setFileLabel("  Encoding: " + g_options.inputPath);
    if (g_objAudioSource && g_objAudioSource->PreProcessPass() == 1)
        passes = 2;
    if (g_objVideoSource && g_objVideoSource->PreProcessPass() == 1)
        passes = 2;
    auto lengthOf = [](const std::shared_ptr<encoder::ISource>& source) -> int64_t {
        if (!source)
            return 0;
        const int32_t markOut = source->MarkOut();
        const int32_t markIn = source->MarkIn();
        return markOut != 0 ? int64_t{markOut} - markIn : int64_t{source->Duration()} - markIn;
    };
    const int64_t length = std::max(lengthOf(g_objAudioSource), lengthOf(g_objVideoSource));
    if (!g_options.inputPath.empty())
        g_options.duration = static_cast<double>(length) / 1000;
    ui_.setLengthLabel("Media Length: " + numberText(g_options.duration) + " secs");
    g_passCount = passes;
}

} // namespace capture
