// A recording fake of the encoder object model for the set-up tests. Every member that changes something
// is written to FakeWorld::calls in order ("Audience.VideoBitrate(0, 302000)"); queries are answered
// from what was set and from the world (files, devices, session and profile files, frame rates). Any
// member can be made to fail with FakeWorld::fail.
#pragma once

#include "capture/encoder/encoder.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace capture::fake {

struct FakeFile {
    bool audio = true;
    bool video = true;
    int32_t durationMs = 10000;
};

struct FakePlugin {
    std::string name;
    bool resources = true;
    int32_t mediaType = 1;
    std::vector<std::string> devices;
};

// What a profile holds: named values ("ContentType", "VBRMode1", "MaxPacketSize" ...) and the values of
// its audiences.
struct ProfileData {
    std::string name;
    std::map<std::string, int32_t> values;
    std::vector<std::map<std::string, int32_t>> audiences;
};

struct FakeSession {
    bool audio = true;
    bool video = true;
    ProfileData profile; // the group's profile
    std::string outputFile;
};

struct FakeWorld {
    std::vector<std::string> calls;

    // Inputs AutoSetFileSource and SetInput accept; others fail with 0x80040200.
    std::map<std::string, FakeFile> files;
    std::vector<FakePlugin> plugins;
    std::map<std::string, FakeSession> sessions;
    std::map<std::string, ProfileData> profileFiles;
    // Frame rates (frames per second) the media-information object reads.
    std::map<std::string, double> frameRates;
    // The codecs the encoder has, by identifier in index order, and what it encodes other identifiers
    // with (type, wanted) -> used.
    std::vector<int32_t> audioCodecs;
    std::vector<int32_t> videoCodecs;
    std::map<std::pair<int32_t, int32_t>, int32_t> substitutes;

    FakeWorld();
    // The codecs of the command language, each with its own index, in an order unlike the names'.
    void haveEveryCodec();

    // The member whose call text starts with `call` fails `times` times (0: every time) with the number
    // and the description "Fake failure". Queries are matched by "Object.Member?".
    void fail(std::string call, uint32_t number, int times = 0);

    // Records a call that changes something, then raises the failure planned for it.
    void act(std::string call);
    // Raises the failure planned for a query ("Object.Member").
    void ask(const std::string& member);

private:
    struct Failure {
        std::string call;
        uint32_t number;
        int remaining; // 0: every time
    };
    std::vector<Failure> failures_;
    void raisePlanned(const std::string& text);
};

class FakeFactory : public encoder::IEncoderFactory {
public:
    explicit FakeFactory(FakeWorld& world) : world_(world) {}
    std::unique_ptr<encoder::IEncoder> CreateEncoder(encoder::Dispatcher& dispatcher) override;
    std::shared_ptr<encoder::IProfile> CreateProfile() override;
    std::unique_ptr<encoder::IMediaInfo> CreateMediaInfo() override;

private:
    FakeWorld& world_;
};

// The group's profile of the first source group, for checking what was handed over.
std::optional<ProfileData> groupProfile(encoder::IEncoder& encoder);

} // namespace capture::fake
