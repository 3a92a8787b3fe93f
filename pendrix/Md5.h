#pragma once
#include <cstddef>
#include <cstdint>

#include "Digest.h"

namespace pendrix {

// MD5 (RFC 1321).
class Md5 : public BlockDigest {
public:
    Md5();
    void Final(uint8_t* digest) override;
    size_t Size() const override { return 16; }

private:
    void Transform(const uint8_t* block) override;
    uint32_t m_state[4];
};

} // namespace pendrix
