// The source plug-ins and the devices each offers.
#pragma once

#include "capture/encoder/encoder.h"

#include <vector>

namespace encoder {

class PluginInfo : public IPluginInfo {
public:
    PluginInfo(std::string name, int32_t mediaType, std::vector<std::string> devices)
        : name_(std::move(name)), mediaType_(mediaType), devices_(std::move(devices)) {}

    std::string Name() const override { return name_; }
    bool Resources() const override { return !devices_.empty(); }
    int32_t MediaType() const override { return mediaType_; }
    int32_t count() const override { return static_cast<int32_t>(devices_.size()); }
    std::string Item(int32_t index) const override;

private:
    std::string name_;
    int32_t mediaType_;
    std::vector<std::string> devices_;
};

class PluginInfoManager : public IPluginInfoManager {
public:
    PluginInfoManager();
    int32_t count() const override { return static_cast<int32_t>(plugins_.size()); }
    std::shared_ptr<IPluginInfo> Item(int32_t index) const override;

private:
    std::vector<std::shared_ptr<PluginInfo>> plugins_;
};

} // namespace encoder
