#include "crypt/cipher_core.h"
#include "crypt/cipher_test_support.h"

#include <gtest/gtest.h>

#include <limits>

namespace hvcrypt {
namespace {

using test::fromHex;
using test::randomBytes;
using test::toHex;

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(AddWrapped, FollowsItsTable) {
    struct Case {
        std::int32_t a, b;
        std::optional<std::int32_t> sum;
    } cases[] = {
        {5, -7, -2},
        {kMax, 0, kMax},
        {kMin, 0, kMin},
        {kMax, kMin, -1},
        {-1, kMin + 1, kMin},
        // a positive overflow gives 0
        {kMax, 1, 0},
        {kMax, kMax, 0},
        {0x40000000, 0x40000000, 0},
        // a negative overflow gives one more than the sum modulo 2^32
        {kMin, kMin, 1},
        {kMin, -2, kMax},
        {-0x40000001, -0x40000001, kMax},
        {kMin + 1, -4, kMax - 1},
        // -2^31 - 1 has no result
        {kMin, -1, std::nullopt},
        {-1, kMin, std::nullopt},
        {-0x40000000, -0x40000001, std::nullopt},
        {kMin + 1, -2, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AddWrapped(c.a, c.b), c.sum) << c.a << " + " << c.b;
        // The inner loops' sum: the same value, and its screen goes off for 0x80000000 results only.
        Word suspect = 0;
        const Word fast = screenedWrappedSum(static_cast<Word>(c.a), static_cast<Word>(c.b), suspect);
        if (c.sum) {
            EXPECT_EQ(fast, static_cast<Word>(*c.sum)) << c.a << " + " << c.b;
        }
        EXPECT_EQ(suspect != 0, !c.sum || *c.sum == kMin) << c.a << " + " << c.b;
    }
}

TEST(AddWrapped, ScreenedSumAgreesWithTheExactSum) {
    std::mt19937 random(32);
    // Random words, and words near the ends of the range where the fix-ups happen.
    auto word = [&random] {
        const Word w = random();
        switch (w % 3) {
        case 0:
            return w;
        case 1:
            return 0x80000000 + w % 64;
        default:
            return 0x7FFFFFFF - w % 64;
        }
    };
    for (int trial = 0; trial < 200000; ++trial) {
        const Word a = word(), b = word();
        Word noResult = 0, suspect = 0;
        const Word exact = wrappedSum(a, b, noResult);
        const Word fast = screenedWrappedSum(a, b, suspect);
        if (!noResult) {
            ASSERT_EQ(fast, exact) << std::hex << a << " + " << b;
        }
        ASSERT_EQ(suspect != 0, noResult != 0 || exact == 0x80000000) << std::hex << a << " + " << b;
    }
}

// The block loops check once at the end, so a sum with no result must not be forgotten by later sums.
TEST(AddWrapped, NoResultStaysSetAcrossLaterSums) {
    Word noResult = 0;
    wrappedSum(static_cast<Word>(kMin), static_cast<Word>(-1), noResult);
    EXPECT_EQ(wrappedSum(2, 3, noResult), 5u);
    EXPECT_EQ(wrappedSum(static_cast<Word>(kMin), static_cast<Word>(kMin), noResult), 1u);
    EXPECT_NE(noResult, 0u);
}

TEST(PaddedLength, HoldsTheLengthFieldAndWholeBlocks) {
    struct Case {
        std::size_t n;
        std::optional<std::size_t> length;
    } cases[] = {{1, 16},
                 {12, 16},
                 {13, 32},
                 {28, 32},
                 {29, 48},
                 {static_cast<std::size_t>(kMax), std::size_t{0x80000010}},
                 {static_cast<std::size_t>(kMax) + 1, std::nullopt}};
    for (const auto& c : cases)
        EXPECT_EQ(PaddedLength(c.n), c.length) << c.n;
}

// The plaintext buffer is recovered block by block with the key the cipher installed.
Bytes decipherBlocks(const Bytes& key, Bytes buffer) {
    const CKey expanded = ScheduleKey<WrappedAddition>(key);
    Word noResult = 0;
    for (std::size_t offset = 0; offset < buffer.size(); offset += 16)
        DecryptBlock<WrappedAddition>(std::span(buffer).subspan(offset).first<16>(), expanded, noResult);
    EXPECT_EQ(noResult, 0u);
    return buffer;
}

TEST(EncryptBytes, WritesLengthDataAndZeroFill) {
    const Bytes key = fromHex("000102030405060708090A0B0C0D0E0F");
    for (std::size_t n : {1, 12, 13, 16, 28, 29, 100}) {
        Cipher cipher;
        cipher.SetKey(key);
        Bytes data(n);
        for (std::size_t i = 0; i < n; ++i)
            data[i] = static_cast<std::uint8_t>(0xA0 + i);
        const Bytes cipherText = cipher.EncryptBytes(data);
        ASSERT_EQ(cipherText.size(), *PaddedLength(n)) << n;

        Bytes expected(cipherText.size(), 0);
        detail::storeWord(expected.data(), static_cast<Word>(n));
        std::copy(data.begin(), data.end(), expected.begin() + 4);
        EXPECT_EQ(toHex(decipherBlocks(key, cipherText)), toHex(expected)) << n;
        EXPECT_EQ(cipher.DecryptBytes(cipherText), data) << n;
    }
}

// Blocks are enciphered independently: equal blocks at different places give equal ciphertext.
TEST(EncryptBytes, EnciphersBlocksIndependently) {
    Cipher cipher;
    cipher.SetKey(fromHex("0011223344556677"));
    Bytes data(60, 0x5A); // blocks 1, 2 and 3 of the buffer are all 0x5A
    const Bytes cipherText = cipher.EncryptBytes(data);
    ASSERT_EQ(cipherText.size(), 64u);
    EXPECT_EQ(toHex(std::span(cipherText).subspan(16, 16)), toHex(std::span(cipherText).subspan(32, 16)));
    EXPECT_EQ(toHex(std::span(cipherText).subspan(16, 16)), toHex(std::span(cipherText).subspan(48, 16)));
}

// A ciphertext with the given length field, made with the block cipher directly.
Bytes withLengthField(const Bytes& key, std::int32_t lengthField, std::size_t size) {
    const CKey expanded = ScheduleKey<WrappedAddition>(key);
    Bytes buffer(size, 0x33);
    detail::storeWord(buffer.data(), static_cast<Word>(lengthField));
    Word noResult = 0;
    for (std::size_t offset = 0; offset < buffer.size(); offset += 16)
        EncryptBlock<WrappedAddition>(std::span(buffer).subspan(offset).first<16>(), expanded, noResult);
    return buffer;
}

TEST(DecryptBytes, RefusesWhatCannotBeABuffer) {
    const Bytes key = fromHex("8899AABBCCDDEEFF0011223344556677");
    Cipher cipher;
    cipher.SetKey(key);
    const Bytes good = cipher.EncryptBytes(Bytes(20, 7)); // 32 bytes
    for (std::size_t size : {0, 1, 15, 17, 31}) {
        Bytes truncated(good.begin(), good.begin() + std::min(size, good.size()));
        truncated.resize(size, 0);
        EXPECT_EQ(cipher.DecryptBytes(truncated), std::nullopt) << size;
    }

    struct Case {
        std::int32_t lengthField;
        std::size_t size;
        std::optional<std::size_t> dataSize;
    } cases[] = {{0, 16, std::nullopt},     {-1, 16, std::nullopt},    {kMin, 32, std::nullopt},
                 {13, 16, std::nullopt},    {29, 32, std::nullopt},    {kMax, 48, std::nullopt},
                 {12, 16, std::size_t{12}}, {28, 32, std::size_t{28}}, {1, 48, std::size_t{1}}};
    for (const auto& c : cases) {
        const auto plainText = cipher.DecryptBytes(withLengthField(key, c.lengthField, c.size));
        const auto dataSize = plainText ? std::optional(plainText->size()) : std::nullopt;
        EXPECT_EQ(dataSize, c.dataSize) << c.lengthField << " in " << c.size;
    }
}

TEST(SetKey, CutsKeysToStandardLengths) {
    std::mt19937 random(20);
    const Bytes data = randomBytes(random, 40);
    struct Case {
        std::size_t given, used;
    } cases[] = {{8, 8},   {9, 8},   {12, 8},  {15, 8},  {16, 16}, {20, 16}, {23, 16},
                 {24, 24}, {31, 24}, {32, 32}, {33, 32}, {40, 32}, {200, 32}};
    for (const auto& c : cases) {
        const Bytes key = randomBytes(random, c.given);
        Cipher given, used;
        given.SetKey(key);
        used.SetKey(std::span(key).first(c.used));
        EXPECT_EQ(given.EncryptBytes(data), used.EncryptBytes(data)) << c.given;
        if (c.used > 8) {
            Cipher shorter;
            shorter.SetKey(std::span(key).first(c.used - 8));
            EXPECT_NE(given.EncryptBytes(data), shorter.EncryptBytes(data)) << c.given;
        }
    }
}

TEST(SetKey, RefusesKeysShorterThanEightBytes) {
    Cipher cipher;
    for (std::size_t n = 0; n < 8; ++n)
        EXPECT_THROW(cipher.SetKey(Bytes(n, 1)), std::invalid_argument) << n;
    EXPECT_FALSE(cipher.hasKey());
    EXPECT_THROW(cipher.EncryptBytes({}), std::invalid_argument);
}

TEST(Cipher, NoKeyActsAsSixteenZeroBytes) {
    const Bytes data = fromHex("48656C6C6F2C20776F726C6421");
    Cipher zeroKey;
    zeroKey.SetKey(Bytes(16, 0));
    const Bytes expected = zeroKey.EncryptBytes(data);

    Cipher encrypting;
    EXPECT_FALSE(encrypting.hasKey());
    EXPECT_EQ(encrypting.EncryptBytes(data), expected);
    EXPECT_TRUE(encrypting.hasKey());
    Cipher decrypting;
    EXPECT_EQ(decrypting.DecryptBytes(expected), data);
}

// The component defines h for 8-byte keys as the two-layer chain without its innermost permutation and
// without the L1 layer: with L1 = 0, feeding the two-layer chain the inverse of that permutation must give
// the same word.
TEST(KeySchedule, OneLayerHIsTheTwoLayerChainWithoutItsInnerLayer) {
    std::array<std::array<std::uint8_t, 256>, 2> inverseQ;
    for (int which = 0; which < 2; ++which)
        for (int x = 0; x < 256; ++x)
            inverseQ[which][fixedTables.q[which][x]] = static_cast<std::uint8_t>(x);
    constexpr int innermostQ[4] = {0, 1, 0, 1}; // q0, q1, q0, q1 at byte positions 0-3

    std::mt19937 random(8);
    for (int trial = 0; trial < 1000; ++trial) {
        const Word x = random(), l0 = random();
        Word beforeInnermost = 0;
        for (int j = 0; j < 4; ++j)
            beforeInnermost |= Word{inverseQ[innermostQ[j]][x >> (8 * j) & 0xFF]} << (8 * j);
        const Word oneLayer[] = {l0};
        const Word twoLayers[] = {l0, 0};
        ASSERT_EQ(h(x, oneLayer), h(beforeInnermost, twoLayers)) << std::hex << x << " " << l0;
    }
}

// The cipher as its definition states it, one step at a time: g evaluated through h on every use and
// every sum through AddWrapped. Slow, but independent of the expanded tables, the branch-free sums and the
// unrolled rounds of the core.
class ReferenceModel {
public:
    explicit ReferenceModel(const Bytes& key) {
        const std::size_t k = key.size() / 8;
        std::vector<Word> even, odd;
        for (std::size_t i = 0; i < k; ++i) {
            even.push_back(detail::loadWord(&key[8 * i]));
            odd.push_back(detail::loadWord(&key[8 * i + 4]));
        }
        const std::array<Word, 4> s = sBoxKey(key);
        s_.assign(s.begin(), s.begin() + k);
        for (Word i = 0; i < 20; ++i) {
            const Word a = h(2 * i * 0x01010101, even);
            const Word b = std::rotl(h((2 * i + 1) * 0x01010101, odd), 8);
            k_[2 * i] = add(a, b);
            k_[2 * i + 1] = std::rotl(add(add(a, b), b), 9);
        }
    }

