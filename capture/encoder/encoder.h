// The encoder object model the capture program drives: encoder, source groups, sources, profile,
// audience, statistics, plug-in information and the media-information object. Abstract interfaces, so
// the front end can be tested against a recording fake; encoder/engine.h makes the real ones.
//
// Every member may fail: it throws EncoderError with a 32-bit number and a description
// (capture/encoder/README.md lists the numbers the engine uses). Stream and audience indexes are 0.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <variant>

namespace encoder {

class EncoderError : public std::runtime_error {
public:
    EncoderError(uint32_t errorNumber, const std::string& text)
        : std::runtime_error(text), number(errorNumber), description(text) {}

    uint32_t number;
    std::string description;
};

// A fixed-point number with four decimal places, held as value x 10000 (the automation currency type).
// Counts and sizes come back as count / 10000, times as milliseconds / 10000 x 10 seconds: the caller
// multiplies by 10000 (counts) or by 10 (seconds).
struct Fixed4 {
    int64_t raw = 0;

    double value() const { return static_cast<double>(raw) / 10000.0; }
    friend bool operator==(Fixed4, Fixed4) = default;
};

enum SourceType : int32_t { kAudio = 1, kVideo = 2 };
enum ContentType : int32_t { kAudioOnly = 1, kVideoOnly = 16, kAudioVideo = 17 };
enum RunStateValue : int32_t { kStarting = 1, kRunning = 2, kPaused = 3, kStopping = 4, kStopped = 5 };
enum VbrMode : int32_t { kConstant = 1, kPeak = 2, kQuality = 3, kBitrateBased = 4 };
enum BroadcastProtocol : int32_t { kHttp = 1 };

// Runs tasks on the front end's thread: a window message on Windows, a queue for a console.
// Everything the engine reports (state changes) reaches the front end through it.
class Dispatcher {
public:
    virtual ~Dispatcher() = default;
    virtual void post(std::function<void()> task) = 0;
};

class IDisplayInfo {
public:
    virtual ~IDisplayInfo() = default;
    virtual std::string Title() const = 0;
    virtual void Title(const std::string& value) = 0;
    virtual std::string Author() const = 0;
    virtual void Author(const std::string& value) = 0;
    virtual std::string Copyright() const = 0;
    virtual void Copyright(const std::string& value) = 0;
    virtual std::string Description() const = 0;
    virtual void Description(const std::string& value) = 0;
    virtual std::string Rating() const = 0;
    virtual void Rating(const std::string& value) = 0;
};

using AttributeValue = std::variant<int32_t, std::string>;

// Named values stored in the output file beside the display information.
class IAttributes {
public:
    virtual ~IAttributes() = default;
    virtual void Add(const std::string& name, const AttributeValue& value) = 0;
};

class IBroadcast {
public:
    virtual ~IBroadcast() = default;
    // The port for a protocol (kHttp); 0 when none is set.
    virtual int32_t PortNumber(int32_t protocol) const = 0;
    virtual void PortNumber(int32_t protocol, int32_t port) = 0;
    virtual std::string ServerName() const = 0;
    virtual void ServerName(const std::string& value) = 0;
    virtual std::string PublishingPoint() const = 0;
    virtual void PublishingPoint(const std::string& value) = 0;
    virtual std::string Template() const = 0;
    virtual void Template(const std::string& value) = 0;
};

class IFile {
public:
    virtual ~IFile() = default;
    virtual std::string LocalFileName() const = 0;
    virtual void LocalFileName(const std::string& path) = 0;
};

// One snapshot of the output, or of one stream of it. Bit rates in bits per second; sample rates in
// Hz for audio and in thousandths of a frame per second for video.
struct OutputStats {
    int32_t ExpectedBitrate = 0;
    int32_t AverageBitrate = 0;
    int32_t CurrentBitrate = 0;
    int32_t ExpectedSampleRate = 0;
    int32_t AverageSampleRate = 0;
    Fixed4 SampleCount;
    Fixed4 ByteCount;
    Fixed4 DroppedSampleCount;
    Fixed4 DroppedByteCount;
};

struct FileArchiveStatsValue {
    Fixed4 FileSize;     // bytes / 10000
    Fixed4 FileDuration; // seconds / 10
};

class IStatistics {
public:
    virtual ~IStatistics() = default;
    // Time spent encoding: seconds / 10.
    virtual Fixed4 EncodingTime() const = 0;
    virtual OutputStats WMFOutputStats() const = 0;
    virtual OutputStats StreamOutputStats(int32_t type, int32_t streamIndex, int32_t audienceIndex) const = 0;
    // Fails when the run has no file output.
    virtual FileArchiveStatsValue FileArchiveStats() const = 0;
};

// One source plug-in: the devices it offers. MediaType 1 audio, 2 video, 3 both, 6 video (screen).
class IPluginInfo {
public:
    virtual ~IPluginInfo() = default;
    virtual std::string Name() const = 0;
    virtual bool Resources() const = 0;
    virtual int32_t MediaType() const = 0;
    virtual int32_t count() const = 0;
    virtual std::string Item(int32_t index) const = 0;
};

class IPluginInfoManager {
public:
    virtual ~IPluginInfoManager() = default;
    virtual int32_t count() const = 0;
    virtual std::shared_ptr<IPluginInfo> Item(int32_t index) const = 0;
};

struct AudioFormat {
    std::string Name;
    int32_t Bitrate = 0; // bits per second; the quality level in quality-based mode
    int32_t SampleRate = 0;
    int32_t Channels = 0;
    int32_t BitsPerSample = 0;

