// Owner for WinINet handles, in the manner of common/win32_handles.h.
#pragma once

#include "common/win32_handles.h"

#include <wininet.h>

namespace httputil {

struct InternetHandleTraits {
    using Handle = HINTERNET;
    static Handle invalid() noexcept { return nullptr; }
    static void close(Handle h) noexcept { InternetCloseHandle(h); }
};

using UniqueInternet = hv::UniqueHandleOf<InternetHandleTraits>;

} // namespace httputil
