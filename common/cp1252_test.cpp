#include "common/cp1252.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

TEST(Cp1252, EveryByteSurvivesTheRoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    std::u16string text = hv::fromCp1252(all);
    ASSERT_EQ(text.size(), 256u);
    EXPECT_EQ(hv::toCp1252(text), all);
}

TEST(Cp1252, MapsTheCharactersOfTheCodePage) {
    struct Case {
        char16_t character;
        unsigned char byte;
    } cases[] = {{u'A', 'A'},
                 {0x20AC, 0x80},
                 {0x2122, 0x99},
                 {0x0178, 0x9F},
                 {0x00E9, 0xE9},
                 {0x0000, 0x00},
                 // outside the code page
                 {0x0100, '?'},
                 {0x4E2D, '?'},
                 {0xD83D, '?'}};
    for (const auto& c : cases)
        EXPECT_EQ(static_cast<unsigned char>(hv::toCp1252(std::u16string(1, c.character))[0]), c.byte)
            << std::hex << static_cast<int>(c.character);
}

#ifdef _WIN32
// The table must agree with the platform's own conversion of code page 1252, byte for byte.
TEST(Cp1252, AgreesWithThePlatform) {
    for (int b = 0; b < 256; ++b) {
        char byte = static_cast<char>(b);
        wchar_t wide = 0;
        ASSERT_EQ(MultiByteToWideChar(1252, 0, &byte, 1, &wide, 1), 1);
        EXPECT_EQ(static_cast<char16_t>(wide), hv::fromCp1252(std::string_view(&byte, 1))[0]) << b;
    }
}
#endif

} // namespace
