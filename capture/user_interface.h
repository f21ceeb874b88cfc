// The window elements the run logic talks to. The Win32 window and the console front end implement
// them; tests implement them with a recording fake. Texts are Windows-1252, one byte per character.
#pragma once

#include <string>
#include <string_view>

namespace capture {

// The three side-by-side labels of the running encoder.
enum class RunLabel { ElapsedTime, ExpectedBitrate, CurrentBitrate };

class UserInterface {
public:
    virtual ~UserInterface() = default;

    // Information box: text is only appended, or cleared by a Go without a command.
    virtual void appendInfo(std::string_view text) = 0;
    virtual void clearInfo() = 0;
    // Scrolls the information box so that its last line shows.
    virtual void scrollDisplay() = 0;

    virtual void setStatus(std::string_view text) = 0;
    virtual void setRunLabel(RunLabel label, std::string_view text) = 0;
    // "  Encoding: " and the input path.
    virtual void setFileLabel(std::string_view text) = 0;
    // "Media Length: " and the run's duration.
    virtual void setLengthLabel(std::string_view text) = 0;

    // Progress bar: a range, a value, and refusal of values below the minimum (false, value unchanged).
    virtual void setProgressRange(int minimum, int maximum) = 0;
    virtual int progressMinimum() const = 0;
    virtual int progressMaximum() const = 0;
    virtual int progressValue() const = 0;
    virtual bool setProgressValue(int value) = 0;
    virtual void setProgressLabel(std::string_view text) = 0;

    // The one-line command box.
    virtual std::string commandText() const = 0;
    virtual void setCommandText(std::string_view text) = 0;
};

// The front end installs itself once its window exists; until then (and after setUserInterface(nullptr))
// OutputInfo has nowhere to write and does nothing.
void setUserInterface(UserInterface* ui);
UserInterface* userInterface();

// The one way every routine writes a line into the information box: the text and CR LF, then the box
// scrolls to its last line.
void OutputInfo(std::string_view text);

} // namespace capture
