#pragma once
#include <cstddef>
#include <cstdint>

#include "Digest.h"

namespace pendrix {

// SHA-1 (FIPS 180).
class Sha1 : public Digest {
public:
    void Update(const void* data, size_t len) override;
    void Final(uint8_t* digest) override;
    size_t Size() const override { return 20; }

private:
    void Transform(const uint8_t block[64]);
    uint32_t m_state[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
    uint64_t m_length = 0; // bytes so far
    uint8_t m_buffer[64];
};

} // namespace pendrix
