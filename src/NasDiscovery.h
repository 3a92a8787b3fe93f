#pragma once
// One discovery scan over the UDP device protocol, with the answers grouped
// by device: a device reachable over several interfaces answers once per
// interface, and its group keeps the answers from its own subnet apart from
// the others.
#include <list>

#include "NasInfo.h"

struct NasGroup {
    unsigned char mac[6];
    std::list<NasInfo*> otherSubnet; // answers whose IsSameSubnet() is false, in arrival order
    std::list<NasInfo*> sameSubnet;  // answers whose IsSameSubnet() is true, in arrival order
};

class CNasDiscovery {
public:
    CNasDiscovery();
    // The groups point into the object's own reply list.
    CNasDiscovery(const CNasDiscovery&) = delete;
    CNasDiscovery& operator=(const CNasDiscovery&) = delete;

    // Scans for every device / for one device; the number of groups or a
    // negative protocol code (both lists then empty).
    int DiscoverAll();
    int DiscoverByMac(const unsigned char mac[6]);
    // The record to use for that device: its first same-subnet answer, else
    // its first other-subnet answer; null when no group has that MAC.
    NasInfo* FindByMac(const unsigned char mac[6]);
    void Clear();
    void GroupByMac();

    int m_timeout;                // milliseconds a scan listens for answers
    std::list<NasInfo> m_replies; // every accepted answer of the last scan, in arrival order
    std::list<NasGroup> m_groups; // one per MAC, in order of the first answer
    int m_status;                 // 0 after a successful scan, else the negative code

private:
    int Scan(const unsigned char* mac);
};
