#include "capture/encoder/engine.h"

#include "capture/encoder/devices.h"
#include "capture/encoder/errors.h"
#include "capture/encoder/media_info.h"
#include "capture/encoder/pipeline.h"
#include "capture/encoder/plugins.h"
#include "capture/encoder/profile.h"
#include "capture/encoder/session_file.h"
#include "capture/encoder/sources.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace encoder {
namespace {

class DisplayInfoObject : public IDisplayInfo {
public:
    std::string Title() const override { return title; }
    void Title(const std::string& value) override { title = value; }
    std::string Author() const override { return author; }
    void Author(const std::string& value) override { author = value; }
    std::string Copyright() const override { return copyright; }
    void Copyright(const std::string& value) override { copyright = value; }
    std::string Description() const override { return description; }
    void Description(const std::string& value) override { description = value; }
    std::string Rating() const override { return rating; }
    void Rating(const std::string& value) override { rating = value; }

    std::string title, author, copyright, description, rating;
};

class AttributesObject : public IAttributes {
public:
    void Add(const std::string& name, const AttributeValue& value) override {
        if (name.empty())
            errors::raise(errors::kInvalidArgument, "An attribute needs a name.");
        entries[name] = std::holds_alternative<int32_t>(value) ? std::to_string(std::get<int32_t>(value))
                                                               : std::get<std::string>(value);
    }

    std::map<std::string, std::string> entries;
};

class BroadcastObject : public IBroadcast {
public:
    int32_t PortNumber(int32_t protocol) const override {
        checkProtocol(protocol);
        return port;
    }
    void PortNumber(int32_t protocol, int32_t value) override {
        checkProtocol(protocol);
        if (value < 0 || value > 65535)
            errors::raise(errors::kInvalidArgument, "The port must lie between 0 and 65535.");
        port = value;
    }
    std::string ServerName() const override { return server; }
    void ServerName(const std::string& value) override { server = value; }
    std::string PublishingPoint() const override { return publishingPoint; }
    void PublishingPoint(const std::string& value) override { publishingPoint = value; }
    std::string Template() const override { return templateName; }
    void Template(const std::string& value) override { templateName = value; }

    int32_t port = 0;
    std::string server, publishingPoint, templateName;

private:
    static void checkProtocol(int32_t protocol) {
        if (protocol != kHttp)
            errors::raise(errors::kInvalidArgument, "The only broadcast protocol is 1 (HTTP).");
    }
};

class FileObject : public IFile {
public:
    std::string LocalFileName() const override { return path; }
    void LocalFileName(const std::string& value) override { path = value; }

    std::string path;
};

// The figures of the current (or last) run, written by the encoding thread.
class StatisticsObject : public IStatistics {
public:
    void publish(const RunStats& stats) {
        std::lock_guard lock(mutex_);
        stats_ = stats;
    }

    Fixed4 EncodingTime() const override {
        std::lock_guard lock(mutex_);
        return Fixed4{stats_.mediaMs};
    }
    OutputStats WMFOutputStats() const override {
        std::lock_guard lock(mutex_);
        return stats_.total();
    }
    OutputStats StreamOutputStats(int32_t type, int32_t streamIndex, int32_t audienceIndex) const override {
        checkIndex0(streamIndex);
        checkIndex0(audienceIndex);
        std::lock_guard lock(mutex_);
        if (type != kAudio && type != kVideo)
            errors::raise(errors::kInvalidArgument, "The stream type must be 1 (audio) or 2 (video).");
        const StreamCounters& c = type == kAudio ? stats_.audio : stats_.video;
        if (!c.present)
            errors::raise(errors::kNotFound, "The run has no stream of that type.");
        return stats_.stream(c, type == kVideo);
    }
    FileArchiveStatsValue FileArchiveStats() const override {
        std::lock_guard lock(mutex_);
        if (!stats_.hasFile)
            errors::raise(errors::kNotFound, "The run has no output file.");
        return FileArchiveStatsValue{Fixed4{stats_.fileBytes}, Fixed4{stats_.mediaMs}};
    }

private:
    mutable std::mutex mutex_;
    RunStats stats_;
};

class Encoder : public IEncoder {
public:
    explicit Encoder(Dispatcher& dispatcher)
        : dispatcher_(dispatcher), link_(std::make_shared<Encoder*>(this)), groups_([this] { checkIdle(); }) {
    }

    ~Encoder() override {
        requestStop();
        if (worker_.joinable())
            worker_.join();
    }

