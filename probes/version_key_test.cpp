#include "probes/probes.h"

#include <gtest/gtest.h>

namespace {

struct KeyCase {
    const char* text;
    const char* key;
};

void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << '"' << c.text << '"';
}

class VersionKeyTest : public testing::TestWithParam<KeyCase> {};

TEST_P(VersionKeyTest, MakesKey) {
    EXPECT_EQ(probes::versionKey(GetParam().text), GetParam().key);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, VersionKeyTest,
    testing::Values(KeyCase{"6.0.2800.1106", "0006000028001106"}, KeyCase{"5.1.2600.0", "0005000126000000"},
                    KeyCase{"9.0.0.2980", "0009000000002980"},
                    // more digits than the pattern: all kept, key grows past 16
                    KeyCase{"9.0.0.12345", "00090000000012345"},
                    // blanks separate where there is no "."
                    KeyCase{"6 0 2800 1106", "0006000028001106"},
                    // everything after the third separator is the fourth part, taken whole
                    KeyCase{"1.2.3.4.5", "0001000200034.50"},
                    // parts that are not numbers pass through; a short key is padded on the right
                    KeyCase{"1.2.3.beta", "000100020003beta"}, KeyCase{"a.b.c.d", "abcd000000000000"},
                    KeyCase{"1...", "0001000000000000"},
                    // leading zeros are part of the number, signs are kept (negative file version parts)
                    KeyCase{"007.1.2.3", "0007000100020003"}, KeyCase{"1.2.-25536.7", "00010002-255360007"},
                    KeyCase{"1.2.-5.7", "00010002-00050007"}));

TEST(VersionKey, FewerThanThreeSeparatorsIsRefused) {
    for (const char* text : {"", "6", "6.0", "6.0.2800", "6 0"})
        EXPECT_THROW(probes::versionKey(text), probes::BadVersionText) << text;
}

struct MinimumCase {
    const char* version;
    const char* minimum;
    bool passes;
};

TEST(VersionKey, ComparesByCharacterOrder) {
    const MinimumCase cases[] = {
        {"9.0.0.3250", "0009000000002980", true},
        {"9.0.0.2980", "0009000000002980", true},
        {"9.0.0.2979", "0009000000002980", false},
        // the 17-character key sorts below the minimum although its revision is higher
        {"9.0.0.12345", "0009000000002980", false},
        {"5.1.2600.0", "0005000126000000", true},
        {"5.0.2195.6824", "0005000126000000", false},
        {"10.0.0.0", "0009000000002980", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(probes::versionKey(c.version) >= std::string(c.minimum), c.passes) << c.version;
}

} // namespace
