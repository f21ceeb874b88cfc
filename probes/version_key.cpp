#include "probes/probes.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace probes {

BadVersionText::BadVersionText(std::string_view text)
    : std::invalid_argument("version text needs at least three separators: \"" + std::string(text) + "\"") {}

namespace {

// "." when the text has one, otherwise the first blank.
std::size_t findSeparator(std::string_view text) {
    std::size_t at = text.find('.');
    return at != std::string_view::npos ? at : text.find(' ');
}

bool isWholeNumber(std::string_view part) {
    if (!part.empty() && (part.front() == '-' || part.front() == '+'))
        part.remove_prefix(1);
    return !part.empty() &&
           std::all_of(part.begin(), part.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The pattern "0000": a number gets at least four digits; anything else passes through unchanged.
std::string formatPart(std::string_view part) {
    if (!isWholeNumber(part))
        return std::string(part);
    std::string sign;
    if (part.front() == '-' || part.front() == '+') {
        if (part.front() == '-')
            sign = "-";
        part.remove_prefix(1);
    }
    part.remove_prefix(std::min(part.find_first_not_of('0'), part.size()));
    if (part.empty())
        sign.clear(); // "-0" is zero
    std::string digits(part);
    if (digits.size() < 4)
        digits.insert(0, 4 - digits.size(), '0');
    return sign + digits;
}

} // namespace

std::string versionKey(std::string_view versionText) {
    std::array<std::string_view, 4> parts;
    std::string_view rest = versionText;
    for (std::size_t i = 0; i < 3; ++i) {
        std::size_t at = findSeparator(rest);
        if (at == std::string_view::npos)
            throw BadVersionText(versionText);
        parts[i] = rest.substr(0, at);
        rest.remove_prefix(at + 1);
    }
    parts[3] = rest;

    std::string key;
    for (std::string_view part : parts)
        key += formatPart(part);
    if (key.size() < 16)
        key.append(16 - key.size(), '0');
    return key;
}

} // namespace probes
