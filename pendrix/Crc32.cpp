#include "Crc32.h"

#include <array>

namespace pendrix {
namespace {

constexpr std::array<uint32_t, 256> MakeTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int k = 0; k < 8; ++k)
            c = c & 1 ? 0xedb88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();

} // namespace

void Crc32::Update(const void* data, size_t len)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t c = m_crc;
    for (size_t i = 0; i < len; ++i)
        c = kTable[(c ^ p[i]) & 0xff] ^ (c >> 8);
    m_crc = c;
}

void Crc32::Final(uint8_t* digest)
{
    uint32_t v = Value();
    for (int i = 0; i < 4; ++i)
        digest[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

} // namespace pendrix
