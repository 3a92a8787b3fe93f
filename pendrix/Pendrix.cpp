#include "Pendrix.h"

#include <cstring>

#include "HashString.h"

extern "C" int MD5Generate(const char* text, char* out)
{
    pendrix::CHashString hash;
    hash.SetSource(1);
    hash.SetText(text ? text : "");
    hash.SetOutputFormat(3);
    hash.SetAlgorithm(5);
    std::string digest = hash.Compute();
    std::memcpy(out, digest.c_str(), digest.size() + 1);
    return 0;
}
