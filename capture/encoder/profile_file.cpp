#include "capture/encoder/profile_file.h"

#include "capture/encoder/errors.h"
#include "capture/encoder/profile.h"

#include <charconv>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace encoder {
namespace {

// The file's version: a reader refuses files of a later one.
constexpr int kFormatVersion = 1;

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string unescape(const std::string& text) {
    static const std::pair<const char*, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const auto& [entity, c] : kEntities) {
                if (text.compare(i, std::char_traits<char>::length(entity), entity) == 0) {
                    out += c;
                    i += std::char_traits<char>::length(entity);
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += text[i++];
    }
    return out;
}

struct Element {
    std::string name;
    std::map<std::string, std::string> attributes;

    std::string text(const std::string& key) const {
        auto it = attributes.find(key);
        return it == attributes.end() ? "" : it->second;
    }
    int32_t number(const std::string& key) const {
        const std::string value = text(key);
        int32_t n = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
        if (value.empty() || ec != std::errc() || end != value.data() + value.size())
            errors::raise(errors::kBadProfileFile,
                          "The profile file has no number for " + key + " in <" + name + ">.");
        return n;
    }
};

[[noreturn]] void malformed(const std::string& path) {
    errors::raise(errors::kBadProfileFile, path + " is not a profile file.");
}

// The opening (and empty) elements of the text, in order; declarations, comments and closing tags skipped.
std::vector<Element> parseElements(const std::string& text, const std::string& path) {
    std::vector<Element> elements;
    size_t i = 0;
    while ((i = text.find('<', i)) != std::string::npos) {
        if (text.compare(i, 4, "<!--") == 0) {
            i = text.find("-->", i);
            if (i == std::string::npos)
                malformed(path);
            continue;
        }
        const size_t close = text.find('>', i);
        if (close == std::string::npos)
            malformed(path);
        if (text[i + 1] == '?' || text[i + 1] == '/') {
            i = close + 1;
            continue;
        }
        Element e;
        size_t p = i + 1;
        while (p < close && !std::isspace(static_cast<unsigned char>(text[p])) && text[p] != '/')
            e.name += text[p++];
        while (p < close) {
            while (p < close && (std::isspace(static_cast<unsigned char>(text[p])) || text[p] == '/'))
                ++p;
            if (p >= close)
                break;
            const size_t eq = text.find('=', p);
            if (eq == std::string::npos || eq > close || text[eq + 1] != '"')
                malformed(path);
            const size_t endQuote = text.find('"', eq + 2);
            if (endQuote == std::string::npos || endQuote > close)
                malformed(path);
            e.attributes[text.substr(p, eq - p)] = unescape(text.substr(eq + 2, endQuote - eq - 2));
            p = endQuote + 1;
        }
        elements.push_back(std::move(e));
        i = close + 1;
    }
    return elements;
}

} // namespace

