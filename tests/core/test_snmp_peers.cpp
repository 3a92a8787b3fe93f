// net-snmp's command-line tools read and change the emulator agent's tables
// on loopback (the whole device in its private network: test_emulator_snmp).
#include <gtest/gtest.h>

#include "NasMib.h"
#include "SnmpTestAgent.h"
#include "TestSupport.h"
#include "y_snmp.h"

using testbed::MibValue;
using testsupport::RunCommand;
using testsupport::SnmpTestAgent;

namespace {

std::string Tool(const char* tool, const SnmpTestAgent& a, const std::string& args, int* status)
{
    std::string cmd = std::string(tool) + " -v1 -c " + a.Community() +
                      " -On -t 1 -r 1 127.0.0.1:" + std::to_string(a.Port()) + " " + args + " 2>&1";
    return RunCommand(cmd, status);
}

} // namespace

TEST(SnmpTools, ReadTheEmulatorsTables)
{
    testbed::NasDescription nas = testbed::NasDescription::Default();
    nas.groups.clear();
    SnmpTestAgent a(nas);
    int status = -1;
    std::string out = Tool(
        "snmpget", a,
        std::string(nasmib::kDeviceName) + " " + nasmib::kWebPort + " " + NasCell(nasmib::kUserLevel, "1"), &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find(".1.3.6.1.2.1.19.1.0 = STRING: \"TOLVANE-NAS\""), std::string::npos) << out;
    EXPECT_NE(out.find(".1.3.6.1.2.1.20.11.0 = INTEGER: 80"), std::string::npos) << out;
    EXPECT_NE(out.find(".1.3.6.1.2.1.26.1.1.8.1 = INTEGER: 15"), std::string::npos) << out;

    out = Tool("snmpwalk", a, nasmib::kFolderShareName, &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, ".1.3.6.1.2.1.21.5.1.5.1 = STRING: \"public\"\n"
                   ".1.3.6.1.2.1.21.5.1.5.2 = STRING: \"admin\"\n");

    // An empty table and the last column of the last table end cleanly.
    out = Tool("snmpwalk", a, nasmib::kGroupName, &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "");
    out = Tool("snmpwalk", a, nasmib::kQuotaRowStatus, &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, ".1.3.6.1.2.1.26.3.1.7.1 = INTEGER: 1\n.1.3.6.1.2.1.26.3.1.7.2 = INTEGER: 1\n");
    // The whole tree, object by object, to its end.
    out = Tool("snmpwalk", a, "1.3.6.1.2.1", &status);
    EXPECT_EQ(status, 0) << out;
    size_t lines = 0;
    for (size_t at = 0; (at = out.find(" = ", at)) != std::string::npos; at += 3)
        ++lines;
    EXPECT_EQ(lines, a.store.Size());
    EXPECT_NE(out.find(".1.3.6.1.2.1.26.99.0 = INTEGER: 0\nEnd of MIB"), std::string::npos) << out;

    out = Tool("snmpget", a, "1.3.6.1.2.1.19.9.0", &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("noSuchName"), std::string::npos) << out;

    // Version 2c and other communities get no answer.
    out = RunCommand("snmpget -v2c -c " + a.Community() + " -t 0.2 -r 0 127.0.0.1:" + std::to_string(a.Port()) + " " +
                         nasmib::kDeviceName + " 2>&1",
                     &status);
    EXPECT_NE(out.find("Timeout"), std::string::npos) << out;
    out = RunCommand("snmpget -v1 -c public -t 0.2 -r 0 127.0.0.1:" + std::to_string(a.Port()) + " " +
                         nasmib::kDeviceName + " 2>&1",
                     &status);
    EXPECT_NE(out.find("Timeout"), std::string::npos) << out;
}

TEST(SnmpTools, ChangeTheEmulatorsTables)
{
    SnmpTestAgent a;
    int status = -1;
    std::string out = Tool("snmpset", a, NasCell(nasmib::kFolderReadList, "1") + " s 'admin,@staff,'", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(a.store.Get(NasCell(nasmib::kFolderReadList, "1"))->bytes, "admin,@staff,");

    // Row status 6 removes the user's row, every column of it.
    out = Tool("snmpset", a, NasCell(nasmib::kUserRowStatus, "2") + " i 6", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(a.store.Rows(nasmib::kUserName), std::vector<std::string>{"1"});
    EXPECT_FALSE(a.store.Get(NasCell(nasmib::kUserPassword, "2")));
    // Other values are just written.
    out = Tool("snmpset", a, NasCell(nasmib::kGroupRowStatus, "1") + " i 5", &status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(*a.store.Get(NasCell(nasmib::kGroupRowStatus, "1")), MibValue::Integer(5));
    // The USB eject request removes the USB disk.
    out = Tool("snmpset", a, NasCell(nasmib::kUsbRemove, "1") + " i 2", &status);
    EXPECT_EQ(status, 0) << out;
    out = Tool("snmpwalk", a, nasmib::kUsbIndex, &status);
    EXPECT_EQ(out, "");

    // Wrong type: badValue and nothing written.
    out = Tool("snmpset", a, std::string(nasmib::kWebPort) + " s 80", &status);
    EXPECT_NE(status, 0);
    EXPECT_NE(out.find("badValue"), std::string::npos) << out;
    EXPECT_EQ(*a.store.Get(nasmib::kWebPort), MibValue::Integer(80));
}
