// Starts the loopback server of test_server.py for one test or one benchmark run, and keeps it for as
// long as this object lives: the server stops when the control connection this object holds open closes,
// which also happens when the process ends in any way.
#pragma once

#include "common/win32_handles.h"

#include <winsock2.h>

#include <string>
#include <string_view>

namespace httputil::testing {

struct SocketTraits {
    using Handle = SOCKET;
    static Handle invalid() noexcept { return INVALID_SOCKET; }
    static void close(Handle h) noexcept { closesocket(h); }
};
using UniqueSocket = hv::UniqueHandleOf<SocketTraits>;

// Winsock started for as long as the object lives.
class WinsockSession {
public:
    WinsockSession();
    ~WinsockSession();
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
};

class LocalServer {
public:
    enum class Scheme { Http, Https };

    // Throws std::runtime_error when the server does not start.
    explicit LocalServer(Scheme scheme = Scheme::Http);

    unsigned port() const noexcept { return port_; }
    // "http://127.0.0.1:<port>" (or https) followed by path.
    std::string url(std::string_view path) const;
    std::wstring wideUrl(std::string_view path) const;

private:
    Scheme scheme_;
    WinsockSession winsock_;
    unsigned port_ = 0;
    UniqueSocket control_;
};

// A loopback port on which nothing listens at the moment of the call.
unsigned closedPort();

// Bodies test_server.py sends: /text, /missing (with status 404) and /bytes.
inline const std::string kText = "Hello from the loopback server: caf\xE9 \x80 \xFF\r\n";
inline const std::string kMissingPage =
    "<html><body><h1>404 Not Found</h1>No such page here.</body></html>\r\n";
std::string allByteValues();

} // namespace httputil::testing
