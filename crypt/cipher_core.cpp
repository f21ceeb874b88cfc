#include "crypt/cipher_core.h"

#include <limits>

namespace hvcrypt {

namespace {

// The 4-bit permutations t0-t3 from which q0 and q1 are built.
constexpr std::uint8_t kQNibbles[2][4][16] = {
    {{0x8, 0x1, 0x7, 0xD, 0x6, 0xF, 0x3, 0x2, 0x0, 0xB, 0x5, 0x9, 0xE, 0xC, 0xA, 0x4},
     {0xE, 0xC, 0xB, 0x8, 0x1, 0x2, 0x3, 0x5, 0xF, 0x4, 0xA, 0x6, 0x7, 0x0, 0x9, 0xD},
     {0xB, 0xA, 0x5, 0xE, 0x6, 0xD, 0x9, 0x0, 0xC, 0x8, 0xF, 0x3, 0x2, 0x4, 0x7, 0x1},
     {0xD, 0x7, 0xF, 0x4, 0x1, 0x2, 0x6, 0xE, 0x9, 0xB, 0x3, 0x0, 0x8, 0x5, 0xC, 0xA}},
    {{0x2, 0x8, 0xB, 0xD, 0xF, 0x7, 0x6, 0xE, 0x3, 0x1, 0x9, 0x4, 0x0, 0xA, 0xC, 0x5},
     {0x1, 0xE, 0x2, 0xB, 0x4, 0xC, 0x3, 0x7, 0x6, 0xD, 0xA, 0x5, 0xF, 0x9, 0x0, 0x8},
     {0x4, 0xC, 0x7, 0x5, 0x1, 0x6, 0x9, 0xA, 0x0, 0xE, 0xD, 0x8, 0x2, 0xB, 0x3, 0xF},
     {0xB, 0x9, 0x5, 0x1, 0xC, 0x3, 0xD, 0xE, 0x6, 0x4, 0x7, 0xF, 0x2, 0x0, 0x8, 0xA}}};

constexpr std::uint8_t kMds[4][4] = {
    {0x01, 0xEF, 0x5B, 0x5B}, {0x5B, 0xEF, 0xEF, 0x01}, {0xEF, 0x5B, 0x01, 0xEF}, {0xEF, 0x01, 0xEF, 0x5B}};
constexpr unsigned kMdsPolynomial = 0x169;

constexpr std::uint8_t kReedSolomon[4][8] = {{0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
                                             {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
                                             {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
                                             {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03}};
constexpr unsigned kReedSolomonPolynomial = 0x14D;

// The permutation each key layer of h applies at each byte position; layer 0 is next to the MDS matrix.
constexpr int kLayerQ[4][4] = {{0, 0, 1, 1}, {0, 1, 0, 1}, {1, 1, 0, 0}, {1, 0, 0, 1}};
// The last permutation of h at each byte position, folded into the MDS table.
constexpr int kFinalQ[4] = {1, 0, 1, 0};

constexpr std::uint8_t rotateNibbleRight(unsigned x) {
    return static_cast<std::uint8_t>((x >> 1 | x << 3) & 0xF);
}

constexpr std::uint8_t permute(int which, unsigned x) {
    const auto& t = kQNibbles[which];
    unsigned a = x >> 4, b = x & 0xF;
    unsigned a1 = a ^ b, b1 = (a ^ rotateNibbleRight(b) ^ a << 3) & 0xF;
    unsigned a2 = t[0][a1], b2 = t[1][b1];
    unsigned a3 = a2 ^ b2, b3 = (a2 ^ rotateNibbleRight(b2) ^ a2 << 3) & 0xF;
    return static_cast<std::uint8_t>(t[3][b3] << 4 | t[2][a3]);
}

constexpr std::uint8_t gfMultiply(unsigned a, unsigned b, unsigned polynomial) {
    unsigned product = 0;
    for (; b; b >>= 1) {
        if (b & 1)
            product ^= a;
        a <<= 1;
        if (a & 0x100)
            a ^= polynomial;
    }
    return static_cast<std::uint8_t>(product);
}

constexpr FixedTables buildFixedTables() {
    FixedTables t{};
    for (unsigned x = 0; x < 256; ++x) {
        t.q[0][x] = permute(0, x);
        t.q[1][x] = permute(1, x);
    }
    for (int column = 0; column < 4; ++column)
        for (unsigned x = 0; x < 256; ++x) {
            const std::uint8_t y = t.q[kFinalQ[column]][x];
            Word product = 0;
            for (int row = 0; row < 4; ++row)
                product |= Word{gfMultiply(kMds[row][column], y, kMdsPolynomial)} << (8 * row);
            t.mds[column][x] = product;
        }
    return t;
}

std::uint8_t byteOf(Word w, int j) {
    return static_cast<std::uint8_t>(w >> (8 * j));
}

// Byte position j of h before its last permutation.
std::uint8_t keyedByte(int j, std::uint8_t x, std::span<const Word> l) {
    for (std::size_t layer = l.size(); layer-- > 0;)
        x = fixedTables.q[kLayerQ[layer][j]][x] ^ byteOf(l[layer], j);
    return x;
}

} // namespace

constinit const FixedTables fixedTables = buildFixedTables();

std::optional<std::int32_t> AddWrapped(std::int32_t a, std::int32_t b) {
    Word noResult = 0;
    const Word sum = wrappedSum(static_cast<Word>(a), static_cast<Word>(b), noResult);
    if (noResult)
        return std::nullopt;
    return static_cast<std::int32_t>(sum);
}

Word h(Word x, std::span<const Word> l) {
    Word z = 0;
    for (int j = 0; j < 4; ++j)
        z ^= fixedTables.mds[j][keyedByte(j, byteOf(x, j), l)];
    return z;
}

std::array<Word, 4> sBoxKey(std::span<const std::uint8_t> key) {
    const std::size_t k = key.size() / 8;
    std::array<Word, 4> s{};
    for (std::size_t i = 0; i < k; ++i) {
        Word word = 0;
        for (int row = 0; row < 4; ++row) {
            std::uint8_t code = 0;
            for (int column = 0; column < 8; ++column)
                code ^= gfMultiply(kReedSolomon[row][column], key[8 * i + column], kReedSolomonPolynomial);
            word |= Word{code} << (8 * row);
        }
        s[k - 1 - i] = word;
    }
    return s;
}

void expandSBox(CKey& key, std::span<const Word> s) {
    for (int j = 0; j < 4; ++j)
        for (unsigned x = 0; x < 256; ++x)
            key.sBox[256 * j + x] = fixedTables.mds[j][keyedByte(j, static_cast<std::uint8_t>(x), s)];
}

std::optional<std::size_t> PaddedLength(std::size_t n) {
    if (n > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return std::nullopt;
    return (n + 4 + 15) / 16 * 16;
}

template class BasicCipher<WrappedAddition>;

} // namespace hvcrypt
