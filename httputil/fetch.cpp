#include "httputil/fetch.h"
#include "httputil/http2file.h"
#include "httputil/internet_handle.h"

#include <algorithm>
#include <exception>

namespace httputil {

namespace {

constexpr DWORD kChunkSize = 2048;

std::string wininetErrorText(DWORD code) {
    return "error (wininet.dll," + std::to_string(code) + ")";
}

// A step that failed without an error code still reports a failure.
std::string failureText(DWORD code) {
    return code != 0 ? wininetErrorText(code) : "error";
}

// The body on success, otherwise the in-band error text. Each step is judged by what it returns: the last
// error code is left non-zero by some successful calls (12006 after an opened URL under some WinINets).
// It is cleared before each call and read only when the call failed.
void download(const std::string& url, bool dontUseCache, Body& body) {
    SetLastError(0);
    UniqueInternet root(InternetOpenA(kAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!root) {
        body.append(failureText(GetLastError()));
        return;
    }
    // Declared after the root handle, so it is closed first.
    SetLastError(0);
    UniqueInternet file(
        InternetOpenUrlA(root.get(), url.c_str(), nullptr, 0, requestFlags(url, dontUseCache), 0));
    if (!file) {
        body.append(failureText(GetLastError()));
        return;
    }
    char buffer[kChunkSize];
    for (;;) {
        DWORD read = 0;
        SetLastError(0);
        if (!InternetReadFile(file.get(), buffer, kChunkSize, &read)) {
            DWORD code = GetLastError();
            body.clear();
            body.append(failureText(code));
            return;
        }
        if (read == 0)
            return;
        body.append(std::string_view(buffer, read));
    }
}

} // namespace

DWORD requestFlags(std::string_view url, bool dontUseCache) {
    DWORD flags = 0;
    if (dontUseCache)
        flags |= INTERNET_FLAG_RELOAD;
    if (url.find("https") != std::string_view::npos)
        flags |= INTERNET_FLAG_SECURE;
    return flags;
}

void Body::append(std::string_view bytes) {
    while (!bytes.empty()) {
        if (blocks_.empty() || blocks_.back().size() == kBlockSize) {
            blocks_.emplace_back();
            blocks_.back().reserve(kBlockSize);
        }
        std::string& block = blocks_.back();
        std::size_t n = std::min(bytes.size(), kBlockSize - block.size());
        block.append(bytes.substr(0, n));
        size_ += n;
        bytes.remove_prefix(n);
    }
}

void Body::clear() noexcept {
    blocks_.clear();
    size_ = 0;
}

void fetchInto(const std::string& url, bool dontUseCache, Body& body) {
    body.clear();
    try {
        download(url, dontUseCache, body);
    } catch (const std::exception&) {
        body.clear();
    }
}

std::string fetchUrl(const std::string& url, bool dontUseCache) {
    Body body;
    fetchInto(url, dontUseCache, body);
    try {
        std::string text;
        text.reserve(body.size());
        for (const std::string& block : body.blocks())
            text += block;
        return text;
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace httputil