    Bytes encrypt(const Bytes& data) const {
        Bytes buffer(4);
        detail::storeWord(buffer.data(), static_cast<Word>(data.size()));
        buffer.insert(buffer.end(), data.begin(), data.end());
        while (buffer.size() % 16 != 0)
            buffer.push_back(0);
        for (std::size_t offset = 0; offset < buffer.size(); offset += 16)
            encryptBlock(&buffer[offset]);
        return buffer;
    }

private:
    static Word add(Word a, Word b) {
        const auto sum = AddWrapped(static_cast<std::int32_t>(a), static_cast<std::int32_t>(b));
        if (!sum)
            throw CipherOverflow("no result");
        return static_cast<Word>(*sum);
    }

    Word g(Word x) const { return h(x, s_); }

    void encryptBlock(std::uint8_t* block) const {
        Word r[4];
        for (int i = 0; i < 4; ++i)
            r[i] = detail::loadWord(block + 4 * i) ^ k_[i];
        for (int round = 0; round < 16; ++round) {
            const int in = round % 2 == 0 ? 0 : 2; // the pair that feeds g
            const int out = 2 - in;                // the pair that is changed
            const Word t0 = g(r[in]);
            const Word t1 = g(std::rotl(r[in + 1], 8));
            const Word f0 = add(add(t0, t1), k_[8 + 2 * round]);
            const Word f1 = add(add(add(t0, t1), t1), k_[9 + 2 * round]);
            r[out] = std::rotr(r[out] ^ f0, 1);
            r[out + 1] = std::rotl(r[out + 1], 1) ^ f1;
        }
        const Word output[] = {r[2] ^ k_[4], r[3] ^ k_[5], r[0] ^ k_[6], r[1] ^ k_[7]};
        for (int i = 0; i < 4; ++i)
            detail::storeWord(block + 4 * i, output[i]);
    }

