// HVhttputil as its callers meet it: registered with regsvr32, created by ProgID and called by name
// through IDispatch with every argument form a script or a compiled client uses, against the loopback
// server. Registration runs first and unregistration last (a ctest fixture orders the cases).
#include "comserver/test_support.h"
#include "common/cp1252.h"
#include "common/testing/box_driver.h"
#include "httputil/local_server.h"

#include "HVhttputil_idl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;
using comtest::Bstr;
using comtest::byRef;
using comtest::byValue;
using comtest::ComPtr;
using comtest::DispatchClient;
using comtest::Variant;
using httputil::testing::LocalServer;

constexpr wchar_t kProgId[] = L"HVhttputil.CHVhttp2file";
constexpr wchar_t kClsid[] = L"{43B076F9-EEFA-43B1-99AF-594A2BCD89EE}";
constexpr wchar_t kIid[] = L"{ED6B062B-C3B1-4642-88FB-7F1167B564A7}";
constexpr wchar_t kLibId[] = L"{BF37A99A-067E-4C6A-87E5-6DCC6BA3813F}";

using httputil::testing::allByteValues;
using httputil::testing::kMissingPage;
using httputil::testing::kText;

std::wstring bodyText(const std::string& bytes) {
    std::u16string text = hv::fromCp1252(bytes);
    return std::wstring(text.begin(), text.end());
}

std::wstring lower(std::wstring text) {
    std::transform(text.begin(), text.end(), text.begin(), [](wchar_t c) { return std::towlower(c); });
    return text;
}

std::wstring dllPath() {
    return comtest::besideThisExe(L"HVhttputil.dll");
}

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(Registration, Regsvr32WritesClassProgIdInterfaceAndTypeLibrary) {
    ASSERT_EQ(comtest::runAndWait(L"regsvr32.exe /s \"" + dllPath() + L"\""), 0u);
    const std::wstring clsidKey = std::wstring(L"CLSID\\") + kClsid;
    const std::wstring libKey = std::wstring(L"TypeLib\\") + kLibId + L"\\1.0";
    const struct {
        std::wstring key;
        const wchar_t* name;
        std::wstring expected;
    } values[] = {
        {clsidKey + L"\\InprocServer32", nullptr, dllPath()},
        {clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
        {clsidKey + L"\\ProgID", nullptr, kProgId},
        {std::wstring(kProgId) + L"\\CLSID", nullptr, kClsid},
        {std::wstring(L"Interface\\") + kIid, nullptr, L"_CHVhttp2file"},
        {libKey, nullptr, L"Halvorn Http Utility"},
        {libKey + L"\\0\\win64", nullptr, dllPath()},
    };
    for (const auto& v : values)
        EXPECT_EQ(lower(comtest::keyValue(HKEY_CLASSES_ROOT, v.key, v.name).value_or(L"<missing>")),
                  lower(v.expected))
            << v.key << " " << (v.name ? v.name : L"(default)");
}

class HttpClient : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(client_.ok()) << std::hex << client_.createResult(); }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    static fs::path makeFolder() {
        fs::path folder =
            fs::temp_directory_path() / ("hv-httputil-com-" + std::to_string(GetCurrentProcessId()));
        fs::create_directories(folder);
        return folder;
    }

    comtest::Apartment apartment_;
    DispatchClient client_{kProgId};
    LocalServer server_;
    fs::path folder_ = makeFolder();
};

TEST_F(HttpClient, DontUseCacheStartsTrueAndKeepsWhatIsPut) {
    auto get = [&] {
        comtest::Outcome outcome = client_.call(L"DontUseCache", {}, DISPATCH_PROPERTYGET);
        EXPECT_EQ(outcome.hr, S_OK);
        EXPECT_EQ(outcome.result.type(), VT_BOOL);
        return V_BOOL(outcome.result.get());
    };
    EXPECT_EQ(get(), VARIANT_TRUE);

    VARIANT no;
    VariantInit(&no);
    V_VT(&no) = VT_BOOL;
    V_BOOL(&no) = VARIANT_FALSE;
    EXPECT_EQ(client_.put(L"DontUseCache", no).hr, S_OK);
    EXPECT_EQ(get(), VARIANT_FALSE);

    Variant yes; // a script's variable holding True
    V_VT(yes.get()) = VT_BOOL;
    V_BOOL(yes.get()) = VARIANT_TRUE;
    EXPECT_EQ(client_.put(L"DontUseCache", byRef(yes.get())).hr, S_OK);
    EXPECT_EQ(get(), VARIANT_TRUE);
}

