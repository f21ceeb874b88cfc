// The engine's profile and audience: plain settings, checked as they are set.
#pragma once

#include "capture/encoder/encoder.h"

#include <map>
#include <vector>

namespace encoder {

struct AudienceSettings {
    int32_t audioCodec = 0;
    AudioFormat audioFormat{"", 64000, 44100, 2, 16};
    int32_t audioPeakBitrate = 0;
    int32_t audioBufferMax = 0;
    int32_t videoCodec = 0;
    int32_t videoBitrate = 250000;
    int32_t videoWidth = 0;
    int32_t videoHeight = 0;
    int32_t videoFps = 30000;
    int32_t videoKeyFrameDistance = 10000;
    int32_t videoBufferSize = 5000;
    int32_t videoBufferMax = 5000;
    int32_t videoCompressionQuality = 75;
    int32_t videoImageSharpness = 0;
    int32_t videoPeakBitrate = 0;
    std::map<std::string, std::string> properties; // "<type>:<name>"

    friend bool operator==(const AudienceSettings&, const AudienceSettings&) = default;
};

class Profile;

class Audience : public IAudience {
public:
    Audience(const Profile& profile, int32_t totalBitrate) : profile_(profile), totalBitrate_(totalBitrate) {
        fitAudioFormat();
    }

    const AudienceSettings& settings() const { return s_; }
    AudienceSettings& settings() { return s_; }
    int32_t totalBitrate() const { return totalBitrate_; }
    // Moves the audio format to the nearest one the codec offers in the profile's audio mode.
    void fitAudioFormat();

    int32_t AudioCodec(int32_t i) const override;
    void AudioCodec(int32_t i, int32_t codecIndex) override;
    void SetAudioConfig(int32_t i, int32_t channels, int32_t sampleRate, int32_t bitrate,
                        int32_t bitsPerSample) override;
    int32_t AudioPeakBitrate(int32_t i) const override;
    void AudioPeakBitrate(int32_t i, int32_t bps) override;
    int32_t AudioBufferMax(int32_t i) const override;
    void AudioBufferMax(int32_t i, int32_t ms) override;
    int32_t VideoCodec(int32_t i) const override;
    void VideoCodec(int32_t i, int32_t codecIndex) override;
    int32_t VideoBitrate(int32_t i) const override;
    void VideoBitrate(int32_t i, int32_t bps) override;
    int32_t VideoWidth(int32_t i) const override;
    void VideoWidth(int32_t i, int32_t pixels) override;
    int32_t VideoHeight(int32_t i) const override;
    void VideoHeight(int32_t i, int32_t pixels) override;
    int32_t VideoFPS(int32_t i) const override;
    void VideoFPS(int32_t i, int32_t milliFps) override;
    int32_t VideoKeyFrameDistance(int32_t i) const override;
    void VideoKeyFrameDistance(int32_t i, int32_t ms) override;
    int32_t VideoBufferSize(int32_t i) const override;
    void VideoBufferSize(int32_t i, int32_t ms) override;
    int32_t VideoBufferMax(int32_t i) const override;
    void VideoBufferMax(int32_t i, int32_t ms) override;
    int32_t VideoCompressionQuality(int32_t i) const override;
    void VideoCompressionQuality(int32_t i, int32_t quality) override;
    int32_t VideoImageSharpness(int32_t i) const override;
    void VideoImageSharpness(int32_t i, int32_t sharpness) override;
    int32_t VideoPeakBitrate(int32_t i) const override;
    void VideoPeakBitrate(int32_t i, int32_t bps) override;
    std::string Property(int32_t type, int32_t i, const std::string& name) const override;
    void Property(int32_t type, int32_t i, const std::string& name, const std::string& value) override;

private:
    const Profile& profile_;
    int32_t totalBitrate_;
    AudienceSettings s_;
};

class Profile : public IProfile {
public:
    Profile() = default;
    Profile(const Profile& other);
    Profile& operator=(const Profile&) = delete;

    // Checks that the profile can encode the given streams; fails with kProfileMismatch or kNoProfile.
    void checkUsable(bool hasAudio, bool hasVideo) const;
    const encoder::Audience& audience0() const;
    int32_t audienceCount() const { return static_cast<int32_t>(audiences_.size()); }
    friend bool operator==(const Profile& a, const Profile& b);

    int32_t ContentType() const override { return contentType_; }
    void ContentType(int32_t value) override;
    std::string ProfileName() const override { return name_; }
    void ProfileName(const std::string& value) override { name_ = value; }
    std::shared_ptr<IAudience> AddAudience(int32_t bitrate) override;
    std::shared_ptr<IAudience> Audience(int32_t i) const override;
    void LoadFromFile(const std::string& path) override;
    void SaveToFile(const std::string& path) const override;
    void LoadFromIWMProfile(const IProfile& other) override;
    int32_t VBRMode(int32_t type, int32_t i) const override;
    void VBRMode(int32_t type, int32_t i, int32_t mode) override;
    int32_t AudioCodecCount() const override;
    int32_t VideoCodecCount() const override;
    std::string EnumAudioCodec(int32_t index) const override;
    std::string EnumVideoCodec(int32_t index) const override;
    int32_t GetCodecFourCCFromIndex(int32_t type, int32_t index) const override;
    int32_t GetCodecIndexFromFourCC(int32_t type, int32_t fourCC) const override;
    int32_t AudioFormatCount(int32_t codecIndex) const override;
    AudioFormat EnumAudioFormat(int32_t codecIndex, int32_t formatIndex) const override;
    bool NonSquarePixelMode(int32_t i) const override;
    void NonSquarePixelMode(int32_t i, bool value) override;
    bool InterlaceMode(int32_t i) const override;
    void InterlaceMode(int32_t i, bool value) override;
    int32_t MinPacketSize() const override { return minPacket_; }
    void MinPacketSize(int32_t bytes) override;
    int32_t MaxPacketSize() const override { return maxPacket_; }
    void MaxPacketSize(int32_t bytes) override;

private:
    void copyFrom(const Profile& other);

    int32_t contentType_ = 0;
    std::string name_;
    int32_t audioVbr_ = kConstant;
    int32_t videoVbr_ = kConstant;
    bool nonSquare_ = false;
    bool interlace_ = false;
    int32_t minPacket_ = 0;
    int32_t maxPacket_ = 0;
    std::vector<std::shared_ptr<encoder::Audience>> audiences_;
};

// Fails with kInvalidArgument unless the stream or audience index is 0.
void checkIndex0(int32_t i);

} // namespace encoder
