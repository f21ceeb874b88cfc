#include "probes/probes.h"

#include "common/win32_handles.h"

#include <cstdint>

namespace probes {

bool getKeyValue(HKEY root, const std::string& subKey, const std::string& valueName, std::string& value) {
    constexpr REGSAM kAccess = 0x2003F; // KEY_ALL_ACCESS: the callers run as administrator
    constexpr DWORD kBufferSize = 1024;

    hv::UniqueRegKey key;
    if (RegOpenKeyExA(root, subKey.c_str(), 0, kAccess, key.put()) != ERROR_SUCCESS) {
        value.clear();
        return false;
    }
    BYTE buffer[kBufferSize];
    DWORD size = kBufferSize;
    DWORD type = REG_NONE;
    if (RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &type, buffer, &size) != ERROR_SUCCESS) {
        value.clear();
        return false;
    }
    std::string text(reinterpret_cast<const char*>(buffer), size);
    if (!text.empty() && text.back() == '\0')
        text.pop_back();

    if (type == REG_SZ) {
        value = text;
    } else if (type == REG_DWORD) {
        std::uint32_t number = 0;
        for (DWORD i = 0; i < size && i < 4; ++i)
            number |= std::uint32_t{buffer[i]} << (8 * i);
        value = std::to_string(number);
    }
    return true;
}

} // namespace probes
