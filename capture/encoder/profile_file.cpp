#include "capture/encoder/profile_file.h"

#include "capture/encoder/errors.h"
#include "capture/encoder/profile.h"

#include <sstream>

namespace encoder {
namespace {

// The file's version: a reader refuses files of a later one.
constexpr int kFormatVersion = 1;
constexpr uint32_t kBad = errors::kBadProfileFile;

[[noreturn]] void malformed(const std::string& path) {
    errors::raise(kBad, path + " is not a profile file.");
}

} // namespace

std::string profileXml(const Profile& profile, const std::string& indent) {
    using xml::escape;
    std::ostringstream out;
    out << indent << "<profile version=\"" << kFormatVersion << "\" name=\"" << escape(profile.ProfileName())
        << "\" contenttype=\"" << profile.ContentType() << "\" audiovbr=\"" << profile.VBRMode(kAudio, 0)
        << "\" videovbr=\"" << profile.VBRMode(kVideo, 0) << "\" nonsquarepixels=\""
        << profile.NonSquarePixelMode(0) << "\" interlace=\"" << profile.InterlaceMode(0) << "\" minpacket=\""
        << profile.MinPacketSize() << "\" maxpacket=\"" << profile.MaxPacketSize() << "\">\n";
    for (int32_t i = 0; i < profile.audienceCount(); ++i) {
        const auto& a = dynamic_cast<const Audience&>(*profile.Audience(i));
        const AudienceSettings& s = a.settings();
        out << indent << "  <audience bitrate=\"" << a.totalBitrate() << "\">\n";
        out << indent << "    <audio codec=\"" << s.audioCodec << "\" bitrate=\"" << s.audioFormat.Bitrate
            << "\" samplerate=\"" << s.audioFormat.SampleRate << "\" channels=\"" << s.audioFormat.Channels
            << "\" bitspersample=\"" << s.audioFormat.BitsPerSample << "\" peakbitrate=\""
            << s.audioPeakBitrate << "\" buffermax=\"" << s.audioBufferMax << "\"/>\n";
        out << indent << "    <video codec=\"" << s.videoCodec << "\" bitrate=\"" << s.videoBitrate
            << "\" width=\"" << s.videoWidth << "\" height=\"" << s.videoHeight << "\" fps=\"" << s.videoFps
            << "\" keyframedistance=\"" << s.videoKeyFrameDistance << "\" buffersize=\"" << s.videoBufferSize
            << "\" buffermax=\"" << s.videoBufferMax << "\" quality=\"" << s.videoCompressionQuality
            << "\" sharpness=\"" << s.videoImageSharpness << "\" peakbitrate=\"" << s.videoPeakBitrate
            << "\"/>\n";
        for (const auto& [key, value] : s.properties) {
            const size_t colon = key.find(':');
            out << indent << "    <property type=\"" << key.substr(0, colon) << "\" name=\""
                << escape(key.substr(colon + 1)) << "\" value=\"" << escape(value) << "\"/>\n";
        }
        out << indent << "  </audience>\n";
    }
    out << indent << "</profile>\n";
    return out.str();
}

size_t readProfile(const std::vector<xml::Element>& elements, size_t at, Profile& profile,
                   const std::string& path) {
    if (at >= elements.size() || elements[at].name != "profile")
        malformed(path);
    const xml::Element& root = elements[at];
    if (root.number("version", kBad) > kFormatVersion)
        errors::raise(kBad, path + " was written by a later version.");

    // The setters check every value, so a damaged file cannot make an unusable profile.
    profile.ProfileName(root.text("name"));
    profile.ContentType(root.number("contenttype", kBad));
    profile.VBRMode(kAudio, 0, root.number("audiovbr", kBad));
    profile.VBRMode(kVideo, 0, root.number("videovbr", kBad));
    profile.NonSquarePixelMode(0, root.number("nonsquarepixels", kBad) != 0);
    profile.InterlaceMode(0, root.number("interlace", kBad) != 0);
    profile.MinPacketSize(root.number("minpacket", kBad));
    profile.MaxPacketSize(root.number("maxpacket", kBad));

    std::shared_ptr<IAudience> audience;
    for (++at; at < elements.size(); ++at) {
        const xml::Element& e = elements[at];
        if (e.name == "audience") {
            audience = profile.AddAudience(e.number("bitrate", kBad));
            continue;
        }
        if (e.name != "audio" && e.name != "video" && e.name != "property")
            break;
        if (!audience)
            malformed(path);
        if (e.name == "audio") {
            audience->AudioCodec(0, e.number("codec", kBad));
            audience->SetAudioConfig(0, e.number("channels", kBad), e.number("samplerate", kBad),
                                     e.number("bitrate", kBad), e.number("bitspersample", kBad));
            audience->AudioPeakBitrate(0, e.number("peakbitrate", kBad));
            audience->AudioBufferMax(0, e.number("buffermax", kBad));
        } else if (e.name == "video") {
            audience->VideoCodec(0, e.number("codec", kBad));
            audience->VideoBitrate(0, e.number("bitrate", kBad));
            audience->VideoWidth(0, e.number("width", kBad));
            audience->VideoHeight(0, e.number("height", kBad));
            audience->VideoFPS(0, e.number("fps", kBad));
            audience->VideoKeyFrameDistance(0, e.number("keyframedistance", kBad));
            audience->VideoBufferSize(0, e.number("buffersize", kBad));
            audience->VideoBufferMax(0, e.number("buffermax", kBad));
            audience->VideoCompressionQuality(0, e.number("quality", kBad));
            audience->VideoImageSharpness(0, e.number("sharpness", kBad));
            audience->VideoPeakBitrate(0, e.number("peakbitrate", kBad));
        } else {
            audience->Property(e.number("type", kBad), 0, e.text("name"), e.text("value"));
        }
    }
    return at;
}

void writeProfileFile(const std::string& path, const Profile& profile) {
    xml::writeText(path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + profileXml(profile, ""));
}

void readProfileFile(const std::string& path, Profile& profile) {
    const auto elements = xml::readElements(path, kBad);
    if (readProfile(elements, 0, profile, path) != elements.size())
        malformed(path);
}

} // namespace encoder
