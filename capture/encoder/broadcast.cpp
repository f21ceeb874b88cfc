#include "capture/encoder/broadcast.h"

#include "capture/encoder/errors.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>

namespace encoder {
namespace {

#ifdef _WIN32
using Socket = SOCKET;
constexpr int kSendFlags = 0;
void closeSocket(Socket s) {
    closesocket(s);
}
// Winsock is started once for the process and left running.
void startSockets() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
}
#else
using Socket = int;
constexpr int kSendFlags = MSG_NOSIGNAL; // a client that went away must not end the program
void closeSocket(Socket s) {
    close(s);
}
void startSockets() {}
#endif

Socket toSocket(intptr_t s) {
    return static_cast<Socket>(s);
}

// Waits until the socket can be read, up to `ms`.
bool readable(Socket s, int ms) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval wait{ms / 1000, (ms % 1000) * 1000};
    return select(static_cast<int>(s) + 1, &set, nullptr, nullptr, &wait) > 0;
}

bool sendAll(Socket s, const char* data, size_t size) {
    while (size > 0) {
        const auto sent = send(s, data, static_cast<int>(std::min<size_t>(size, 1 << 20)), kSendFlags);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<size_t>(sent);
    }
    return true;
}

constexpr int kAvioBufferSize = 16 * 1024;
// A client that cannot take data for this long is dropped rather than holding up the encoder.
constexpr int kSendTimeoutMs = 2000;

} // namespace

struct HttpBroadcast::Client {
    Socket socket;
    bool streaming = false; // past the header and at a packet boundary
};

HttpBroadcast::HttpBroadcast(int port)
    : io_(nullptr, [](AVIOContext* io) {
          if (io)
              av_freep(&io->buffer);
          avio_context_free(&io);
      }) {
    startSockets();
    const Socket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    listener_ = static_cast<intptr_t>(s);
    // Rebinding a port a previous run left in TIME_WAIT is fine. Not on Windows: there the same option
    // would let two servers share a port.
#ifndef _WIN32
    const int yes = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
#endif
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 8) != 0) {
        closeSocket(s);
        errors::raise(errors::kOutputOpenFailed, "Cannot broadcast on port " + std::to_string(port) + ".");
    }
    auto* buffer = static_cast<unsigned char*>(av_malloc(kAvioBufferSize));
    io_.reset(avio_alloc_context(buffer, kAvioBufferSize, 1, this, nullptr, writeCallback, nullptr));
    acceptor_ = std::thread([this] { acceptLoop(); });
}

HttpBroadcast::~HttpBroadcast() {
    stopping_ = true;
    acceptor_.join();
    closeSocket(toSocket(listener_));
    for (const auto& c : clients_)
        closeSocket(c->socket);
}

int HttpBroadcast::clientCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(clients_.size());
}

void HttpBroadcast::acceptLoop() {
    const Socket listener = toSocket(listener_);
    while (!stopping_) {
        if (!readable(listener, 100))
            continue;
        const Socket s = accept(listener, nullptr, nullptr);
        if (s == static_cast<Socket>(-1))
            continue;
        admit(static_cast<intptr_t>(s));
    }
}

void HttpBroadcast::admit(intptr_t raw) {
    const Socket s = toSocket(raw);
    // The request: read up to the blank line; only GET is served.
    std::string request;
    char chunk[1024];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 8192 && readable(s, 2000)) {
        const auto n = recv(s, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        request.append(chunk, static_cast<size_t>(n));
    }
    if (request.rfind("GET ", 0) != 0) {
        const char* refusal = "HTTP/1.0 405 Method Not Allowed\r\nConnection: close\r\n\r\n";
        sendAll(s, refusal, std::strlen(refusal));
        closeSocket(s);
        return;
    }
#ifdef _WIN32
    const DWORD timeout = kSendTimeoutMs;
#else
    const timeval timeout{kSendTimeoutMs / 1000, (kSendTimeoutMs % 1000) * 1000};
#endif
    setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    const char* response = "HTTP/1.0 200 OK\r\n"
                           "Content-Type: application/x-mms-framed\r\n"
                           "Cache-Control: no-cache\r\n"
                           "Pragma: no-cache\r\n"
                           "Connection: close\r\n\r\n";
    std::lock_guard lock(mutex_);
    if (!sendAll(s, response, std::strlen(response)) ||
        (headerComplete_ && !sendAll(s, header_.data(), header_.size()))) {
        closeSocket(s);
        return;
    }
    clients_.push_back(std::make_unique<Client>(Client{s}));
}

void HttpBroadcast::headerDone(int packetStride) {
    avio_flush(io_.get());
    std::lock_guard lock(mutex_);
    headerComplete_ = true;
    stride_ = packetStride;
    for (auto it = clients_.begin(); it != clients_.end();) {
        if (sendAll((*it)->socket, header_.data(), header_.size())) {
            ++it;
        } else {
            closeSocket((*it)->socket);
            it = clients_.erase(it);
        }
    }
}

int HttpBroadcast::writeCallback(void* opaque, uint8_t* data, int size) {
    static_cast<HttpBroadcast*>(opaque)->write(data, size);
    return size;
}

void HttpBroadcast::write(const uint8_t* data, int size) {
    std::lock_guard lock(mutex_);
    if (!headerComplete_) {
        header_.append(reinterpret_cast<const char*>(data), static_cast<size_t>(size));
        return;
    }
    for (auto it = clients_.begin(); it != clients_.end();) {
        Client& c = **it;
        int64_t skip = 0;
        if (!c.streaming) {
            // A late joiner starts at the next packet boundary.
            const int64_t intoPacket = stride_ > 0 ? dataOffset_ % stride_ : 0;
            skip = intoPacket == 0 ? 0 : stride_ - intoPacket;
            if (skip < size)
                c.streaming = true;
        }
        bool ok = true;
        if (c.streaming && skip < size)
            ok = sendAll(c.socket, reinterpret_cast<const char*>(data) + skip,
                         static_cast<size_t>(size - skip));
        if (ok) {
            ++it;
        } else {
            closeSocket(c.socket);
            it = clients_.erase(it);
        }
    }
    dataOffset_ += size;
}

} // namespace encoder
