#include "capture/files.h"

#include "common/cp1252.h"

#include <cerrno>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace capture {

namespace {

// The stream libraries report why an open failed only through errno.
[[noreturn]] void throwFileError(const char* what, std::string_view path) {
    int error = errno != 0 ? errno : EIO;
    throw std::system_error(error, std::generic_category(), std::string(what) + " " + std::string(path));
}

} // namespace

fs::path toPath(std::string_view text) {
    return fs::path(hv::fromCp1252(text));
}

std::string pathText(const fs::path& path) {
    return hv::toCp1252(path.u16string());
}

std::string absolutePath(std::string_view name) {
    fs::path path = fs::absolute(toPath(name)).lexically_normal();
    if (!path.has_filename() && path != path.root_path())
        path = path.parent_path();
    return pathText(path);
}

std::string parentFolder(std::string_view path) {
    fs::path p = toPath(path);
    return p == p.root_path() ? std::string() : pathText(p.parent_path());
}

void CreateOutputFolder(std::string_view folder) {
    // Where the walk up from a missing drive ends.
    if (folder.empty())
        throw fs::filesystem_error("Cannot create a folder without a name",
                                   std::make_error_code(std::errc::invalid_argument));
    fs::create_directories(toPath(folder));
}

std::string readFirstLine(std::string_view path) {
    errno = 0;
    std::ifstream file(toPath(path), std::ios::binary);
    if (!file)
        throwFileError("Cannot open", path);
    std::string line;
    char c;
    while (file.get(c) && c != '\r' && c != '\n')
        line += c;
    if (file.bad())
        throwFileError("Cannot read", path);
    return line;
}

void writeTextFile(std::string_view path, std::string_view text) {
    errno = 0;
    std::ofstream file(toPath(path), std::ios::binary | std::ios::trunc);
    if (!file)
        throwFileError("Cannot create", path);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.close();
    if (!file)
        throwFileError("Cannot write", path);
}

} // namespace capture
