#include "capture/fake_encoder.h"

#include "capture/encoder/errors.h"

#include <algorithm>

namespace capture::fake {

namespace {

namespace errors = encoder::errors;

std::string arg(int32_t value) {
    return std::to_string(value);
}
std::string arg(bool value) {
    return value ? "true" : "false";
}
std::string arg(const std::string& value) {
    return '"' + value + '"';
}
std::string arg(const encoder::AttributeValue& value) {
    return std::visit([](const auto& v) { return arg(v); }, value);
}

template <typename... Args> std::string call(const std::string& member, const Args&... args) {
    std::string text = member + "(";
    bool first = true;
    ((text += (first ? "" : ", ") + arg(args), first = false), ...);
    return text + ")";
}

int32_t fourCC(const char (&text)[5]) {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned char>(text[0])) |
                                static_cast<uint32_t>(static_cast<unsigned char>(text[1])) << 8 |
                                static_cast<uint32_t>(static_cast<unsigned char>(text[2])) << 16 |
                                static_cast<uint32_t>(static_cast<unsigned char>(text[3])) << 24);
}

// Named values of one object: queries read them (0 when never set), setters record and write them.
class Values {
public:
    Values(FakeWorld& world, std::string label) : world_(world), label_(std::move(label)) {}

    int32_t get(const std::string& member) const {
        world_.ask(label_ + "." + member);
        auto it = values_.find(member);
        return it == values_.end() ? 0 : it->second;
    }
    template <typename... Args> void set(const std::string& member, int32_t value, const Args&... args) {
        world_.act(call(label_ + "." + member, args..., value));
        values_[member] = value;
    }

    FakeWorld& world_;
    std::string label_;
    std::map<std::string, int32_t> values_;
};

