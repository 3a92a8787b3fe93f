#pragma once
#include <cstddef>
#include <cstdint>

#include "Digest.h"

namespace pendrix {

// GOST R 34.11-94 with the test parameter set of the standard's example
// (the GOST 28147-89 S-boxes of RFC 5831's test vectors). 256-bit values are
// kept as 32 bytes, least significant byte first; the message is read in
// 32-byte blocks in that order and the result is written the same way.
class Gost94 : public BlockDigest {
public:
    Gost94() : BlockDigest(32) {}
    void Final(uint8_t* digest) override;
    size_t Size() const override { return 32; }

private:
    void Transform(const uint8_t* block) override;
    uint8_t m_hash[32] = {};
    uint8_t m_sum[32] = {};
};

} // namespace pendrix
