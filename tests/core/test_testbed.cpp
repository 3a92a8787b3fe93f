// The device emulator's state, control commands and answers, without a network.
#include <gtest/gtest.h>

#include <cstring>

#include "ControlChannel.h"
#include "DeviceCommands.h"
#include "DeviceState.h"
#include "NasFinder.h"
#include "TestSupport.h"
#include "UdpResponder.h"
#include "stdafx.h"

using namespace testbed;

TEST(Testbed, ConfigFileAndSettings)
{
    testsupport::TempDir dir;
    testsupport::WriteFile(dir / "dev.conf", "# a device\nname = Box\nmac = 02:11:22:33:44:55\ndisk1 = -10\n"
                                             "user = admin:pw:15\nuser = bob:b:1\nsnmp_port = 1161\n");
    DeviceState state;
    std::string error;
    ASSERT_TRUE(state.LoadFile((dir / "dev.conf").string(), &error)) << error;
    EXPECT_EQ(state.Get("name"), "Box");
    EXPECT_EQ(state.Get("mac"), "02:11:22:33:44:55");
    EXPECT_EQ(state.Get("disk1"), "-10");
    EXPECT_EQ(state.Get("users"), "admin:15,bob:1");
    EXPECT_EQ(state.Setting("snmp_port"), "1161"); // kept for other services
    EXPECT_EQ(state.Setting("web_port", "80"), "80");

    EXPECT_FALSE(state.Set("mac", "02:11", &error));
    EXPECT_FALSE(state.Set("disk2", "300", &error));
    EXPECT_FALSE(state.Set("user", "nolevel", &error));
    EXPECT_FALSE(state.Set("progress", "1:x", &error));
    EXPECT_FALSE(state.Set("install_status", "", &error));
    EXPECT_FALSE(state.Set("name", std::string(256, 'n'), &error));
    EXPECT_EQ(state.Get("mac"), "02:11:22:33:44:55"); // bad values change nothing

    testsupport::WriteFile(dir / "bad.conf", "name = x\nno equals sign\n");
    EXPECT_FALSE(state.LoadFile((dir / "bad.conf").string(), &error));
    EXPECT_NE(error.find(":2:"), std::string::npos) << error;
}

TEST(Testbed, ControlCommands)
{
    DeviceState state;
    ControlChannel channel;
    RegisterDeviceCommands(channel, state);
    EXPECT_EQ(channel.Execute("ping"), "OK");
    EXPECT_EQ(channel.Execute("set name  Two Words "), "OK");
    EXPECT_EQ(channel.Execute("get name"), "OK Two Words");
    EXPECT_EQ(channel.Execute("set disk1 banana").rfind("ERR", 0), 0u);
    EXPECT_EQ(channel.Execute("fault silent on"), "OK");
    EXPECT_EQ(channel.Execute("fault status 1"), "OK");
    EXPECT_EQ(channel.Execute("fault short x").rfind("ERR", 0), 0u);
    EXPECT_EQ(channel.Execute("fault bogus 1").rfind("ERR", 0), 0u);
    DeviceData d = state.Snapshot();
    EXPECT_TRUE(d.faults.silent);
    EXPECT_EQ(d.faults.status, 1);
    EXPECT_EQ(channel.Execute("fault clear"), "OK");
    EXPECT_FALSE(state.Snapshot().faults.silent);
    EXPECT_EQ(channel.Execute("requests"), "OK 0");
    EXPECT_EQ(channel.Execute("request 0").rfind("ERR", 0), 0u);
    EXPECT_EQ(channel.Execute("nonsense").rfind("ERR", 0), 0u);
    EXPECT_EQ(channel.Execute("").rfind("ERR", 0), 0u);
}

TEST(Testbed, AnswersEveryOpcode)
{
    DeviceState state;
    ASSERT_TRUE(state.Set("mac", "02:00:00:00:00:01"));
    ASSERT_TRUE(state.Set("user", "admin:secret:15"));
    ASSERT_TRUE(state.Set("community", "pub"));
    ASSERT_TRUE(state.Set("disk1", "-2"));
    UdpResponder responder(state);
    const unsigned char mac[6] = {2, 0, 0, 0, 0, 1};
    uint32_t pc = 0;
    ASSERT_TRUE(StringToIp("198.18.1.1", pc));

    unsigned char discover[7] = {0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    std::vector<unsigned char> r = responder.Answer(discover, 7, pc, nullptr);
    ASSERT_GE(r.size(), 15u);
    EXPECT_TRUE(FinderReplyMatches(r.data(), r.size(), 1, 15, pc, mac));
    NasInfo info{};
    ASSERT_TRUE(FinderParseDiscoverReply(r.data(), r.size(), info));
    EXPECT_EQ(info.disk1State, -2);
    EXPECT_STREQ(info.name, "TOLVANE-NAS");
    discover[6] = 0x02; // someone else's MAC
    EXPECT_TRUE(responder.Answer(discover, 7, pc, nullptr).empty());

    unsigned char login[8 + FINDER_PAYLOAD_BUFFER] = {4, 2, 0, 0, 0, 0, 1};
    int n = FinderBuildPayload(reinterpret_cast<char*>(login + 8), pc, "secret");
    login[7] = static_cast<unsigned char>(n);
    r = responder.Answer(login, 8 + static_cast<size_t>(n), pc, nullptr);
    char community[256] = {};
    ASSERT_EQ(FinderParseLoginReply(r.data(), r.size(), community), 0);
    EXPECT_STREQ(community, "pub");
    // A payload length past the datagram gets no answer.
    EXPECT_TRUE(responder.Answer(login, 8 + static_cast<size_t>(n) - 1, pc, nullptr).empty());

    unsigned char setNet[20 + FINDER_PAYLOAD_BUFFER] = {2, 2, 0, 0, 0, 0, 1, 198, 18, 1, 9, 255, 255, 255, 0};
    n = FinderBuildPayload(reinterpret_cast<char*>(setNet + 20), pc, "secret");
    setNet[19] = static_cast<unsigned char>(n);
    UdpResponder::NetworkChange change;
    r = responder.Answer(setNet, 20 + static_cast<size_t>(n), pc, &change);
    ASSERT_EQ(r.size(), 12u);
    EXPECT_EQ(r[11], 0);
    EXPECT_TRUE(change.requested);
    EXPECT_EQ(IpToString(change.ip), "198.18.1.9");

    ASSERT_TRUE(state.Set("progress", "5:1:2"));
    unsigned char progress[7] = {6, 2, 0, 0, 0, 0, 1};
    r = responder.Answer(progress, 7, pc, nullptr);
    unsigned v1 = 0, v2 = 0;
    ASSERT_EQ(r.size(), 20u);
    EXPECT_EQ(FinderParseProgressReply(r.data(), r.size(), &v1, &v2), 5);
    EXPECT_EQ(v2, 2u);
    unsigned char status[7] = {8, 2, 0, 0, 0, 0, 1};
    r = responder.Answer(status, 7, pc, nullptr);
    ASSERT_EQ(r.size(), 12u);
    unsigned char unknown[7] = {42, 2, 0, 0, 0, 0, 1};
    EXPECT_TRUE(responder.Answer(unknown, 7, pc, nullptr).empty());
    EXPECT_TRUE(responder.Answer(status, 3, pc, nullptr).empty());
}