    std::vector<Word> s_;
    std::array<Word, 40> k_;
};

TEST(Cipher, AgreesWithTheStepByStepModel) {
    std::mt19937 random(51);
    for (std::size_t keySize : {8, 16, 24, 32})
        for (int trial = 0; trial < 60; ++trial) {
            const Bytes key = randomBytes(random, keySize);
            const Bytes data = randomBytes(random, 1 + random() % 80);
            Cipher cipher;
            cipher.SetKey(key);
            const Bytes cipherText = cipher.EncryptBytes(data);
            ASSERT_EQ(toHex(cipherText), toHex(ReferenceModel(key).encrypt(data)))
                << "key " << toHex(key) << " data " << toHex(data);
            ASSERT_EQ(cipher.DecryptBytes(cipherText), data);
        }
}

// The exact sum -2^31 trips the fast loop's screen like the sum with no result; the group is done again
// with the exact addition and the call succeeds with the right ciphertext.
TEST(Overflow, LowestExactSumIsNoFailure) {
    std::mt19937 random(31);
    for (std::size_t keySize : {8, 16, 24, 32}) {
        const Bytes key = randomBytes(random, keySize);
        const CKey expanded = ScheduleKey<WrappedAddition>(key);
        const auto& k = expanded.subKeys;
        Cipher cipher;
        cipher.SetKey(key);

        Bytes data(12, 0x20); // the block of interest is the buffer's second: all four of its words are data
        const Bytes lowest = test::blockStartingWith(
            *test::overflowingPair(expanded, k[0], k[1], std::nullopt, test::kLowestSum));
        data.insert(data.end(), lowest.begin(), lowest.end());
        data.resize(100, 0x21); // and among a group of four
        Bytes cipherText;
        ASSERT_NO_THROW(cipherText = cipher.EncryptBytes(data)) << toHex(key);
        EXPECT_EQ(toHex(cipherText), toHex(ReferenceModel(key).encrypt(data))) << toHex(key);
        EXPECT_EQ(cipher.DecryptBytes(cipherText), data);

        const Bytes lowestCipherBlock = test::blockStartingWith(
            *test::overflowingPair(expanded, k[4], k[5], std::nullopt, test::kLowestSum));
        std::copy(lowestCipherBlock.begin(), lowestCipherBlock.end(), cipherText.begin() + 32);
        EXPECT_NO_THROW(cipher.DecryptBytes(cipherText)) << toHex(key);
    }
}

TEST(Overflow, KeyScheduleSumWithNoResultFailsAndKeepsTheKey) {
    const Bytes badKey = test::overflowingKey();
    EXPECT_THROW(ScheduleKey<WrappedAddition>(badKey), CipherOverflow);
    EXPECT_NO_THROW(ScheduleKey<ModularAddition>(badKey)); // only the wrapped addition has the gap

    const Bytes data = fromHex("0102030405");
    Cipher cipher;
    cipher.SetKey(fromHex("0F0E0D0C0B0A0908"));
    const Bytes before = cipher.EncryptBytes(data);
    EXPECT_THROW(cipher.SetKey(badKey), CipherOverflow);
    EXPECT_EQ(cipher.EncryptBytes(data), before);
}

TEST(Overflow, BlockSumWithNoResultFailsTheWholeCall) {
    using test::blockStartingWith;
    using test::overflowingPair;
    std::mt19937 random(6);
    int firstBlocksChecked = 0;
    for (std::size_t keySize : {8, 16, 24, 32})
        for (int trial = 0; trial < 4; ++trial) {
            const Bytes key = randomBytes(random, keySize);
            const CKey expanded = ScheduleKey<WrappedAddition>(key);
            const auto& k = expanded.subKeys;
            Cipher cipher;
            cipher.SetKey(key);

            // In a later block all four words are data.
            Bytes data(12, 0x20);
            const Bytes bad = blockStartingWith(*overflowingPair(expanded, k[0], k[1]));
            data.insert(data.end(), bad.begin(), bad.end());
            EXPECT_THROW(cipher.EncryptBytes(data), CipherOverflow) << toHex(key);

            // In the first block the length field is the first word: 12 data bytes fill that block.
            if (auto pair = overflowingPair(expanded, k[0], k[1], Word{12})) {
                const Bytes block = blockStartingWith(*pair);
                EXPECT_THROW(cipher.EncryptBytes(Bytes(block.begin() + 4, block.end())), CipherOverflow);
                ++firstBlocksChecked;
            }

            // Deciphering starts with the output whitening; the bad block after a good one.
            Bytes cipherText = cipher.EncryptBytes(Bytes(12, 1));
            const Bytes badCipherBlock = blockStartingWith(*overflowingPair(expanded, k[4], k[5]));
            EXPECT_THROW(cipher.DecryptBytes(badCipherBlock), CipherOverflow) << toHex(key);
            cipherText.insert(cipherText.end(), badCipherBlock.begin(), badCipherBlock.end());
            EXPECT_THROW(cipher.DecryptBytes(cipherText), CipherOverflow) << toHex(key);
        }
    EXPECT_GT(firstBlocksChecked, 0);
}

} // namespace
} // namespace hvcrypt