#define HV_FAKE_VALUE(Member)                                                                                \
    int32_t Member() const override {                                                                        \
        return v_.get(#Member);                                                                              \
    }                                                                                                        \
    void Member(int32_t value) override {                                                                    \
        v_.set(#Member, value);                                                                              \
    }
#define HV_FAKE_STREAM_VALUE(Member)                                                                         \
    int32_t Member(int32_t) const override {                                                                 \
        return v_.get(#Member);                                                                              \
    }                                                                                                        \
    void Member(int32_t i, int32_t value) override {                                                         \
        v_.set(#Member, value, i);                                                                           \
    }

class FakeSource : public encoder::ISource {
public:
    FakeSource(FakeWorld& world, std::string label, int32_t type)
        : v_(world, std::move(label)), type_(type) {}

    int32_t Type() const override { return type_; }
    void SetInput(const std::string& input, const std::string& scheme) override {
        v_.world_.act(call(v_.label_ + ".SetInput", input, scheme));
        if ((scheme.empty() || scheme == "file") && !v_.world_.files.contains(input))
            errors::raise(errors::kInputOpenFailed, "The input cannot be opened.");
        input_ = input;
    }
    std::string Input() const override { return input_; }
    int32_t Duration() const override {
        auto it = v_.world_.files.find(input_);
        return it == v_.world_.files.end() ? 0 : it->second.durationMs;
    }
    std::string ContentEDL() const override { return edl_; }
    void ContentEDL(const std::string& value) override {
        v_.world_.act(call(v_.label_ + ".ContentEDL", value));
        edl_ = value;
    }
    HV_FAKE_VALUE(MarkIn)
    HV_FAKE_VALUE(MarkOut)
    HV_FAKE_VALUE(PreProcessPass)
    HV_FAKE_VALUE(ContentMode)
    HV_FAKE_VALUE(Optimization)
    HV_FAKE_VALUE(PixelFormat)
    HV_FAKE_VALUE(PixelAspectRatioX)
    HV_FAKE_VALUE(PixelAspectRatioY)
    HV_FAKE_VALUE(CroppingLeftMargin)
    HV_FAKE_VALUE(CroppingTopMargin)
    HV_FAKE_VALUE(CroppingRightMargin)
    HV_FAKE_VALUE(CroppingBottomMargin)

private:
    mutable Values v_;
    int32_t type_;
    std::string input_;
    std::string edl_;
};

class FakeAudience : public encoder::IAudience {
public:
    FakeAudience(FakeWorld& world, std::map<std::string, int32_t> values) : v_(world, "Audience") {
        v_.values_ = std::move(values);
    }
    const std::map<std::string, int32_t>& values() const { return v_.values_; }

    void SetAudioConfig(int32_t i, int32_t channels, int32_t sampleRate, int32_t bitrate,
                        int32_t bitsPerSample) override {
        v_.world_.act(call("Audience.SetAudioConfig", i, channels, sampleRate, bitrate, bitsPerSample));
        v_.values_["AudioChannels"] = channels;
        v_.values_["AudioSampleRate"] = sampleRate;
        v_.values_["AudioBitrate"] = bitrate;
        v_.values_["AudioBitsPerSample"] = bitsPerSample;
    }
    std::string Property(int32_t, int32_t, const std::string& name) const override {
        v_.world_.ask("Audience.Property");
        auto it = properties_.find(name);
        return it == properties_.end() ? std::string() : it->second;
    }
    void Property(int32_t type, int32_t i, const std::string& name, const std::string& value) override {
        v_.world_.act(call("Audience.Property", type, i, name, value));
        properties_[name] = value;
    }
    HV_FAKE_STREAM_VALUE(AudioCodec)
    HV_FAKE_STREAM_VALUE(AudioPeakBitrate)
    HV_FAKE_STREAM_VALUE(AudioBufferMax)
    HV_FAKE_STREAM_VALUE(VideoCodec)
    HV_FAKE_STREAM_VALUE(VideoBitrate)
    HV_FAKE_STREAM_VALUE(VideoWidth)
    HV_FAKE_STREAM_VALUE(VideoHeight)
    HV_FAKE_STREAM_VALUE(VideoFPS)
    HV_FAKE_STREAM_VALUE(VideoKeyFrameDistance)
    HV_FAKE_STREAM_VALUE(VideoBufferSize)
    HV_FAKE_STREAM_VALUE(VideoBufferMax)
    HV_FAKE_STREAM_VALUE(VideoCompressionQuality)
    HV_FAKE_STREAM_VALUE(VideoImageSharpness)
    HV_FAKE_STREAM_VALUE(VideoPeakBitrate)

private:
    mutable Values v_;
    std::map<std::string, std::string> properties_;
};

class FakeProfile : public encoder::IProfile {
public:
    FakeProfile(FakeWorld& world, std::string label) : v_(world, std::move(label)) {}

    ProfileData data() const {
        ProfileData d{name_, v_.values_, {}};
        for (const auto& a : audiences_)
            d.audiences.push_back(a->values());
        return d;
    }
    void load(const ProfileData& d) {
        name_ = d.name;
        v_.values_ = d.values;
        audiences_.clear();
        for (const auto& values : d.audiences)
            audiences_.push_back(std::make_shared<FakeAudience>(v_.world_, values));
    }

    std::string ProfileName() const override { return name_; }
    void ProfileName(const std::string& value) override {
        v_.world_.act(call(v_.label_ + ".ProfileName", value));
        name_ = value;
    }
    std::shared_ptr<encoder::IAudience> AddAudience(int32_t bitrate) override {
        v_.world_.act(call(v_.label_ + ".AddAudience", bitrate));
        audiences_.push_back(std::make_shared<FakeAudience>(v_.world_, std::map<std::string, int32_t>{}));
        return audiences_.back();
    }
    std::shared_ptr<encoder::IAudience> Audience(int32_t i) const override {
        v_.world_.ask(v_.label_ + ".Audience");
        if (i < 0 || i >= static_cast<int32_t>(audiences_.size()))
            errors::raise(errors::kInvalidArgument, "No such audience.");
        return audiences_[static_cast<size_t>(i)];
    }
    void LoadFromFile(const std::string& path) override {
        v_.world_.act(call(v_.label_ + ".LoadFromFile", path));
        auto it = v_.world_.profileFiles.find(path);
        if (it == v_.world_.profileFiles.end())
            errors::raise(errors::kBadProfileFile, "The profile file cannot be read.");
        load(it->second);
    }
    void SaveToFile(const std::string& path) const override {
        v_.world_.act(call(v_.label_ + ".SaveToFile", path));
    }
    void LoadFromIWMProfile(const encoder::IProfile& other) override {
        v_.world_.act(call(v_.label_ + ".LoadFromIWMProfile", other.ProfileName()));
        load(dynamic_cast<const FakeProfile&>(other).data());
    }
    int32_t VBRMode(int32_t type, int32_t) const override {
        const int32_t mode = v_.get("VBRMode" + std::to_string(type));
        return mode == 0 ? encoder::kConstant : mode;
    }
    void VBRMode(int32_t type, int32_t i, int32_t mode) override {
        v_.world_.act(call(v_.label_ + ".VBRMode", type, i, mode));
        v_.values_["VBRMode" + std::to_string(type)] = mode;
    }

    int32_t AudioCodecCount() const override { return static_cast<int32_t>(v_.world_.audioCodecs.size()); }
    int32_t VideoCodecCount() const override { return static_cast<int32_t>(v_.world_.videoCodecs.size()); }
    std::string EnumAudioCodec(int32_t index) const override {
        v_.world_.ask(v_.label_ + ".EnumAudioCodec");
        return "Audio codec " + std::to_string(codecAt(encoder::kAudio, index));
    }
    std::string EnumVideoCodec(int32_t index) const override {
        v_.world_.ask(v_.label_ + ".EnumVideoCodec");
        return "Video codec " + std::to_string(codecAt(encoder::kVideo, index));
    }
    int32_t GetCodecFourCCFromIndex(int32_t type, int32_t index) const override {
        v_.world_.ask(v_.label_ + ".GetCodecFourCCFromIndex");
        return codecAt(type, index);
    }
    int32_t GetCodecIndexFromFourCC(int32_t type, int32_t id) const override {
        v_.world_.ask(v_.label_ + ".GetCodecIndexFromFourCC");
        auto substitute = v_.world_.substitutes.find({type, id});
        if (substitute != v_.world_.substitutes.end())
            id = substitute->second;
        const auto& codecs = type == encoder::kAudio ? v_.world_.audioCodecs : v_.world_.videoCodecs;
        auto it = std::find(codecs.begin(), codecs.end(), id);
        if (it == codecs.end())
            errors::raise(errors::kNotFound, "No codec has that identifier.");
        return static_cast<int32_t>(it - codecs.begin());
    }
    int32_t AudioFormatCount(int32_t) const override { return 0; }
    encoder::AudioFormat EnumAudioFormat(int32_t, int32_t) const override {
        errors::raise(errors::kInvalidArgument, "No formats.");
    }

    bool NonSquarePixelMode(int32_t) const override { return v_.get("NonSquarePixelMode") != 0; }
    void NonSquarePixelMode(int32_t i, bool value) override {
        v_.world_.act(call(v_.label_ + ".NonSquarePixelMode", i, value));
        v_.values_["NonSquarePixelMode"] = value;
    }
    bool InterlaceMode(int32_t) const override { return v_.get("InterlaceMode") != 0; }
    void InterlaceMode(int32_t i, bool value) override {
        v_.world_.act(call(v_.label_ + ".InterlaceMode", i, value));
        v_.values_["InterlaceMode"] = value;
    }
    HV_FAKE_VALUE(ContentType)
    HV_FAKE_VALUE(MinPacketSize)
    HV_FAKE_VALUE(MaxPacketSize)

private:
    int32_t codecAt(int32_t type, int32_t index) const {
        const auto& codecs = type == encoder::kAudio ? v_.world_.audioCodecs : v_.world_.videoCodecs;
        if (index < 0 || index >= static_cast<int32_t>(codecs.size()))
            errors::raise(errors::kInvalidArgument, "The codec index is out of range.");
        return codecs[static_cast<size_t>(index)];
    }

    mutable Values v_;
    std::string name_;
    std::vector<std::shared_ptr<FakeAudience>> audiences_;
};

class FakeSourceGroup : public encoder::ISourceGroup {
public:
    FakeSourceGroup(FakeWorld& world, std::string name) : world_(world), name_(std::move(name)) {}

    std::string Name() const override { return name_; }
    std::shared_ptr<encoder::ISource> AddSource(int32_t type) override {
        world_.act(call("SourceGroup.AddSource", type));
        return add(type);
    }
    void AutoSetFileSource(const std::string& path) override {
        world_.act(call("SourceGroup.AutoSetFileSource", path));
        auto file = world_.files.find(path);
        if (file == world_.files.end())
            errors::raise(errors::kInputOpenFailed, "The input cannot be opened.");
        if (file->second.audio)
            add(encoder::kAudio);
        if (file->second.video)
            add(encoder::kVideo);
    }
    int32_t SourceCount(int32_t type) const override {
        world_.ask("SourceGroup.SourceCount");
        return static_cast<int32_t>(std::count_if(sources_.begin(), sources_.end(),
                                                  [&](const auto& s) { return s->Type() == type; }));
    }
    std::shared_ptr<encoder::ISource> Source(int32_t type, int32_t index) const override {
        world_.ask("SourceGroup.Source");
        for (const auto& s : sources_) {
            if (s->Type() == type && index-- == 0)
                return s;
        }
        errors::raise(errors::kNotFound, "No such source.");
    }
    std::shared_ptr<encoder::IProfile> Profile() const override {
        world_.ask("SourceGroup.Profile");
        if (!profile_)
            errors::raise(errors::kNoProfile, "No profile is set on the source group.");
        return profile_;
    }
    void Profile(const encoder::IProfile& profile) override {
        world_.act(call("SourceGroup.Profile", profile.ProfileName()));
        setProfile(dynamic_cast<const FakeProfile&>(profile).data());
    }
    void setProfile(const ProfileData& data) {
        profile_ = std::make_shared<FakeProfile>(world_, "GroupProfile");
        profile_->load(data);
    }
    // A source the encoder adds by itself, unrecorded.
    std::shared_ptr<encoder::ISource> add(int32_t type) {
        const bool audio = type == encoder::kAudio;
        const int32_t count = static_cast<int32_t>(std::count_if(
            sources_.begin(), sources_.end(), [&](const auto& s) { return s->Type() == type; }));
        std::string label = audio ? "AudioSource" : "VideoSource";
        if (count > 0)
            label += "[" + std::to_string(count) + "]";
        sources_.push_back(std::make_shared<FakeSource>(world_, label, type));
        return sources_.back();
    }

private:
    FakeWorld& world_;
    std::string name_;
    std::vector<std::shared_ptr<encoder::ISource>> sources_;
    std::shared_ptr<FakeProfile> profile_;
};

class FakeCollection : public encoder::ISourceGroupCollection {
public:
    explicit FakeCollection(FakeWorld& world) : world_(world) {}
    int32_t Count() const override { return static_cast<int32_t>(groups_.size()); }
    std::shared_ptr<encoder::ISourceGroup> Item(int32_t index) const override {
        world_.ask("SourceGroupCollection.Item");
        if (index < 0 || index >= Count())
            errors::raise(errors::kNotFound, "No such source group.");
        return groups_[static_cast<size_t>(index)];
    }
    std::shared_ptr<encoder::ISourceGroup> Add(const std::string& name) override {
        world_.act(call("SourceGroupCollection.Add", name));
        return add(name);
    }
    void Remove(const std::string& name) override {
        world_.act(call("SourceGroupCollection.Remove", name));
        std::erase_if(groups_, [&](const auto& g) { return g->Name() == name; });
    }
    std::shared_ptr<FakeSourceGroup> add(const std::string& name) {
        groups_.push_back(std::make_shared<FakeSourceGroup>(world_, name));
        return groups_.back();
    }

private:
    FakeWorld& world_;
    std::vector<std::shared_ptr<FakeSourceGroup>> groups_;
};

class FakePluginInfo : public encoder::IPluginInfo {
public:
    explicit FakePluginInfo(const FakePlugin& plugin) : plugin_(plugin) {}
    std::string Name() const override { return plugin_.name; }
    bool Resources() const override { return plugin_.resources; }
    int32_t MediaType() const override { return plugin_.mediaType; }
    int32_t count() const override { return static_cast<int32_t>(plugin_.devices.size()); }
    std::string Item(int32_t index) const override { return plugin_.devices.at(static_cast<size_t>(index)); }

private:
    FakePlugin plugin_;
};

class FakePluginManager : public encoder::IPluginInfoManager {
public:
    explicit FakePluginManager(FakeWorld& world) : world_(world) {}
    int32_t count() const override { return static_cast<int32_t>(world_.plugins.size()); }
    std::shared_ptr<encoder::IPluginInfo> Item(int32_t index) const override {
        return std::make_shared<FakePluginInfo>(world_.plugins.at(static_cast<size_t>(index)));
    }

private:
    FakeWorld& world_;
};

#define HV_FAKE_TEXT(Member)                                                                                 \
    std::string Member() const override {                                                                    \
        return texts_.count(#Member) ? texts_.at(#Member) : std::string();                                   \
    }                                                                                                        \
    void Member(const std::string& value) override {                                                         \
        world_.act(call(label_ + "." #Member, value));                                                       \
        texts_[#Member] = value;                                                                             \
    }

class FakeDisplayInfo : public encoder::IDisplayInfo {
public:
    explicit FakeDisplayInfo(FakeWorld& world) : world_(world) {}
    HV_FAKE_TEXT(Title)
    HV_FAKE_TEXT(Author)
    HV_FAKE_TEXT(Copyright)
    HV_FAKE_TEXT(Description)
    HV_FAKE_TEXT(Rating)

private:
    FakeWorld& world_;
    std::string label_ = "DisplayInfo";
    std::map<std::string, std::string> texts_;
};

class FakeBroadcast : public encoder::IBroadcast {
public:
    explicit FakeBroadcast(FakeWorld& world) : world_(world) {}
    int32_t PortNumber(int32_t protocol) const override { return protocol == encoder::kHttp ? port_ : 0; }
    void PortNumber(int32_t protocol, int32_t port) override {
        world_.act(call("Broadcast.PortNumber", protocol, port));
        port_ = port;
    }
    HV_FAKE_TEXT(ServerName)
    HV_FAKE_TEXT(PublishingPoint)
    HV_FAKE_TEXT(Template)

private:
    FakeWorld& world_;
    std::string label_ = "Broadcast";
    std::map<std::string, std::string> texts_;
    int32_t port_ = 0;
};

class FakeFileOutput : public encoder::IFile {
public:
    explicit FakeFileOutput(FakeWorld& world) : world_(world) {}
    HV_FAKE_TEXT(LocalFileName)

private:
    FakeWorld& world_;
    std::string label_ = "File";

public:
    std::map<std::string, std::string> texts_;
};

class FakeAttributes : public encoder::IAttributes {
public:
    explicit FakeAttributes(FakeWorld& world) : world_(world) {}
    void Add(const std::string& name, const encoder::AttributeValue& value) override {
        world_.act(call("Attributes.Add", name, value));
    }

private:
    FakeWorld& world_;
};

class FakeStatistics : public encoder::IStatistics {
public:
    encoder::Fixed4 EncodingTime() const override { return {}; }
    encoder::OutputStats WMFOutputStats() const override { return {}; }
    encoder::OutputStats StreamOutputStats(int32_t, int32_t, int32_t) const override { return {}; }
    encoder::FileArchiveStatsValue FileArchiveStats() const override { return {}; }
};

class FakeEncoder : public encoder::IEncoder {
public:
    explicit FakeEncoder(FakeWorld& world)
        : world_(world), groups_(world), plugins_(world), displayInfo_(world), attributes_(world),
          broadcast_(world), file_(world) {}

    void Load(const std::string& path) override {
        world_.act(call("Encoder.Load", path));
        auto session = world_.sessions.find(path);
        if (session == world_.sessions.end())
            errors::raise(errors::kNotImplemented, "Session files are not supported yet.");
        const auto group = groups_.add("SG_1");
        if (session->second.audio)
            group->add(encoder::kAudio);
        if (session->second.video)
            group->add(encoder::kVideo);
        group->setProfile(session->second.profile);
        file_.texts_["LocalFileName"] = session->second.outputFile;
    }
    encoder::ISourceGroupCollection& SourceGroupCollection() override { return groups_; }
    encoder::IPluginInfoManager& SourcePluginInfoManager() override { return plugins_; }
    encoder::IDisplayInfo& DisplayInfo() override { return displayInfo_; }
    encoder::IAttributes& Attributes() override { return attributes_; }
    encoder::IBroadcast& Broadcast() override { return broadcast_; }
    encoder::IFile& File() override { return file_; }
    encoder::IStatistics& Statistics() override { return statistics_; }
    int32_t RunState() const override { return runState_; }
    int32_t VideoComplexity() const override { return complexity_; }
    void VideoComplexity(int32_t value) override {
        world_.act(call("Encoder.VideoComplexity", value));
        complexity_ = value;
    }
    bool AutoStop() const override { return autoStop_; }
    void AutoStop(bool value) override {
        world_.act(call("Encoder.AutoStop", value));
        autoStop_ = value;
    }
    void PrepareToEncode(bool prepare) override { world_.act(call("Encoder.PrepareToEncode", prepare)); }
    void Start() override {
        world_.act(call("Encoder.Start"));
        runState_ = encoder::kRunning;
    }
    void Stop() override { world_.act(call("Encoder.Stop")); }
    void OnStateChange(encoder::StateChangeHandler handler) override { handler_ = std::move(handler); }

private:
    FakeWorld& world_;
    FakeCollection groups_;
    FakePluginManager plugins_;
    FakeDisplayInfo displayInfo_;
    FakeAttributes attributes_;
    FakeBroadcast broadcast_;
    FakeFileOutput file_;
    FakeStatistics statistics_;
    int32_t runState_ = encoder::kStopped;
    int32_t complexity_ = 0;
    bool autoStop_ = false;
    encoder::StateChangeHandler handler_;
};

class FakeMediaInfo : public encoder::IMediaInfo {
public:
    explicit FakeMediaInfo(FakeWorld& world) : world_(world) {}
    std::string FileName() const override { return fileName_; }
    void FileName(const std::string& path) override { fileName_ = path; }
    double FrameRate() const override {
        world_.ask("MediaInfo.FrameRate");
        auto it = world_.frameRates.find(fileName_);
        if (it == world_.frameRates.end())
            errors::raise(errors::kInputOpenFailed, "The file cannot be read.");
        return it->second;
    }
    std::string MediaInfo() const override { return {}; }

private:
    FakeWorld& world_;
    std::string fileName_;
};

} // namespace

FakeWorld::FakeWorld()
    : audioCodecs{0x161, 0x160, 0}, videoCodecs{fourCC("WMV2"), fourCC("WMV1"), fourCC("MP4S"), 0},
      substitutes{{{encoder::kAudio, 0x162}, 0x161},
                  {{encoder::kAudio, 0x163}, 0x161},
                  {{encoder::kAudio, 0x00A}, 0x161},
                  {{encoder::kVideo, fourCC("WMV3")}, fourCC("WMV2")},
                  {{encoder::kVideo, fourCC("MSS2")}, fourCC("WMV2")}} {}

void FakeWorld::haveEveryCodec() {
    audioCodecs = {0, 0x00A, 0x163, 0x162, 0x161};
    videoCodecs = {0, fourCC("MP4S"), fourCC("MSS2"), fourCC("WMV3"), fourCC("WMV2"), fourCC("WMV1")};
    substitutes.clear();
}

void FakeWorld::fail(std::string call, uint32_t number, int times) {
    failures_.push_back({std::move(call), number, times});
}

void FakeWorld::act(std::string text) {
    calls.push_back(text);
    raisePlanned(text);
}

void FakeWorld::ask(const std::string& member) {
    raisePlanned(member + "?");
}

void FakeWorld::raisePlanned(const std::string& text) {
    for (Failure& f : failures_) {
        if (!text.starts_with(f.call) || f.remaining < 0)
            continue;
        if (f.remaining > 0 && --f.remaining == 0)
            f.remaining = -1; // used up
        throw encoder::EncoderError(f.number, "Fake failure");
    }
}

std::unique_ptr<encoder::IEncoder> FakeFactory::CreateEncoder(encoder::Dispatcher&) {
    return std::make_unique<FakeEncoder>(world_);
}

std::shared_ptr<encoder::IProfile> FakeFactory::CreateProfile() {
    return std::make_shared<FakeProfile>(world_, "Profile");
}

std::unique_ptr<encoder::IMediaInfo> FakeFactory::CreateMediaInfo() {
    return std::make_unique<FakeMediaInfo>(world_);
}

std::optional<ProfileData> groupProfile(encoder::IEncoder& encoder) {
    try {
        auto profile = encoder.SourceGroupCollection().Item(0)->Profile();
        return dynamic_cast<const FakeProfile&>(*profile).data();
    } catch (const encoder::EncoderError&) {
        return std::nullopt;
    }
}

} // namespace capture::fake
