#include "Gost94.h"

#include <array>
#include <cstring>

namespace pendrix {
namespace {

// GOST 28147-89 S-boxes K1 (lowest four bits) to K8 of the test parameter set.
// clang-format off
constexpr uint8_t kSBox[8][16] = {
    {4, 10, 9, 2, 13, 8, 0, 14, 6, 11, 1, 12, 7, 15, 5, 3},
    {14, 11, 4, 12, 6, 13, 15, 10, 2, 3, 8, 1, 0, 7, 5, 9},
    {5, 8, 1, 13, 10, 3, 4, 2, 14, 15, 12, 7, 6, 0, 9, 11},
    {7, 13, 10, 1, 0, 8, 9, 15, 14, 4, 6, 12, 11, 2, 5, 3},
    {6, 12, 7, 1, 5, 15, 13, 8, 4, 10, 9, 14, 0, 3, 11, 2},
    {4, 11, 10, 0, 7, 2, 1, 13, 3, 6, 8, 5, 9, 12, 15, 14},
    {13, 11, 4, 1, 3, 15, 5, 9, 0, 10, 14, 7, 6, 8, 2, 12},
    {1, 15, 13, 0, 5, 7, 10, 4, 9, 2, 3, 14, 6, 11, 8, 12},
};
// clang-format on

// The S-boxes two at a time: byte i of a word goes through kByteSBox[i].
constexpr std::array<std::array<uint8_t, 256>, 4> MakeByteSBoxes()
{
    std::array<std::array<uint8_t, 256>, 4> t{};
    for (size_t i = 0; i < 4; ++i)
        for (int b = 0; b < 256; ++b)
            t[i][b] = static_cast<uint8_t>(kSBox[2 * i][b & 15] | kSBox[2 * i + 1][b >> 4] << 4);
    return t;
}
constexpr auto kByteSBox = MakeByteSBoxes();

// C3 of the key schedule (C2 and C4 are zero), least significant byte first.
constexpr uint8_t kC3[32] = {
    0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00, 0xff, 0x00,
    0x00, 0xff, 0xff, 0x00, 0xff, 0x00, 0x00, 0xff, 0xff, 0x00, 0x00, 0x00, 0xff, 0xff, 0x00, 0xff,
};

inline uint32_t Load32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void Store32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint32_t Round(uint32_t x)
{
    x = uint32_t(kByteSBox[0][x & 0xff]) | uint32_t(kByteSBox[1][(x >> 8) & 0xff]) << 8 |
        uint32_t(kByteSBox[2][(x >> 16) & 0xff]) << 16 | uint32_t(kByteSBox[3][x >> 24]) << 24;
    return (x << 11) | (x >> 21);
}

// GOST 28147-89 encryption of one 64-bit block in simple substitution mode.
void Encrypt(const uint8_t key[32], const uint8_t in[8], uint8_t out[8])
{
    uint32_t k[8];
    for (size_t i = 0; i < 8; ++i)
        k[i] = Load32(key + 4 * i);
    uint32_t a = Load32(in), b = Load32(in + 4);
    for (int j = 0; j < 32; ++j) {
        uint32_t t = Round(a + k[j < 24 ? j & 7 : 7 - (j & 7)]) ^ b;
        b = a;
        a = t;
    }
    Store32(out, b);
    Store32(out + 4, a);
}

// A(Y) = (y1 ^ y2) | y4 | y3 | y2 over the 64-bit parts y4 | y3 | y2 | y1.
void TransformA(uint8_t y[32])
{
    uint8_t t[8];
    for (int i = 0; i < 8; ++i)
        t[i] = y[i] ^ y[8 + i];
    std::memmove(y, y + 8, 24);
    std::memcpy(y + 24, t, 8);
}

// P(Y): byte i + 4k of the result is byte 8i + k of Y (i 0..3, k 0..7).
void TransformP(const uint8_t y[32], uint8_t out[32])
{
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 8; ++k)
            out[i + 4 * k] = y[8 * i + k];
}

// psi(Y) over the 16-bit parts y16 | ... | y1:
// (y1 ^ y2 ^ y3 ^ y4 ^ y13 ^ y16) | y16 | ... | y2.
void Psi(uint8_t y[32])
{
    uint8_t lo = y[0] ^ y[2] ^ y[4] ^ y[6] ^ y[24] ^ y[30];
    uint8_t hi = y[1] ^ y[3] ^ y[5] ^ y[7] ^ y[25] ^ y[31];
    std::memmove(y, y + 2, 30);
    y[30] = lo;
    y[31] = hi;
}

// The step function: H := f(H, M).
void Step(uint8_t h[32], const uint8_t m[32])
{
    uint8_t u[32], v[32], w[32], keys[4][32];
    std::memcpy(u, h, 32);
    std::memcpy(v, m, 32);
    for (int j = 0; j < 4; ++j) {
        if (j > 0) {
            TransformA(u);
            if (j == 2)
                for (int i = 0; i < 32; ++i)
                    u[i] ^= kC3[i];
            TransformA(v);
            TransformA(v);
        }
        for (int i = 0; i < 32; ++i)
            w[i] = u[i] ^ v[i];
        TransformP(w, keys[j]);
    }
    uint8_t s[32];
    for (size_t i = 0; i < 4; ++i)
        Encrypt(keys[i], h + 8 * i, s + 8 * i);
    // H := psi^61(H ^ psi(M ^ psi^12(S)))
    for (int i = 0; i < 12; ++i)
        Psi(s);
    for (int i = 0; i < 32; ++i)
        s[i] ^= m[i];
    Psi(s);
    for (int i = 0; i < 32; ++i)
        s[i] ^= h[i];
    for (int i = 0; i < 61; ++i)
        Psi(s);
    std::memcpy(h, s, 32);
}

} // namespace

void Gost94::Transform(const uint8_t* block)
{
    Step(m_hash, block);
    unsigned carry = 0;
    for (int i = 0; i < 32; ++i) {
        carry += unsigned(m_sum[i]) + block[i];
        m_sum[i] = static_cast<uint8_t>(carry);
        carry >>= 8;
    }
}

void Gost94::Final(uint8_t* digest)
{
    // A last short block is filled up with zero bytes; an empty message and
    // one of whole blocks add none.
    size_t used = Buffered();
    if (used) {
        std::memset(Buffer() + used, 0, 32 - used);
        Transform(Buffer());
    }
    uint8_t bits[32] = {};
    uint64_t low = Length() << 3, high = Length() >> 61;
    for (int i = 0; i < 8; ++i) {
        bits[i] = static_cast<uint8_t>(low >> (8 * i));
        bits[8 + i] = static_cast<uint8_t>(high >> (8 * i));
    }
    Step(m_hash, bits);
    Step(m_hash, m_sum);
    std::memcpy(digest, m_hash, 32);
}

} // namespace pendrix
