// Registry and version probes shared by the capture program, the installer and the removal tool.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#ifdef _WIN32
#include <windows.h>
#endif

namespace probes {

// Raised by versionKey for a version text with fewer than three separators.
class BadVersionText : public std::invalid_argument {
public:
    explicit BadVersionText(std::string_view text);
};

// A key that compares by plain character order: "6.0.2800.1106" -> "0006000028001106".
std::string versionKey(std::string_view versionText);

#ifdef _WIN32
// Reads one REG_SZ or REG_DWORD value (an empty valueName reads the key's default value). Other value
// types leave `value` as it was and still count as read. On failure `value` becomes empty.
bool getKeyValue(HKEY root, const std::string& subKey, const std::string& valueName, std::string& value);

// Copies the file's fixed version block into `info`; false (and `info` untouched) when the file has none.
bool readFileVersion(const std::string& path, VS_FIXEDFILEINFO& info);

// The dotted file version of a block, each part a signed 16-bit number: "1.2.-25536.7".
std::string fileVersionText(const VS_FIXEDFILEINFO& info);
#endif

} // namespace probes
