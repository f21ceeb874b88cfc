// A fixture for the session set-up tests: a fresh option record and run state, the recording fake of
// the encoder installed as the factory, and a folder of its own for the files a test writes.
#pragma once

#include "capture/encoder/dispatcher.h"
#include "capture/fake_encoder.h"
#include "capture/files.h"
#include "capture/run_state.h"
#include "capture/test_fixture.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace capture {

class SetupTest : public FrontEndTest {
protected:
    fake::FakeWorld world;
    fake::FakeFactory factory{world};
    encoder::QueueDispatcher dispatcher;

    void SetUp() override {
        FrontEndTest::SetUp();
        g_encoderFactory = &factory;
        g_objEncoder = factory.CreateEncoder(dispatcher);
        releaseRunObjects();
        g_contentType = 0;
        g_needProfileDefaults = true;
        g_audioCodecName.clear();
        g_videoCodecName.clear();
    }
    void TearDown() override {
        releaseRunObjects();
        g_objEncoder.reset();
        g_encoderFactory = nullptr;
        FrontEndTest::TearDown();
    }

    // An input the fake encoder opens; the name as a command would give it.
    std::string addInput(std::string_view name, bool audio = true, bool video = true) {
        world.files[absolutePath(name)] = {audio, video};
        return std::string(name);
    }

    // An empty folder for this test, under the test's working folder.
    std::string testFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const std::filesystem::path folder =
            std::filesystem::absolute("setup_test_files") / info->test_suite_name() / info->name();
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        return pathText(folder);
    }

    // A source group with the given sources, as SetupInput leaves it.
    void prepareSources(bool audio, bool video) {
        releaseRunObjects();
        g_objEncoder = factory.CreateEncoder(dispatcher);
        g_objSourceGroup = g_objEncoder->SourceGroupCollection().Add("SG_1");
        if (audio)
            g_objAudioSource = g_objSourceGroup->AddSource(encoder::kAudio);
        if (video)
            g_objVideoSource = g_objSourceGroup->AddSource(encoder::kVideo);
        g_contentType = audio && video ? encoder::kAudioVideo
                        : audio        ? encoder::kAudioOnly
                                       : encoder::kVideoOnly;
        world.calls.clear();
    }

    // The sources, and a profile with one audience.
    std::shared_ptr<encoder::IAudience> prepareProfile(bool audio, bool video) {
        prepareSources(audio, video);
        g_objProfile = factory.CreateProfile();
        auto audience = g_objProfile->AddAudience(10000000);
        world.calls.clear();
        return audience;
    }

    // The recorded calls whose text starts with one of the prefixes.
    std::vector<std::string> callsStartingWith(std::initializer_list<std::string_view> prefixes) const {
        std::vector<std::string> out;
        for (const std::string& c : world.calls) {
            for (std::string_view p : prefixes) {
                if (c.starts_with(p)) {
                    out.push_back(c);
                    break;
                }
            }
        }
        return out;
    }
};

} // namespace capture
