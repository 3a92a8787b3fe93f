#pragma once
#include <cstddef>
#include <cstdint>

#include "Digest.h"

namespace pendrix {

// SHA-256, SHA-384 and SHA-512 (FIPS 180-4), chosen by the digest size in
// bits; any size other than 384 or 512 gives SHA-256.
class Sha2 : public BlockDigest {
public:
    explicit Sha2(int bits = 256);
    void Final(uint8_t* digest) override;
    size_t Size() const override { return m_size; }

private:
    void Transform(const uint8_t* block) override;

    size_t m_size; // digest bytes: 32, 48 or 64
    uint32_t m_state32[8];
    uint64_t m_state64[8];
};

} // namespace pendrix
