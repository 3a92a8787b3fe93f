#include "Digest.h"

#include <cstring>

namespace pendrix {

void BlockDigest::Update(const void* data, size_t len)
{
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t used = Buffered();
    m_length += len;
    if (used) {
        size_t take = m_blockSize - used < len ? m_blockSize - used : len;
        std::memcpy(m_buffer + used, p, take);
        p += take;
        len -= take;
        if (used + take < m_blockSize)
            return;
        Transform(m_buffer);
    }
    for (; len >= m_blockSize; p += m_blockSize, len -= m_blockSize)
        Transform(p);
    std::memcpy(m_buffer, p, len);
}

void BlockDigest::PadWithLength(size_t lengthBytes, bool bigEndian)
{
    // Up to 128 bits of length: the low 64 bits, then the high ones.
    uint64_t low = m_length << 3, high = m_length >> 61;
    uint8_t field[16] = {};
    for (size_t i = 0; i < lengthBytes && i < 16; ++i) {
        uint64_t part = i < 8 ? low : high;
        uint8_t byte = static_cast<uint8_t>(part >> (8 * (i % 8)));
        field[bigEndian ? lengthBytes - 1 - i : i] = byte;
    }
    static const uint8_t pad[256] = {0x80};
    size_t used = Buffered();
    size_t room = m_blockSize - lengthBytes;
    Update(pad, used < room ? room - used : m_blockSize + room - used);
    Update(field, lengthBytes);
}

} // namespace pendrix
