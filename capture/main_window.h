// The run logic of the main window: Go, Stop, the one-second tick, the encoder's state changes, folder
// mode and the information commands. It talks to the window only through UserInterface (the elements)
// and WindowServices (timer, pointer, sound, message boxes, closing), so the Win32 window, the console
// front end and the tests share it. Everything here runs on the front end's one thread.
#pragma once

#include "capture/encoder/encoder.h"
#include "capture/parser.h"
#include "capture/user_interface.h"

#include <cstdint>
#include <deque>
#include <exception>
#include <string>
#include <string_view>

namespace capture {

enum class MessageIcon { Critical, Exclamation, Information };

// What the run logic needs from the window beyond its elements.
class WindowServices {
public:
    virtual ~WindowServices() = default;
    // Timer1: a tick every 1000 ms while enabled.
    virtual void enableTimer(bool enabled) = 0;
    virtual bool timerEnabled() const = 0;
    virtual void beep() = 0;
    // The hourglass while an encoder runs, the default pointer otherwise.
    virtual void setBusyPointer(bool busy) = 0;
    virtual void setGoCaption(std::string_view caption) = 0;
    // A modal box; it returns once the user has answered it.
    virtual void showMessage(MessageIcon icon, std::string_view title, std::string_view text) = 0;
    // Closes the window, which ends the program once the current event has been handled.
    virtual void closeWindow() = 0;
    // The program's own command-line arguments: the command line after the program name.
    virtual std::string commandLineArguments() const = 0;
    // Where the encoder's events and the run logic's own continuations are queued.
    virtual encoder::Dispatcher& dispatcher() = 0;
};

// Installed by the front end next to its UserInterface; ShowStatistics reports a failure through it.
void setWindowServices(WindowServices* services);
WindowServices* windowServices();

// The default command of a Go without a command: a 30-second screen capture with sound into the
// folder HVVIS (on the program's drive on Windows, under the home folder natively).
std::string defaultCommand();

// The error number as the error handler prints it (decimal, a 32-bit code in its signed form) and the
// description, for any error that reaches it.
struct ErrorReport {
    std::string number;
    std::string description;
};
ErrorReport describeError(std::exception_ptr error);

class MainWindow : public InformationCommands {
public:
    MainWindow(UserInterface& ui, WindowServices& services);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Events of the window.
    void cmdGo_Click();
    void cmdStop_Click();
    void Timer1_Timer();
    void g_objEncoder_OnStateChange(int32_t state);

    // Called by Transcode just before the encoder starts.
    void setupProgressBar();

    // Folder mode: encodes every media file of the -input folder tree into the -output tree, one file
    // after the other; the next file is set up once the previous one has reported the stopped state.
    bool DoDirectoryModeEncoding();
    void EncodeFilesInFolder(const std::string& inputFolder, const std::string& outputFolder);

    // InformationCommands.
    void ListDevices() override;
    void ListAudioCodecs() override;
    void ListAudioFormats() override;
    void ListVideoCodecs() override;
    void ShowHelpChm() override;
    void PrintFileInfo() override;

    // What the front end needs to know to wait for a run: an encoder started and has not stopped
    // yet, or a folder walk has files left.
    bool busy() const { return running_ || walking_; }
    // Runs that reached the stopped state since the window opened.
    int completedRuns() const { return completedRuns_; }
    // True once an error reached Go's error handler.
    bool failed() const { return failed_; }

private:
    // One step of a folder walk, planned when the walk starts.
    struct WalkStep {
        enum Kind { Heading, Skip, File } kind;
        std::string text;   // heading: the folder; skip: the file name; file: the input file
        std::string output; // file: the output name before its extension
    };

    void go();
    void goErrorHandler(std::exception_ptr error);
    bool isEncoderMissing();
    bool startRun();
    void planFolder(const std::string& inputFolder, const std::string& outputFolder);
    void continueWalk();
    void continueAfterFile();
    void tearDownFile();
    void runGuarded(void (MainWindow::*action)());

    UserInterface& ui_;
    WindowServices& services_;
    bool running_ = false;
    int completedRuns_ = 0;
    bool failed_ = false;
    // From the start of a folder walk until its last file has been torn down.
    bool walking_ = false;
    // The steps of the folder walk still to do, the next one first.
    std::deque<WalkStep> walk_;
    // Tells a queued continuation of an earlier walk (or an earlier Go) that it is stale.
    unsigned generation_ = 0;
};

} // namespace capture
