#pragma once
#include <cstddef>
#include <cstdint>

#include "Digest.h"

namespace pendrix {

// GOST R 34.11-94 with the test parameter set of the standard's example
// (the GOST 28147-89 S-boxes of RFC 5831's test vectors). 256-bit values are
// kept as 32 bytes, least significant byte first; the message is read in
// 32-byte blocks in that order and the result is written the same way.
class Gost94 : public Digest {
public:
    void Update(const void* data, size_t len) override;
    void Final(uint8_t* digest) override;
    size_t Size() const override { return 32; }

private:
    void ProcessBlock(const uint8_t block[32]);
    uint8_t m_hash[32] = {};
    uint8_t m_sum[32] = {};
    uint8_t m_buffer[32] = {};
    uint64_t m_length = 0; // bytes so far
};

} // namespace pendrix
