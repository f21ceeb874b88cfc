#include "httputil/http2file.h"

namespace httputil {

std::string fetchUrl(const std::string&, bool) {
    return {};
}

bool Http2File::url2str(const std::wstring&, std::wstring&) {
    return false;
}

bool Http2File::url2file(const std::wstring&, const std::wstring&) {
    return false;
}

} // namespace httputil