    void Load(const std::string& path) override {
        checkIdle();
        loadSession(path, *this);
    }
    ISourceGroupCollection& SourceGroupCollection() override { return groups_; }
    IPluginInfoManager& SourcePluginInfoManager() override {
        // Listing the devices asks the system: only when someone wants them.
        if (!plugins_)
            plugins_ = std::make_unique<PluginInfoManager>();
        return *plugins_;
    }
    IDisplayInfo& DisplayInfo() override { return displayInfo_; }
    IAttributes& Attributes() override { return attributes_; }
    IBroadcast& Broadcast() override { return broadcast_; }
    IFile& File() override { return file_; }
    IStatistics& Statistics() override { return statistics_; }
    int32_t RunState() const override { return runState_; }
    int32_t VideoComplexity() const override { return videoComplexity_; }
    void VideoComplexity(int32_t value) override {
        if (value < 0 || value > 100)
            errors::raise(errors::kInvalidArgument, "The video complexity must lie between 0 and 100.");
        videoComplexity_ = value;
    }
    bool AutoStop() const override { return autoStop_; }
    void AutoStop(bool value) override { autoStop_ = value; }
    void OnStateChange(StateChangeHandler handler) override { handler_ = std::move(handler); }

    void PrepareToEncode(bool prepare) override {
        checkIdle();
        pipeline_.reset();
        if (prepare)
            pipeline_ = std::make_unique<Pipeline>(buildJob());
    }

    void Start() override {
        checkIdle();
        if (!pipeline_)
            PrepareToEncode(true);
        pipeline_->start();
        statistics_.publish(pipeline_->stats());
        busy_ = true;
        stopRequested_ = false;
        if (worker_.joinable())
            worker_.join();
        worker_ =
            std::thread([this, pipeline = std::move(pipeline_)]() mutable { run(std::move(pipeline)); });
    }

    void Stop() override {
        if (busy_)
            requestStop();
    }

private:
    void checkIdle() const {
        if (busy_)
            errors::raise(errors::kWrongState, "The encoder is running.");
    }

    void requestStop() {
        {
            std::lock_guard lock(stopMutex_);
            stopRequested_ = true;
        }
        stopSignal_.notify_all();
    }

    EncodeJob buildJob() const {
        if (groups_.Count() == 0)
            errors::raise(errors::kNoSources, "The encoder has no source group.");
        const SourceGroup& group = *groups_.groups().front();
        const auto& audio = group.sources(kAudio);
        const auto& video = group.sources(kVideo);
        if (audio.empty() && video.empty())
            errors::raise(errors::kNoSources, "The source group has no source.");
        const Profile* profile = group.profile();
        if (!profile)
            errors::raise(errors::kNoProfile, "No profile is set on the source group.");
        profile->checkUsable(!audio.empty(), !video.empty());
        if (!broadcast_.server.empty())
            errors::raise(errors::kNotImplemented, "Pushing to a server is not supported yet.");
        if (file_.path.empty() && broadcast_.port == 0)
            errors::raise(errors::kNoOutput, "No output file or broadcast port is set.");

        EncodeJob job;
        job.audience = profile->audience0().settings();
        job.audioVbr = profile->VBRMode(kAudio, 0);
        job.videoVbr = profile->VBRMode(kVideo, 0);
        job.outputPath = file_.path;
        job.broadcastPort = broadcast_.port;
        job.videoComplexity = videoComplexity_;
        job.packetSize = profile->MaxPacketSize() ? profile->MaxPacketSize() : profile->MinPacketSize();
        for (const auto& [key, value] : {std::pair{"title", displayInfo_.title},
                                         {"author", displayInfo_.author},
                                         {"copyright", displayInfo_.copyright},
                                         {"comment", displayInfo_.description},
                                         {"rating", displayInfo_.rating}}) {
            if (!value.empty())
                job.metadata.emplace_back(key, value);
        }
        for (const auto& entry : attributes_.entries)
            job.metadata.emplace_back(entry);

        // The longest timed source sets how long a still picture is shown.
        int64_t groupLengthMs = 0;
        for (const auto* list : {&audio, &video}) {
            for (const auto& s : *list) {
                if (s->kind() == InputKind::kFile && !s->probe().still)
                    groupLengthMs = std::max<int64_t>(
                        groupLengthMs, (s->MarkOut() ? s->MarkOut() : s->Duration()) - s->MarkIn());
            }
        }
        if (!audio.empty())
            job.audio = streamJob(*audio.front(), groupLengthMs, job.audience);
        if (!video.empty()) {
            job.video = streamJob(*video.front(), groupLengthMs, job.audience);
            const Source& v = *video.front();
            job.video->cropLeft = v.CroppingLeftMargin();
            job.video->cropTop = v.CroppingTopMargin();
            job.video->cropRight = v.CroppingRightMargin();
            job.video->cropBottom = v.CroppingBottomMargin();
            job.video->optimization = v.Optimization();
            job.video->pixelFormat = v.PixelFormat();
            job.video->interlaced = profile->InterlaceMode(0);
            // Only a file can be read twice; a quality-based run has no bit rate to plan.
            // A broadcast goes out as it is encoded: no pass ahead of it.
            job.twoPass = v.PreProcessPass() == 1 && v.kind() == InputKind::kFile && !job.video->still &&
                          job.videoVbr != kQuality && job.broadcastPort == 0;
            if (profile->NonSquarePixelMode(0)) {
                job.video->pixelAspectX = v.PixelAspectRatioX();
                job.video->pixelAspectY = v.PixelAspectRatioY();
            }
        }
        // Files broadcast at their own pace, as live sources do.
        job.realTime = job.broadcastPort != 0 && (!job.audio || !job.audio->input.live) &&
                       (!job.video || !job.video->input.live);
        return job;
    }