    friend bool operator==(const AudioFormat&, const AudioFormat&) = default;
};

class IAudience {
public:
    virtual ~IAudience() = default;
    virtual int32_t AudioCodec(int32_t i) const = 0;
    virtual void AudioCodec(int32_t i, int32_t codecIndex) = 0;
    // Bitrate is bits per second, or the quality level when the audio is quality based. The nearest
    // format the codec supports is taken.
    virtual void SetAudioConfig(int32_t i, int32_t channels, int32_t sampleRate, int32_t bitrate,
                                int32_t bitsPerSample) = 0;
    virtual int32_t AudioPeakBitrate(int32_t i) const = 0;
    virtual void AudioPeakBitrate(int32_t i, int32_t bps) = 0;
    virtual int32_t AudioBufferMax(int32_t i) const = 0;
    virtual void AudioBufferMax(int32_t i, int32_t ms) = 0;

    virtual int32_t VideoCodec(int32_t i) const = 0;
    virtual void VideoCodec(int32_t i, int32_t codecIndex) = 0;
    virtual int32_t VideoBitrate(int32_t i) const = 0;
    virtual void VideoBitrate(int32_t i, int32_t bps) = 0;
    // 0 means the source's size.
    virtual int32_t VideoWidth(int32_t i) const = 0;
    virtual void VideoWidth(int32_t i, int32_t pixels) = 0;
    virtual int32_t VideoHeight(int32_t i) const = 0;
    virtual void VideoHeight(int32_t i, int32_t pixels) = 0;
    // Thousandths of a frame per second.
    virtual int32_t VideoFPS(int32_t i) const = 0;
    virtual void VideoFPS(int32_t i, int32_t milliFps) = 0;
    virtual int32_t VideoKeyFrameDistance(int32_t i) const = 0;
    virtual void VideoKeyFrameDistance(int32_t i, int32_t ms) = 0;
    virtual int32_t VideoBufferSize(int32_t i) const = 0;
    virtual void VideoBufferSize(int32_t i, int32_t ms) = 0;
    virtual int32_t VideoBufferMax(int32_t i) const = 0;
    virtual void VideoBufferMax(int32_t i, int32_t ms) = 0;
    virtual int32_t VideoCompressionQuality(int32_t i) const = 0;
    virtual void VideoCompressionQuality(int32_t i, int32_t quality) = 0;
    virtual int32_t VideoImageSharpness(int32_t i) const = 0;
    virtual void VideoImageSharpness(int32_t i, int32_t sharpness) = 0;
    virtual int32_t VideoPeakBitrate(int32_t i) const = 0;
    virtual void VideoPeakBitrate(int32_t i, int32_t bps) = 0;
    virtual std::string Property(int32_t type, int32_t i, const std::string& name) const = 0;
    virtual void Property(int32_t type, int32_t i, const std::string& name, const std::string& value) = 0;
};

class IProfile {
public:
    virtual ~IProfile() = default;
    virtual int32_t ContentType() const = 0;
    virtual void ContentType(int32_t value) = 0;
    virtual std::string ProfileName() const = 0;
    virtual void ProfileName(const std::string& value) = 0;
    virtual std::shared_ptr<IAudience> AddAudience(int32_t bitrate) = 0;
    virtual std::shared_ptr<IAudience> Audience(int32_t i) const = 0;
    virtual void LoadFromFile(const std::string& path) = 0;
    virtual void SaveToFile(const std::string& path) const = 0;
    // Copies another profile (a source group's) into this one.
    virtual void LoadFromIWMProfile(const IProfile& other) = 0;
    virtual int32_t VBRMode(int32_t type, int32_t i) const = 0;
    virtual void VBRMode(int32_t type, int32_t i, int32_t mode) = 0;

