#include "capture/number_format.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>

namespace capture {

namespace {

struct Pattern {
    std::size_t minWholeDigits = 0;
    bool grouping = false;
    bool point = false;
    std::size_t minDecimals = 0;
    std::size_t maxDecimals = 0;
};

Pattern readPattern(std::string_view pattern) {
    Pattern p;
    std::size_t point = pattern.find('.');
    std::string_view whole = pattern.substr(0, point);
    p.minWholeDigits = std::count(whole.begin(), whole.end(), '0');
    p.grouping = whole.find(',') != std::string_view::npos;
    if (point != std::string_view::npos) {
        std::string_view decimals = pattern.substr(point + 1);
        p.point = true;
        p.minDecimals = std::count(decimals.begin(), decimals.end(), '0');
        p.maxDecimals = p.minDecimals + std::count(decimals.begin(), decimals.end(), '#');
    }
    return p;
}

// Adds one unit in the last place of a digit string; true when the carry runs out of the front.
bool incrementDigits(std::string& digits) {
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (*it != '9') {
            ++*it;
            return false;
        }
        *it = '0';
    }
    return true;
}

std::string groupInThrees(const std::string& digits) {
    std::string grouped;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += ',';
        grouped += digits[i];
    }
    return grouped;
}

} // namespace

std::string FormatNumber(double value, std::string_view pattern) {
    if (!std::isfinite(value))
        return value != value ? "NaN" : value < 0 ? "-Infinity" : "Infinity";
    const Pattern p = readPattern(pattern);

    // Fifteen significant digits, as many as a double reliably holds: 1234.5678 stays 1234.5678
    // instead of its binary neighbour 1234.567799999..., so halves round the way they read.
    char buffer[32];
    auto result =
        std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific, 14);
    std::string_view text(buffer, result.ptr - buffer);
    std::size_t e = text.find('e');
    std::string significant = std::string(text.substr(0, 1)) + std::string(text.substr(2, e - 2));
    int wholeCount = std::atoi(std::string(text.substr(e + 1)).c_str()) + 1;

    std::string whole, decimals;
    if (wholeCount <= 0) {
        decimals = std::string(static_cast<std::size_t>(-wholeCount), '0') + significant;
    } else if (static_cast<std::size_t>(wholeCount) >= significant.size()) {
        whole = significant + std::string(wholeCount - significant.size(), '0');
    } else {
        whole = significant.substr(0, wholeCount);
        decimals = significant.substr(wholeCount);
    }

    if (decimals.size() > p.maxDecimals) {
        bool roundUp = decimals[p.maxDecimals] >= '5';
        decimals.resize(p.maxDecimals);
        if (roundUp) {
            std::string digits = whole + decimals;
            if (incrementDigits(digits))
                digits.insert(0, 1, '1');
            whole = digits.substr(0, digits.size() - decimals.size());
            decimals = digits.substr(whole.size());
        }
    }
    decimals.resize(std::max(decimals.size(), p.minDecimals), '0');
    while (decimals.size() > p.minDecimals && decimals.back() == '0')
        decimals.pop_back();

    whole.erase(0, std::min(whole.find_first_not_of('0'), whole.size()));
    bool zero = whole.empty() && decimals.find_first_not_of('0') == std::string::npos;
    if (whole.size() < p.minWholeDigits)
        whole.insert(0, p.minWholeDigits - whole.size(), '0');

    std::string formatted = value < 0 && !zero ? "-" : "";
    formatted += p.grouping ? groupInThrees(whole) : whole;
    if (p.point)
        formatted += "." + decimals;
    return formatted;
}

std::string ReportLine(std::string_view label, int tabs, std::string_view value, std::string_view suffix) {
    std::string line = "\t";
    line += label;
    line.append(static_cast<std::size_t>(tabs), '\t');
    line += value;
    line += suffix;
    return line;
}

} // namespace capture