void writeProfileFile(const std::string& path, const Profile& profile) {
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out << "<profile version=\"" << kFormatVersion << "\" name=\"" << escape(profile.ProfileName())
        << "\" contenttype=\"" << profile.ContentType() << "\" audiovbr=\"" << profile.VBRMode(kAudio, 0)
        << "\" videovbr=\"" << profile.VBRMode(kVideo, 0) << "\" nonsquarepixels=\""
        << profile.NonSquarePixelMode(0) << "\" interlace=\"" << profile.InterlaceMode(0) << "\" minpacket=\""
        << profile.MinPacketSize() << "\" maxpacket=\"" << profile.MaxPacketSize() << "\">\n";
    for (int32_t i = 0; i < profile.audienceCount(); ++i) {
        const auto& a = dynamic_cast<const Audience&>(*profile.Audience(i));
        const AudienceSettings& s = a.settings();
        out << "  <audience bitrate=\"" << a.totalBitrate() << "\">\n";
        out << "    <audio codec=\"" << s.audioCodec << "\" bitrate=\"" << s.audioFormat.Bitrate
            << "\" samplerate=\"" << s.audioFormat.SampleRate << "\" channels=\"" << s.audioFormat.Channels
            << "\" bitspersample=\"" << s.audioFormat.BitsPerSample << "\" peakbitrate=\""
            << s.audioPeakBitrate << "\" buffermax=\"" << s.audioBufferMax << "\"/>\n";
        out << "    <video codec=\"" << s.videoCodec << "\" bitrate=\"" << s.videoBitrate << "\" width=\""
            << s.videoWidth << "\" height=\"" << s.videoHeight << "\" fps=\"" << s.videoFps
            << "\" keyframedistance=\"" << s.videoKeyFrameDistance << "\" buffersize=\"" << s.videoBufferSize
            << "\" buffermax=\"" << s.videoBufferMax << "\" quality=\"" << s.videoCompressionQuality
            << "\" sharpness=\"" << s.videoImageSharpness << "\" peakbitrate=\"" << s.videoPeakBitrate
            << "\"/>\n";
        for (const auto& [key, value] : s.properties) {
            const size_t colon = key.find(':');
            out << "    <property type=\"" << key.substr(0, colon) << "\" name=\""
                << escape(key.substr(colon + 1)) << "\" value=\"" << escape(value) << "\"/>\n";
        }
        out << "  </audience>\n";
    }
    out << "</profile>\n";

    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << out.str();
    file.close();
    if (!file)
        errors::raise(errors::kOutputOpenFailed, "Cannot write the profile file " + path);
}

void readProfileFile(const std::string& path, Profile& profile) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        errors::raise(errors::kBadProfileFile, "Cannot open the profile file " + path);
    std::ostringstream text;
    text << file.rdbuf();
    const std::vector<Element> elements = parseElements(text.str(), path);
    if (elements.empty() || elements.front().name != "profile")
        malformed(path);
    const Element& root = elements.front();
    if (root.number("version") > kFormatVersion)
        errors::raise(errors::kBadProfileFile, path + " was written by a later version.");

    // The setters check every value, so a damaged file cannot make an unusable profile.
    profile.ProfileName(root.text("name"));
    profile.ContentType(root.number("contenttype"));
    profile.VBRMode(kAudio, 0, root.number("audiovbr"));
    profile.VBRMode(kVideo, 0, root.number("videovbr"));
    profile.NonSquarePixelMode(0, root.number("nonsquarepixels") != 0);
    profile.InterlaceMode(0, root.number("interlace") != 0);
    profile.MinPacketSize(root.number("minpacket"));
    profile.MaxPacketSize(root.number("maxpacket"));

    std::shared_ptr<IAudience> audience;
    for (size_t i = 1; i < elements.size(); ++i) {
        const Element& e = elements[i];
        if (e.name == "audience") {
            audience = profile.AddAudience(e.number("bitrate"));
            continue;
        }
        if (!audience)
            malformed(path);
        if (e.name == "audio") {
            audience->AudioCodec(0, e.number("codec"));
            audience->SetAudioConfig(0, e.number("channels"), e.number("samplerate"), e.number("bitrate"),
                                     e.number("bitspersample"));
            audience->AudioPeakBitrate(0, e.number("peakbitrate"));
            audience->AudioBufferMax(0, e.number("buffermax"));
        } else if (e.name == "video") {
            audience->VideoCodec(0, e.number("codec"));
            audience->VideoBitrate(0, e.number("bitrate"));
            audience->VideoWidth(0, e.number("width"));
            audience->VideoHeight(0, e.number("height"));
            audience->VideoFPS(0, e.number("fps"));
            audience->VideoKeyFrameDistance(0, e.number("keyframedistance"));
            audience->VideoBufferSize(0, e.number("buffersize"));
            audience->VideoBufferMax(0, e.number("buffermax"));
            audience->VideoCompressionQuality(0, e.number("quality"));
            audience->VideoImageSharpness(0, e.number("sharpness"));
            audience->VideoPeakBitrate(0, e.number("peakbitrate"));
        } else if (e.name == "property") {
            audience->Property(e.number("type"), 0, e.text("name"), e.text("value"));
        } else {
            malformed(path);
        }
    }
}

} // namespace encoder
