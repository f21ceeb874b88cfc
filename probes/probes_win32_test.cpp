#include "probes/probes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

const char kTestKey[] = "Software\\HalvornProbeTest";

// Writes its own key under a root for one test and removes it afterwards.
class RegistryFixture : public testing::TestWithParam<HKEY> {
protected:
    void SetUp() override {
        ASSERT_EQ(
            RegCreateKeyExA(GetParam(), kTestKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr),
            ERROR_SUCCESS);
    }
    void TearDown() override {
        RegCloseKey(key_);
        RegDeleteKeyA(GetParam(), kTestKey);
    }
    void put(const char* name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(RegSetValueExA(key_, name, 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    }
    HKEY key_ = nullptr;
};

TEST_P(RegistryFixture, ReadsStringsAndNumbers) {
    put("WithNul", REG_SZ, "C:\\Program Files\\", 18); // 17 characters and the NUL
    put("WithoutNul", REG_SZ, "abc", 3);
    put("", REG_SZ, "default", 8);
    const DWORD n256 = 256, big = 0xFFFFFFFE;
    put("Small", REG_DWORD, &n256, 4);
    put("Big", REG_DWORD, &big, 4);

    struct Case {
        const char* name;
        const char* expected;
    } cases[] = {{"WithNul", "C:\\Program Files\\"},
                 {"WithoutNul", "abc"},
                 {"", "default"},
                 {"Small", "256"},
                 {"Big", "4294967294"}};
    for (const auto& c : cases) {
        std::string value = "previous";
        EXPECT_TRUE(probes::getKeyValue(GetParam(), kTestKey, c.name, value)) << c.name;
        EXPECT_EQ(value, c.expected) << c.name;
    }
}

TEST_P(RegistryFixture, OtherTypesLeaveTheValue) {
    const BYTE bytes[] = {1, 2, 3};
    put("Binary", REG_BINARY, bytes, sizeof bytes);
    put("Expand", REG_EXPAND_SZ, "%windir%", 9);
    for (const char* name : {"Binary", "Expand"}) {
        std::string value = "kept";
        EXPECT_TRUE(probes::getKeyValue(GetParam(), kTestKey, name, value)) << name;
        EXPECT_EQ(value, "kept") << name;
    }
}

TEST_P(RegistryFixture, FailuresGiveFalseAndEmpty) {
    std::string tooLong(2000, 'x');
    put("TooLong", REG_SZ, tooLong.c_str(), static_cast<DWORD>(tooLong.size() + 1));

    struct Case {
        std::string key, name;
    } cases[] = {
        {"Software\\HalvornProbeTest\\Missing", ""}, {kTestKey, "NoSuchValue"}, {kTestKey, "TooLong"}};
    for (const auto& c : cases) {
        std::string value = "previous";
        EXPECT_FALSE(probes::getKeyValue(GetParam(), c.key, c.name, value)) << c.key << " " << c.name;
        EXPECT_EQ(value, "") << c.key << " " << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Roots, RegistryFixture, testing::Values(HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT),
                         [](const auto& param) { return param.index == 0 ? "LocalMachine" : "ClassesRoot"; });

std::string besideThisExe(const char* name) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string dir(path, n);
    return dir.substr(0, dir.find_last_of("\\/") + 1) + name;
}

TEST(FileVersion, ReadsFixedBlockWithHighParts) {
    VS_FIXEDFILEINFO info{};
    ASSERT_TRUE(probes::readFileVersion(besideThisExe("versioned_fixture.dll"), info));
    EXPECT_EQ(info.dwSignature, 0xFEEF04BDu);
    // FILEVERSION 1,2,40000,65535: parts of 32768 and more read as negative 16-bit numbers
    EXPECT_EQ(probes::fileVersionText(info), "1.2.-25536.-1");
    EXPECT_EQ(probes::versionKey(probes::fileVersionText(info)), "00010002-25536-0001");
}

TEST(FileVersion, FileWithoutVersionLeavesClearedBlock) {
    for (std::string path : {besideThisExe("probes_win32_tests.exe"), besideThisExe("no_such_file.dll")}) {
        VS_FIXEDFILEINFO info{};
        EXPECT_FALSE(probes::readFileVersion(path, info)) << path;
        EXPECT_EQ(probes::fileVersionText(info), "0.0.0.0") << path;
    }
}

} // namespace
