// The UDP device protocol against the device emulator in a private network.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "Clock.h"
#include "NasFinder.h"
#include "TestNetwork.h"
#include "stdafx.h"

TOLVANE_PRIVATE_NETWORK();

using testsupport::Emulator;
using testsupport::Ip;
using testsupport::TestNetwork;

namespace {

const unsigned char kMac1[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x01};
const unsigned char kMac2[6] = {0x02, 0x00, 0x00, 0x00, 0x00, 0x02};

std::string DeviceConfig(const std::string& name, const unsigned char mac[6], const std::string& more = "")
{
    return "name = " + name + "\nmac = " + MacToString(mac) +
           "\ndisk1 = -2\ndisk2 = 2\nuser = admin:secret:15\nuser = alice:wonder:1\ncommunity = c0mmunity\n" + more;
}

// Closes the table whatever a test leaves behind.
class Finder : public ::testing::Test {
protected:
    void TearDown() override { FinderCleanup(); }

    // The PC on 198.18.1.1/24 and one device with that config at host on the same link.
    Emulator* OneDevice(TestNetwork& net, const std::string& config = DeviceConfig("NAS", kMac1),
                        const char* host = "198.18.1.10/24")
    {
        return net.StartEmulator(net.AddHost(net.AddLink({"198.18.1.1/24"}), host), config);
    }

    // One device on its own link, its record found by discovery and the
    // finder started again for the requests to it: the device, or null once
    // a step failed.
    Emulator* OneFoundDevice(TestNetwork& net, NasInfo& rec, const std::string& config = DeviceConfig("NAS", kMac1))
    {
        Emulator* dev = OneDevice(net, config);
        if (!dev)
            return nullptr;
        rec = Find(kMac1);
        if (FinderInit() != 0) {
            ADD_FAILURE() << "the finder did not start";
            return nullptr;
        }
        return dev;
    }

    // Discovers the device with that MAC (all devices, short wait) and returns its record.
    NasInfo Find(const unsigned char mac[6], int timeoutMs = 400)
    {
        std::list<NasInfo> out;
        EXPECT_EQ(FinderInit(), 0);
        FinderDiscover(out, timeoutMs, nullptr);
        FinderCleanup();
        for (const NasInfo& i : out)
            if (std::memcmp(i.mac, mac, 6) == 0)
                return i;
        ADD_FAILURE() << "device " << MacToString(mac) << " not found";
        return NasInfo{};
    }

    std::vector<std::string> PayloadLines(Emulator* dev, int index)
    {
        std::string decoded = Base64Decode(dev->RequestField(index, "payload"));
        std::vector<std::string> lines;
        size_t start = 0;
        for (;;) {
            size_t nl = decoded.find('\n', start);
            lines.push_back(decoded.substr(start, nl == std::string::npos ? nl : nl - start));
            if (nl == std::string::npos)
                return lines;
            start = nl + 1;
        }
    }
};

// The device re-addresses itself right after its answer; waits for that.
std::vector<std::string> SettledAddresses(TestNetwork& net, int host, const std::string& expected)
{
    std::vector<std::string> now;
    for (int i = 0; i < 500; ++i) {
        now = net.HostAddresses(host);
        if (now == std::vector<std::string>{expected})
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return now;
}

// Real time whose 32-bit tick wraps 100 ms after each Restart.
class WrappingClock : public platform::SystemClock {
public:
    void Restart() { m_offset = int64_t{0xFFFFFFFF} - 100 - platform::SystemClock::TickMs(); }
    int64_t TickMs() override { return platform::SystemClock::TickMs() + m_offset; }

private:
    int64_t m_offset = 0;
};

} // namespace

TEST_F(Finder, InterfaceTableLifecycle)
{
    TestNetwork net;
    // Only loopback: nothing usable, no table.
    EXPECT_EQ(FinderInit(), FINDER_ERR_NO_INTERFACE);
    EXPECT_TRUE(FinderGetInterfaces().empty());
    std::list<NasInfo> out;
    EXPECT_EQ(FinderDiscover(out, 10, nullptr), FINDER_ERR_NOT_INIT);

    // An interface that is down does not count either.
    int lan = net.AddLink({"198.18.1.1/24"});
    testsupport::MustRun("ip link set " + net.LinkInterface(lan) + " down");
    EXPECT_EQ(FinderInit(), FINDER_ERR_NO_INTERFACE);
    testsupport::MustRun("ip link set " + net.LinkInterface(lan) + " up");

    ASSERT_EQ(FinderInit(), FINDER_OK);
    std::list<FinderInterface> table = FinderGetInterfaces();
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table.front().address, Ip("198.18.1.1"));
    EXPECT_EQ(table.front().mask, Ip("255.255.255.0"));
    EXPECT_EQ(FinderInit(), FINDER_ERR_ALREADY_INIT);
    FinderCleanup();
    NasInfo dev{};
    char community[256];
    EXPECT_EQ(FinderQuery(&dev, "x", 10, community), FINDER_ERR_NOT_INIT);
    EXPECT_EQ(FinderPollStatus(&dev, 10), FINDER_ERR_NOT_INIT);

