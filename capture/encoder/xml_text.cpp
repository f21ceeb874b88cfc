#include "capture/encoder/xml_text.h"

#include "capture/encoder/errors.h"

#include <cctype>
#include <charconv>
#include <fstream>
#include <sstream>

namespace encoder::xml {
namespace {

std::string unescape(const std::string& text) {
    static const std::pair<const char*, char> kEntities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const auto& [entity, c] : kEntities) {
                const size_t length = std::char_traits<char>::length(entity);
                if (text.compare(i, length, entity) == 0) {
                    out += c;
                    i += length;
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            out += text[i++];
    }
    return out;
}

std::vector<Element> parse(const std::string& text, const std::string& path, uint32_t errorNumber) {
    auto malformed = [&]() {
        errors::raise(errorNumber, path + " is not a file of the expected form.");
    };
    std::vector<Element> elements;
    size_t i = 0;
    while ((i = text.find('<', i)) != std::string::npos) {
        if (text.compare(i, 4, "<!--") == 0) {
            i = text.find("-->", i);
            if (i == std::string::npos)
                malformed();
            continue;
        }
        const size_t close = text.find('>', i);
        if (close == std::string::npos)
            malformed();
        if (text[i + 1] == '?' || text[i + 1] == '/') {
            i = close + 1;
            continue;
        }
        Element e;
        size_t p = i + 1;
        while (p < close && !std::isspace(static_cast<unsigned char>(text[p])) && text[p] != '/')
            e.name += text[p++];
        while (p < close) {
            while (p < close && (std::isspace(static_cast<unsigned char>(text[p])) || text[p] == '/'))
                ++p;
            if (p >= close)
                break;
            const size_t eq = text.find('=', p);
            if (eq == std::string::npos || eq > close || text[eq + 1] != '"')
                malformed();
            const size_t endQuote = text.find('"', eq + 2);
            if (endQuote == std::string::npos || endQuote > close)
                malformed();
            e.attributes[text.substr(p, eq - p)] = unescape(text.substr(eq + 2, endQuote - eq - 2));
            p = endQuote + 1;
        }
        elements.push_back(std::move(e));
        i = close + 1;
    }
    return elements;
}

} // namespace

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string Element::text(const std::string& key) const {
    auto it = attributes.find(key);
    return it == attributes.end() ? "" : it->second;
}

int32_t Element::number(const std::string& key, uint32_t errorNumber) const {
    const std::string value = text(key);
    int32_t n = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (value.empty() || ec != std::errc() || end != value.data() + value.size())
        errors::raise(errorNumber, "No number for " + key + " in <" + name + ">.");
    return n;
}

std::vector<Element> readElements(const std::string& path, uint32_t errorNumber) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        errors::raise(errorNumber, "Cannot open " + path);
    std::ostringstream text;
    text << file.rdbuf();
    return parse(text.str(), path, errorNumber);
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file)
        errors::raise(errors::kOutputOpenFailed, "Cannot write " + path);
}

} // namespace encoder::xml