    virtual int32_t AudioCodecCount() const = 0;
    virtual int32_t VideoCodecCount() const = 0;
    // The codec's display name.
    virtual std::string EnumAudioCodec(int32_t index) const = 0;
    virtual std::string EnumVideoCodec(int32_t index) const = 0;
    // Format tag (audio) or FourCC (video, first character in the lowest byte); 0 for uncompressed.
    virtual int32_t GetCodecFourCCFromIndex(int32_t type, int32_t index) const = 0;
    // The index of the codec for a format tag or FourCC; an identifier the engine cannot encode gives
    // its nearest substitute.
    virtual int32_t GetCodecIndexFromFourCC(int32_t type, int32_t fourCC) const = 0;
    // Formats of an audio codec in the profile's current audio VBR mode.
    virtual int32_t AudioFormatCount(int32_t codecIndex) const = 0;
    virtual AudioFormat EnumAudioFormat(int32_t codecIndex, int32_t formatIndex) const = 0;

    virtual bool NonSquarePixelMode(int32_t i) const = 0;
    virtual void NonSquarePixelMode(int32_t i, bool value) = 0;
    virtual bool InterlaceMode(int32_t i) const = 0;
    virtual void InterlaceMode(int32_t i, bool value) = 0;
    virtual int32_t MinPacketSize() const = 0;
    virtual void MinPacketSize(int32_t bytes) = 0;
    virtual int32_t MaxPacketSize() const = 0;
    virtual void MaxPacketSize(int32_t bytes) = 0;
};

// An audio or a video source. Members of the other kind fail on it.
class ISource {
public:
    virtual ~ISource() = default;
    virtual int32_t Type() const = 0;
    // A file path (scheme empty or "file"), a device name ("device") or "screencap1" ("screencap").
    virtual void SetInput(const std::string& input, const std::string& scheme = "") = 0;
    virtual std::string Input() const = 0;
    // Milliseconds from the start of the input; MarkOut 0 means the end.
    virtual int32_t MarkIn() const = 0;
    virtual void MarkIn(int32_t ms) = 0;
    virtual int32_t MarkOut() const = 0;
    virtual void MarkOut(int32_t ms) = 0;
    // 1 when the source is analysed in a first pass.
    virtual int32_t PreProcessPass() const = 0;
    virtual void PreProcessPass(int32_t value) = 0;
    // Length of the input in milliseconds; 0 for a live input.
    virtual int32_t Duration() const = 0;

    virtual int32_t ContentMode() const = 0;
    virtual void ContentMode(int32_t value) = 0;
    virtual std::string ContentEDL() const = 0;
    virtual void ContentEDL(const std::string& value) = 0;

