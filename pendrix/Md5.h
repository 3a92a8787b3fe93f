#pragma once
#include <cstddef>
#include <cstdint>

#include "Digest.h"

namespace pendrix {

// MD5 (RFC 1321).
class Md5 : public Digest {
public:
    Md5();
    void Update(const void* data, size_t len) override;
    void Final(uint8_t* digest) override;
    size_t Size() const override { return 16; }

private:
    void Transform(const uint8_t block[64]);
    uint32_t m_state[4];
    uint64_t m_length = 0; // bytes so far
    uint8_t m_buffer[64];
};

} // namespace pendrix
