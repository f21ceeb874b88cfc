// Sources, source groups and the group collection of the engine.
#pragma once

#include "capture/encoder/encoder.h"
#include "capture/encoder/input.h"
#include "capture/encoder/profile.h"

#include <functional>
#include <vector>

namespace encoder {

enum class InputKind { kNone, kFile, kDevice, kScreen };

class Source : public ISource {
public:
    // `checkIdle` fails while the encoder runs: sources do not change under a running encoder.
    Source(int32_t type, std::function<void()> checkIdle) : type_(type), checkIdle_(std::move(checkIdle)) {}

    InputKind kind() const { return kind_; }
    const FileProbe& probe() const { return probe_; }

    int32_t Type() const override { return type_; }
    void SetInput(const std::string& input, const std::string& scheme) override;
    std::string Input() const override { return input_; }
    int32_t MarkIn() const override { return markIn_; }
    void MarkIn(int32_t ms) override;
    int32_t MarkOut() const override { return markOut_; }
    void MarkOut(int32_t ms) override;
    int32_t PreProcessPass() const override { return preProcessPass_; }
    void PreProcessPass(int32_t value) override;
    int32_t Duration() const override;

    int32_t ContentMode() const override;
    void ContentMode(int32_t value) override;
    std::string ContentEDL() const override;
    void ContentEDL(const std::string& value) override;

    int32_t Optimization() const override;
    void Optimization(int32_t value) override;
    int32_t PixelFormat() const override;
    void PixelFormat(int32_t value) override;
    int32_t PixelAspectRatioX() const override;
    void PixelAspectRatioX(int32_t value) override;
    int32_t PixelAspectRatioY() const override;
    void PixelAspectRatioY(int32_t value) override;
    int32_t CroppingLeftMargin() const override;
    void CroppingLeftMargin(int32_t pixels) override;
    int32_t CroppingTopMargin() const override;
    void CroppingTopMargin(int32_t pixels) override;
    int32_t CroppingRightMargin() const override;
    void CroppingRightMargin(int32_t pixels) override;
    int32_t CroppingBottomMargin() const override;
    void CroppingBottomMargin(int32_t pixels) override;

    // Set by the group for a file it probed already.
    void setProbedFile(const std::string& path, const FileProbe& probe);

private:
    void audioOnly() const;
    void videoOnly() const;
    int32_t& videoValue(int32_t& field);
    int32_t videoValue(const int32_t& field) const;

    int32_t type_;
    std::function<void()> checkIdle_;
    InputKind kind_ = InputKind::kNone;
    std::string input_;
    FileProbe probe_;
    int32_t markIn_ = 0;
    int32_t markOut_ = 0;
    int32_t preProcessPass_ = 0;
    int32_t contentMode_ = 0;
    std::string contentEdl_;
    int32_t optimization_ = 0;
    int32_t pixelFormat_ = 0;
    int32_t aspectX_ = 0, aspectY_ = 0;
    int32_t cropLeft_ = 0, cropTop_ = 0, cropRight_ = 0, cropBottom_ = 0;
};

class SourceGroup : public ISourceGroup {
public:
    SourceGroup(std::string name, std::function<void()> checkIdle)
        : name_(std::move(name)), checkIdle_(std::move(checkIdle)) {}

    const std::vector<std::shared_ptr<encoder::Source>>& sources(int32_t type) const;
    const encoder::Profile* profile() const { return profile_.get(); }

    std::string Name() const override { return name_; }
    std::shared_ptr<ISource> AddSource(int32_t type) override;
    void AutoSetFileSource(const std::string& path) override;
    int32_t SourceCount(int32_t type) const override;
    std::shared_ptr<ISource> Source(int32_t type, int32_t index) const override;
    std::shared_ptr<IProfile> Profile() const override;
    void Profile(const IProfile& profile) override;

private:
    std::string name_;
    std::function<void()> checkIdle_;
    std::vector<std::shared_ptr<encoder::Source>> audio_;
    std::vector<std::shared_ptr<encoder::Source>> video_;
    std::shared_ptr<encoder::Profile> profile_;
};

class SourceGroupCollection : public ISourceGroupCollection {
public:
    explicit SourceGroupCollection(std::function<void()> checkIdle) : checkIdle_(std::move(checkIdle)) {}

    const std::vector<std::shared_ptr<SourceGroup>>& groups() const { return groups_; }

    int32_t Count() const override { return static_cast<int32_t>(groups_.size()); }
    std::shared_ptr<ISourceGroup> Item(int32_t index) const override;
    std::shared_ptr<ISourceGroup> Add(const std::string& name) override;
    void Remove(const std::string& name) override;

private:
    std::function<void()> checkIdle_;
    std::vector<std::shared_ptr<SourceGroup>> groups_;
};

} // namespace encoder
