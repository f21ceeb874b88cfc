// The fetch itself, shared by fetchUrl and the two methods of Http2File.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace httputil {

inline constexpr char kAgent[] = "Mozilla/4.0 (compatible; MSIE 5.0; Windows NT 5.1)";

// The request flags: reload when the cache is not wanted, secure when "https" appears anywhere in the URL.
// The test is case-sensitive on purpose: callers may depend on an upper-case scheme not counting.
DWORD requestFlags(std::string_view url, bool dontUseCache);

// A body kept in fixed-size blocks: it grows in linear time and is never copied whole while it grows,
// so a large download costs about its own size in memory.
class Body {
public:
    void append(std::string_view bytes);
    std::size_t size() const noexcept { return size_; }
    const std::vector<std::string>& blocks() const noexcept { return blocks_; }
    void clear() noexcept;

private:
    static constexpr std::size_t kBlockSize = 256 * 1024;
    std::vector<std::string> blocks_;
    std::size_t size_ = 0;
};

// Fetches url (ANSI) into body: the body's bytes, or the in-band error text in their place, or nothing
// when something unexpected fails (memory, for one).
void fetchInto(const std::string& url, bool dontUseCache, Body& body);

} // namespace httputil
