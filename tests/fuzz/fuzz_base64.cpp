// Base64 decoding of arbitrary text: never writes past the buffer, both
// forms agree, and what decodes survives a round trip.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "stdafx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    int outSize = data[0] % 64;
    std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    text = text.c_str(); // the C form reads up to the first NUL
    std::string decoded = Base64Decode(text);
    if (!decoded.empty() && Base64Decode(Base64Encode(decoded)) != decoded)
        std::abort();
    char* out = static_cast<char*>(std::malloc(static_cast<size_t>(outSize) + 1));
    int n = Base64Decode(out, outSize, text.c_str());
    if (n >= 0 && (n + 1 >= outSize || std::memcmp(out, decoded.data(), static_cast<size_t>(n)) != 0))
        std::abort();
    std::free(out);
    return 0;
}
