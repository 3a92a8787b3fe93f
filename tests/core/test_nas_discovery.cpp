// Discovery scans and the grouping of answers by device.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <type_traits>

#include "NasDiscovery.h"
#include "NasFinder.h"
#include "TestNetwork.h"
#include "stdafx.h"

TOLVANE_PRIVATE_NETWORK();

using testsupport::Emulator;
using testsupport::Ip;
using testsupport::TestNetwork;

static_assert(!std::is_copy_constructible_v<CNasDiscovery> && !std::is_copy_assignable_v<CNasDiscovery>,
              "groups point into the object's own reply list");

namespace {

const unsigned char kMac1[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
const unsigned char kMac2[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};

NasInfo Reply(const unsigned char mac[6], const char* device, const char* local)
{
    NasInfo i{};
    std::memcpy(i.mac, mac, 6);
    i.deviceAddress = Ip(device);
    i.localAddress = Ip(local);
    i.localMask = Ip("255.255.255.0");
    return i;
}

std::string Config(const std::string& name, const unsigned char mac[6])
{
    return "name = " + name + "\nmac = " + MacToString(mac) + "\n";
}

} // namespace

TEST(NasDiscovery, GroupsByMacKeepingSubnetsApart)
{
    CNasDiscovery d;
    EXPECT_EQ(d.m_timeout, 3000);
    EXPECT_EQ(d.m_status, 0);
    d.m_replies.push_back(Reply(kMac1, "198.18.2.10", "198.18.1.1")); // other subnet
    d.m_replies.push_back(Reply(kMac2, "198.18.1.20", "198.18.1.1"));
    d.m_replies.push_back(Reply(kMac1, "198.18.2.10", "198.18.2.1")); // same subnet
    d.m_replies.push_back(Reply(kMac1, "198.18.2.10", "198.18.5.1")); // other subnet
    d.GroupByMac();
    ASSERT_EQ(d.m_groups.size(), 2u);
    const NasGroup& g1 = d.m_groups.front();
    EXPECT_EQ(std::memcmp(g1.mac, kMac1, 6), 0);
    ASSERT_EQ(g1.sameSubnet.size(), 1u);
    ASSERT_EQ(g1.otherSubnet.size(), 2u);
    EXPECT_EQ(g1.sameSubnet.front()->localAddress, Ip("198.18.2.1"));
    EXPECT_EQ(g1.otherSubnet.front()->localAddress, Ip("198.18.1.1")); // arrival order
    EXPECT_EQ(g1.otherSubnet.back()->localAddress, Ip("198.18.5.1"));
    // The same-subnet answer is preferred, though it came later.
    EXPECT_EQ(d.FindByMac(kMac1), g1.sameSubnet.front());
    EXPECT_EQ(d.FindByMac(kMac2)->deviceAddress, Ip("198.18.1.20"));
    const unsigned char other[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_EQ(d.FindByMac(other), nullptr);

    // Only other-subnet answers: the first of them.
    d.m_replies.erase(std::next(d.m_replies.begin(), 2));
    d.GroupByMac();
    EXPECT_EQ(d.FindByMac(kMac1)->localAddress, Ip("198.18.1.1"));
    d.Clear();
    EXPECT_TRUE(d.m_groups.empty());
    EXPECT_TRUE(d.m_replies.empty());
}

TEST(NasDiscovery, ScansTheNetwork)
{
    TestNetwork net;
    CNasDiscovery d;
    d.m_timeout = 400;
    // No usable interface: the protocol's code, lists empty.
    EXPECT_EQ(d.DiscoverAll(), FINDER_ERR_NO_INTERFACE);
    EXPECT_EQ(d.m_status, FINDER_ERR_NO_INTERFACE);

    int lan = net.AddLink({"198.18.1.1/24"});
    // No answers.
    EXPECT_EQ(d.DiscoverAll(), 0);
    EXPECT_EQ(d.m_status, 0);
    EXPECT_TRUE(d.m_replies.empty());
    EXPECT_TRUE(d.m_groups.empty());

    // One device heard over two adapters of the PC: once on its own subnet,
    // once on another.
    net.AddPcAdapter(lan, "198.18.5.1/24");
    Emulator* dev = net.StartEmulator(net.AddHost(lan, "198.18.1.10/24"), Config("NAS-ONE", kMac1));
    // A second device that sits only in another subnet.
    Emulator* far = net.StartEmulator(net.AddHost(lan, "198.18.7.10/24"), Config("NAS-FAR", kMac2));
    ASSERT_TRUE(dev && far);
    ASSERT_EQ(d.DiscoverAll(), 2);
    EXPECT_EQ(d.m_status, 0);
    EXPECT_EQ(d.m_replies.size(), 4u);
    const NasGroup& g = d.m_groups.front().sameSubnet.empty() ? d.m_groups.back() : d.m_groups.front();
    EXPECT_EQ(std::memcmp(g.mac, kMac1, 6), 0);
    ASSERT_EQ(g.sameSubnet.size(), 1u);
    ASSERT_EQ(g.otherSubnet.size(), 1u);
    EXPECT_EQ(g.sameSubnet.front()->localAddress, Ip("198.18.1.1"));
    EXPECT_EQ(g.otherSubnet.front()->localAddress, Ip("198.18.5.1"));
    EXPECT_EQ(d.FindByMac(kMac1), g.sameSubnet.front());
    NasInfo* farRecord = d.FindByMac(kMac2);
    ASSERT_NE(farRecord, nullptr);
    EXPECT_FALSE(farRecord->IsSameSubnet());
    EXPECT_STREQ(farRecord->name, "NAS-FAR");

    // A targeted scan ends at the device's own-subnet answer.
    d.m_timeout = 30000;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(d.DiscoverByMac(kMac1), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    ASSERT_EQ(d.m_groups.size(), 1u);
    EXPECT_EQ(d.m_groups.front().sameSubnet.size(), 1u);
    EXPECT_LE(d.m_replies.size(), 2u);
    EXPECT_TRUE(d.m_replies.back().IsSameSubnet());

    // A failed scan (the protocol is held by another user) leaves nothing behind.
    ASSERT_EQ(FinderInit(), 0);
    EXPECT_EQ(d.DiscoverAll(), FINDER_ERR_ALREADY_INIT);
    EXPECT_EQ(d.m_status, FINDER_ERR_ALREADY_INIT);
    EXPECT_TRUE(d.m_replies.empty());
    EXPECT_TRUE(d.m_groups.empty());
    FinderCleanup();
}
