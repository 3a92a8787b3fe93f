#pragma once
#include <cstddef>
#include <cstdint>

#include "Digest.h"

namespace pendrix {

// CRC-32 with the IEEE 802.3 polynomial (reflected, initial value and final
// XOR all ones), as zip, gzip and Ethernet use it. The 4 result bytes are the
// value's most significant byte first, so they print as "%08x" does.
class Crc32 : public Digest {
public:
    void Update(const void* data, size_t len) override;
    void Final(uint8_t* digest) override;
    size_t Size() const override { return 4; }
    uint32_t Value() const { return ~m_crc; }

private:
    uint32_t m_crc = 0xffffffffu;
};

} // namespace pendrix
