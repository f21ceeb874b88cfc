#include "capture/encoder/devices.h"

#include "capture/encoder/errors.h"
#include "capture/encoder/picture_filter.h"

extern "C" {
#include <libavdevice/avdevice.h>
}

#include <algorithm>
#include <cstdlib>
#include <mutex>

namespace encoder {
namespace {

#ifdef _WIN32
constexpr const char* kScreenFormat = "gdigrab";
constexpr const char* kAudioFormat = "dshow";
constexpr const char* kVideoFormat = "dshow";
#else
constexpr const char* kScreenFormat = "x11grab";
constexpr const char* kAudioFormat = "pulse";
constexpr const char* kVideoFormat = "";
#endif

// Names of the inputs a device format offers of one media type.
std::vector<std::string> listDevices(const char* formatName, AVMediaType type) {
    std::vector<std::string> names;
    if (!*formatName)
        return names;
    static std::once_flag registered;
    std::call_once(registered, [] { avdevice_register_all(); });
    const AVInputFormat* format = av_find_input_format(formatName);
    AVDeviceInfoList* list = nullptr;
    if (!format || avdevice_list_input_sources(format, nullptr, nullptr, &list) < 0 || !list)
        return names;
    for (int i = 0; i < list->nb_devices; ++i) {
        const AVDeviceInfo& d = *list->devices[i];
        bool ofType = d.nb_media_types == 0;
        for (int t = 0; t < d.nb_media_types; ++t)
            ofType |= d.media_types[t] == type;
            // DirectShow opens inputs by their friendly names, PulseAudio by their own names.
#ifdef _WIN32
        const char* name =
            d.device_description && *d.device_description ? d.device_description : d.device_name;
#else
        const char* name = d.device_name;
#endif
        if (ofType && name)
            names.emplace_back(name);
    }
    avdevice_free_list_devices(&list);
    return names;
}

bool listed(const std::vector<std::string>& names, const std::string& name) {
    return std::find(names.begin(), names.end(), name) != names.end();
}

} // namespace

InputSpec screenInput(int32_t milliFps) {
    InputSpec spec;
    spec.format = kScreenFormat;
    spec.live = true;
#ifdef _WIN32
    spec.url = "desktop";
#else
    const char* display = std::getenv("DISPLAY");
    spec.url = display && *display ? display : ":0";
#endif
    spec.options = {{"framerate", std::to_string(milliFps) + "/1000"}, {"draw_mouse", "1"}};
    return spec;
}

InputSpec audioDeviceInput(const std::string& name) {
    InputSpec spec;
    spec.format = kAudioFormat;
    spec.live = true;
#ifdef _WIN32
    std::string device = name;
    if (name == kDefaultAudioDevice) {
        const auto names = audioDeviceNames();
        if (names.empty())
            errors::raise(errors::kNotFound, "There is no sound input.");
        device = names.front();
    } else if (!listed(audioDeviceNames(), name)) {
        errors::raise(errors::kNotFound, "There is no sound input named " + name + ".");
    }
    spec.url = "audio=" + device;
#else
    // PulseAudio's own default source; small fragments keep the capture close to real time.
    spec.url = name == kDefaultAudioDevice ? "default" : name;
    spec.options = {{"fragment_size", "4096"}};
#endif
    return spec;
}

const char* devicePixelFormat(int32_t pixelFormat) {
    // A camera's 8-bit RGB comes with a palette.
    if (static_cast<uint32_t>(pixelFormat) == kPixelFormatRGB8)
        return "pal8";
    const AVPixelFormat format = sourcePixelFormat(pixelFormat);
    return format == AV_PIX_FMT_NONE ? nullptr : av_get_pix_fmt_name(format);
}

InputSpec videoDeviceInput(const std::string& name, int32_t pixelFormat) {
    if (!*kVideoFormat || !listed(videoDeviceNames(), name))
        errors::raise(errors::kNotFound, "There is no video input named " + name + ".");
    InputSpec spec;
    spec.format = kVideoFormat;
    spec.live = true;
    spec.url = "video=" + name;
    if (const char* format = devicePixelFormat(pixelFormat))
        spec.options.push_back({"pixel_format", format});
    return spec;
}

std::vector<std::string> audioDeviceNames() {
    return listDevices(kAudioFormat, AVMEDIA_TYPE_AUDIO);
}

std::vector<std::string> videoDeviceNames() {
    return listDevices(kVideoFormat, AVMEDIA_TYPE_VIDEO);
}

} // namespace encoder
