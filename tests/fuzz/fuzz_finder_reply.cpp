// Reply parsing of the UDP device protocol over arbitrary datagrams: no read
// past the datagram (each one lives in a buffer of exactly its size), names
// and texts always NUL-terminated, results within their ranges.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "NasFinder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<unsigned char> datagram(data, data + size);
    const unsigned char* p = datagram.data();
    uint32_t ifAddress = 0;
    if (size >= 11)
        std::memcpy(&ifAddress, p + 7, 4);
    static const unsigned char kMac[6] = {2, 0, 0, 0, 0, 1};

    struct Op {
        unsigned char reply;
        size_t minimum;
    };
    for (Op op : {Op{1, 15}, Op{3, 12}, Op{5, 13}, Op{7, 20}, Op{9, 12}, Op{11, 13}}) {
        bool any = FinderReplyMatches(p, size, op.reply, op.minimum, ifAddress, nullptr);
        bool mine = FinderReplyMatches(p, size, op.reply, op.minimum, ifAddress, kMac);
        if (mine && !any)
            std::abort();
        if (!any)
            continue;
        switch (op.reply) {
        case 1: {
            NasInfo info;
            std::memset(&info, 0x55, sizeof info);
            if (!FinderParseDiscoverReply(p, size, info) || std::memchr(info.name, 0, sizeof info.name) == nullptr ||
                info.disk1State < -128 || info.disk1State > 127)
                std::abort();
            break;
        }
        case 5:
        case 11: {
            char community[256];
            std::memset(community, 0x55, sizeof community);
            int rc = FinderParseLoginReply(p, size, community);
            if (rc != 0 && rc != FINDER_ERR_REFUSED && rc != FINDER_ERR_BAD_REPLY)
                std::abort();
            if (rc == 0 && std::memchr(community, 0, sizeof community) == nullptr)
                std::abort();
            if (rc != 0 && static_cast<unsigned char>(community[0]) != 0x55)
                std::abort(); // a failed reply leaves the community alone
            break;
        }
        case 7: {
            unsigned v1, v2;
            int status = FinderParseProgressReply(p, size, &v1, &v2);
            if (status < 0 || status > 255)
                std::abort();
            break;
        }
        default: break;
        }
    }
    return 0;
}
