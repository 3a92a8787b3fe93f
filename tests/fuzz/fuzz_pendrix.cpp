// Every digest gives the same result whether the bytes come in one piece or
// in pieces of any sizes, and CHashString formats it at its fixed length.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "Crc32.h"
#include "Gost94.h"
#include "HashString.h"
#include "Md2.h"
#include "Md4.h"
#include "Md5.h"
#include "Sha1.h"
#include "Sha2.h"

namespace {

std::unique_ptr<pendrix::Digest> Make(int which)
{
    switch (which) {
    case 0: return std::make_unique<pendrix::Crc32>();
    case 1: return std::make_unique<pendrix::Gost94>();
    case 2: return std::make_unique<pendrix::Md2>();
    case 3: return std::make_unique<pendrix::Md4>();
    case 4: return std::make_unique<pendrix::Md5>();
    case 5: return std::make_unique<pendrix::Sha1>();
    case 6: return std::make_unique<pendrix::Sha2>(256);
    case 7: return std::make_unique<pendrix::Sha2>(384);
    default: return std::make_unique<pendrix::Sha2>(512);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    const int which = data[0] % 9;
    const uint8_t step = data[1];
    data += 2;
    size -= 2;

    auto whole = Make(which);
    whole->Update(data, size);
    uint8_t expected[64];
    whole->Final(expected);

    // Piece sizes cycle through 0 .. step + 1, so empty updates happen too.
    auto pieces = Make(which);
    size_t pos = 0;
    for (size_t i = 0; pos < size; ++i) {
        size_t n = std::min<size_t>(i % (size_t(step) + 2), size - pos);
        pieces->Update(data + pos, n);
        pos += n;
    }
    uint8_t got[64];
    pieces->Final(got);
    if (std::memcmp(expected, got, whole->Size()) != 0)
        std::abort();

    static const int kAlgorithm[9] = {1, 2, 3, 4, 5, 6, 7, 7, 7};
    static const int kBits[9] = {256, 256, 256, 256, 256, 256, 256, 384, 512};
    pendrix::CHashString hash;
    hash.SetAlgorithm(kAlgorithm[which]);
    hash.SetSha2Bits(kBits[which]);
    hash.SetOutputFormat(4);
    hash.SetText(std::string(reinterpret_cast<const char*>(data), size));
    if (hash.Compute().size() != 3 * whole->Size())
        std::abort();
    return 0;
}
