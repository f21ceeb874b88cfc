// Test doubles of the window and the encoder-side commands, and a fixture that gives each test a fresh
// option record.
#pragma once

#include "capture/encode_options.h"
#include "capture/parser.h"
#include "capture/user_interface.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace capture {

class RecordingUi : public UserInterface {
public:
    std::string info;
    int scrolls = 0;

    // The information box split at CR LF.
    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (std::size_t start = 0, end; start < info.size(); start = end + 2) {
            end = info.find("\r\n", start);
            if (end == std::string::npos)
                end = info.size();
            out.push_back(info.substr(start, end - start));
        }
        return out;
    }

    void appendInfo(std::string_view text) override { info += text; }
    void clearInfo() override { info.clear(); }
    void scrollDisplay() override { ++scrolls; }
    void setStatus(std::string_view) override {}
    void setRunLabel(RunLabel, std::string_view) override {}
    void setFileLabel(std::string_view) override {}
    void setLengthLabel(std::string_view) override {}
    void setProgressRange(int, int) override {}
    int progressMinimum() const override { return 0; }
    int progressMaximum() const override { return 100; }
    int progressValue() const override { return 0; }
    bool setProgressValue(int) override { return true; }
    void setProgressLabel(std::string_view) override {}
    std::string commandText() const override { return {}; }
    void setCommandText(std::string_view) override {}
};

class RecordingCommands : public InformationCommands {
public:
    std::vector<std::string> calls;

    void ListDevices() override { calls.push_back("ListDevices"); }
    void ListAudioCodecs() override { calls.push_back("ListAudioCodecs"); }
    void ListAudioFormats() override { calls.push_back("ListAudioFormats"); }
    void ListVideoCodecs() override { calls.push_back("ListVideoCodecs"); }
    void ShowHelpChm() override { calls.push_back("ShowHelpChm"); }
    void PrintFileInfo() override { calls.push_back("PrintFileInfo " + g_options.inputPath); }
};

// Failures show only the fields that differ from the initial record.
inline void PrintTo(const EncodeOptions& o, std::ostream* os) {
    const EncodeOptions initial;
    auto field = [&](const char* name, const auto& value, const auto& unset) {
        if (!(value == unset))
            *os << " " << name << "=" << testing::PrintToString(value);
    };
    *os << "{";
#define HV_FIELD(f) field(#f, o.f, initial.f);
    HV_FIELD(inputPath)
    HV_FIELD(outputPath)
    HV_FIELD(outputString)
    HV_FIELD(profileCode)
    HV_FIELD(sessionFile)
    HV_FIELD(saveProfileFile)
    HV_FIELD(loadProfileFile)
    HV_FIELD(title)
    HV_FIELD(author)
    HV_FIELD(copyright)
    HV_FIELD(description)
    HV_FIELD(rating)
    HV_FIELD(audioDevice)
    HV_FIELD(videoDevice)
    HV_FIELD(captureDevices)
    HV_FIELD(broadcastPort)
    HV_FIELD(pushServer)
    HV_FIELD(pushPublishingPoint)
    HV_FIELD(pushTemplate)
    HV_FIELD(markIn)
    HV_FIELD(markOut)
    HV_FIELD(duration)
    HV_FIELD(audioOnly)
    HV_FIELD(videoOnly)
    HV_FIELD(audioMode)
    HV_FIELD(audioCodec)
    HV_FIELD(audioSetting)
    HV_FIELD(audioPeakBitrate)
    HV_FIELD(audioPeakBuffer)
    HV_FIELD(audioContentMode)
    HV_FIELD(audioContentEdl)
    HV_FIELD(foldDownSurround)
    HV_FIELD(foldDownCenter)
    HV_FIELD(foldDownLfe)
    HV_FIELD(videoMode)
    HV_FIELD(videoCodec)
    HV_FIELD(videoBitrate)
    HV_FIELD(videoBuffer)
    HV_FIELD(videoWidth)
    HV_FIELD(videoHeight)
    HV_FIELD(videoQuality)
    HV_FIELD(videoPeakBitrate)
    HV_FIELD(videoPeakBuffer)
    HV_FIELD(videoFrameRate)
    HV_FIELD(videoKeyDistance)
    HV_FIELD(videoPerformance)
    HV_FIELD(videoPreprocess)
    HV_FIELD(pixelFormat)
    HV_FIELD(pixelRatioX)
    HV_FIELD(pixelRatioY)
    HV_FIELD(clipLeft)
    HV_FIELD(clipTop)
    HV_FIELD(clipRight)
    HV_FIELD(clipBottom)
    HV_FIELD(videoProfile)
    HV_FIELD(maxPacket)
    HV_FIELD(minPacket)
#undef HV_FIELD
    *os << " }";
}

// A fresh record, the recording window and commands installed for the length of one test.
class FrontEndTest : public testing::Test {
protected:
    RecordingUi ui;
    RecordingCommands commands;

    void SetUp() override {
        g_options = EncodeOptions{};
        setUserInterface(&ui);
        setInformationCommands(&commands);
    }
    void TearDown() override {
        setUserInterface(nullptr);
        setInformationCommands(nullptr);
    }

    bool parse(std::string_view command) { return ParseParameters(SplitCommand(command)); }
    std::vector<std::string> messages() const { return ui.lines(); }
};

} // namespace capture
