// Short codec names of the listings, the names -a_codec and -v_codec accept.
#pragma once

#include <cstdint>
#include <string_view>

namespace capture {

// The short name of an audio format tag or a video FourCC (type encoder::kAudio or kVideo); empty for an
// identifier without one.
std::string_view codecShortName(int32_t type, int32_t identifier);

} // namespace capture
