// The emulated device on UDP 161 in its private network: net-snmp's tools
// read and change its tables, the users and disks its SNMP tables show are
// the ones its UDP service uses, it answers only the community it hands out,
// and it keeps answering after it moved to another address. Beside it,
// CSnmpEngine against Debian's own snmpd in the same kind of network.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "EmulatedNas.h"
#include "NasFinder.h"
#include "NasMib.h"
#include "SnmpHelpers.h"
#include "TestNetwork.h"
#include "stdafx.h"

TOLVANE_PRIVATE_NETWORK();

using testsupport::EmulatedNas;
using testsupport::Ip;
using testsupport::TestNetwork;

namespace {

const char kConfig[] = "name = LAB-NAS\n"
                       "community = c0mm\n"
                       "user = admin:secret:15\n"
                       "user = alice:wonder:1:staff,\n"
                       "user = bob:builder:1\n"
                       "folder = 1:public\n"
                       "folder = 3:media:HDD2:2:alice,@staff,:alice,\n"
                       "folder = 4:backup\n";

} // namespace

TEST(EmulatorSnmp, DefaultDeviceIsReadyWithAnAdminLogin)
{
    EmulatedNas nas("");
    ASSERT_TRUE(nas.Started());
    NasInfo info = nas.Find();
    EXPECT_EQ(info.disk1State, 2);
    EXPECT_EQ(info.disk2State, 2);
    EXPECT_STREQ(info.name, "TOLVANE-NAS");
    std::string community;
    ASSERT_EQ(nas.Login("admin", "admin", &community), 0);
    EXPECT_EQ(nas.Login("admin", "nimda"), FINDER_ERR_REFUSED);

    // The web port the SNMP object reports is the one the server listens on.
    int status = -1;
    std::string out = nas.Tool("snmpget", community,
                               std::string(nasmib::kWebPort) + " " + NasCell(nasmib::kDiskStatus, "1") + " " +
                                   NasCell(nasmib::kUserLevel, "1") + " " + nasmib::kLanInfo,
                               &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find(".1.3.6.1.2.1.20.11.0 = INTEGER: 80\n"), std::string::npos) << out;
    EXPECT_NE(out.find(".1.3.6.1.2.1.21.1.1.10.1 = INTEGER: 2\n"), std::string::npos) << out;
    EXPECT_NE(out.find(".1.3.6.1.2.1.26.1.1.8.1 = INTEGER: 15\n"), std::string::npos) << out;
    EXPECT_NE(out.find("STRING: \"198.18.1.10/255.255.255.0\""), std::string::npos) << out;
    EXPECT_EQ(nas.dev->Command("web port"), "OK 80");
    EXPECT_EQ(nas.dev->Command("snmp port"), "OK 161");

    std::string help =
        testsupport::RunCommand((testsupport::BinDir() / "tolvane-testbed").string() + " --help", &status);
    EXPECT_EQ(status, 0);
    for (const char* option : {"--snmp-port", "--web-port", "--no-web", "format_ms", "package_file", "reboot_ms"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

TEST(EmulatorSnmp, ToolsReadAndChangeTheTables)
{
    EmulatedNas nas(kConfig);
    ASSERT_TRUE(nas.Started());
    std::string community;
    ASSERT_EQ(nas.Login("admin", "secret", &community), 0);
    EXPECT_EQ(community, "c0mm");

    int status = -1;
    std::string out = nas.Tool("snmpget", community,
                               std::string(nasmib::kDeviceName) + " " + NasCell(nasmib::kUserName, "2") + " " +
                                   NasCell(nasmib::kUserGroupMember, "2"),
                               &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, ".1.3.6.1.2.1.19.1.0 = STRING: \"LAB-NAS\"\n"
                   ".1.3.6.1.2.1.26.1.1.2.2 = STRING: \"alice\"\n"
                   ".1.3.6.1.2.1.26.1.1.5.2 = STRING: \"staff,\"\n");

    out = nas.Tool("snmpwalk", community, nasmib::kFolderShareName, &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, ".1.3.6.1.2.1.21.5.1.5.1 = STRING: \"public\"\n"
                   ".1.3.6.1.2.1.21.5.1.5.3 = STRING: \"media\"\n"
                   ".1.3.6.1.2.1.21.5.1.5.4 = STRING: \"backup\"\n");
    out = nas.Tool("snmpwalk", community, NasCell(nasmib::kFolderReadList, "3"), &status);
    EXPECT_EQ(out, ".1.3.6.1.2.1.21.5.1.10.3 = STRING: \"alice,@staff,\"\n");

    // Another community, or version 2c, gets no answer.
    out = nas.Tool("snmpget", "public", nasmib::kDeviceName, &status, EmulatedNas::kQuickTool);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("Timeout"), std::string::npos) << out;
    // A new community takes effect at once, for the logins and the agent.
    ASSERT_TRUE(nas.dev->Ok("set community n3w"));
    ASSERT_EQ(nas.Login("admin", "secret", &community), 0);
    EXPECT_EQ(community, "n3w");
    out = nas.Tool("snmpget", "c0mm", nasmib::kDeviceName, &status, EmulatedNas::kQuickTool);
    EXPECT_NE(out.find("Timeout"), std::string::npos) << out;
    out = nas.Tool("snmpget", "n3w", nasmib::kDeviceName, &status);
    EXPECT_EQ(status, 0) << out;

    // snmpset changes the tables; the control channel sees the result.
    out = nas.Tool("snmpset", community, NasCell(nasmib::kFolderWriteList, "4") + " s 'bob,'", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(nas.dev->Command("mib get " + NasCell(nasmib::kFolderWriteList, "4")), "OK s bob,");
    out = nas.Tool("snmpset", community, NasCell(nasmib::kFolderRowStatus, "3") + " i 6", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(nas.dev->Command(std::string("mib rows ") + nasmib::kFolderShareName), "OK 1,4");
    out = nas.Tool("snmpset", community, std::string(nasmib::kDiskMode) + " s 1", &status);
    EXPECT_NE(out.find("badValue"), std::string::npos) << out;
}

TEST(EmulatorSnmp, UsersAndDisksAreOneTableForEveryService)
{
    EmulatedNas nas(kConfig);
    ASSERT_TRUE(nas.Started());
    std::string community;
    ASSERT_EQ(nas.Login("admin", "secret", &community), 0);
    int status = -1;

    // A password changed over SNMP is the one the UDP login checks.
    std::string out = nas.Tool("snmpset", community, NasCell(nasmib::kUserPassword, "3") + " s 'b0b+%&'", &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(nas.Login("bob", "b0b+%&"), 0);
    EXPECT_EQ(nas.Login("bob", "builder"), FINDER_ERR_REFUSED);
    // So is the administrator's.
    out = nas.Tool("snmpset", community, NasCell(nasmib::kUserPassword, "1") + " s 'Kj\xC3\xB8ler'", &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(nas.Login("admin", "Kj\xC3\xB8ler"), 0);
    EXPECT_EQ(nas.Login("admin", "secret"), FINDER_ERR_REFUSED);
    // A removed row is a removed user.
    out = nas.Tool("snmpset", community, NasCell(nasmib::kUserRowStatus, "2") + " i 6", &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_EQ(nas.Login("alice", "wonder"), FINDER_ERR_REFUSED);
    // A user added by the control channel has a row in the table.
    ASSERT_TRUE(nas.dev->Ok("set user carol:c4rol:1"));
    out = nas.Tool("snmpwalk", community, nasmib::kUserName, &status);
    EXPECT_EQ(out, ".1.3.6.1.2.1.26.1.1.2.1 = STRING: \"admin\"\n"
                   ".1.3.6.1.2.1.26.1.1.2.3 = STRING: \"bob\"\n"
                   ".1.3.6.1.2.1.26.1.1.2.4 = STRING: \"carol\"\n");
    EXPECT_EQ(nas.Login("carol", "c4rol"), 0);
    EXPECT_EQ(nas.dev->Get("users"), "admin:15,bob:1,carol:1");

    // Disk states: SNMP, discovery bytes and the control channel agree.
    out = nas.Tool("snmpset", community, NasCell(nasmib::kDiskStatus, "2") + " i -2", &status);
    ASSERT_EQ(status, 0) << out;
    NasInfo info = nas.Find();
    EXPECT_EQ(info.disk1State, 2);
    EXPECT_EQ(info.disk2State, -2);
    EXPECT_EQ(nas.dev->Get("disk2"), "-2");
    ASSERT_TRUE(nas.dev->Ok("set disk1 1"));
    int d1 = 0, d2 = 0;
    EXPECT_EQ(GetDiskStatus(EmulatedNas::kAddress, community, &d1, &d2), 0);
    EXPECT_EQ(d1, 1);
    EXPECT_EQ(d2, -2);
    EXPECT_EQ(nas.Find().disk1State, 1);
    // The device name too.
    out = nas.Tool("snmpset", community, std::string(nasmib::kDeviceName) + " s RENAMED", &status);
    ASSERT_EQ(status, 0) << out;
    EXPECT_STREQ(nas.Find().name, "RENAMED");
}

TEST(EmulatorSnmp, AgentFaultSwitchesFromTheControlChannel)
{
    EmulatedNas nas("community = c0mm\n");
    ASSERT_TRUE(nas.Started());
    CSnmpEngine engine = nas.Engine("c0mm");
    std::string value;
    ASSERT_EQ(engine.SimpleGet(nasmib::kDeviceName, value), 0);
    ASSERT_TRUE(nas.dev->Ok("snmp drop 1"));
    EXPECT_EQ(engine.SimpleGet(nasmib::kDeviceName, value), SNMP_ENGINE_TIMEOUT);
    EXPECT_EQ(engine.SimpleGet(nasmib::kDeviceName, value), 0);
    ASSERT_TRUE(nas.dev->Ok(std::string("snmp nosuchname ") + nasmib::kUserEntry));
    EXPECT_EQ(engine.SimpleGet(NasCell(nasmib::kUserName, "1"), value), SNMP_ENGINE_NO_SUCH_NAME);
    ASSERT_TRUE(nas.dev->Ok("snmp fail 1"));
    EXPECT_EQ(engine.SimpleGet(nasmib::kDeviceName, value), SNMP_ENGINE_NO_SUCH_NAME);
    ASSERT_TRUE(nas.dev->Ok("snmp clear"));
    EXPECT_EQ(engine.SimpleGet(NasCell(nasmib::kUserName, "1"), value), 0);
    ASSERT_TRUE(nas.dev->Ok("snmp silent on"));
    EXPECT_EQ(engine.SimpleGet(nasmib::kDeviceName, value), SNMP_ENGINE_TIMEOUT);
    ASSERT_TRUE(nas.dev->Ok("snmp silent off"));
    EXPECT_EQ(engine.SimpleGet(nasmib::kDeviceName, value), 0);
    EXPECT_EQ(nas.dev->Command("snmp bogus").rfind("ERR", 0), 0u);
    EXPECT_EQ(nas.dev->Command("mib get 1.3.6.1.2.1.19.77.0"), "ERR no such object");
    EXPECT_TRUE(nas.dev->Ok("mib set 1.3.6.1.2.1.19.77.0 i 42"));
    EXPECT_EQ(engine.SimpleGet("1.3.6.1.2.1.19.77.0", value), 0);
    EXPECT_EQ(value, "42");
    EXPECT_TRUE(nas.dev->Ok("mib del 1.3.6.1.2.1.19.77.0"));
    EXPECT_EQ(engine.SimpleGet("1.3.6.1.2.1.19.77.0", value), SNMP_ENGINE_NO_SUCH_NAME);
}

TEST(EmulatorSnmp, AgentFollowsTheDeviceToItsNewAddress)
{
    TestNetwork net;
    int lan = net.AddLink({"198.18.1.1/24"});
    int host = net.AddHost(lan, "198.18.4.10/24");
    testsupport::Emulator* dev = net.StartEmulator(host, "apply_network = 1\ncommunity = c0mm\n");
    ASSERT_TRUE(dev);
    std::list<NasInfo> found;
    ASSERT_EQ(FinderInit(), 0);
    ASSERT_EQ(FinderDiscover(found, 400, nullptr), 1);
    NasInfo rec = found.front();
    EXPECT_FALSE(rec.IsSameSubnet());
    ASSERT_EQ(FinderSetNetwork(&rec, Ip("198.18.1.30"), Ip("255.255.255.0"), Ip("198.18.1.1"), "admin", 2000), 0);
    FinderCleanup();

    // Once moved, the agent answers at the new address and reports it.
    CSnmpEngine engine;
    engine.SetAddress("198.18.1.30");
    engine.SetReadCommunity("c0mm");
    engine.SetWriteCommunity("c0mm");
    engine.SetTimeout(50);
    engine.SetRetries(0);
    std::string lan1;
    int rc = -1;
    for (int i = 0; i < 40 && rc != 0; ++i)
        rc = engine.SimpleGet(nasmib::kLanInfo, lan1);
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(lan1, "198.18.1.30/255.255.255.0");
    ASSERT_EQ(FinderInit(), 0);
    found.clear();
    ASSERT_EQ(FinderDiscover(found, 400, nullptr), 1);
    EXPECT_TRUE(found.front().IsSameSubnet());
    FinderCleanup();

    // A device told to stay where it is answers and does not move.
    ASSERT_TRUE(dev->Ok("set ignore_network 1"));
    rec = found.front();
    ASSERT_EQ(FinderInit(), 0);
    ASSERT_EQ(FinderSetNetwork(&rec, Ip("198.18.1.40"), Ip("255.255.255.0"), Ip("198.18.1.1"), "admin", 2000), 0);
    FinderCleanup();
    EXPECT_EQ(net.HostAddresses(host), std::vector<std::string>{"198.18.1.30/24"});
    EXPECT_EQ(dev->Get("address"), "198.18.1.30");
}

// Debian's snmpd inside a host of the private network, on UDP 161 of its
// address, with a private configuration: community "tolvro" reads,
// "tolvrw" reads and writes; its persistent files go to a temporary folder.
TEST(EngineAgainstSnmpd, ReadsWalksAndSetsARealAgent)
{
    TestNetwork net;
    int lan = net.AddLink({"198.18.1.1/24"});
    int host = net.AddHost(lan, "198.18.1.20/24");
    const testsupport::TempDir& dir = net.Dir();
    std::filesystem::create_directories(dir / "state");
    testsupport::WriteFile(dir / "snmpd.conf", "rocommunity tolvro 198.18.1.0/24\n"
                                               "rwcommunity tolvrw 198.18.1.0/24\n");
    pid_t snmpd = net.SpawnInHost(host,
                                  {"snmpd", "-f", "-C", "-c", (dir / "snmpd.conf").string(), "-Lf",
                                   (dir / "snmpd.log").string(), "-M", "/nonexistent", "udp:198.18.1.20:161"},
                                  dir / "snmpd.out", {"SNMP_PERSISTENT_DIR=" + (dir / "state").string()});
    auto engineFor = [](const std::string& community) {
        CSnmpEngine engine; // the standard port 161
        engine.SetAddress("198.18.1.20");
        engine.SetReadCommunity(community);
        engine.SetWriteCommunity(community);
        engine.SetTimeout(100);
        engine.SetRetries(1);
        return engine;
    };
    CSnmpEngine engine = engineFor("tolvrw");
    EXPECT_EQ(engine.GetPort(), 161);
    std::string descr;
    int rc = -1;
    for (int i = 0; i < 50 && rc != 0; ++i) {
        CSnmpEngine probe = engineFor("tolvro");
        probe.SetTimeout(10);
        probe.SetRetries(0);
        rc = probe.SimpleGet("1.3.6.1.2.1.1.1.0", descr);
    }
    ASSERT_EQ(rc, 0) << testsupport::ReadFile(dir / "snmpd.log") << testsupport::ReadFile(dir / "snmpd.out");
    EXPECT_FALSE(descr.empty());

    // Walk of the system group: OID values dotted, TimeTicks in decimal.
    std::string current = "1.3.6.1.2.1.1";
    char next[128], value[512];
    int rows = 0;
    std::string objectId, upTime;
    while ((rc = engine.GetNext(current.c_str(), next, sizeof next, value, sizeof value, "1.3.6.1.2.1.1")) == 0) {
        current = next;
        if (current == "1.3.6.1.2.1.1.2.0")
            objectId = value;
        if (current == "1.3.6.1.2.1.1.3.0")
            upTime = value;
        ++rows;
    }
    EXPECT_EQ(rc, 1);
    EXPECT_GE(rows, 7);
    EXPECT_EQ(objectId.rfind("1.3.6.1.4.1.", 0), 0u) << objectId;
    EXPECT_FALSE(upTime.empty());
    EXPECT_EQ(upTime.find_first_not_of("0123456789"), std::string::npos) << upTime;

    // Sets: the type learnt first, UTF-8 kept, a refused SET told apart.
    EXPECT_EQ(engine.SimpleSet("1.3.6.1.2.1.1.4.0", "ops@tolvane.test"), 0);
    const std::string place = "Kj\xC3\xB8ller lab";
    EXPECT_EQ(engine.SimpleSet("1.3.6.1.2.1.1.6.0", place.c_str()), 0);
    EXPECT_EQ(engine.SetTyped(sNMP_SYNTAX_OCTETS, "1.3.6.1.2.1.1.5.0", "nas-lab"), 0);
    std::list<std::string> oids{"1.3.6.1.2.1.1.4.0", "1.3.6.1.2.1.1.6.0", "1.3.6.1.2.1.1.5.0"}, values;
    EXPECT_EQ(engine.MultiGet(oids, values), 0);
    EXPECT_EQ(values, (std::list<std::string>{"ops@tolvane.test", place, "nas-lab"}));
    EXPECT_EQ(engine.SetTyped(sNMP_SYNTAX_INT, "1.3.6.1.2.1.1.4.0", "5"), 3); // badValue

    // The read-only community: GET works, SET is refused (noSuchName in v1).
    CSnmpEngine reader = engineFor("tolvro");
    EXPECT_EQ(reader.SimpleSet("1.3.6.1.2.1.1.4.0", "nobody"), 2);
    std::string contact;
    EXPECT_EQ(reader.SimpleGet("1.3.6.1.2.1.1.4.0", contact), 0);
    EXPECT_EQ(contact, "ops@tolvane.test");
    EXPECT_EQ(reader.SimpleGet("1.3.6.1.2.1.1.99.0", contact), 2);
    net.EndInHost(snmpd);
    reader.SetTimeout(10);
    reader.SetRetries(0);
    EXPECT_EQ(reader.SimpleGet("1.3.6.1.2.1.1.4.0", contact), -5);
}
