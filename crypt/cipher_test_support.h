// Helpers shared by the cipher tests: hexadecimal fixtures, and the inputs that drive a chosen sum of the
// cipher to the one value with no wrapped result.
#pragma once

#include "crypt/cipher_core.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hvcrypt::test {

inline Bytes fromHex(std::string_view hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return bytes;
}

inline std::string toHex(std::span<const std::uint8_t> bytes) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (std::uint8_t b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 0xF];
    }
    return hex;
}

inline Bytes randomBytes(std::mt19937& random, std::size_t n) {
    Bytes bytes(n);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

// The 32-bit x with T0[x0] ^ T1[x1] ^ T2[x2] ^ T3[x3] == target (x0 its low byte), found by meeting in the
// middle over the two byte pairs. Both g and h (for a fixed input, over its key word) have this form.
inline Word solveByteSeparable(const std::array<std::array<Word, 256>, 4>& t, Word target) {
    std::vector<std::pair<Word, Word>> low; // T0[a] ^ T1[b], and a | b << 8
    low.reserve(65536);
    for (Word a = 0; a < 256; ++a)
        for (Word b = 0; b < 256; ++b)
            low.emplace_back(t[0][a] ^ t[1][b], a | b << 8);
    std::sort(low.begin(), low.end());
    for (Word c = 0; c < 256; ++c)
        for (Word d = 0; d < 256; ++d) {
            const Word wanted = target ^ t[2][c] ^ t[3][d];
            auto at = std::lower_bound(low.begin(), low.end(), std::pair<Word, Word>{wanted, 0});
            if (at != low.end() && at->first == wanted)
                return at->second | c << 16 | d << 24;
        }
    throw std::logic_error("no solution");
}

// The input of g under `key` that gives `target`.
inline Word inverseG(const CKey& key, Word target) {
    std::array<std::array<Word, 256>, 4> t;
    for (int j = 0; j < 4; ++j)
        std::copy_n(key.sBox.begin() + 256 * j, 256, t[j].begin());
    return solveByteSeparable(t, target);
}

// The one-word key l with h(x, {l}) == target.
inline Word inverseHOverKey(Word x, Word target) {
    const Word zero = 0;
    const Word base = h(x, {&zero, 1});
    std::array<std::array<Word, 256>, 4> t;
    for (int j = 0; j < 4; ++j)
        for (Word byte = 0; byte < 256; ++byte) {
            const Word l = byte << (8 * j);
            t[j][byte] = h(x, {&l, 1}) ^ base;
        }
    return solveByteSeparable(t, target ^ base);
}

constexpr std::int64_t kNoResultSum = -2147483649LL; // -2^31 - 1
constexpr std::int64_t kLowestSum = -2147483648LL;   // -2^31: screened like the sum with no result

// The addend that makes `a` (a negative word) sum exactly to `sum`, a sum below -2^31 + 1.
inline Word partnerFor(Word a, std::int64_t sum = kNoResultSum) {
    const auto signedA = static_cast<std::int32_t>(a);
    if (signedA >= 0)
        throw std::logic_error("only a negative word has a partner within range");
    return static_cast<Word>(static_cast<std::int32_t>(sum - signedA));
}

// The first two words of a 16-byte block whose first sum T0 + T1, after the whitening words w0 and w1, is
// `sum` under `key`: by default the sum with no result. The same construction serves enciphering (K0, K1)
// and deciphering (K4, K5). With `first` fixed (a length field) there is a pair only when that word gives
// a negative T0.
inline std::optional<std::array<Word, 2>> overflowingPair(const CKey& key, Word w0, Word w1,
                                                          std::optional<Word> first = std::nullopt,
                                                          std::int64_t sum = kNoResultSum) {
    for (Word c0 = first.value_or(0);; ++c0) {
        const Word t0 = detail::g(key, c0 ^ w0);
        if (static_cast<std::int32_t>(t0) < 0)
            return std::array<Word, 2>{c0, std::rotr(inverseG(key, partnerFor(t0, sum)), 8) ^ w1};
        if (first)
            return std::nullopt;
    }
}

inline Bytes blockStartingWith(const std::array<Word, 2>& words) {
    Bytes block(16, 0x41);
    detail::storeWord(&block[0], words[0]);
    detail::storeWord(&block[4], words[1]);
    return block;
}

// An 8-byte key whose first subkey sum A + B has no wrapped result.
inline Bytes overflowingKey() {
    for (Word m0 = 0;; ++m0) {
        const Word a = h(0, {&m0, 1});
        if (static_cast<std::int32_t>(a) >= 0)
            continue;
        const Word b = partnerFor(a);
        const Word m1 = inverseHOverKey(0x01010101, std::rotr(b, 8));
        Bytes key(8);
        detail::storeWord(&key[0], m0);
        detail::storeWord(&key[4], m1);
        return key;
    }
}

} // namespace hvcrypt::test
