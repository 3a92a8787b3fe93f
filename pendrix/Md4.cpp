#include "Md4.h"

#include <cstring>

#include "ByteOrder.h"

namespace pendrix {

void Md4::Transform(const uint8_t* block)
{
    uint32_t x[16];
    LoadWords(block, x, 16, false);
    uint32_t v[4] = {m_state[0], m_state[1], m_state[2], m_state[3]};
    // Each step updates one of a, b, c, d in turn (a, d, c, b order).
    static const int kShift1[4] = {3, 7, 11, 19};
    static const int kShift2[4] = {3, 5, 9, 13};
    static const int kShift3[4] = {3, 9, 11, 15};
    static const int kOrder2[16] = {0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15};
    static const int kOrder3[16] = {0, 8, 4, 12, 2, 10, 6, 14, 1, 9, 5, 13, 3, 11, 7, 15};
    for (int i = 0; i < 16; ++i) {
        uint32_t& a = v[(4 - i % 4) % 4];
        uint32_t b = v[(5 - i % 4) % 4], c = v[(6 - i % 4) % 4], d = v[(7 - i % 4) % 4];
        a = Rotl(a + ((b & c) | (~b & d)) + x[i], kShift1[i % 4]);
    }
    for (int i = 0; i < 16; ++i) {
        uint32_t& a = v[(4 - i % 4) % 4];
        uint32_t b = v[(5 - i % 4) % 4], c = v[(6 - i % 4) % 4], d = v[(7 - i % 4) % 4];
        a = Rotl(a + ((b & c) | (b & d) | (c & d)) + x[kOrder2[i]] + 0x5a827999, kShift2[i % 4]);
    }
    for (int i = 0; i < 16; ++i) {
        uint32_t& a = v[(4 - i % 4) % 4];
        uint32_t b = v[(5 - i % 4) % 4], c = v[(6 - i % 4) % 4], d = v[(7 - i % 4) % 4];
        a = Rotl(a + (b ^ c ^ d) + x[kOrder3[i]] + 0x6ed9eba1, kShift3[i % 4]);
    }
    for (int i = 0; i < 4; ++i)
        m_state[i] += v[i];
}

void Md4::Final(uint8_t* digest)
{
    PadWithLength(8, false);
    StoreWords(m_state, 16, digest, false);
}

} // namespace pendrix
