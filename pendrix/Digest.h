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

} // namespace pendrix
