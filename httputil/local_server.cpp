#include "httputil/local_server.h"

#include <windows.h>
#include <ws2tcpip.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace httputil::testing {

namespace {

// Wine starts Linux programs from their paths on drive Z: and hands them their arguments unchanged. Pipes
// do not reach such a program, so the port comes back in a file.
constexpr wchar_t kPython[] = L"Z:\\usr\\bin\\python3";
constexpr auto kStartTimeout = std::chrono::seconds(60);

std::wstring widen(std::string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::string uniquePortFile() {
    static unsigned counter = 0;
    return "/tmp/hv-test-server-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount()) + "-" + std::to_string(++counter) + ".port";
}

std::wstring windowsPath(const std::string& unixPath) {
    std::wstring path = L"Z:" + widen(unixPath);
    for (wchar_t& c : path)
        if (c == L'/')
            c = L'\\';
    return path;
}

void startPython(const std::wstring& arguments) {
    std::wstring commandLine = L"python3 " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(kPython, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        throw std::runtime_error("starting python3 failed, error " + std::to_string(GetLastError()));
    // The handle of a Linux process never signals under Wine; the server's life is tied to a connection.
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}

struct Ports {
    unsigned server = 0;
    unsigned control = 0;
};

Ports readPorts(const std::wstring& portFile) {
    auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    for (;;) {
        HANDLE file = CreateFileW(portFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            char buffer[32] = {};
            DWORD read = 0;
            ReadFile(file, buffer, sizeof buffer - 1, &read, nullptr);
            CloseHandle(file);
            DeleteFileW(portFile.c_str());
            Ports ports;
            if (std::sscanf(buffer, "%u %u", &ports.server, &ports.control) != 2)
                throw std::runtime_error("the test server's port file holds no ports");
            return ports;
        }
        if (std::chrono::steady_clock::now() > deadline)
            throw std::runtime_error("the test server did not tell its port in time");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

sockaddr_in loopback(unsigned port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    return address;
}

} // namespace

WinsockSession::WinsockSession() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        throw std::runtime_error("WSAStartup failed");
}

WinsockSession::~WinsockSession() {
    WSACleanup();
}

LocalServer::LocalServer(Scheme scheme) : scheme_(scheme) {
    std::string portFile = uniquePortFile();
    std::wstring arguments =
        L"-u \"" + widen(HTTPUTIL_TEST_SERVER_SCRIPT) + L"\" --port-file " + widen(portFile);
    if (scheme == Scheme::Https)
        arguments += L" --tls";
    startPython(arguments);
    Ports ports = readPorts(windowsPath(portFile));
    port_ = ports.server;

    control_.reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address = loopback(ports.control);
    if (!control_ || connect(control_.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw std::runtime_error("connecting to the test server's control port failed");
}

std::string LocalServer::url(std::string_view path) const {
    return (scheme_ == Scheme::Https ? "https" : "http") + std::string("://127.0.0.1:") +
           std::to_string(port_) + std::string(path);
}

std::wstring LocalServer::wideUrl(std::string_view path) const {
    return widen(url(path));
}

unsigned closedPort() {
    WinsockSession winsock;
    unsigned port = 0;
    {
        // Bound but never listening: a connection to the port is refused, once the socket is gone too.
        UniqueSocket s(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
        sockaddr_in address = loopback(0);
        int size = sizeof address;
        if (s && bind(s.get(), reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            getsockname(s.get(), reinterpret_cast<sockaddr*>(&address), &size) == 0)
            port = ntohs(address.sin_port);
    }
    if (port == 0)
        throw std::runtime_error("no free loopback port");
    return port;
}

std::string allByteValues() {
    std::string bytes;
    for (int round = 0; round < 9; ++round)
        for (int b = 0; b < 256; ++b)
            bytes += static_cast<char>(b);
    return bytes + std::string(100, '\0');
}

} // namespace httputil::testing
