#pragma once
#include <cstddef>
#include <cstdint>

#include "Digest.h"

namespace pendrix {

// MD4 (RFC 1320).
class Md4 : public BlockDigest {
public:
    Md4() : BlockDigest(64) {}
    void Final(uint8_t* digest) override;
    size_t Size() const override { return 16; }

private:
    void Transform(const uint8_t* block) override;
    uint32_t m_state[4] = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};
};

} // namespace pendrix
