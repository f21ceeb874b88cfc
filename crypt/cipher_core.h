// The block cipher of the text encryption component: a 128-bit, 16-round Twofish-design cipher whose
// 32-bit additions are the component's wrapped addition, used in ECB mode over a buffer that carries its
// own length in front and is filled with zero bytes to whole blocks.
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <stdexcept>
#include <type_traits>
#include <vector>

namespace hvcrypt {

using Word = std::uint32_t; // a signed 32-bit word of the cipher, held as its bit pattern
using Bytes = std::vector<std::uint8_t>;

// A sum with no wrapped result, or a buffer too long for its length field: the call ends without a result.
class CipherOverflow : public std::overflow_error {
public:
    explicit CipherOverflow(const char* what) : std::overflow_error(what) {}
};

// The fixed permutations q0 and q1, and the MDS matrix with the last permutation of h folded in, so that
// both become one lookup per byte. Identical for every key; built at compile time.
struct FixedTables {
    std::array<std::array<std::uint8_t, 256>, 2> q; // q[0] is q0, q[1] is q1
    // mds[j][x]: MDS column j applied to q1(x) for j = 0 and 2, to q0(x) for j = 1 and 3, packed
    // little-endian (row 0 in the low byte).
    std::array<std::array<Word, 256>, 4> mds;
};
extern const FixedTables fixedTables;

// One expanded key.
struct CKey {
    // g fully expanded: four tables of 256 words, one per input byte position, through the MDS matrix.
    std::array<Word, 1024> sBox;
    // K0-K3 input whitening, K4-K7 output whitening, K8-K39 round keys.
    std::array<Word, 40> subKeys;
};

// The component's addition of two signed words: the exact sum where it fits, 0 after a positive overflow,
// one more than the sum modulo 2^32 after a negative overflow. The one sum -2^31 - 1 has no result; it
// sets `noResult`, which then stays set, so that callers check once per block or key. Branch-free: about
// one sum in four overflows, at random.
inline Word wrappedSum(Word a, Word b, Word& noResult) noexcept {
    std::int32_t sum;
    const Word overflow =
        __builtin_add_overflow(static_cast<std::int32_t>(a), static_cast<std::int32_t>(b), &sum);
    const Word modular = static_cast<Word>(sum);
    const Word positive = overflow & (modular >> 31); // two non-negative operands wrapped below zero
    const Word negative = overflow ^ positive;
    noResult |= negative & static_cast<Word>(modular == 0x7FFFFFFF);
    return (modular + negative) & (positive - 1);
}

// The same sum for the inner loop of the block cipher, in fewer instructions: the add's own overflow and
// sign flags select the fix-up. `suspect` is set for every result 0x80000000, which only the sum with no
// result and the exact sum -2^31 give; a caller that sees it repeats the work with wrappedSum to tell them
// apart. That costs one comparison here instead of an exact test on every sum.
[[gnu::always_inline]] inline Word screenedWrappedSum(Word a, Word b, Word& suspect) noexcept {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    Word sum = a, fixedUp;
    const Word zero = 0;
    asm("addl %[b], %[sum]\n\t"
        "leal 1(%[sum]), %[fixedUp]\n\t" // a negative overflow gives the sum plus one,
        "cmovsl %[zero], %[fixedUp]\n\t" // a positive one (the sum wrapped below zero) gives 0,
        "cmovol %[fixedUp], %[sum]"      // and only an overflow takes the fixed-up value
        : [sum] "+r"(sum), [fixedUp] "=&r"(fixedUp)
        : [b] "r"(b), [zero] "r"(zero)
        : "cc");
    suspect = sum == 0x80000000 ? 1 : suspect;
    return sum;
#else
    return wrappedSum(a, b, suspect);
#endif
}

// The same on signed words, with no value for the sum that has none.
std::optional<std::int32_t> AddWrapped(std::int32_t a, std::int32_t b);

// The additions the cipher can be built with. The component always uses WrappedAddition; with
// ModularAddition the cipher is the published one, which is how the tests check everything else. `Fast`
// is the addition the buffer loops use, whose flag a group of blocks confirms with the exact one.
struct WrappedAddition {
    static Word add(Word a, Word b, Word& noResult) noexcept { return wrappedSum(a, b, noResult); }
    struct Fast {
        [[gnu::always_inline]] static Word add(Word a, Word b, Word& suspect) noexcept {
            return screenedWrappedSum(a, b, suspect);
        }
    };
};
struct ModularAddition {
    static Word add(Word a, Word b, Word&) noexcept { return a + b; }
    using Fast = ModularAddition;
};

// h of the key schedule: the bytes of x through one key layer per word of l (l[k-1] outermost, l[0]
// next to the MDS matrix), then the MDS matrix. One layer for an 8-byte key, as the component defines it.
Word h(Word x, std::span<const Word> l);

// The S-box key words of a key of 8, 16, 24 or 32 bytes, in the order h takes them: the Reed-Solomon
// code of the last 8 key bytes first.
std::array<Word, 4> sBoxKey(std::span<const std::uint8_t> key);

// Fills key.sBox with g = h(., s) for every byte value at every position.
void expandSBox(CKey& key, std::span<const Word> s);

// The plaintext buffer length for n data bytes (the length field and the data, filled up to whole
// blocks), or nothing when the signed 32-bit length field cannot hold n.
std::optional<std::size_t> PaddedLength(std::size_t n);

namespace detail {

inline Word loadWord(const std::uint8_t* p) {
    return Word{p[0]} | Word{p[1]} << 8 | Word{p[2]} << 16 | Word{p[3]} << 24;
}

inline void storeWord(std::uint8_t* p, Word w) {
    p[0] = static_cast<std::uint8_t>(w);
    p[1] = static_cast<std::uint8_t>(w >> 8);
    p[2] = static_cast<std::uint8_t>(w >> 16);
    p[3] = static_cast<std::uint8_t>(w >> 24);
}

[[gnu::always_inline]] inline Word g(const CKey& key, Word x) {
    const Word* s = key.sBox.data();
    return s[x & 0xFF] ^ s[256 + (x >> 8 & 0xFF)] ^ s[512 + (x >> 16 & 0xFF)] ^ s[768 + (x >> 24)];
}

// g of x rotated left by 8: the same lookups with the byte positions turned.
[[gnu::always_inline]] inline Word gOfRotated(const CKey& key, Word x) {
    const Word* s = key.sBox.data();
    return s[x >> 24] ^ s[256 + (x & 0xFF)] ^ s[512 + (x >> 8 & 0xFF)] ^ s[768 + (x >> 16 & 0xFF)];
}

struct RoundOutput {
    Word f0, f1;
};

// The round function F of round r on the words a and b: g, the PHT as two additions of T1, and the round
// keys. Encryption and decryption form it the same way.
template <class Addition>
[[gnu::always_inline]] inline RoundOutput roundFunction(const CKey& key, Word a, Word b, int r,
                                                        Word& noResult) {
    const Word t0 = g(key, a);
    const Word t1 = gOfRotated(key, b); // g(b rotated left by 8)
    const Word sum = Addition::add(t0, t1, noResult);
    return {Addition::add(sum, key.subKeys[8 + 2 * r], noResult),
            Addition::add(Addition::add(sum, t1, noResult), key.subKeys[9 + 2 * r], noResult)};
}

} // namespace detail

// A new expanded key from a key of 8, 16, 24 or 32 bytes. Throws CipherOverflow when a sum of the
// subkeys has no result.
template <class Addition> CKey ScheduleKey(std::span<const std::uint8_t> key) {
    const std::size_t k = key.size() / 8;
    std::array<Word, 4> even{}, odd{};
    for (std::size_t i = 0; i < k; ++i) {
        even[i] = detail::loadWord(&key[8 * i]);
        odd[i] = detail::loadWord(&key[8 * i + 4]);
    }
    CKey expanded;
    Word noResult = 0;
    constexpr Word rho = 0x01010101;
    for (Word i = 0; i < 20; ++i) {
        const Word a = h(2 * i * rho, std::span(even).first(k));
        const Word b = std::rotl(h((2 * i + 1) * rho, std::span(odd).first(k)), 8);
        const Word sum = Addition::add(a, b, noResult);
        expanded.subKeys[2 * i] = sum;
        expanded.subKeys[2 * i + 1] = std::rotl(Addition::add(sum, b, noResult), 9);
    }
    if (noResult)
        throw CipherOverflow("a subkey sum has no wrapped result");
    const std::array<Word, 4> s = sBoxKey(key);
    expandSBox(expanded, std::span(s).first(k));
    return expanded;
}

// The words R0-R3 of one block while it is transformed.
struct BlockWords {
    Word r0, r1, r2, r3;
};

// Enciphers n consecutive 16-byte blocks in place (n from 1 to 4); sets noResult when the addition flags
// a sum.
// The blocks are independent, so their rounds run side by side: while one block waits for its lookups and
// sums, the others proceed.
template <class Addition, std::size_t n>
void EncryptBlocks(std::uint8_t* blocks, const CKey& key, Word& noResult) {
    using namespace detail;
    const auto& k = key.subKeys;
    Word failed = 0; // a local stays in a register; noResult might alias the key
    BlockWords w[n];
#pragma GCC unroll 4
    for (std::size_t b = 0; b < n; ++b) {
        const std::uint8_t* p = blocks + 16 * b;
        w[b] = {loadWord(p) ^ k[0], loadWord(p + 4) ^ k[1], loadWord(p + 8) ^ k[2], loadWord(p + 12) ^ k[3]};
    }
    for (int r = 0; r < 16; r += 2) {
#pragma GCC unroll 4
        for (std::size_t b = 0; b < n; ++b) {
            const RoundOutput f = roundFunction<Addition>(key, w[b].r0, w[b].r1, r, failed);
            w[b].r2 = std::rotr(w[b].r2 ^ f.f0, 1);
            w[b].r3 = std::rotl(w[b].r3, 1) ^ f.f1;
        }
#pragma GCC unroll 4
        for (std::size_t b = 0; b < n; ++b) {
            const RoundOutput f = roundFunction<Addition>(key, w[b].r2, w[b].r3, r + 1, failed);
            w[b].r0 = std::rotr(w[b].r0 ^ f.f0, 1);
            w[b].r1 = std::rotl(w[b].r1, 1) ^ f.f1;
        }
    }
#pragma GCC unroll 4
    for (std::size_t b = 0; b < n; ++b) {
        std::uint8_t* p = blocks + 16 * b;
        storeWord(p, w[b].r2 ^ k[4]);
        storeWord(p + 4, w[b].r3 ^ k[5]);
        storeWord(p + 8, w[b].r0 ^ k[6]);
        storeWord(p + 12, w[b].r1 ^ k[7]);
    }
    noResult |= failed;
}

// Deciphers n consecutive 16-byte blocks in place, side by side like EncryptBlocks.
template <class Addition, std::size_t n>
void DecryptBlocks(std::uint8_t* blocks, const CKey& key, Word& noResult) {
    using namespace detail;
    const auto& k = key.subKeys;
    Word failed = 0;
    BlockWords w[n];
#pragma GCC unroll 4
    for (std::size_t b = 0; b < n; ++b) {
        const std::uint8_t* p = blocks + 16 * b;
        w[b].r2 = loadWord(p) ^ k[4];
        w[b].r3 = loadWord(p + 4) ^ k[5];
        w[b].r0 = loadWord(p + 8) ^ k[6];
        w[b].r1 = loadWord(p + 12) ^ k[7];
    }
    for (int r = 15; r > 0; r -= 2) {
#pragma GCC unroll 4
        for (std::size_t b = 0; b < n; ++b) {
            const RoundOutput f = roundFunction<Addition>(key, w[b].r2, w[b].r3, r, failed);
            w[b].r0 = std::rotl(w[b].r0, 1) ^ f.f0;
            w[b].r1 = std::rotr(w[b].r1 ^ f.f1, 1);
        }
#pragma GCC unroll 4
        for (std::size_t b = 0; b < n; ++b) {
            const RoundOutput f = roundFunction<Addition>(key, w[b].r0, w[b].r1, r - 1, failed);
            w[b].r2 = std::rotl(w[b].r2, 1) ^ f.f0;
            w[b].r3 = std::rotr(w[b].r3 ^ f.f1, 1);
        }
    }
#pragma GCC unroll 4
    for (std::size_t b = 0; b < n; ++b) {
        std::uint8_t* p = blocks + 16 * b;
        storeWord(p, w[b].r0 ^ k[0]);
        storeWord(p + 4, w[b].r1 ^ k[1]);
        storeWord(p + 8, w[b].r2 ^ k[2]);
        storeWord(p + 12, w[b].r3 ^ k[3]);
    }
    noResult |= failed;
}

// One block: the cipher's unit, as the published tables give it.
template <class Addition>
void EncryptBlock(std::span<std::uint8_t, 16> block, const CKey& key, Word& noResult) {
    EncryptBlocks<Addition, 1>(block.data(), key, noResult);
}

template <class Addition>
void DecryptBlock(std::span<std::uint8_t, 16> block, const CKey& key, Word& noResult) {
    DecryptBlocks<Addition, 1>(block.data(), key, noResult);
}

namespace detail {

template <class Addition, std::size_t n, bool encrypt>
void transformBlocks(std::uint8_t* blocks, const CKey& key, Word& noResult) {
    if constexpr (encrypt)
        EncryptBlocks<Addition, n>(blocks, key, noResult);
    else
        DecryptBlocks<Addition, n>(blocks, key, noResult);
}

// n blocks with the fast addition; when its screen goes off, again from their input with the exact one.
template <class Addition, std::size_t n, bool encrypt>
void transformGroup(std::uint8_t* blocks, const CKey& key, Word& noResult) {
    using Fast = typename Addition::Fast;
    if constexpr (std::is_same_v<Fast, Addition>) {
        transformBlocks<Addition, n, encrypt>(blocks, key, noResult);
    } else {
        std::array<std::uint8_t, 16 * n> input;
        std::memcpy(input.data(), blocks, input.size());
        Word suspect = 0;
        transformBlocks<Fast, n, encrypt>(blocks, key, suspect);
        if (suspect) {
            std::memcpy(blocks, input.data(), input.size());
            transformBlocks<Addition, n, encrypt>(blocks, key, noResult);
        }
    }
}

// Every block of a buffer, four at a time: enough independent work to hide the latency of one block's
// lookups and sums, few enough words to stay mostly in registers.
template <class Addition, bool encrypt>
void transformBuffer(std::span<std::uint8_t> buffer, const CKey& key, Word& noResult) {
    constexpr std::size_t group = 4;
    std::size_t offset = 0;
    for (; offset + 16 * group <= buffer.size(); offset += 16 * group)
        transformGroup<Addition, group, encrypt>(&buffer[offset], key, noResult);
    for (; offset < buffer.size(); offset += 16)
        transformGroup<Addition, 1, encrypt>(&buffer[offset], key, noResult);
}

} // namespace detail

// The cipher with its one current key.
template <class Addition = WrappedAddition> class BasicCipher {
public:
    // Installs a key made of at least 8 bytes: 32 or more act as their first 32, otherwise the key is
    // cut to whole 8-byte groups. The current key is replaced only when the new one was made. Shorter
    // keys have no defined key schedule and are refused with std::invalid_argument.
    void SetKey(std::span<const std::uint8_t> key) {
        if (key.size() < 8)
            throw std::invalid_argument("a key needs at least 8 bytes");
        key_ = ScheduleKey<Addition>(key.first(std::min<std::size_t>(key.size(), 32) / 8 * 8));
    }

    bool hasKey() const noexcept { return key_.has_value(); }

    // The length field, the data and zero fill, enciphered block by block. Throws CipherOverflow when a
    // sum has no result or the data is too long for the length field.
    Bytes EncryptBytes(std::span<const std::uint8_t> data) {
        if (data.empty())
            throw std::invalid_argument("no data to encipher");
        const std::optional<std::size_t> length = PaddedLength(data.size());
        if (!length)
            throw CipherOverflow("too long for the length field");
        ensureKey();
        Bytes buffer(*length, 0);
        detail::storeWord(buffer.data(), static_cast<Word>(data.size()));
        std::copy(data.begin(), data.end(), buffer.begin() + 4);
        Word noResult = 0;
        detail::transformBuffer<Addition, true>(buffer, *key_, noResult);
        if (noResult)
            throw CipherOverflow("a cipher sum has no wrapped result");
        return buffer;
    }

    // The data back, or nothing when the buffer is not whole blocks or its length field does not fit.
    // Throws CipherOverflow when a sum has no result.
    std::optional<Bytes> DecryptBytes(std::span<const std::uint8_t> data) {
        if (data.empty() || data.size() % 16 != 0)
            return std::nullopt;
        ensureKey();
        Bytes buffer(data.begin(), data.end());
        Word noResult = 0;
        detail::transformBuffer<Addition, false>(buffer, *key_, noResult);
        if (noResult)
            throw CipherOverflow("a cipher sum has no wrapped result");
        const auto n = static_cast<std::int32_t>(detail::loadWord(buffer.data()));
        if (n < 1 || static_cast<std::uint64_t>(n) > buffer.size() - 4)
            return std::nullopt;
        return Bytes(buffer.begin() + 4, buffer.begin() + 4 + n);
    }

private:
    // No key installed acts as the key of 16 zero bytes.
    void ensureKey() {
        if (!key_)
            SetKey(std::array<std::uint8_t, 16>{});
    }

    std::optional<CKey> key_;
};

using Cipher = BasicCipher<WrappedAddition>;
extern template class BasicCipher<WrappedAddition>;

} // namespace hvcrypt
