// The small XML subset of the engine's own files: elements with quoted attributes, nothing else.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace encoder::xml {

std::string escape(const std::string& text);

struct Element {
    std::string name;
    std::map<std::string, std::string> attributes;

    std::string text(const std::string& key) const;
    // Fails with `errorNumber` when the attribute is missing or not a whole number.
    int32_t number(const std::string& key, uint32_t errorNumber) const;
};

// The opening (and empty) elements of a file, in order; declarations, comments and closing tags are
// skipped. Fails with `errorNumber` when the file cannot be read or is not of this form.
std::vector<Element> readElements(const std::string& path, uint32_t errorNumber);

// Writes the text as the whole file; fails with kOutputOpenFailed.
void writeText(const std::string& path, const std::string& text);

} // namespace encoder::xml
