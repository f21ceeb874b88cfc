#include "capture/encoder/sources.h"

#include "capture/encoder/errors.h"
#include "capture/encoder/picture_filter.h"

#include <algorithm>

namespace encoder {
namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

void checkType(int32_t type) {
    if (type != kAudio && type != kVideo)
        errors::raise(errors::kInvalidArgument, "The source type must be 1 (audio) or 2 (video).");
}

void checkNotNegative(int32_t value) {
    if (value < 0)
        errors::raise(errors::kInvalidArgument, "The value must not be negative.");
}

} // namespace

// ---- Source

void Source::SetInput(const std::string& input, const std::string& scheme) {
    checkIdle_();
    const std::string kind = lower(scheme);
    if (kind.empty() || kind == "file") {
        FileProbe probe = probeFile(input);
        if ((type_ == kAudio && !probe.hasAudio) || (type_ == kVideo && !probe.hasVideo))
            errors::raise(errors::kNoSuchStream,
                          input + (type_ == kAudio ? " holds no audio." : " holds no video."));
        setProbedFile(input, probe);
    } else if (kind == "device") {
        if (input.empty())
            errors::raise(errors::kInvalidArgument, "The device name is empty.");
        kind_ = InputKind::kDevice;
        input_ = input;
        probe_ = {};
    } else if (kind == "screencap") {
        if (type_ != kVideo)
            errors::raise(errors::kInvalidArgument, "The screen is a video input.");
        kind_ = InputKind::kScreen;
        input_ = input;
        probe_ = {};
    } else {
        errors::raise(errors::kInvalidArgument, "Unknown input scheme: " + scheme);
    }
}

void Source::setProbedFile(const std::string& path, const FileProbe& probe) {
    kind_ = InputKind::kFile;
    input_ = path;
    probe_ = probe;
}

void Source::MarkIn(int32_t ms) {
    checkIdle_();
    checkNotNegative(ms);
    markIn_ = ms;
}
void Source::MarkOut(int32_t ms) {
    checkIdle_();
    checkNotNegative(ms);
    markOut_ = ms;
}
void Source::PreProcessPass(int32_t value) {
    checkIdle_();
    if (value != 0 && value != 1)
        errors::raise(errors::kInvalidArgument, "The pre-processing pass must be 0 or 1.");
    preProcessPass_ = value;
}
int32_t Source::Duration() const {
    return static_cast<int32_t>(std::min<int64_t>(probe_.durationMs, INT32_MAX));
}

void Source::audioOnly() const {
    if (type_ != kAudio)
        errors::raise(errors::kInvalidArgument, "The member belongs to audio sources.");
}
void Source::videoOnly() const {
    if (type_ != kVideo)
        errors::raise(errors::kInvalidArgument, "The member belongs to video sources.");
}

int32_t Source::ContentMode() const {
    audioOnly();
    return contentMode_;
}
void Source::ContentMode(int32_t value) {
    audioOnly();
    checkIdle_();
    contentMode_ = value;
}
std::string Source::ContentEDL() const {
    audioOnly();
    return contentEdl_;
}
void Source::ContentEDL(const std::string& value) {
    audioOnly();
    checkIdle_();
    contentEdl_ = value;
}

int32_t& Source::videoValue(int32_t& field) {
    videoOnly();
    checkIdle_();
    return field;
}
int32_t Source::videoValue(const int32_t& field) const {
    videoOnly();
    return field;
}

