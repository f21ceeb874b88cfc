// The HTTP broadcast, received by a client on 127.0.0.1 while the engine encodes a file.
#include "capture/encoder/codecs.h"
#include "capture/encoder/dispatcher.h"
#include "capture/encoder/engine.h"
#include "capture/encoder/errors.h"
#include "capture/encoder/test_media.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

using namespace encoder;
namespace fs = std::filesystem;

#ifdef _WIN32
using Socket = SOCKET;
void closeSocket(Socket s) {
    closesocket(s);
}
#else
using Socket = int;
void closeSocket(Socket s) {
    close(s);
}
#endif

void startSockets() {
#ifdef _WIN32
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    (void)started;
#endif
}

sockaddr_in loopback(int port) {
    startSockets();
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    return a;
}

// A port nobody listens on right now.
int freePort() {
    startSockets();
    const Socket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = loopback(0);
    bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t size = sizeof a;
    getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
    closeSocket(s);
    return ntohs(a.sin_port);
}

// Connects (retrying while the server starts), asks for the stream and reads until the server closes.
std::string receive(int port) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const Socket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a = loopback(port);
        if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
            closeSocket(s);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            continue;
        }
        const char* request = "GET / HTTP/1.0\r\nUser-Agent: test\r\n\r\n";
        send(s, request, static_cast<int>(std::strlen(request)), 0);
        std::string body;
        char buffer[8192];
        int n;
        while ((n = static_cast<int>(recv(s, buffer, sizeof buffer, 0))) > 0)
            body.append(buffer, static_cast<size_t>(n));
        closeSocket(s);
        return body;
    }
    return {};
}

uint16_t le16(const std::string& s, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1])
                                                                         << 8);
}

// Takes the framing off the stream: the header chunk and the data chunks make a plain ASF stream.
std::string unframe(const std::string& body, int& dataChunks) {
    std::string asf;
    dataChunks = 0;
    for (size_t at = 0; at + 12 <= body.size();) {
        const uint16_t type = le16(body, at);
        const size_t length = le16(body, at + 2) - 8u;
        if (at + 12 + length > body.size())
            break;
        if (type == 0x4824 || type == 0x4424) // $H, $D
            asf.append(body, at + 12, length);
        dataChunks += type == 0x4424;
        at += 12 + length;
    }
    return asf;
}

TEST(Broadcast, ClientReceivesThePlayableStream) {
    const fs::path folder = fs::path("encoder_test_files") / "Broadcast";
    fs::remove_all(folder);
    fs::create_directories(folder);
    const fs::path input = folder / "in.avi";
    encoder::testing::writeClip(input.string(),
                                encoder::testing::ClipSpec{"avi", AV_CODEC_ID_MPEG4, AV_CODEC_ID_PCM_S16LE,
                                                           160, 120, 25, 22050, 1, 2.0});
    QueueDispatcher dispatcher;
    EngineFactory factory;
    auto encoder = factory.CreateEncoder(dispatcher);
    std::vector<int32_t> states;
    encoder->OnStateChange([&](int32_t state) { states.push_back(state); });
    auto group = encoder->SourceGroupCollection().Add("SG_1");
    group->AutoSetFileSource(input.string());
    auto profile = factory.CreateProfile();
    profile->ContentType(kAudioVideo);
    profile->AddAudience(1000000)->VideoFPS(0, 15000);
    group->Profile(*profile);
    const int port = freePort();
    encoder->Broadcast().PortNumber(kHttp, port);
    encoder->File().LocalFileName((folder / "also.wmv").string());
    encoder->AutoStop(true);

    std::string received;
    std::thread client([&] { received = receive(port); });
    encoder->Start();
    const bool stopped = dispatcher.runUntil([&] { return !states.empty() && states.back() == kStopped; },
                                             std::chrono::milliseconds(60000));
    client.join();
    ASSERT_TRUE(stopped);

    ASSERT_EQ(received.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << received.substr(0, 200);
    const size_t bodyAt = received.find("\r\n\r\n");
    ASSERT_NE(bodyAt, std::string::npos);
    int dataChunks = 0;
    const std::string asf = unframe(received.substr(bodyAt + 4), dataChunks);
    EXPECT_GT(dataChunks, 0);
    const fs::path rebuilt = folder / "received.asf";
    std::ofstream(rebuilt, std::ios::binary) << asf;
    const auto facts = encoder::testing::readFacts(rebuilt.string());
    EXPECT_EQ(facts.video.tag, static_cast<uint32_t>(fourCC('W', 'M', 'V', '2')));
    EXPECT_EQ(facts.audio.tag, 0x161u);
    // The client joins a running broadcast: it may miss the first packets, never take half of one.
    EXPECT_GT(facts.video.decoded, 0);
    EXPECT_LE(facts.video.decoded, 30);

    // The file written beside the broadcast holds the whole run.
    const auto file = encoder::testing::readFacts((folder / "also.wmv").string());
    EXPECT_EQ(file.video.decoded, 30);
    EXPECT_GE(file.video.bytes, facts.video.bytes);
}

TEST(Broadcast, TakenPortFailsToStart) {
    startSockets();
    const Socket holder = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in a = loopback(0);
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    bind(holder, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(holder, 1);
    socklen_t size = sizeof a;
    getsockname(holder, reinterpret_cast<sockaddr*>(&a), &size);

    const fs::path folder = fs::path("encoder_test_files") / "BroadcastTaken";
    fs::create_directories(folder);
    const fs::path input = folder / "in.wav";
    encoder::testing::writeClip(
        input.string(),
        encoder::testing::ClipSpec{"wav", AV_CODEC_ID_NONE, AV_CODEC_ID_PCM_S16LE, 0, 0, 25, 44100, 2, 0.5});
    QueueDispatcher dispatcher;
    EngineFactory factory;
    auto encoder = factory.CreateEncoder(dispatcher);
    auto group = encoder->SourceGroupCollection().Add("SG_1");
    group->AutoSetFileSource(input.string());
    auto profile = factory.CreateProfile();
    profile->ContentType(kAudioOnly);
    profile->AddAudience(100000);
    group->Profile(*profile);
    encoder->Broadcast().PortNumber(kHttp, ntohs(a.sin_port));
    try {
        encoder->Start();
        ADD_FAILURE() << "started";
    } catch (const EncoderError& e) {
        EXPECT_EQ(e.number, errors::kOutputOpenFailed);
    }
    closeSocket(holder);
}

} // namespace
