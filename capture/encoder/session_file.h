// The engine's session file: a whole encoder set-up (sources, profile, output, display information) as
// XML text, read by the encoder's Load.
#pragma once

#include "capture/encoder/encoder.h"

#include <string>

namespace encoder {

// Replaces the encoder's source groups and sets everything the file names. Fails with
// kBadSessionFile, or with the error of the member a value is refused by.
void loadSession(const std::string& path, IEncoder& encoder);

} // namespace encoder
