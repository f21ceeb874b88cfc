#include "probes/probes.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace probes {

bool readFileVersion(const std::string& path, VS_FIXEDFILEINFO& info) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &handle);
    if (size == 0)
        return false;
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoA(path.c_str(), handle, size, block.data()))
        return false;
    void* fixed = nullptr;
    UINT fixedSize = 0;
    if (!VerQueryValueA(block.data(), "\\", &fixed, &fixedSize) || fixed == nullptr ||
        fixedSize < sizeof(VS_FIXEDFILEINFO))
        return false;
    std::memcpy(&info, fixed, sizeof(VS_FIXEDFILEINFO));
    return true;
}

std::string fileVersionText(const VS_FIXEDFILEINFO& info) {
    auto part = [](DWORD word, int shift) {
        return std::to_string(static_cast<std::int16_t>((word >> shift) & 0xFFFF));
    };
    return part(info.dwFileVersionMS, 16) + "." + part(info.dwFileVersionMS, 0) + "." +
           part(info.dwFileVersionLS, 16) + "." + part(info.dwFileVersionLS, 0);
}

} // namespace probes
