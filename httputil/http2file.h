// The downloading behind the HTTP fetch component: a URL into a text or a file through WinINet.
#pragma once

#include <string>

namespace httputil {

// The object behind the CHVhttp2file COM class: one blocking download per call; no state but DontUseCache.
class Http2File {
public:
    bool DontUseCache = true;
    // Both return false, after the error message box, on a raised failure; str is untouched then.
    bool url2str(const std::wstring& url, std::wstring& str);
    bool url2file(const std::wstring& url, const std::wstring& fn);
};

// The body's bytes, or the in-band error text.
std::string fetchUrl(const std::string& url, bool dontUseCache);

} // namespace httputil
