#include "capture/step_runner.h"

namespace capture {

std::string hexNumber(uint32_t number) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[number & 0xF]);
        number >>= 4;
    } while (number != 0);
    return text;
}

std::string decimalNumber(uint32_t number) {
    return std::to_string(static_cast<int32_t>(number));
}

} // namespace capture
