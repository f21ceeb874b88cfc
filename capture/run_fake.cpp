#include "capture/run_fake.h"

#include "capture/run_state.h"

namespace capture::fake {

namespace {

class RunEncoder : public encoder::IEncoder {
public:
    RunEncoder(std::unique_ptr<encoder::IEncoder> inner, RunWorld& run, encoder::Dispatcher& dispatcher)
        : inner_(std::move(inner)), run_(run), dispatcher_(dispatcher) {}

    void Load(const std::string& path) override { inner_->Load(path); }
    encoder::ISourceGroupCollection& SourceGroupCollection() override {
        return inner_->SourceGroupCollection();
    }
    encoder::IPluginInfoManager& SourcePluginInfoManager() override {
        return inner_->SourcePluginInfoManager();
    }
    encoder::IDisplayInfo& DisplayInfo() override { return inner_->DisplayInfo(); }
    encoder::IAttributes& Attributes() override { return inner_->Attributes(); }
    encoder::IBroadcast& Broadcast() override { return inner_->Broadcast(); }
    encoder::IFile& File() override { return inner_->File(); }
    encoder::IStatistics& Statistics() override { return run_.statistics; }
    int32_t RunState() const override { return state_; }
    int32_t VideoComplexity() const override { return inner_->VideoComplexity(); }
    void VideoComplexity(int32_t value) override { inner_->VideoComplexity(value); }
    bool AutoStop() const override { return inner_->AutoStop(); }
    void AutoStop(bool value) override { inner_->AutoStop(value); }
    void PrepareToEncode(bool prepare) override { inner_->PrepareToEncode(prepare); }
    void Start() override {
        inner_->Start();
        ++run_.starts;
        report(encoder::kRunning);
    }
    void Stop() override {
        inner_->Stop();
        ++run_.stops;
        if (run_.stopReportsStopped && state_ != encoder::kStopped)
            report(encoder::kStopped);
    }
    void OnStateChange(encoder::StateChangeHandler handler) override { handler_ = std::move(handler); }

    // Like the engine: the state changes on the front end's thread, just before the handler runs.
    void report(int32_t state) {
        dispatcher_.post([this, state] {
            state_ = state;
            if (handler_)
                handler_(state);
        });
    }

private:
    std::unique_ptr<encoder::IEncoder> inner_;
    RunWorld& run_;
    encoder::Dispatcher& dispatcher_;
    int32_t state_ = encoder::kStopped;
    encoder::StateChangeHandler handler_;
};

} // namespace

std::unique_ptr<encoder::IEncoder> RunFactory::CreateEncoder(encoder::Dispatcher& dispatcher) {
    return std::make_unique<RunEncoder>(inner_.CreateEncoder(dispatcher), run_, dispatcher);
}

void reportState(int32_t state) {
    dynamic_cast<RunEncoder&>(*g_objEncoder).report(state);
}

std::vector<std::string> RecordingWindow::lines() const {
    std::vector<std::string> out;
    for (std::size_t start = 0, end; start < info.size(); start = end + 2) {
        end = info.find("\r\n", start);
        if (end == std::string::npos)
            end = info.size();
        out.push_back(info.substr(start, end - start));
    }
    return out;
}

} // namespace capture::fake
