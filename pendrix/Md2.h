#pragma once
#include <cstddef>
#include <cstdint>

#include "Digest.h"

namespace pendrix {

// MD2 (RFC 1319).
class Md2 : public Digest {
public:
    void Update(const void* data, size_t len) override;
    void Final(uint8_t* digest) override;
    size_t Size() const override { return 16; }

private:
    void Transform(const uint8_t block[16]);
    uint8_t m_state[48] = {};
    uint8_t m_checksum[16] = {};
    uint8_t m_buffer[16] = {};
    size_t m_used = 0;
};

} // namespace pendrix
