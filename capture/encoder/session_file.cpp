#include "capture/encoder/session_file.h"

#include "capture/encoder/errors.h"
#include "capture/encoder/profile.h"
#include "capture/encoder/profile_file.h"
#include "capture/encoder/xml_text.h"

namespace encoder {
namespace {

constexpr int kFormatVersion = 1;
constexpr uint32_t kBad = errors::kBadSessionFile;

} // namespace

void loadSession(const std::string& path, IEncoder& encoder) {
    const auto elements = xml::readElements(path, kBad);
    if (elements.empty() || elements.front().name != "session")
        errors::raise(kBad, path + " is not a session file.");
    if (elements.front().number("version", kBad) > kFormatVersion)
        errors::raise(kBad, path + " was written by a later version.");

    ISourceGroupCollection& groups = encoder.SourceGroupCollection();
    while (groups.Count() > 0)
        groups.Remove(groups.Item(0)->Name());

    std::shared_ptr<ISourceGroup> group;
    for (size_t i = 1; i < elements.size();) {
        const xml::Element& e = elements[i];
        const auto has = [&](const char* key) {
            return e.attributes.count(key) > 0;
        };
        if (e.name == "profile") {
            if (!group)
                errors::raise(kBad, "A profile lies outside a source group in " + path);
            Profile profile;
            i = readProfile(elements, i, profile, path);
            group->Profile(profile);
            continue;
        }
        if (e.name == "sourcegroup") {
            group = groups.Add(e.text("name"));
        } else if (e.name == "source") {
            if (!group)
                errors::raise(kBad, "A source lies outside a source group in " + path);
            auto source = group->AddSource(e.number("type", kBad));
            source->SetInput(e.text("input"), e.text("scheme"));
            if (has("markin"))
                source->MarkIn(e.number("markin", kBad));
            if (has("markout"))
                source->MarkOut(e.number("markout", kBad));
            if (has("preprocesspass"))
                source->PreProcessPass(e.number("preprocesspass", kBad));
        } else if (e.name == "output") {
            encoder.File().LocalFileName(e.text("file"));
            if (has("port"))
                encoder.Broadcast().PortNumber(kHttp, e.number("port", kBad));
            encoder.Broadcast().ServerName(e.text("server"));
            encoder.Broadcast().PublishingPoint(e.text("publishingpoint"));
            encoder.Broadcast().Template(e.text("template"));
        } else if (e.name == "displayinfo") {
            IDisplayInfo& info = encoder.DisplayInfo();
            info.Title(e.text("title"));
            info.Author(e.text("author"));
            info.Copyright(e.text("copyright"));
            info.Description(e.text("description"));
            info.Rating(e.text("rating"));
        } else if (e.name == "attribute") {
            encoder.Attributes().Add(e.text("name"), e.text("value"));
        } else {
            errors::raise(kBad, "Unknown element <" + e.name + "> in " + path);
        }
        ++i;
    }
}

} // namespace encoder
