// With addition modulo 2^32 the core is the published cipher: its known answers pin down the fixed
// tables, the key schedule, h for 16-, 24- and 32-byte keys and the round structure.
#include "crypt/cipher_core.h"
#include "crypt/cipher_test_support.h"

#include <gtest/gtest.h>

namespace hvcrypt {
namespace {

using test::fromHex;
using test::toHex;

std::string encryptPublished(const Bytes& key, const Bytes& plainText) {
    const CKey expanded = ScheduleKey<ModularAddition>(key);
    Bytes block = plainText;
    Word noResult = 0;
    EncryptBlock<ModularAddition>(std::span(block).first<16>(), expanded, noResult);
    return toHex(block);
}

std::string decryptPublished(const Bytes& key, const Bytes& cipherText) {
    const CKey expanded = ScheduleKey<ModularAddition>(key);
    Bytes block = cipherText;
    Word noResult = 0;
    DecryptBlock<ModularAddition>(std::span(block).first<16>(), expanded, noResult);
    return toHex(block);
}

TEST(PublishedCipher, MeetsTheKnownAnswers) {
    struct Case {
        const char* key;
        const char* plainText;
        const char* cipherText;
    } cases[] = {
        {"00000000000000000000000000000000", "00000000000000000000000000000000",
         "9F589F5CF6122C32B6BFEC2F2AE8C35A"},
        {"9F589F5CF6122C32B6BFEC2F2AE8C35A", "D491DB16E7B1C39E86CB086B789F5419",
         "019F9809DE1711858FAAC3A3BA20FBC3"},
        {"0123456789ABCDEFFEDCBA98765432100011223344556677", "00000000000000000000000000000000",
         "CFD1D2E5A9BE9CDF501F13B892BD2248"},
        {"EFA71F788965BD4453F860178FC191010000000000000000", "88B2B2706B105E36B446BB6D731A1E88",
         "39DA69D6BA4997D585B6DC073CA341B2"},
        {"0123456789ABCDEFFEDCBA987654321000112233445566778899AABBCCDDEEFF",
         "00000000000000000000000000000000", "37527BE0052334B89F0CFCCAE87CFA20"},
        {"57FF739D4DC92C1BD7FC01700CC8216F00000000000000000000000000000000",
         "D43BB7556EA32E46F2A282B7D45B4E0D", "90AFE91BB288544F2C32DC239B2635E6"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(encryptPublished(fromHex(c.key), fromHex(c.plainText)), c.cipherText) << c.key;
        EXPECT_EQ(decryptPublished(fromHex(c.key), fromHex(c.cipherText)), c.plainText) << c.key;
    }
}

// The iterated tables: each step's ciphertext is the next plaintext, and the key is the previous
// plaintext followed by the previous key, cut to the key length. Step 49 depends on every step before.
TEST(PublishedCipher, MeetsTheIteratedTables) {
    struct Case {
        std::size_t keySize;
        const char* lastCipherText;
    } cases[] = {{16, "5D9D4EEFFA9151575524F115815A12E0"},
                 {24, "E75449212BEEF9F4A390BD860A640941"},
                 {32, "37FE26FF1CF66175F5DDF4C33B97A205"}};
    for (const auto& c : cases) {
        Bytes key(c.keySize, 0), plainText(16, 0);
        std::string cipherText;
        for (int step = 1; step <= 49; ++step) {
            cipherText = encryptPublished(key, plainText);
            ASSERT_EQ(decryptPublished(key, fromHex(cipherText)), toHex(plainText))
                << c.keySize << " " << step;
            key.insert(key.begin(), plainText.begin(), plainText.end());
            key.resize(c.keySize);
            plainText = fromHex(cipherText);
        }
        EXPECT_EQ(cipherText, c.lastCipherText) << c.keySize;
    }
}

} // namespace
} // namespace hvcrypt