    // Concurrent initialisations: exactly one wins, however they interleave.
    for (int round = 0; round < 3; ++round) {
        std::atomic<int> won{0}, refused{0};
        std::vector<std::thread> threads;
        threads.reserve(8);
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([&] {
                int rc = FinderInit();
                (rc == FINDER_OK ? won : refused)++;
                EXPECT_TRUE(rc == FINDER_OK || rc == FINDER_ERR_ALREADY_INIT) << rc;
            });
        for (std::thread& t : threads)
            t.join();
        EXPECT_EQ(won.load(), 1);
        EXPECT_EQ(refused.load(), 7);
        FinderCleanup();
    }
}

TEST_F(Finder, TwoInterfacesTwoDevicesAndBothGroups)
{
    TestNetwork net;
    int a = net.AddLink({"198.18.1.1/24"});
    int b = net.AddLink({"198.18.2.1/24"});
    Emulator* d1 = net.StartEmulator(net.AddHost(a, "198.18.1.10/24"), DeviceConfig("NAS-ONE", kMac1));
    // The second device listens only to the other group, so both groups must be asked.
    Emulator* d2 = net.StartEmulator(net.AddHost(b, "198.18.2.10/24"),
                                     DeviceConfig(std::string(200, 'N'), kMac2, "answer_groups = 239.255.9.10\n"));
    ASSERT_TRUE(d1 && d2);

    ASSERT_EQ(FinderInit(), 0);
    std::list<NasInfo> out;
    ASSERT_EQ(FinderDiscover(out, 600, nullptr), 2);
    FinderCleanup();
    const NasInfo* r1 = nullptr;
    const NasInfo* r2 = nullptr;
    for (const NasInfo& i : out)
        (std::memcmp(i.mac, kMac1, 6) == 0 ? r1 : r2) = &i;
    ASSERT_TRUE(r1 && r2);
    EXPECT_EQ(r1->deviceAddress, Ip("198.18.1.10"));
    EXPECT_EQ(r1->localAddress, Ip("198.18.1.1"));
    EXPECT_EQ(r1->localMask, Ip("255.255.255.0"));
    EXPECT_STREQ(r1->name, "NAS-ONE");
    EXPECT_EQ(r1->disk1State, -2); // sign-extended
    EXPECT_EQ(r1->disk2State, 2);
    EXPECT_TRUE(r1->IsSameSubnet());
    EXPECT_EQ(std::memcmp(r2->mac, kMac2, 6), 0);
    EXPECT_EQ(r2->deviceAddress, Ip("198.18.2.10"));
    EXPECT_EQ(r2->localAddress, Ip("198.18.2.1"));
    EXPECT_EQ(std::string(r2->name), std::string(200, 'N')); // names past 50 bytes arrive whole
    // Each device heard its request once, on the group it answers.
    EXPECT_EQ(d1->Command("requests"), "OK 1");
    EXPECT_EQ(d1->RequestField(0, "dst"), "224.0.0.1");
    EXPECT_EQ(d1->RequestField(0, "src"), "198.18.1.1");
    EXPECT_EQ(d1->RequestField(0, "mac"), "FF:FF:FF:FF:FF:FF");
    EXPECT_EQ(d2->Command("requests"), "OK 1");
    EXPECT_EQ(d2->RequestField(0, "dst"), "239.255.9.10");
}

