// Paths and the small text files of the capture program. Texts are Windows-1252; paths pass through
// UTF-16 on their way to the file system, so a name means the same file on Windows and natively.
// Paths follow the platform's rules: backslashes and drives on Windows, "/" natively.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace capture {

std::filesystem::path toPath(std::string_view text);
std::string pathText(const std::filesystem::path& path);

// The name made absolute against the current folder, "." and ".." resolved, without a trailing
// separator unless it is a root.
std::string absolutePath(std::string_view name);

// The folder holding the path ("" for a root).
std::string parentFolder(std::string_view path);

// Creates the folder and its missing parents; an existing folder is left alone. Failure (an empty
// path, a missing drive, no permission, a file in the way) raises std::filesystem::filesystem_error.
void CreateOutputFolder(std::string_view folder);

// The bytes up to the first CR or LF. A file that cannot be opened or read raises std::system_error;
// an empty file gives an empty line.
std::string readFirstLine(std::string_view path);

// Creates or overwrites the file with exactly these bytes. Failure raises std::system_error.
void writeTextFile(std::string_view path, std::string_view text);

} // namespace capture