    virtual int32_t Optimization() const = 0;
    virtual void Optimization(int32_t value) = 0;
    virtual int32_t PixelFormat() const = 0;
    virtual void PixelFormat(int32_t value) = 0;
    virtual int32_t PixelAspectRatioX() const = 0;
    virtual void PixelAspectRatioX(int32_t value) = 0;
    virtual int32_t PixelAspectRatioY() const = 0;
    virtual void PixelAspectRatioY(int32_t value) = 0;
    virtual int32_t CroppingLeftMargin() const = 0;
    virtual void CroppingLeftMargin(int32_t pixels) = 0;
    virtual int32_t CroppingTopMargin() const = 0;
    virtual void CroppingTopMargin(int32_t pixels) = 0;
    virtual int32_t CroppingRightMargin() const = 0;
    virtual void CroppingRightMargin(int32_t pixels) = 0;
    virtual int32_t CroppingBottomMargin() const = 0;
    virtual void CroppingBottomMargin(int32_t pixels) = 0;
};

class ISourceGroup {
public:
    virtual ~ISourceGroup() = default;
    virtual std::string Name() const = 0;
    virtual std::shared_ptr<ISource> AddSource(int32_t type) = 0;
    // Adds an audio source, a video source or both, for the streams the file holds.
    virtual void AutoSetFileSource(const std::string& path) = 0;
    virtual int32_t SourceCount(int32_t type) const = 0;
    virtual std::shared_ptr<ISource> Source(int32_t type, int32_t index) const = 0;
    // The group's own copy of the profile set on it; fails while none is set.
    virtual std::shared_ptr<IProfile> Profile() const = 0;
    virtual void Profile(const IProfile& profile) = 0;
};

class ISourceGroupCollection {
public:
    virtual ~ISourceGroupCollection() = default;
    virtual int32_t Count() const = 0;
    virtual std::shared_ptr<ISourceGroup> Item(int32_t index) const = 0;
    virtual std::shared_ptr<ISourceGroup> Add(const std::string& name) = 0;
    virtual void Remove(const std::string& name) = 0;
};

using StateChangeHandler = std::function<void(int32_t state)>;

class IEncoder {
public:
    virtual ~IEncoder() = default;
    // Reads a session file written by the engine.
    virtual void Load(const std::string& path) = 0;
    virtual ISourceGroupCollection& SourceGroupCollection() = 0;
    virtual IPluginInfoManager& SourcePluginInfoManager() = 0;
    virtual IDisplayInfo& DisplayInfo() = 0;
    virtual IAttributes& Attributes() = 0;
    virtual IBroadcast& Broadcast() = 0;
    virtual IFile& File() = 0;
    virtual IStatistics& Statistics() = 0;
    // kStopped, kRunning, ... as last reported to the front end.
    virtual int32_t RunState() const = 0;
    virtual int32_t VideoComplexity() const = 0;
    virtual void VideoComplexity(int32_t value) = 0;
    virtual bool AutoStop() const = 0;
    virtual void AutoStop(bool value) = 0;
    // true checks the set-up and opens inputs and outputs; false releases what a preparation holds.
    virtual void PrepareToEncode(bool prepare) = 0;
    virtual void Start() = 0;
    virtual void Stop() = 0;
    // The state-change event (kRunning, kPaused, kStopped), called through the encoder's dispatcher.
    virtual void OnStateChange(StateChangeHandler handler) = 0;
};

// Describes one media file ("FileInfo.MediaInfo").
class IMediaInfo {
public:
    virtual ~IMediaInfo() = default;
    virtual std::string FileName() const = 0;
    virtual void FileName(const std::string& path) = 0;
    // Frames per second of the first video stream.
    virtual double FrameRate() const = 0;
    // A readable description of the file, lines ending in CR LF.
    virtual std::string MediaInfo() const = 0;
};

// What the front end creates objects with: the engine, or a fake in tests.
class IEncoderFactory {
public:
    virtual ~IEncoderFactory() = default;
    // The dispatcher must outlive the encoder.
    virtual std::unique_ptr<IEncoder> CreateEncoder(Dispatcher& dispatcher) = 0;
    virtual std::shared_ptr<IProfile> CreateProfile() = 0;
    virtual std::unique_ptr<IMediaInfo> CreateMediaInfo() = 0;
};

} // namespace encoder
