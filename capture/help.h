// The usage text and the column padding of the listings.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace capture {

// Prints the usage text into the information box, one OutputInfo per line.
void ShowHelp();

// The text followed by blanks up to `width` characters; a longer text comes back whole.
std::string PadSpaces(std::string_view text, std::size_t width);

} // namespace capture
