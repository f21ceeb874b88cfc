// The engine's profile file: an XML text that loads back into an identical profile.
#pragma once

#include "capture/encoder/xml_text.h"

#include <string>
#include <vector>

namespace encoder {

class Profile;

void writeProfileFile(const std::string& path, const Profile& profile);
void readProfileFile(const std::string& path, Profile& profile);

// The <profile> element and its audiences, each line starting with `indent`.
std::string profileXml(const Profile& profile, const std::string& indent);
// Reads the profile whose <profile> element is elements[at]; returns the index after its last element.
size_t readProfile(const std::vector<xml::Element>& elements, size_t at, Profile& profile,
                   const std::string& path);

} // namespace encoder
