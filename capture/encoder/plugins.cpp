#include "capture/encoder/plugins.h"

#include "capture/encoder/devices.h"
#include "capture/encoder/errors.h"

namespace encoder {

std::string PluginInfo::Item(int32_t index) const {
    if (index < 0 || index >= count())
        errors::raise(errors::kNotFound, "The plug-in has no device with that index.");
    return devices_[static_cast<size_t>(index)];
}

PluginInfoManager::PluginInfoManager() {
    // The screen is always there; device capture plug-ins come with the device inputs.
    plugins_.push_back(
        std::make_shared<PluginInfo>("Screen capture", 6, std::vector<std::string>{"screencap1"}));
}

std::shared_ptr<IPluginInfo> PluginInfoManager::Item(int32_t index) const {
    if (index < 0 || index >= count())
        errors::raise(errors::kNotFound, "No plug-in has that index.");
    return plugins_[static_cast<size_t>(index)];
}

} // namespace encoder
