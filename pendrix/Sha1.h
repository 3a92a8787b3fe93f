#pragma once
#include <cstddef>
#include <cstdint>

#include "Digest.h"

namespace pendrix {

// SHA-1 (FIPS 180).
class Sha1 : public BlockDigest {
public:
    Sha1() : BlockDigest(64) {}
    void Final(uint8_t* digest) override;
    size_t Size() const override { return 20; }

private:
    void Transform(const uint8_t* block) override;
    uint32_t m_state[5] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476, 0xc3d2e1f0};
};

} // namespace pendrix