int32_t Source::Optimization() const {
    return videoValue(optimization_);
}
void Source::Optimization(int32_t value) {
    if (!knownOptimization(value))
        errors::raise(errors::kInvalidArgument, "There is no optimization " + std::to_string(value) + ".");
    videoValue(optimization_) = value;
}
int32_t Source::PixelFormat() const {
    return videoValue(pixelFormat_);
}
void Source::PixelFormat(int32_t value) {
    if (value != 0 && sourcePixelFormat(value) == AV_PIX_FMT_NONE)
        errors::raise(errors::kInvalidArgument, "The pixel format is not one the engine knows.");
    videoValue(pixelFormat_) = value;
}
int32_t Source::PixelAspectRatioX() const {
    return videoValue(aspectX_);
}
void Source::PixelAspectRatioX(int32_t value) {
    checkNotNegative(value);
    videoValue(aspectX_) = value;
}
int32_t Source::PixelAspectRatioY() const {
    return videoValue(aspectY_);
}
void Source::PixelAspectRatioY(int32_t value) {
    checkNotNegative(value);
    videoValue(aspectY_) = value;
}
int32_t Source::CroppingLeftMargin() const {
    return videoValue(cropLeft_);
}
void Source::CroppingLeftMargin(int32_t pixels) {
    checkNotNegative(pixels);
    videoValue(cropLeft_) = pixels;
}
int32_t Source::CroppingTopMargin() const {
    return videoValue(cropTop_);
}
void Source::CroppingTopMargin(int32_t pixels) {
    checkNotNegative(pixels);
    videoValue(cropTop_) = pixels;
}
int32_t Source::CroppingRightMargin() const {
    return videoValue(cropRight_);
}
void Source::CroppingRightMargin(int32_t pixels) {
    checkNotNegative(pixels);
    videoValue(cropRight_) = pixels;
}
int32_t Source::CroppingBottomMargin() const {
    return videoValue(cropBottom_);
}
void Source::CroppingBottomMargin(int32_t pixels) {
    checkNotNegative(pixels);
    videoValue(cropBottom_) = pixels;
}

// ---- SourceGroup

const std::vector<std::shared_ptr<Source>>& SourceGroup::sources(int32_t type) const {
    checkType(type);
    return type == kAudio ? audio_ : video_;
}

std::shared_ptr<ISource> SourceGroup::AddSource(int32_t type) {
    checkType(type);
    checkIdle_();
    auto& list = type == kAudio ? audio_ : video_;
    // One source of each type: the engine mixes and switches nothing.
    if (!list.empty())
        errors::raise(errors::kInvalidArgument, "The group already has a source of that type.");
    list.push_back(std::make_shared<encoder::Source>(type, checkIdle_));
    return list.back();
}

void SourceGroup::AutoSetFileSource(const std::string& path) {
    checkIdle_();
    const FileProbe probe = probeFile(path);
    if ((probe.hasAudio && !audio_.empty()) || (probe.hasVideo && !video_.empty()))
        errors::raise(errors::kInvalidArgument, "The group already has a source of that type.");
    if (probe.hasAudio) {
        audio_.push_back(std::make_shared<encoder::Source>(kAudio, checkIdle_));
        audio_.back()->setProbedFile(path, probe);
    }
    if (probe.hasVideo) {
        video_.push_back(std::make_shared<encoder::Source>(kVideo, checkIdle_));
        video_.back()->setProbedFile(path, probe);
    }
}

int32_t SourceGroup::SourceCount(int32_t type) const {
    return static_cast<int32_t>(sources(type).size());
}

std::shared_ptr<ISource> SourceGroup::Source(int32_t type, int32_t index) const {
    const auto& list = sources(type);
    if (index < 0 || index >= static_cast<int32_t>(list.size()))
        errors::raise(errors::kNotFound, "The group has no source with that index.");
    return list[static_cast<size_t>(index)];
}

std::shared_ptr<IProfile> SourceGroup::Profile() const {
    if (!profile_)
        errors::raise(errors::kNoProfile, "No profile is set on the source group.");
    return profile_;
}

void SourceGroup::Profile(const IProfile& profile) {
    checkIdle_();
    const auto* mine = dynamic_cast<const encoder::Profile*>(&profile);
    if (!mine)
        errors::raise(errors::kInvalidArgument, "The profile was not made by this engine.");
    mine->audience0();
    profile_ = std::make_shared<encoder::Profile>(*mine);
}

// ---- SourceGroupCollection

std::shared_ptr<ISourceGroup> SourceGroupCollection::Item(int32_t index) const {
    if (index < 0 || index >= Count())
        errors::raise(errors::kNotFound, "No source group has that index.");
    return groups_[static_cast<size_t>(index)];
}

std::shared_ptr<ISourceGroup> SourceGroupCollection::Add(const std::string& name) {
    checkIdle_();
    for (const auto& g : groups_) {
        if (g->Name() == name)
            errors::raise(errors::kInvalidArgument, "A source group named " + name + " exists already.");
    }
    groups_.push_back(std::make_shared<SourceGroup>(name, checkIdle_));
    return groups_.back();
}

void SourceGroupCollection::Remove(const std::string& name) {
    checkIdle_();
    auto it = std::find_if(groups_.begin(), groups_.end(), [&](const auto& g) { return g->Name() == name; });
    if (it == groups_.end())
        errors::raise(errors::kNotFound, "No source group is named " + name + ".");
    groups_.erase(it);
}

} // namespace encoder
