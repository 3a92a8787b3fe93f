#include "Pendrix.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "HashString.h"

namespace {

// The library does not link the program's core, so it has its own trace:
// standard error when TOLVANE_DEBUG is set, else nowhere. One write per
// trace keeps traces of concurrent calls from mixing.
void DebugOutput(const std::string& text)
{
    if (!std::getenv("TOLVANE_DEBUG"))
        return;
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

} // namespace

extern "C" int MD5Generate(const char* text, char* out)
{
    std::string input = text ? text : "";
    DebugOutput("MD5Generate\n" + input + "\n");
    pendrix::CHashString hash;
    hash.SetSource(1);
    hash.SetText(input);
    hash.SetOutputFormat(3);
    hash.SetAlgorithm(5);
    std::string digest = hash.Compute();
    if (out)
        std::memcpy(out, digest.c_str(), digest.size() + 1);
    return 0;
}