TEST_F(Finder, DeviceInAnotherSubnet)
{
    TestNetwork net;
    Emulator* dev = OneDevice(net, DeviceConfig("FAR", kMac1), "198.18.3.10/24");
    ASSERT_TRUE(dev);

    // A targeted discovery of a device that is not on its interface's subnet
    // keeps listening for the whole time-out and keeps the record.
    ASSERT_EQ(FinderInit(), 0);
    std::list<NasInfo> out;
    {
        platform::FastClock fast(5); // time-outs on the program's clock pass 5 times faster
        platform::ScopedClock scoped(fast);
        const int64_t start = platform::TickMs();
        ASSERT_EQ(FinderDiscover(out, 700, kMac1), 1);
        EXPECT_GE(platform::TickMs() - start, 700);
    }
    const NasInfo rec = out.front();
    EXPECT_EQ(rec.deviceAddress, Ip("198.18.3.10"));
    EXPECT_EQ(rec.localAddress, Ip("198.18.1.1"));
    EXPECT_FALSE(rec.IsSameSubnet());

    // A unicast request to it goes to 224.0.0.1 and its answer comes back that way too.
    char community[256] = {};
    ASSERT_EQ(FinderQuery(&rec, "secret", 2000, community), 0);
    EXPECT_STREQ(community, "c0mmunity");
    EXPECT_EQ(dev->RequestField(-1, "dst"), "224.0.0.1");
    EXPECT_EQ(dev->RequestField(-1, "op"), "4");

    // A record whose local network no interface has: -3.
    NasInfo stray = rec;
    stray.localAddress = Ip("198.18.9.1");
    EXPECT_EQ(FinderPollStatus(&stray, 100), FINDER_ERR_NO_INTERFACE);
}

