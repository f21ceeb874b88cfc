#include "crypt/text_cipher.h"

#include "common/cp1252.h"
#include "crypt/cipher_core.h"
#include "crypt/cipher_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

namespace hvcrypt {
namespace {

using namespace std::string_literals;

const std::u16string kPassword = u"correct horse";

std::string narrow(std::u16string_view text) {
    return hv::toCp1252(text);
}

std::u16string widen(std::string_view ascii) {
    return hv::fromCp1252(ascii);
}

struct Failure {
    int number = 0;
    std::string description;
    bool operator==(const Failure&) const = default;
};

void PrintTo(const Failure& f, std::ostream* os) {
    *os << f.number << " \"" << f.description << '"';
}

Failure failureOf(const std::function<void()>& call) {
    try {
        call();
    } catch (const CryptError& e) {
        return {e.number(), e.what()};
    }
    return {};
}

const Failure kOverflow{6, "Overflow"};
const Failure kSubscriptOutOfRange{9, "Subscript out of range"};
const Failure kTypeMismatch{13, "Type mismatch"};
const Failure kPasswordTooShort{
    5, "Invalid procedure call or argument: the password needs at least 8 characters"};

TEST(TextCipher, EmptyTextGivesEmptyTextWithoutLookingAtThePassword) {
    TextCipher cipher;
    EXPECT_EQ(cipher.EncryptText(u"", u""), u"");
    EXPECT_EQ(cipher.DecryptText(u"", u"short"), u"");
}

TEST(TextCipher, CipherTextIsUpperCaseHexOfWholeBlocks) {
    struct Case {
        std::size_t characters, digits;
    } cases[] = {{1, 32}, {12, 32}, {13, 64}, {28, 64}, {29, 96}, {1000, 2016}};
    TextCipher cipher;
    for (const auto& c : cases) {
        std::u16string text;
        for (std::size_t i = 0; i < c.characters; ++i)
            text += static_cast<char16_t>(u'a' + i % 26);
        const std::u16string hex = cipher.EncryptText(text, kPassword);
        EXPECT_EQ(hex.size(), c.digits) << c.characters;
        EXPECT_TRUE(std::all_of(hex.begin(), hex.end(), [](char16_t d) {
            return (d >= u'0' && d <= u'9') || (d >= u'A' && d <= u'F');
        })) << narrow(hex);
    }
}

TEST(TextCipher, RoundTripsEveryCharacterOfTheCodePage) {
    std::string allBytes;
    for (int b = 1; b < 256; ++b)
        allBytes += static_cast<char>(b);
    const std::u16string texts[] = {u"x",
                                    u"Hello, world!",
                                    u"a\0b\0"s,
                                    u"\u20AC \u2122 \u0152 \u00E9 \u00FF",
                                    hv::fromCp1252(allBytes),
                                    std::u16string(5000, u'z')};
    const std::u16string passwords[] = {u"12345678", u"sixteen chars ok",
                                        u"\u00E9\u20AC\u2122 twenty-four chars!!", std::u16string(32, u'p'),
                                        std::u16string(100, u'q')};
    TextCipher cipher;
    for (const auto& pwd : passwords)
        for (const auto& text : texts)
            EXPECT_EQ(cipher.DecryptText(cipher.EncryptText(text, pwd), pwd), text)
                << narrow(pwd) << " / " << narrow(text.substr(0, 20));
}

TEST(TextCipher, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    TextCipher cipher;
    EXPECT_EQ(cipher.DecryptText(cipher.EncryptText(u"a\u4E2Db", kPassword), kPassword), u"a?b");
    EXPECT_EQ(cipher.EncryptText(u"text", u"pass\u4E2Dword"), cipher.EncryptText(u"text", u"pass?word"));
}

TEST(TextCipher, DecryptAcceptsLowerCaseDigits) {
    TextCipher cipher;
    std::u16string hex = cipher.EncryptText(u"lower case", kPassword);
    std::transform(hex.begin(), hex.end(), hex.begin(),
                   [](char16_t d) { return d >= u'A' && d <= u'F' ? static_cast<char16_t>(d + 32) : d; });
    EXPECT_EQ(cipher.DecryptText(hex, kPassword), u"lower case");
}

TEST(TextCipher, SameInputGivesSameCipherTextBlockByBlock) {
    TextCipher cipher;
    const std::u16string first = u"first 12 chr"
                                 u"these sixteen ch"
                                 u"end one";
    const std::u16string second = u"other 12 chr"
                                  u"these sixteen ch"
                                  u"end two";
    EXPECT_EQ(cipher.EncryptText(first, kPassword), cipher.EncryptText(first, kPassword));
    const std::u16string a = cipher.EncryptText(first, kPassword), b = cipher.EncryptText(second, kPassword);
    EXPECT_NE(a.substr(0, 32), b.substr(0, 32));
    EXPECT_EQ(a.substr(32, 32), b.substr(32, 32));
    EXPECT_NE(a.substr(64), b.substr(64));
}

TEST(TextCipher, PasswordsActLikeTheirCutKey) {
    const std::u16string longPassword = u"0123456789abcdefghijklmnopqrstuvwxyzABCD"; // 40 characters
    struct Case {
        std::size_t given, used;
    } cases[] = {{40, 32}, {33, 32}, {20, 16}, {12, 8}, {31, 24}};
    TextCipher cipher;
    for (const auto& c : cases)
        EXPECT_EQ(cipher.EncryptText(u"same text", longPassword.substr(0, c.given)),
                  cipher.EncryptText(u"same text", longPassword.substr(0, c.used)))
            << c.given;
}

TEST(TextCipher, FailuresCarryTheirNumberAndDescription) {
    TextCipher cipher;
    const std::u16string good = cipher.EncryptText(u"a secret", kPassword); // 32 digits
    const std::u16string bad = u"0123456789ABCDEFG123456789ABCDEF";
    struct Case {
        const char* what;
        std::function<void()> call;
        Failure failure;
    } cases[] = {
        {"31 digits", [&] { cipher.DecryptText(good.substr(0, 31), kPassword); }, kSubscriptOutOfRange},
        {"33 digits", [&] { cipher.DecryptText(good + u"0", kPassword); }, kSubscriptOutOfRange},
        {"48 digits", [&] { cipher.DecryptText(good + good.substr(0, 16), kPassword); },
         kSubscriptOutOfRange},
        {"a block missing",
         [&] {
             cipher.DecryptText(cipher.EncryptText(std::u16string(40, u'x'), kPassword).substr(0, 64),
                                kPassword);
         },
         kSubscriptOutOfRange},
        {"other password", [&] { cipher.DecryptText(good, u"Correct horse"); }, kSubscriptOutOfRange},
        {"a non-hex pair", [&] { cipher.DecryptText(bad, kPassword); }, kTypeMismatch},
        {"blank", [&] { cipher.DecryptText(u" " + good.substr(1), kPassword); }, kTypeMismatch},
        {"sign", [&] { cipher.DecryptText(u"+" + good.substr(1), kPassword); }, kTypeMismatch},
        {"non-hex beats length", [&] { cipher.DecryptText(bad.substr(0, 31), kPassword); }, kTypeMismatch},
        {"encrypt, 7 characters", [&] { cipher.EncryptText(u"text", u"1234567"); }, kPasswordTooShort},
        {"encrypt, empty", [&] { cipher.EncryptText(u"text", u""); }, kPasswordTooShort},
        {"decrypt, 7 characters", [&] { cipher.DecryptText(good, u"correct"); }, kPasswordTooShort},
    };
    for (const auto& c : cases)
        EXPECT_EQ(failureOf(c.call), c.failure) << c.what;
}

// Inputs built to drive one sum to the value with no wrapped result: the key schedule, the first
// enciphering round and the first deciphering round.
TEST(TextCipher, SumWithNoResultFailsWithOverflow) {
    TextCipher cipher;
    const Bytes badKey = test::overflowingKey();
    const std::u16string badPassword = widen({reinterpret_cast<const char*>(badKey.data()), badKey.size()});
    EXPECT_EQ(failureOf([&] { cipher.EncryptText(u"text", badPassword); }), kOverflow);
    EXPECT_EQ(failureOf([&] { cipher.DecryptText(std::u16string(32, u'0'), badPassword); }), kOverflow);

    const std::string key = narrow(kPassword).substr(0, 8);
    const CKey expanded = ScheduleKey<WrappedAddition>(Bytes(key.begin(), key.end()));
    const auto& k = expanded.subKeys;
    const Bytes block = test::blockStartingWith(*test::overflowingPair(expanded, k[0], k[1]));
    const std::u16string text =
        u"twelve chars" + widen({reinterpret_cast<const char*>(block.data()), block.size()});
    EXPECT_EQ(failureOf([&] { cipher.EncryptText(text, kPassword); }), kOverflow);

    const Bytes cipherBlock = test::blockStartingWith(*test::overflowingPair(expanded, k[4], k[5]));
    EXPECT_EQ(failureOf([&] { cipher.DecryptText(widen(test::toHex(cipherBlock)), kPassword); }), kOverflow);
}

// Stored ciphertexts must stay readable: these were made by the component's format and must not change.
TEST(TextCipher, KeepsItsCipherTextFormat) {
    struct Case {
        const char16_t* text;
        const char16_t* password;
        const char16_t* cipherText;
    } cases[] = {
        {u"Halvorn", u"password", u"2C4FAB7CAFDEAD476494AFF2374603A8"},
        {u"The quick brown fox jumps over the lazy dog", u"sixteen-byte key",
         u"7723FB61CBCC7DF3DCE05DFAB56D3931E16AB2E65AE3667F5997FBA7F1C7B474E9FA6F9647B0739E5A1D3507A18C9B26"},
        {u"caf\u00E9 \u20AC5", u"a key of twenty-four chr", u"2AB576093BADEA59AF452F5D1937360C"},
        {u"0123456789012345678901234567890123456789", u"thirty-two characters of password",
         u"1C5CAAFE543B6B805AEBF9103F840188D3FCFBD8E91C3E823CEE8936FCD38EB4397BFC55F7A0C5CE621B717376DC573A"},
    };
    TextCipher cipher;
    for (const auto& c : cases) {
        EXPECT_EQ(narrow(cipher.EncryptText(c.text, c.password)), narrow(c.cipherText)) << narrow(c.text);
        EXPECT_EQ(cipher.DecryptText(c.cipherText, c.password), c.text) << narrow(c.text);
    }
}

TEST(TextCipher, TenMegabyteTextRoundTrips) {
    std::u16string text(10 * 1024 * 1024, u' ');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(u' ' + i % 95);
    TextCipher cipher;
    const std::u16string hex = cipher.EncryptText(text, kPassword);
    EXPECT_EQ(hex.size(), 2 * (text.size() + 16));
    EXPECT_TRUE(cipher.DecryptText(hex, kPassword) == text);
}

TEST(TextCipher, MovedObjectsKeepWorking) {
    TextCipher first;
    const std::u16string hex = first.EncryptText(u"moved", kPassword);
    TextCipher second = std::move(first);
    EXPECT_EQ(second.DecryptText(hex, kPassword), u"moved");
    EXPECT_EQ(first.DecryptText(hex, kPassword), u"moved"); // NOLINT(bugprone-use-after-move)
    first = std::move(second);
    EXPECT_EQ(first.DecryptText(hex, kPassword), u"moved");
}

} // namespace
} // namespace hvcrypt
