#include "httputil/fetch.h"
#include "httputil/http2file.h"
#include "httputil/local_server.h"

#include "common/cp1252.h"
#include "common/testing/box_driver.h"

#include <wininet.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace {

namespace fs = std::filesystem;
using httputil::Http2File;
using httputil::testing::LocalServer;

using httputil::testing::allByteValues;
using httputil::testing::kMissingPage;
using httputil::testing::kText;

std::string pattern(std::size_t length) {
    std::string bytes(length, '\0');
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) % 256);
    return bytes;
}

std::wstring textOf(const std::string& bytes) {
    std::u16string text = hv::fromCp1252(bytes);
    return std::wstring(text.begin(), text.end());
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// A folder of the test's own under the temporary folder, removed with its contents afterwards.
class TempFolder {
public:
    TempFolder() {
        static int counter = 0;
        path_ = fs::temp_directory_path() /
                ("hv-httputil-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter));
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

class FetchTest : public testing::Test {
protected:
    static void SetUpTestSuite() { server_ = std::make_unique<LocalServer>(); }
    static void TearDownTestSuite() { server_.reset(); }

    static std::string url(std::string_view path) { return server_->url(path); }
    static std::wstring wideUrl(std::string_view path) { return server_->wideUrl(path); }

    static std::unique_ptr<LocalServer> server_;
    TempFolder folder_;
};

std::unique_ptr<LocalServer> FetchTest::server_;

TEST_F(FetchTest, BodiesArriveByteExact) {
    struct Case {
        const char* path;
        std::string body;
    } cases[] = {
        {"/text", kText},
        {"/empty", ""},
        {"/missing", kMissingPage}, // a 404 page is a body like any other
        {"/bytes", allByteValues()},
        {"/sized?n=600000", pattern(600000)}, // more than one of the body's blocks
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(httputil::fetchUrl(url(c.path), true), c.body);

        Http2File http;
        std::wstring str = L"previous";
        EXPECT_TRUE(http.url2str(wideUrl(c.path), str));
        EXPECT_EQ(str, textOf(c.body));

        fs::path file = folder_ / "body.bin";
        fs::remove(file);
        EXPECT_TRUE(http.url2file(wideUrl(c.path), file.wstring()));
        ASSERT_TRUE(fs::exists(file));
        EXPECT_EQ(readFile(file), c.body);
    }
}

TEST_F(FetchTest, BytesBecomeWindows1252Characters) {
    Http2File http;
    std::wstring str;
    ASSERT_TRUE(http.url2str(wideUrl("/text"), str));
    EXPECT_EQ(str, L"Hello from the loopback server: caf\u00E9 \u20AC \u00FF\r\n");
}

TEST_F(FetchTest, AnExistingFileHoldsExactlyTheNewBody) {
    struct Case {
        const char* name;
        DWORD attributes;
    } cases[] = {{"plain.txt", FILE_ATTRIBUTE_NORMAL}, {"hidden.txt", FILE_ATTRIBUTE_HIDDEN}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::path file = folder_ / c.name;
        writeFile(file, std::string(3 * kText.size(), 'x'));
        SetFileAttributesW(file.c_str(), c.attributes);

        Http2File http;
        EXPECT_TRUE(http.url2file(wideUrl("/text"), file.wstring()));
        EXPECT_EQ(readFile(file), kText);
    }
}

TEST_F(FetchTest, TheServerSeesTheAgentText) {
    for (bool dontUseCache : {true, false}) {
        SCOPED_TRACE(dontUseCache);
        std::string headers = httputil::fetchUrl(url("/headers"), dontUseCache);
        EXPECT_NE(headers.find("\nUser-Agent: Mozilla/4.0 (compatible; MSIE 5.0; Windows NT 5.1)\n"),
                  std::string::npos)
            << headers;
    }
}

// WinINet sends the same request with and without INTERNET_FLAG_RELOAD, and under Wine an http URL with
// INTERNET_FLAG_SECURE and an "HTTPS" scheme both go over TLS: the choice itself is checked here.
TEST(RequestFlags, FollowTheCacheChoiceAndACaseSensitiveHttps) {
    constexpr DWORD kReload = INTERNET_FLAG_RELOAD, kSecure = INTERNET_FLAG_SECURE;
    struct Case {
        const char* url;
        bool dontUseCache;
        DWORD flags;
    } cases[] = {
        {"http://example.test/", false, 0},
        {"http://example.test/", true, kReload},
        {"https://example.test/", false, kSecure},
        {"https://example.test/", true, kReload | kSecure},
        {"http://example.test/page?next=https", true, kReload | kSecure},
        {"HTTPS://example.test/", false, 0},
        {"Https://example.test/", true, kReload},
    };
    for (const auto& c : cases)
        EXPECT_EQ(httputil::requestFlags(c.url, c.dontUseCache), c.flags) << c.url << " " << c.dontUseCache;

    EXPECT_TRUE(Http2File().DontUseCache);
}

TEST_F(FetchTest, HttpsInAPlainUrlAsksForTls) {
    auto tlsHellos = [] {
        return std::stoi(httputil::fetchUrl(url("/tls-hellos"), true));
    };

    EXPECT_EQ(httputil::fetchUrl(url("/text?via=HTTPS"), true), kText);
    EXPECT_EQ(tlsHellos(), 0);

    std::string result = httputil::fetchUrl(url("/text?via=https"), true);
    EXPECT_EQ(result.rfind("error (wininet.dll,", 0), 0u) << result;
    EXPECT_GT(tlsHellos(), 0);
}

TEST(NetworkFailures, ComeBackAsErrorTexts) {
    LocalServer selfSigned(LocalServer::Scheme::Https);
    struct Case {
        std::string url;
        std::string text;
    } cases[] = {
        {selfSigned.url("/text"), "error (wininet.dll,12045)"}, // ERROR_INTERNET_INVALID_CA
        {"http://no-such-host.invalid/", "error (wininet.dll,12007)"},
        {"http://127.0.0.1:" + std::to_string(httputil::testing::closedPort()) + "/",
         "error (wininet.dll,12029)"},
    };
    TempFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        std::wstring url(c.url.begin(), c.url.end());
        Http2File http;
        std::wstring str;
        EXPECT_TRUE(http.url2str(url, str));
        EXPECT_EQ(str, textOf(c.text));
        EXPECT_TRUE(http.url2file(url, (folder / "error.txt").wstring()));
        EXPECT_EQ(readFile(folder / "error.txt"), c.text);
    }
}

TEST_F(FetchTest, FileFailuresShowTheErrorBoxAndReturnFalse) {
    fs::path locked = folder_ / "locked.txt";
    hv::UniqueFile lock(CreateFileW(locked.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(lock);

    struct Case {
        fs::path file;
        std::wstring message;
    } cases[] = {
        {folder_ / "missing" / "body.txt", L"Error 76\r\nPath not found"},
        {folder_ / "", L"Error 75\r\nPath/File access error"},
        {locked, L"Error 70\r\nPermission denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.string());
        Http2File http;
        hv::testing::BoxDriver driver(L"Error");
        EXPECT_FALSE(http.url2file(wideUrl("/text"), c.file.wstring()));
        auto boxes = driver.waitFor(1);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].title, L"Error");
        EXPECT_EQ(boxes[0].text, c.message);
        EXPECT_TRUE(boxes[0].errorIcon);

        fs::path good = folder_ / "good.txt";
        EXPECT_TRUE(http.url2file(wideUrl("/text"), good.wstring()));
        EXPECT_EQ(readFile(good), kText);
        fs::remove(good);
    }
}

} // namespace