TEST_F(HttpClient, Url2strFillsStrAndLeavesUrl) {
    const struct {
        std::string path;
        std::wstring body;
    } cases[] = {
        {"/text", bodyText(kText)},
        {"/empty", L""},
        {"/missing", bodyText(kMissingPage)},
        {"/bytes", bodyText(allByteValues())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        const std::wstring url = server_.wideUrl(c.path);

        // A compiled client: BSTR by reference for both.
        Bstr u(url), s(L"old text");
        BSTR uRef = u.get(), sRef = s.detach();
        comtest::Outcome outcome = client_.call(L"url2str", {byRef(&uRef), byRef(&sRef)});
        Bstr returned = Bstr::adopt(sRef);
        EXPECT_EQ(outcome.hr, S_OK);
        EXPECT_EQ(outcome.result.type(), VT_BOOL);
        EXPECT_EQ(V_BOOL(outcome.result.get()), VARIANT_TRUE);
        EXPECT_TRUE(returned.text() == c.body);
        EXPECT_EQ(uRef, u.get());
        EXPECT_TRUE(u.text() == url);

        // A script: both variables by reference, str not yet assigned.
        Variant uVar(url), sVar;
        outcome = client_.call(L"url2str", {byRef(uVar.get()), byRef(sVar.get())});
        EXPECT_EQ(outcome.hr, S_OK);
        EXPECT_EQ(V_BOOL(outcome.result.get()), VARIANT_TRUE);
        EXPECT_EQ(sVar.type(), VT_BSTR);
        EXPECT_TRUE(sVar.text() == c.body);
        EXPECT_TRUE(uVar.text() == url);

        // A script passing the URL as a literal (by value).
        Variant again;
        outcome = client_.call(L"url2str", {byValue(u.get()), byRef(again.get())});
        EXPECT_EQ(outcome.hr, S_OK);
        EXPECT_TRUE(again.text() == c.body);
    }
}

TEST_F(HttpClient, Url2strReportsWinInetErrorsInBand) {
    Variant url(L"http://127.0.0.1:" + std::to_wstring(httputil::testing::closedPort()) + L"/text"), str;
    comtest::Outcome outcome = client_.call(L"url2str", {byRef(url.get()), byRef(str.get())});
    EXPECT_EQ(outcome.hr, S_OK);
    EXPECT_EQ(V_BOOL(outcome.result.get()), VARIANT_TRUE);
    EXPECT_TRUE(str.text() == L"error (wininet.dll,12029)") << str.text().size();
}

TEST_F(HttpClient, Url2fileWritesTheBodyByteForByte) {
    const struct {
        std::string path;
        std::string bytes;
    } cases[] = {{"/bytes", allByteValues()}, {"/empty", ""}, {"/text", kText}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        fs::path file = folder_ / ("body" + std::to_string(&c - cases));
        Variant url(server_.wideUrl(c.path)), fn(file.wstring());
        comtest::Outcome outcome = client_.call(L"url2file", {byRef(url.get()), byRef(fn.get())});
        EXPECT_EQ(outcome.hr, S_OK);
        EXPECT_EQ(V_BOOL(outcome.result.get()), VARIANT_TRUE);
        ASSERT_TRUE(fs::exists(file));
        EXPECT_EQ(fileBytes(file), c.bytes);
        EXPECT_TRUE(url.text() == server_.wideUrl(c.path));
        EXPECT_TRUE(fn.text() == file.wstring());
    }
}

TEST_F(HttpClient, Url2fileFailureShowsTheErrorBoxAndReturnsFalse) {
    hv::testing::BoxDriver driver(L"Error");
    Variant url(server_.wideUrl("/text")), fn((folder_ / "no such folder" / "body.txt").wstring());
    comtest::Outcome outcome = client_.call(L"url2file", {byRef(url.get()), byRef(fn.get())});
    EXPECT_EQ(outcome.hr, S_OK);
    EXPECT_EQ(V_BOOL(outcome.result.get()), VARIANT_FALSE);
    auto boxes = driver.waitFor(1);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text == L"Error 76\r\nPath not found");
    EXPECT_TRUE(boxes[0].errorIcon);

    Variant good((folder_ / "body.txt").wstring());
    outcome = client_.call(L"url2file", {byRef(url.get()), byRef(good.get())});
    EXPECT_EQ(V_BOOL(outcome.result.get()), VARIANT_TRUE);
    EXPECT_EQ(fileBytes(folder_ / "body.txt"), kText);
}

// An early-bound client calls the vtable with BSTR* directly.
TEST_F(HttpClient, VtableCallersGetTheSameResults) {
    ComPtr<_CHVhttp2file> http;
    ASSERT_EQ(client_.object()->QueryInterface(__uuidof(_CHVhttp2file), http.putVoid()), S_OK);
    VARIANT_BOOL flag = VARIANT_FALSE;
    EXPECT_EQ(http->get_DontUseCache(&flag), S_OK);
    EXPECT_EQ(flag, VARIANT_TRUE);

    Bstr url(server_.wideUrl("/text")), str, fn((folder_ / "vtable.txt").wstring());
    BSTR urlRef = url.get();
    EXPECT_EQ(http->url2str(&urlRef, str.put(), &flag), S_OK);
    EXPECT_EQ(flag, VARIANT_TRUE);
    EXPECT_TRUE(str.text() == bodyText(kText));
    EXPECT_EQ(urlRef, url.get());
    EXPECT_EQ(http->url2file(&urlRef, fn.get(), &flag), S_OK);
    EXPECT_EQ(flag, VARIANT_TRUE);
    EXPECT_EQ(fileBytes(folder_ / "vtable.txt"), kText);
}

TEST(Unregistration, Regsvr32RemovesWhatRegistrationWrote) {
    ASSERT_EQ(comtest::runAndWait(L"regsvr32.exe /u /s \"" + dllPath() + L"\""), 0u);
    for (const std::wstring& key : {std::wstring(L"CLSID\\") + kClsid, std::wstring(kProgId),
                                    std::wstring(L"Interface\\") + kIid, std::wstring(L"TypeLib\\") + kLibId})
        EXPECT_FALSE(comtest::keyExists(HKEY_CLASSES_ROOT, key)) << key;
    // Unregistering what is no longer registered is no failure.
    EXPECT_EQ(comtest::runAndWait(L"regsvr32.exe /u /s \"" + dllPath() + L"\""), 0u);
}

} // namespace
