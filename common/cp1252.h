// Windows-1252, the one single-byte code page the components use on every platform, so that bytes made
// into text on one machine come back as the same bytes on any other.
#pragma once

#include <string>
#include <string_view>

namespace hv {

// One byte per character. A character outside Windows-1252 becomes '?'.
std::string toCp1252(std::u16string_view text);

// One character per byte. The five bytes Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D)
// become the control characters of the same value, as the Windows conversion does, so every byte
// string survives fromCp1252 and toCp1252 unchanged.
std::u16string fromCp1252(std::string_view bytes);

} // namespace hv
