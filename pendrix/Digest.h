#pragma once
#include <cstddef>
#include <cstdint>

namespace pendrix {

// A digest being computed: feed bytes with Update, in as many pieces as
// convenient, then take the result once with Final.
class Digest {
public:
    virtual ~Digest() = default;
    virtual void Update(const void* data, size_t len) = 0;
    // Writes Size() bytes into digest.
    virtual void Final(uint8_t* digest) = 0;
    virtual size_t Size() const = 0;
};

// A digest that works on whole blocks: gathers the bytes into blocks of a
// fixed size and hands each full block to Transform.
class BlockDigest : public Digest {
public:
    void Update(const void* data, size_t len) final;

protected:
    explicit BlockDigest(size_t blockSize) : m_blockSize(blockSize) {}
    virtual void Transform(const uint8_t* block) = 0;

    // The padding of the MD4 family: a 0x80 byte, zero bytes, and the
    // message length in bits in a field of lengthBytes bytes at the end of
    // the last block, least or most significant byte first.
    void PadWithLength(size_t lengthBytes, bool bigEndian);

    uint64_t Length() const { return m_length; } // bytes so far
    size_t Buffered() const { return m_length % m_blockSize; }
    uint8_t* Buffer() { return m_buffer; } // the partial block

private:
    size_t m_blockSize;
    uint64_t m_length = 0;
    uint8_t m_buffer[128] = {};
};

} // namespace pendrix
