#include "capture/encoder/media_info.h"

#include "capture/encoder/input.h"

#include <cstdio>

namespace encoder {
namespace {

std::string formatDuration(int64_t microseconds) {
    const int64_t ms = microseconds / 1000;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld.%03lld", static_cast<long long>(ms / 3600000),
                  static_cast<long long>(ms / 60000 % 60), static_cast<long long>(ms / 1000 % 60),
                  static_cast<long long>(ms % 1000));
    return text;
}

std::string describeStream(const AVStream& s) {
    const AVCodecParameters& p = *s.codecpar;
    std::string line =
        std::string(av_get_media_type_string(p.codec_type) ? av_get_media_type_string(p.codec_type)
                                                           : "data") +
        ": " + avcodec_get_name(p.codec_id);
    char extra[128] = {};
    if (p.codec_type == AVMEDIA_TYPE_VIDEO) {
        const AVRational rate = s.avg_frame_rate.num ? s.avg_frame_rate : s.r_frame_rate;
        std::snprintf(extra, sizeof extra, ", %dx%d, %.3f fps", p.width, p.height,
                      rate.den ? av_q2d(rate) : 0.0);
    } else if (p.codec_type == AVMEDIA_TYPE_AUDIO) {
        std::snprintf(extra, sizeof extra, ", %d Hz, %d channels", p.sample_rate, p.ch_layout.nb_channels);
    }
    line += extra;
    if (p.bit_rate > 0)
        line += ", " + std::to_string(p.bit_rate) + " bps";
    return line;
}

} // namespace

double MediaInfoObject::FrameRate() const {
    return probeFile(path_).frameRate;
}

std::string MediaInfoObject::MediaInfo() const {
    av::InputPtr format = openInput(fileInput(path_));
    std::string text = "File: " + path_ + "\r\n";
    text += std::string("Format: ") + format->iformat->long_name + "\r\n";
    if (format->duration != AV_NOPTS_VALUE)
        text += "Duration: " + formatDuration(format->duration) + "\r\n";
    if (format->bit_rate > 0)
        text += "Bit rate: " + std::to_string(format->bit_rate) + " bps\r\n";
    for (unsigned i = 0; i < format->nb_streams; ++i)
        text += "Stream " + std::to_string(i) + ": " + describeStream(*format->streams[i]) + "\r\n";
    const AVDictionaryEntry* tag = nullptr;
    while ((tag = av_dict_get(format->metadata, "", tag, AV_DICT_IGNORE_SUFFIX)))
        text += std::string(tag->key) + ": " + tag->value + "\r\n";
    return text;
}

} // namespace encoder
