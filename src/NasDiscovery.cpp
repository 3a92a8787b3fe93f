#include "NasDiscovery.h"

#include <cstring>

#include "NasFinder.h"

CNasDiscovery::CNasDiscovery() : m_timeout(3000), m_status(0) {}

int CNasDiscovery::DiscoverAll() { return Scan(nullptr); }

int CNasDiscovery::DiscoverByMac(const unsigned char mac[6]) { return Scan(mac); }

int CNasDiscovery::Scan(const unsigned char* mac)
{
    Clear();
    m_status = FinderInit();
    if (m_status < 0)
        return m_status;
    m_status = FinderDiscover(m_replies, m_timeout, mac);
    FinderCleanup();
    if (m_status < 0) {
        Clear();
        return m_status;
    }
    m_status = 0;
    GroupByMac();
    return static_cast<int>(m_groups.size());
}

NasInfo* CNasDiscovery::FindByMac(const unsigned char mac[6])
{
    for (NasGroup& g : m_groups) {
        if (std::memcmp(g.mac, mac, 6) != 0)
            continue;
        if (!g.sameSubnet.empty())
            return g.sameSubnet.front();
        return g.otherSubnet.empty() ? nullptr : g.otherSubnet.front();
    }
    return nullptr;
}

void CNasDiscovery::Clear()
{
    m_groups.clear();
    m_replies.clear();
}

void CNasDiscovery::GroupByMac()
{
    m_groups.clear();
    for (NasInfo& reply : m_replies) {
        NasGroup* group = nullptr;
        for (NasGroup& g : m_groups) {
            if (std::memcmp(g.mac, reply.mac, 6) == 0) {
                group = &g;
                break;
            }
        }
        if (!group) {
            m_groups.emplace_back();
            group = &m_groups.back();
            std::memcpy(group->mac, reply.mac, 6);
        }
        (reply.IsSameSubnet() ? group->sameSubnet : group->otherSubnet).push_back(&reply);
    }
}