TEST_F(Finder, TargetedDiscoveryStopsOnItsOwnSubnet)
{
    TestNetwork net;
    Emulator* dev = OneDevice(net, DeviceConfig("NEAR", kMac1));
    ASSERT_TRUE(dev);
    ASSERT_EQ(FinderInit(), 0);
    std::list<NasInfo> out;
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(FinderDiscover(out, 30000, kMac1), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(out.front().IsSameSubnet());
    EXPECT_EQ(dev->RequestField(0, "mac"), MacToString(kMac1));
}

TEST_F(Finder, RepliesThatDoNotMatchAreIgnored)
{
    TestNetwork net;
    NasInfo rec;
    Emulator* dev = OneFoundDevice(net, rec);
    ASSERT_TRUE(dev);
    std::list<NasInfo> out;
    char community[256] = "untouched";
    unsigned v1 = 7, v2 = 7;
    // The protocol's own 3 s time-outs, on a clock 10 times faster.
    platform::FastClock fast(10);
    platform::ScopedClock scoped(fast);

    // Another MAC: a targeted discovery keeps nothing; the request runs out.
    ASSERT_TRUE(dev->Ok("fault mac 02:00:00:00:00:99"));
    EXPECT_EQ(FinderDiscover(out, 3000, kMac1), 0);
    EXPECT_EQ(FinderQuery(&rec, "secret", 3000, community), FINDER_ERR_TIMEOUT);
    EXPECT_STREQ(community, "untouched");
    // An untargeted discovery takes the answer as it stands.
    ASSERT_EQ(FinderDiscover(out, 3000, nullptr), 1);
    EXPECT_EQ(MacToString(out.front().mac), "02:00:00:00:00:99");
    ASSERT_TRUE(dev->Ok("fault mac off"));

    // Accepted on another interface's address.
    ASSERT_TRUE(dev->Ok("fault ifaddr 198.18.1.99"));
    EXPECT_EQ(FinderDiscover(out, 3000, nullptr), 0);
    EXPECT_EQ(FinderPollStatus(&rec, 3000), FINDER_ERR_TIMEOUT);
    ASSERT_TRUE(dev->Ok("fault ifaddr off"));

    // Datagrams one byte short of each reply's minimum.
    ASSERT_TRUE(dev->Ok("fault short 14"));
    EXPECT_EQ(FinderDiscover(out, 3000, nullptr), 0);
    ASSERT_TRUE(dev->Ok("fault short 12"));
    EXPECT_EQ(FinderQuery(&rec, "secret", 3000, community), FINDER_ERR_TIMEOUT);
    EXPECT_EQ(FinderQuery2(&rec, "alice", "wonder", 3000, community), FINDER_ERR_TIMEOUT);
    ASSERT_TRUE(dev->Ok("fault short 11"));
    EXPECT_EQ(FinderSetNetwork(&rec, 0, 0, 0, "secret", 3000), FINDER_ERR_TIMEOUT);
    EXPECT_EQ(FinderPollStatus(&rec, 3000), FINDER_ERR_TIMEOUT);
    ASSERT_TRUE(dev->Ok("fault short 19"));
    EXPECT_EQ(FinderGetProgress(&rec, &v1, &v2, 3000), FINDER_ERR_TIMEOUT);
    ASSERT_TRUE(dev->Ok("fault short off"));

    // Silence.
    ASSERT_TRUE(dev->Ok("fault silent on"));
    EXPECT_EQ(FinderDiscover(out, 3000, nullptr), 0);
    EXPECT_EQ(FinderSetNetwork(&rec, 0, 0, 0, "secret", 3000), FINDER_ERR_TIMEOUT);
    ASSERT_TRUE(dev->Ok("fault clear"));
    EXPECT_EQ(FinderQuery(&rec, "secret", 2000, community), 0);
    EXPECT_STREQ(community, "c0mmunity");
}

TEST_F(Finder, RepliesFromAnotherHostAreRefused)
{
    TestNetwork net;
    int lan = net.AddLink({"198.18.1.1/24"});
    Emulator* dev = net.StartEmulator(net.AddHost(lan, "198.18.1.10/24"), DeviceConfig("NAS", kMac1));
    ASSERT_TRUE(dev);
    int rogue = net.AddHost(lan, "198.18.1.20/24");
    NasInfo rec = Find(kMac1);
    ASSERT_EQ(FinderInit(), 0);

    // The rogue host floods the PC with every kind of reply, in the device's
    // name and accepted on the PC's interface, from its own address.
    int fd = net.UdpSocketInHost(rogue);
    ASSERT_GE(fd, 0);
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread flood([&] {
        const std::string evil = Base64Encode(std::string("evil"));
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(FINDER_LOCAL_PORT);
        to.sin_addr.s_addr = Ip("198.18.1.1");
        while (!stop) {
            for (unsigned char op : {3, 5, 7, 9, 11}) {
                unsigned char r[32] = {op};
                std::memcpy(r + 1, kMac1, 6);
                std::memcpy(r + 7, &to.sin_addr.s_addr, 4);
                r[12] = static_cast<unsigned char>(evil.size());
                std::copy(evil.begin(), evil.end(), r + 13);
                if (sendto(fd, r, sizeof r, 0, reinterpret_cast<sockaddr*>(&to), sizeof to) == sizeof r)
                    ++sent;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    char community[256] = "untouched";
    unsigned v1 = 7, v2 = 7;

    platform::FastClock fast(5);
    platform::ScopedClock scoped(fast);
    // The device silent: nothing is taken.
    ASSERT_TRUE(dev->Ok("fault silent on"));
    EXPECT_EQ(FinderQuery(&rec, "secret", 300, community), FINDER_ERR_TIMEOUT);
    EXPECT_EQ(FinderQuery2(&rec, "alice", "wonder", 300, community), FINDER_ERR_TIMEOUT);
    EXPECT_STREQ(community, "untouched");
    EXPECT_EQ(FinderSetNetwork(&rec, 0, 0, 0, "secret", 300), FINDER_ERR_TIMEOUT);
    EXPECT_EQ(FinderGetProgress(&rec, &v1, &v2, 300), FINDER_ERR_TIMEOUT);
    EXPECT_EQ(FinderPollStatus(&rec, 300), FINDER_ERR_TIMEOUT);
    // The device answering after the rogue: the device's answer counts.
    ASSERT_TRUE(dev->Ok("fault silent off"));
    ASSERT_TRUE(dev->Ok("fault delay 100"));
    EXPECT_EQ(FinderQuery(&rec, "secret", 2000, community), 0);
    EXPECT_STREQ(community, "c0mmunity");
    stop = true;
    flood.join();
    close(fd);
    EXPECT_GT(sent.load(), 20);
}

TEST_F(Finder, UndecodableCommunityAndOverlongRepliesAreRefused)
{
    TestNetwork net;
    NasInfo rec;
    Emulator* dev = OneFoundDevice(net, rec);
    ASSERT_TRUE(dev);
    char community[256] = "untouched";

    ASSERT_TRUE(dev->Ok("fault text c0mmunity!"));
    EXPECT_EQ(FinderQuery(&rec, "secret", 2000, community), FINDER_ERR_BAD_REPLY);
    EXPECT_EQ(FinderQuery2(&rec, "alice", "wonder", 2000, community), FINDER_ERR_BAD_REPLY);
    EXPECT_STREQ(community, "untouched");
    ASSERT_TRUE(dev->Ok("fault text off"));

    // A reply of 64 KB is no short reply with a tail cut off.
    platform::FastClock fast(5);
    platform::ScopedClock scoped(fast);
    ASSERT_TRUE(dev->Ok("fault pad 65000"));
    std::list<NasInfo> out;
    EXPECT_EQ(FinderDiscover(out, 300, nullptr), 0);
    EXPECT_EQ(FinderQuery(&rec, "secret", 300, community), FINDER_ERR_TIMEOUT);
    EXPECT_EQ(FinderPollStatus(&rec, 300), FINDER_ERR_TIMEOUT);
    EXPECT_STREQ(community, "untouched");
    // A reply that fills its buffer exactly still counts.
    ASSERT_TRUE(dev->Ok("fault pad off"));
    EXPECT_GE(FinderPollStatus(&rec, 2000), 0);
}

TEST_F(Finder, TickWrapDoesNotEndAWaitEarly)
{
    TestNetwork net;
    NasInfo rec;
    Emulator* dev = OneFoundDevice(net, rec);
    ASSERT_TRUE(dev);
    // The tick wraps 100 ms into each wait; the answers come 500 ms in.
    ASSERT_TRUE(dev->Ok("fault delay 500"));
    WrappingClock wrapping;
    platform::ScopedClock scoped(wrapping);
    char community[256] = {};
    wrapping.Restart();
    EXPECT_EQ(FinderQuery(&rec, "secret", 3000, community), 0);
    EXPECT_STREQ(community, "c0mmunity");
    std::list<NasInfo> out;
    wrapping.Restart();
    EXPECT_EQ(FinderDiscover(out, 1500, nullptr), 1);
}

TEST_F(Finder, LoginsSendTheirLinesAndDecodeTheCommunity)
{
    TestNetwork net;
    NasInfo rec;
    Emulator* dev = OneFoundDevice(net, rec);
    ASSERT_TRUE(dev);
    ASSERT_TRUE(dev->Ok("requests clear"));
    char community[256] = {};

    ASSERT_EQ(FinderQuery(&rec, "secret", 2000, community), 0);
    EXPECT_STREQ(community, "c0mmunity");
    EXPECT_EQ(dev->RequestField(0, "op"), "4");
    EXPECT_EQ(dev->RequestField(0, "dst"), "198.18.1.10");
    EXPECT_EQ(PayloadLines(dev, 0), (std::vector<std::string>{"198.18.1.1", "secret"}));

    std::memset(community, 0, sizeof community);
    ASSERT_EQ(FinderQuery2(&rec, "alice", "wonder", 2000, community), 0);
    EXPECT_STREQ(community, "c0mmunity");
    EXPECT_EQ(dev->RequestField(1, "op"), "10");
    EXPECT_EQ(PayloadLines(dev, 1), (std::vector<std::string>{"198.18.1.1", "alice", "wonder"}));

    // Refusals: a wrong password, and status 1 whatever was sent.
    EXPECT_EQ(FinderQuery(&rec, "wrong", 2000, community), FINDER_ERR_REFUSED);
    EXPECT_EQ(FinderQuery2(&rec, "alice", "secret", 2000, community), FINDER_ERR_REFUSED);
    ASSERT_TRUE(dev->Ok("fault status 1"));
    EXPECT_EQ(FinderQuery(&rec, "secret", 2000, community), FINDER_ERR_REFUSED);
    EXPECT_EQ(FinderSetNetwork(&rec, 0, 0, 0, "secret", 2000), FINDER_ERR_REFUSED);
    ASSERT_TRUE(dev->Ok("fault clear"));

    // The joined lines may hold 127 bytes: "198.18.1.1\n" is 11, so 116 password bytes still go.
    ASSERT_TRUE(dev->Ok("requests clear"));
    EXPECT_EQ(FinderQuery(&rec, std::string(116, 'p').c_str(), 2000, community), FINDER_ERR_REFUSED);
    EXPECT_EQ(PayloadLines(dev, 0), (std::vector<std::string>{"198.18.1.1", std::string(116, 'p')}));
    // One more byte, or a long user name, is refused before anything is sent.
    EXPECT_EQ(FinderQuery(&rec, std::string(117, 'p').c_str(), 2000, community), FINDER_ERR_TOO_LONG);
    EXPECT_EQ(FinderQuery2(&rec, std::string(300, 'u').c_str(), "x", 2000, community), FINDER_ERR_TOO_LONG);
    EXPECT_EQ(FinderSetNetwork(&rec, 0, 0, 0, std::string(200, 'p').c_str(), 2000), FINDER_ERR_TOO_LONG);
    EXPECT_EQ(dev->Command("requests"), "OK 1");
}

TEST_F(Finder, ProgressAndInstallStatus)
{
    TestNetwork net;
    NasInfo rec;
    Emulator* dev = OneFoundDevice(net, rec,
                                   DeviceConfig("NAS", kMac1,
                                                "progress = 1:50:200, 3:16909060:4294967295\n"
                                                "install_status = 3, 2, 0\n"));
    ASSERT_TRUE(dev);
    unsigned done = 0, total = 0;
    EXPECT_EQ(FinderGetProgress(&rec, &done, &total, 2000), 1);
    EXPECT_EQ(done, 50u);
    EXPECT_EQ(total, 200u);
    EXPECT_EQ(FinderGetProgress(&rec, &done, &total, 2000), 3);
    EXPECT_EQ(done, 0x01020304u); // big-endian on the wire
    EXPECT_EQ(total, 0xFFFFFFFFu);
    ASSERT_TRUE(dev->Ok("set progress 255:0:0"));
    EXPECT_EQ(FinderGetProgress(&rec, &done, &total, 2000), 255);
    EXPECT_EQ(FinderPollStatus(&rec, 2000), 3);
    EXPECT_EQ(FinderPollStatus(&rec, 2000), 2);
    EXPECT_EQ(FinderPollStatus(&rec, 2000), 0);
    EXPECT_EQ(FinderPollStatus(&rec, 2000), 0);
    // The status byte is the result, even 1 (no refusal meaning here).
    ASSERT_TRUE(dev->Ok("fault status 1"));
    EXPECT_EQ(FinderPollStatus(&rec, 2000), 1);
    EXPECT_EQ(FinderGetProgress(&rec, &done, &total, 2000), 1);
}

TEST_F(Finder, SetNetworkReaddressesTheDevice)
{
    TestNetwork net;
    int lan = net.AddLink({"198.18.1.1/24"});
    // In another subnet; DHCP on this link would give it 198.18.1.77.
    int host = net.AddHost(lan, "198.18.4.10/24");
    Emulator* dev = net.StartEmulator(
        host, DeviceConfig("NAS", kMac1, "apply_network = 1\ndhcp_address = 198.18.1.77\ndhcp_mask = 255.255.255.0\n"));
    ASSERT_TRUE(dev);
    NasInfo rec = Find(kMac1);
    ASSERT_FALSE(rec.IsSameSubnet());

    ASSERT_EQ(FinderInit(), 0);
    EXPECT_EQ(FinderSetNetwork(&rec, 0, 0, 0, "wrong", 2000), FINDER_ERR_REFUSED);
    EXPECT_EQ(net.HostAddresses(host), std::vector<std::string>{"198.18.4.10/24"});
    ASSERT_EQ(FinderSetNetwork(&rec, 0, 0, 0, "secret", 2000), 0);
    EXPECT_EQ(dev->RequestField(-1, "ip"), "0.0.0.0");
    EXPECT_EQ(PayloadLines(dev, -1), (std::vector<std::string>{"198.18.1.1", "secret"}));
    FinderCleanup();
    EXPECT_EQ(SettledAddresses(net, host, "198.18.1.77/24"), std::vector<std::string>{"198.18.1.77/24"});
    rec = Find(kMac1);
    EXPECT_EQ(rec.deviceAddress, Ip("198.18.1.77"));
    EXPECT_TRUE(rec.IsSameSubnet());

    // A static address, by unicast now.
    ASSERT_EQ(FinderInit(), 0);
    ASSERT_EQ(FinderSetNetwork(&rec, Ip("198.18.1.20"), Ip("255.255.255.0"), Ip("198.18.1.254"), "secret", 2000), 0);
    EXPECT_EQ(dev->RequestField(-1, "dst"), "198.18.1.77");
    EXPECT_EQ(dev->RequestField(-1, "gateway"), "198.18.1.254");
    FinderCleanup();
    EXPECT_EQ(SettledAddresses(net, host, "198.18.1.20/24"), std::vector<std::string>{"198.18.1.20/24"});
    EXPECT_EQ(dev->Get("address"), "198.18.1.20");
    EXPECT_EQ(Find(kMac1).deviceAddress, Ip("198.18.1.20"));

    // A device that does not answer: even a DHCP request ends in -5.
    platform::FastClock fast(5);
    platform::ScopedClock scoped(fast);
    ASSERT_TRUE(dev->Ok("fault silent on"));
    ASSERT_EQ(FinderInit(), 0);
    rec.deviceAddress = Ip("198.18.1.20");
    EXPECT_EQ(FinderSetNetwork(&rec, 0, 0, 0, "secret", 300), FINDER_ERR_TIMEOUT);
}

TEST(FinderPayload, JoinsLinesAndRefusesLongText)
{
    char out[FINDER_PAYLOAD_BUFFER];
    uint32_t ip = 0;
    ASSERT_TRUE(StringToIp("198.18.0.1", ip));
    int n = FinderBuildPayload(out, ip, "pw");
    EXPECT_EQ(n, static_cast<int>(std::strlen(out)));
    EXPECT_EQ(Base64Decode(std::string(out)), "198.18.0.1\npw");
    n = FinderBuildPayload2(out, ip, "bob", nullptr);
    EXPECT_EQ(Base64Decode(std::string(out, static_cast<size_t>(n))), "198.18.0.1\nbob\n");
    // 11 + 116 = 127 bytes fit exactly; their Base64 fills the buffer but its NUL.
    n = FinderBuildPayload(out, ip, std::string(116, 'x').c_str());
    EXPECT_EQ(n, 172);
    std::strcpy(out, "keep");
    EXPECT_EQ(FinderBuildPayload(out, ip, std::string(117, 'x').c_str()), FINDER_ERR_TOO_LONG);
    EXPECT_STREQ(out, "keep");
}

TEST(FinderParse, RepliesAreReadWithinTheirBytes)
{
    uint32_t ifAddr = htonl(0xC6120101);
    unsigned char r[64] = {5, 2, 0, 0, 0, 0, 1};
    std::memcpy(r + 7, &ifAddr, 4);
    EXPECT_TRUE(FinderReplyMatches(r, 13, 5, 13, ifAddr, kMac1));
    EXPECT_FALSE(FinderReplyMatches(r, 12, 5, 13, ifAddr, kMac1));
    EXPECT_FALSE(FinderReplyMatches(r, 13, 7, 13, ifAddr, kMac1));
    EXPECT_FALSE(FinderReplyMatches(r, 13, 5, 13, ifAddr + 1, kMac1));
    EXPECT_FALSE(FinderReplyMatches(r, 13, 5, 13, ifAddr, kMac2));
    EXPECT_TRUE(FinderReplyMatches(r, 13, 5, 13, ifAddr, nullptr));

    // Login text: bounded by the datagram; a text that does not decode leaves the buffer.
    char community[256] = "before";
    r[11] = 0;
    r[12] = 8;
    std::memcpy(r + 13, "YWJjZA==", 8);
    EXPECT_EQ(FinderParseLoginReply(r, 21, community), 0);
    EXPECT_STREQ(community, "abcd");
    std::strcpy(community, "before");
    EXPECT_EQ(FinderParseLoginReply(r, 17, community), 0); // "YWJj" only
    EXPECT_STREQ(community, "abc");
    std::strcpy(community, "before");
    r[13] = '*';
    EXPECT_EQ(FinderParseLoginReply(r, 21, community), FINDER_ERR_BAD_REPLY);
    EXPECT_STREQ(community, "before");
    r[11] = 1;
    EXPECT_EQ(FinderParseLoginReply(r, 21, community), FINDER_ERR_REFUSED);

    // Discovery: name length larger than what arrived.
    unsigned char d[20] = {1, 2, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0xFE, 0x80, 200, 'A', 'B', 'C'};
    NasInfo info{};
    ASSERT_TRUE(FinderParseDiscoverReply(d, 17, info));
    EXPECT_STREQ(info.name, "ABC");
    EXPECT_EQ(info.disk1State, -2);
    EXPECT_EQ(info.disk2State, -128);
    EXPECT_FALSE(FinderParseDiscoverReply(d, 14, info));
}
