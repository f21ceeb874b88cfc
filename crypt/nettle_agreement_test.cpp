// With addition modulo 2^32 the core must agree with an independent implementation of the published
// cipher on any key and block, not only on the tabled ones.
#include "crypt/cipher_core.h"
#include "crypt/cipher_test_support.h"

#include <nettle/twofish.h>

#include <gtest/gtest.h>

namespace hvcrypt {
namespace {

using test::randomBytes;
using test::toHex;

TEST(PublishedCipher, AgreesWithNettleOnRandomKeysAndBlocks) {
    std::mt19937 random(1998);
    for (std::size_t keySize : {16, 24, 32})
        for (int trial = 0; trial < 2000; ++trial) {
            const Bytes key = randomBytes(random, keySize);
            const Bytes plainText = randomBytes(random, 32);
            twofish_ctx reference;
            twofish_set_key(&reference, key.size(), key.data());
            Bytes expected(32);
            twofish_encrypt(&reference, expected.size(), expected.data(), plainText.data());

            const CKey expanded = ScheduleKey<ModularAddition>(key);
            Bytes buffer = plainText;
            Word noResult = 0;
            for (std::size_t offset : {0, 16})
                EncryptBlock<ModularAddition>(std::span(buffer).subspan(offset).first<16>(), expanded,
                                              noResult);
            ASSERT_EQ(toHex(buffer), toHex(expected)) << "key " << toHex(key);
            for (std::size_t offset : {0, 16})
                DecryptBlock<ModularAddition>(std::span(buffer).subspan(offset).first<16>(), expanded,
                                              noResult);
            ASSERT_EQ(toHex(buffer), toHex(plainText)) << "key " << toHex(key);
        }
}

} // namespace
} // namespace hvcrypt
