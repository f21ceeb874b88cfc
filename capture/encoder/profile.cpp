#include "capture/encoder/profile.h"

#include "capture/encoder/codecs.h"
#include "capture/encoder/errors.h"
#include "capture/encoder/profile_file.h"

namespace encoder {
namespace {

void checkType(int32_t type) {
    if (type != kAudio && type != kVideo)
        errors::raise(errors::kInvalidArgument, "The stream type must be 1 (audio) or 2 (video).");
}

void checkPositive(int32_t value, const char* what) {
    if (value < 0)
        errors::raise(errors::kInvalidArgument, std::string(what) + " must not be negative.");
}

} // namespace

void checkIndex0(int32_t i) {
    if (i != 0)
        errors::raise(errors::kInvalidArgument, "Only stream and audience 0 exist.");
}

// ---- Audience

int32_t Audience::AudioCodec(int32_t i) const {
    checkIndex0(i);
    return s_.audioCodec;
}
void Audience::AudioCodec(int32_t i, int32_t codecIndex) {
    checkIndex0(i);
    codecAt(kAudio, codecIndex);
    s_.audioCodec = codecIndex;
    fitAudioFormat();
}

void Audience::fitAudioFormat() {
    s_.audioFormat = nearestAudioFormat(s_.audioCodec, profile_.VBRMode(kAudio, 0), s_.audioFormat);
    // The name describes a format in listings; the audience keeps the numbers only.
    s_.audioFormat.Name.clear();
}
void Audience::SetAudioConfig(int32_t i, int32_t channels, int32_t sampleRate, int32_t bitrate,
                              int32_t bitsPerSample) {
    checkIndex0(i);
    if (channels <= 0 || sampleRate <= 0 || bitrate < 0 || bitsPerSample <= 0)
        errors::raise(errors::kInvalidArgument, "The audio format values must be positive.");
    s_.audioFormat = AudioFormat{"", bitrate, sampleRate, channels, bitsPerSample};
    fitAudioFormat();
}
int32_t Audience::AudioPeakBitrate(int32_t i) const {
    checkIndex0(i);
    return s_.audioPeakBitrate;
}
void Audience::AudioPeakBitrate(int32_t i, int32_t bps) {
    checkIndex0(i);
    checkPositive(bps, "The peak bit rate");
    s_.audioPeakBitrate = bps;
}
int32_t Audience::AudioBufferMax(int32_t i) const {
    checkIndex0(i);
    return s_.audioBufferMax;
}
void Audience::AudioBufferMax(int32_t i, int32_t ms) {
    checkIndex0(i);
    checkPositive(ms, "The buffer");
    s_.audioBufferMax = ms;
}
int32_t Audience::VideoCodec(int32_t i) const {
    checkIndex0(i);
    return s_.videoCodec;
}
void Audience::VideoCodec(int32_t i, int32_t codecIndex) {
    checkIndex0(i);
    codecAt(kVideo, codecIndex);
    s_.videoCodec = codecIndex;
}

#define HV_VIDEO_MEMBER(Name, field, what)                                                                   \
    int32_t Audience::Name(int32_t i) const {                                                                \
        checkIndex0(i);                                                                                      \
        return s_.field;                                                                                     \
    }                                                                                                        \
    void Audience::Name(int32_t i, int32_t value) {                                                          \
        checkIndex0(i);                                                                                      \
        checkPositive(value, what);                                                                          \
        s_.field = value;                                                                                    \
    }
HV_VIDEO_MEMBER(VideoBitrate, videoBitrate, "The video bit rate")
HV_VIDEO_MEMBER(VideoWidth, videoWidth, "The width")
HV_VIDEO_MEMBER(VideoHeight, videoHeight, "The height")
HV_VIDEO_MEMBER(VideoKeyFrameDistance, videoKeyFrameDistance, "The key-frame distance")
HV_VIDEO_MEMBER(VideoBufferSize, videoBufferSize, "The buffer")
HV_VIDEO_MEMBER(VideoBufferMax, videoBufferMax, "The buffer")
HV_VIDEO_MEMBER(VideoImageSharpness, videoImageSharpness, "The sharpness")
HV_VIDEO_MEMBER(VideoPeakBitrate, videoPeakBitrate, "The peak bit rate")
#undef HV_VIDEO_MEMBER

int32_t Audience::VideoFPS(int32_t i) const {
    checkIndex0(i);
    return s_.videoFps;
}
void Audience::VideoFPS(int32_t i, int32_t milliFps) {
    checkIndex0(i);
    if (milliFps <= 0)
        errors::raise(errors::kInvalidArgument, "The frame rate must be positive.");
    s_.videoFps = milliFps;
}
int32_t Audience::VideoCompressionQuality(int32_t i) const {
    checkIndex0(i);
    return s_.videoCompressionQuality;
}
void Audience::VideoCompressionQuality(int32_t i, int32_t quality) {
    checkIndex0(i);
    if (quality < 0 || quality > 100)
        errors::raise(errors::kInvalidArgument, "The quality must lie between 0 and 100.");
    s_.videoCompressionQuality = quality;
}
std::string Audience::Property(int32_t type, int32_t i, const std::string& name) const {
    checkType(type);
    checkIndex0(i);
    auto it = s_.properties.find(std::to_string(type) + ":" + name);
    return it == s_.properties.end() ? "" : it->second;
}
void Audience::Property(int32_t type, int32_t i, const std::string& name, const std::string& value) {
    checkType(type);
    checkIndex0(i);
    s_.properties[std::to_string(type) + ":" + name] = value;
}

// ---- Profile

Profile::Profile(const Profile& other) : IProfile() {
    copyFrom(other);
}

void Profile::copyFrom(const Profile& other) {
    contentType_ = other.contentType_;
    name_ = other.name_;
    audioVbr_ = other.audioVbr_;
    videoVbr_ = other.videoVbr_;
    nonSquare_ = other.nonSquare_;
    interlace_ = other.interlace_;
    minPacket_ = other.minPacket_;
    maxPacket_ = other.maxPacket_;
    audiences_.clear();
    for (const auto& a : other.audiences_) {
        audiences_.push_back(std::make_shared<encoder::Audience>(*this, a->totalBitrate()));
        audiences_.back()->settings() = a->settings();
    }
}

bool operator==(const Profile& a, const Profile& b) {
    if (a.audiences_.size() != b.audiences_.size())
        return false;
    for (size_t i = 0; i < a.audiences_.size(); ++i) {
        if (a.audiences_[i]->totalBitrate() != b.audiences_[i]->totalBitrate() ||
            !(a.audiences_[i]->settings() == b.audiences_[i]->settings()))
            return false;
    }
    return a.contentType_ == b.contentType_ && a.name_ == b.name_ && a.audioVbr_ == b.audioVbr_ &&
           a.videoVbr_ == b.videoVbr_ && a.nonSquare_ == b.nonSquare_ && a.interlace_ == b.interlace_ &&
           a.minPacket_ == b.minPacket_ && a.maxPacket_ == b.maxPacket_;
}

void Profile::checkUsable(bool hasAudio, bool hasVideo) const {
    if (audiences_.empty())
        errors::raise(errors::kNoProfile, "The profile has no audience.");
    const bool audio = contentType_ & kAudioOnly;
    const bool video = contentType_ & kVideoOnly;
    if ((hasAudio && !audio) || (hasVideo && !video) || (!hasAudio && audio && !hasVideo) ||
        (!hasVideo && video && !hasAudio))
        errors::raise(errors::kProfileMismatch, "The profile's content type does not match the sources.");
}

const Audience& Profile::audience0() const {
    if (audiences_.empty())
        errors::raise(errors::kNoProfile, "The profile has no audience.");
    return *audiences_.front();
}

void Profile::ContentType(int32_t value) {
    if (value != 0 && value != kAudioOnly && value != kVideoOnly && value != kAudioVideo)
        errors::raise(errors::kInvalidArgument, "The content type must be 1, 16 or 17.");
    contentType_ = value;
}

std::shared_ptr<IAudience> Profile::AddAudience(int32_t bitrate) {
    if (bitrate <= 0)
        errors::raise(errors::kInvalidArgument, "The audience bit rate must be positive.");
    if (!audiences_.empty())
        errors::raise(errors::kInvalidArgument, "The engine encodes one audience per profile.");
    audiences_.push_back(std::make_shared<encoder::Audience>(*this, bitrate));
    return audiences_.back();
}

std::shared_ptr<IAudience> Profile::Audience(int32_t i) const {
    if (i < 0 || i >= static_cast<int32_t>(audiences_.size()))
        errors::raise(errors::kInvalidArgument, "No audience has that index.");
    return audiences_[static_cast<size_t>(i)];
}

void Profile::LoadFromFile(const std::string& path) {
    Profile loaded;
    readProfileFile(path, loaded);
    copyFrom(loaded);
}

void Profile::SaveToFile(const std::string& path) const {
    writeProfileFile(path, *this);
}

void Profile::LoadFromIWMProfile(const IProfile& other) {
    const auto* mine = dynamic_cast<const Profile*>(&other);
    if (!mine)
        errors::raise(errors::kInvalidArgument, "The profile was not made by this engine.");
    if (mine != this)
        copyFrom(*mine);
}

int32_t Profile::VBRMode(int32_t type, int32_t i) const {
    checkType(type);
    checkIndex0(i);
    return type == kAudio ? audioVbr_ : videoVbr_;
}

void Profile::VBRMode(int32_t type, int32_t i, int32_t mode) {
    checkType(type);
    checkIndex0(i);
    if (mode < kConstant || mode > kBitrateBased)
        errors::raise(errors::kInvalidArgument, "The VBR mode must lie between 1 and 4.");
    (type == kAudio ? audioVbr_ : videoVbr_) = mode;
    // A quality level and a bit rate are different numbers: the audio formats follow the mode.
    if (type == kAudio) {
        for (auto& a : audiences_)
            a->fitAudioFormat();
    }
}

int32_t Profile::AudioCodecCount() const {
    return static_cast<int32_t>(codecTable(kAudio).size());
}
int32_t Profile::VideoCodecCount() const {
    return static_cast<int32_t>(codecTable(kVideo).size());
}
std::string Profile::EnumAudioCodec(int32_t index) const {
    return codecDisplayName(kAudio, index);
}
std::string Profile::EnumVideoCodec(int32_t index) const {
    return codecDisplayName(kVideo, index);
}
int32_t Profile::GetCodecFourCCFromIndex(int32_t type, int32_t index) const {
    return codecAt(type, index).fourCC;
}
int32_t Profile::GetCodecIndexFromFourCC(int32_t type, int32_t fourCC) const {
    return codecIndexFromFourCC(type, fourCC);
}
int32_t Profile::AudioFormatCount(int32_t codecIndex) const {
    return static_cast<int32_t>(audioFormats(codecIndex, audioVbr_).size());
}
AudioFormat Profile::EnumAudioFormat(int32_t codecIndex, int32_t formatIndex) const {
    const auto formats = audioFormats(codecIndex, audioVbr_);
    if (formatIndex < 0 || formatIndex >= static_cast<int32_t>(formats.size()))
        errors::raise(errors::kInvalidArgument, "The format index is out of range.");
    return formats[static_cast<size_t>(formatIndex)];
}
bool Profile::NonSquarePixelMode(int32_t i) const {
    checkIndex0(i);
    return nonSquare_;
}
void Profile::NonSquarePixelMode(int32_t i, bool value) {
    checkIndex0(i);
    nonSquare_ = value;
}
bool Profile::InterlaceMode(int32_t i) const {
    checkIndex0(i);
    return interlace_;
}
void Profile::InterlaceMode(int32_t i, bool value) {
    checkIndex0(i);
    interlace_ = value;
}

// The output's packets lie between these sizes (bytes); 0 leaves the choice to the engine.
constexpr int32_t kMinPacket = 100;
constexpr int32_t kMaxPacket = 65536;

void Profile::MinPacketSize(int32_t bytes) {
    if (bytes != 0 && (bytes < kMinPacket || bytes > kMaxPacket))
        errors::raise(errors::kInvalidArgument, "The packet size must lie between 100 and 65536 bytes.");
    minPacket_ = bytes;
}
void Profile::MaxPacketSize(int32_t bytes) {
    if (bytes != 0 && (bytes < kMinPacket || bytes > kMaxPacket))
        errors::raise(errors::kInvalidArgument, "The packet size must lie between 100 and 65536 bytes.");
    maxPacket_ = bytes;
}

} // namespace encoder
