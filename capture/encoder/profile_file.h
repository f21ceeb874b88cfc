// The engine's profile file: an XML text that loads back into an identical profile.
#pragma once

#include <string>

namespace encoder {

class Profile;

void writeProfileFile(const std::string& path, const Profile& profile);
void readProfileFile(const std::string& path, Profile& profile);

} // namespace encoder
