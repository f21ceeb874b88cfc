// The HTTP broadcast: a small server on a port that sends the framed ASF stream to every client.
// A client that joins a running broadcast gets the stream's header, then the stream from the next
// data packet on.
#pragma once

#include "capture/encoder/ffmpeg.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace encoder {

class HttpBroadcast {
public:
    // Listens on every interface; fails with kOutputOpenFailed when the port is taken.
    explicit HttpBroadcast(int port);
    ~HttpBroadcast();
    HttpBroadcast(const HttpBroadcast&) = delete;
    HttpBroadcast& operator=(const HttpBroadcast&) = delete;

    // Where the muxer writes.
    AVIOContext* io() { return io_.get(); }
    // Called once the muxer has written (and flushed) its header; `packetStride` is the size of each
    // framed data packet that follows.
    void headerDone(int packetStride);
    int clientCount() const;

private:
    struct Client;
    static int writeCallback(void* opaque, uint8_t* data, int size);
    void write(const uint8_t* data, int size);
    void acceptLoop();
    void admit(intptr_t socket);

    intptr_t listener_ = -1;
    std::atomic<bool> stopping_ = false;
    std::thread acceptor_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Client>> clients_;
    std::string header_;
    bool headerComplete_ = false;
    int stride_ = 0;
    int64_t dataOffset_ = 0; // bytes of data written after the header
    std::unique_ptr<AVIOContext, void (*)(AVIOContext*)> io_;
};

} // namespace encoder
