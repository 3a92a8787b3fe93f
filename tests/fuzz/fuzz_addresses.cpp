// MAC and IPv4 address texts: a text that parses prints back to a text that
// parses to the same address; one that does not parse leaves the MAC alone.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "stdafx.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);

    unsigned char mac[6] = {0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5};
    if (StringToMac(text, mac)) {
        const std::string printed = MacToString(mac);
        unsigned char again[6] = {};
        if (printed.size() != 17 || !StringToMac(printed, again) || std::memcmp(mac, again, 6) != 0)
            std::abort();
    } else {
        for (unsigned char b : mac)
            if (b != 0xA5)
                std::abort();
    }

    uint32_t ip = 0;
    if (StringToIp(text, ip)) {
        const std::string printed = IpToString(ip);
        uint32_t again = ~ip;
        if (printed.empty() || printed.size() > 15 || !StringToIp(printed, again) || again != ip)
            std::abort();
        // The parser takes plain dotted text only, which prints unchanged.
        if (printed != text)
            std::abort();
    }
    return 0;
}