    static StreamJob streamJob(const Source& s, int64_t groupLengthMs, const AudienceSettings& audience) {
        StreamJob job;
        switch (s.kind()) {
        case InputKind::kNone:
            errors::raise(errors::kNoSources, "A source has no input.");
        case InputKind::kScreen:
            job.input = screenInput(audience.videoFps);
            return job;
        case InputKind::kDevice:
            if (s.Type() == kAudio)
                job.input = audioDeviceInput(s.Input());
            else
                job.input = s.Input() == kScreenName ? screenInput(audience.videoFps)
                                                     : videoDeviceInput(s.Input(), s.PixelFormat());
            return job;
        case InputKind::kFile:
            break;
        }
        job.input.url = s.Input();
        job.markInMs = s.MarkIn();
        job.markOutMs = s.MarkOut();
        job.still = s.probe().still;
        const int64_t length = s.probe().durationMs;
        if (!job.still && length > 0 && job.markOutMs > length)
            errors::raise(errors::kMarkOutBeyondLength,
                          "The mark-out time lies beyond the end of the source.");
        if (job.markOutMs != 0 && job.markOutMs <= job.markInMs)
            errors::raise(errors::kBadMarks, "The mark-out time must come after the mark-in time.");
        if (!job.still && length > 0 && job.markInMs >= length)
            errors::raise(errors::kBadMarks, "The mark-in time lies beyond the end of the source.");
        if (job.still)
            job.stillLengthMs = job.markOutMs ? job.markOutMs - job.markInMs : groupLengthMs;
        return job;
    }

    // The encoding thread.
    void run(std::unique_ptr<Pipeline> pipeline) {
        post(kRunning);
        try {
            const auto started = std::chrono::steady_clock::now();
            while (!stopRequested_ && pipeline->step()) {
                statistics_.publish(pipeline->stats());
                if (pipeline->realTime())
                    keepPace(started, pipeline->stats().mediaMs);
            }
            if (!autoStop_) {
                // Without AutoStop the run lasts until Stop, even when the sources have ended.
                std::unique_lock lock(stopMutex_);
                stopSignal_.wait(lock, [this] { return stopRequested_.load(); });
            }
            pipeline->finish();
        } catch (const std::exception&) {
            // The run ends like any other; its file is completed as far as it got.
            try {
                pipeline->finish();
            } catch (const std::exception&) {
            }
        }
        statistics_.publish(pipeline->stats());
        pipeline.reset();
        post(kStopped);
    }

    // Holds a broadcast of files to the clock, a little ahead so clients can buffer.
    void keepPace(std::chrono::steady_clock::time_point started, int64_t mediaMs) {
        constexpr int64_t kLeadMs = 500;
        const auto due = started + std::chrono::milliseconds(mediaMs - kLeadMs);
        std::unique_lock lock(stopMutex_);
        stopSignal_.wait_until(lock, due, [this] { return stopRequested_.load(); });
    }

    // Reports reach the front end through its dispatcher, and only while this encoder exists.
    void post(int32_t state) {
        dispatcher_.post([link = std::weak_ptr<Encoder*>(link_), state] {
            if (auto alive = link.lock())
                (*alive)->deliver(state);
        });
    }

    void deliver(int32_t state) {
        runState_ = state;
        if (state == kStopped) {
            busy_ = false;
            if (worker_.joinable())
                worker_.join();
        }
        if (handler_)
            handler_(state);
    }

    Dispatcher& dispatcher_;
    std::shared_ptr<Encoder*> link_;
    encoder::SourceGroupCollection groups_;
    std::unique_ptr<PluginInfoManager> plugins_;
    DisplayInfoObject displayInfo_;
    AttributesObject attributes_;
    BroadcastObject broadcast_;
    FileObject file_;
    StatisticsObject statistics_;
    StateChangeHandler handler_;
    int32_t runState_ = kStopped;
    int32_t videoComplexity_ = 0;
    bool autoStop_ = false;
    bool busy_ = false;
    std::unique_ptr<Pipeline> pipeline_;
    std::thread worker_;
    std::mutex stopMutex_;
    std::condition_variable stopSignal_;
    std::atomic<bool> stopRequested_ = false;
};

} // namespace

std::unique_ptr<IEncoder> EngineFactory::CreateEncoder(Dispatcher& dispatcher) {
    // FFmpeg's notes and warnings are for its own developers; the engine reports through its errors.
    av_log_set_level(AV_LOG_ERROR);
    return std::make_unique<Encoder>(dispatcher);
}

std::shared_ptr<IProfile> EngineFactory::CreateProfile() {
    return std::make_shared<Profile>();
}

std::unique_ptr<IMediaInfo> EngineFactory::CreateMediaInfo() {
    return std::make_unique<MediaInfoObject>();
}

} // namespace encoder
