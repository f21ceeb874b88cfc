#include "capture/encoder/profile_file.h"

#include "capture/encoder/errors.h"
#include "capture/encoder/profile.h"

namespace encoder {

void writeProfileFile(const std::string&, const Profile&) {
    errors::raise(errors::kNotImplemented, "Profile files are not supported yet.");
}

void readProfileFile(const std::string&, Profile&) {
    errors::raise(errors::kNotImplemented, "Profile files are not supported yet.");
}

} // namespace encoder
