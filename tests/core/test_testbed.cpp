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

// ---------------------------------------------------------------------------
// The state kept in the device's objects, and forms applied to them.

#include "FormApply.h"
#include "MibStore.h"
#include "NasMib.h"
#include "NasMibSeed.h"

namespace {

FormCell Cell(char role, char type, const std::string& column, const std::string& row, const std::string& value)
{
    return FormCell{"f", role, type, column + "." + row, value};
}

} // namespace

TEST(TestbedStore, NameDisksAndUsersLiveInTheObjects)
{
    DeviceState state;
    ASSERT_TRUE(state.Set("user", "bob:b:1"));
    MibStore store;
    state.AttachStore(store);
    // What the state held so far went into the tables.
    EXPECT_EQ(store.Get(NasCell(nasmib::kUserName, "2"))->bytes, "bob");
    EXPECT_EQ(store.Get(NasCell(nasmib::kUserGroupMember, "1"))->bytes, "staff,");
    EXPECT_EQ(store.Get(NasCell(nasmib::kDiskStatus, "2"))->number, 2);

    // Settings write the objects; reads come from them.
    ASSERT_TRUE(state.Set("name", "BOX"));
    ASSERT_TRUE(state.Set("disk1", "-2"));
    ASSERT_TRUE(state.Set("user", "carol:c:1:staff,"));
    ASSERT_TRUE(state.Set("user", "bob:b2:15"));
    EXPECT_EQ(store.Get(nasmib::kDeviceName)->bytes, "BOX");
    EXPECT_EQ(store.Get(NasCell(nasmib::kDiskStatus, "1"))->number, -2);
    EXPECT_EQ(store.Get(NasCell(nasmib::kUserLevel, "2"))->number, 15);
    EXPECT_EQ(store.Rows(nasmib::kUserName), (std::vector<std::string>{"1", "2", "3"}));
    // Changes made in the objects (by SNMP or a form) are what the state reports.
    store.Set(NasCell(nasmib::kUserPassword, "3"), MibValue::String("fromweb"));
    store.Set(NasCell(nasmib::kDiskStatus, "2"), MibValue::Integer(-1));
    EXPECT_EQ(state.FindUser("carol")->password, "fromweb");
    EXPECT_EQ(state.DiskState(2), -1);
    DeviceData d = state.Snapshot();
    EXPECT_EQ(d.name, "BOX");
    EXPECT_EQ(d.disk1, -2);
    EXPECT_EQ(d.disk2, -1);
    EXPECT_EQ(state.Get("users"), "admin:15,bob:15,carol:1");
    ASSERT_TRUE(state.Set("remove_user", "bob"));
    EXPECT_FALSE(state.FindUser("bob"));
    EXPECT_FALSE(store.Get(NasCell(nasmib::kUserPassword, "2")));

    // Table rows: the first line of a kind replaces the defaults, "none" empties.
    ASSERT_TRUE(state.Set("folder", "3:media:HDD2:2:alice,:alice,"));
    ASSERT_TRUE(state.Set("folder", "5:backup"));
    EXPECT_EQ(store.Rows(nasmib::kFolderShareName), (std::vector<std::string>{"3", "5"}));
    EXPECT_EQ(store.Get(NasCell(nasmib::kFolderType, "3"))->number, 2);
    EXPECT_EQ(store.Get(NasCell(nasmib::kFolderReadList, "3"))->bytes, "alice,");
    ASSERT_TRUE(state.Set("usb", "none"));
    EXPECT_TRUE(store.Rows(nasmib::kUsbIndex).empty());
    ASSERT_TRUE(state.Set("quota", "4:carol:2:100:0"));
    EXPECT_EQ(store.Rows(nasmib::kQuotaName), std::vector<std::string>{"4"});
    ASSERT_TRUE(state.Set("disk_mode", "1"));
    EXPECT_EQ(store.Get(nasmib::kDiskMode)->number, 1);
    ASSERT_TRUE(state.Set("mib", "1.3.6.1.2.1.19.50.0 s hello world"));
    EXPECT_EQ(store.Get("1.3.6.1.2.1.19.50.0")->bytes, "hello world");

    std::string error;
    for (const auto& [key, value] : std::vector<std::pair<std::string, std::string>>{{"folder", "x:name"},
                                                                                     {"folder", "6"},
                                                                                     {"folder", "6:n:HDD1:3"},
                                                                                     {"quota", "1:a:3:1:0"},
                                                                                     {"usb", "1:big"},
                                                                                     {"disk1_size", "-5"},
                                                                                     {"web_port", "70000"},
                                                                                     {"mib", "1.3.6 q 1"},
                                                                                     {"user", "x"}})
        EXPECT_FALSE(state.Set(key, value, &error)) << key << " = " << value;
    EXPECT_EQ(store.Rows(nasmib::kFolderShareName), (std::vector<std::string>{"3", "5"}));
}

TEST(TestbedForms, RowsAreCreatedEditedAndRefusedByOid)
{
    using namespace nasmib;
    MibStore store;
    SeedNasMib(store, NasDescription::Default());
    const std::string users = "/configuration/ShareManagement/UserManagement.shtml";
    std::string error;

    // A new row: opened by 5, filled, made active by 1; unsent columns empty.
    std::vector<FormCell> add = {Cell('b', 'i', kUserRowStatus, "3", "5"), Cell('c', 'i', kUserIndex, "3", "3"),
                                 Cell('c', 's', kUserName, "3", "dave"), Cell('c', 's', kUserPassword, "3", "pw"),
                                 Cell('e', 'i', kUserRowStatus, "3", "1")};
    ASSERT_TRUE(ApplyFormCells(store, users, add, &error)) << error;
    EXPECT_EQ(store.Get(NasCell(kUserName, "3"))->bytes, "dave");
    EXPECT_EQ(*store.Get(NasCell(kUserFullName, "3")), MibValue::String(""));
    EXPECT_EQ(*store.Get(NasCell(kUserLevel, "3")), MibValue::Integer(0));
    EXPECT_EQ(*store.Get(NasCell(kUserRowStatus, "3")), MibValue::Integer(1));
    // The same again: the row exists.
    EXPECT_FALSE(ApplyFormCells(store, users, add, &error));
    // An edit of one cell leaves the others.
    ASSERT_TRUE(ApplyFormCells(store, users, {Cell('c', 's', kUserPassword, "2", "new")}, &error)) << error;
    EXPECT_EQ(store.Get(NasCell(kUserPassword, "2"))->bytes, "new");
    EXPECT_EQ(store.Get(NasCell(kUserName, "2"))->bytes, "guest");

    const size_t size = store.Size();
    const std::vector<std::vector<FormCell>> refused = {
        {Cell('c', 's', kUserLevel, "2", "15")},                                             // text into a number
        {Cell('c', 'i', kUserName, "2", "1")},                                               // number into a text
        {Cell('c', 's', kUserPassword, "9", "x")},                                           // no such row
        {Cell('c', 's', kFolderShareName, "1", "x")},                                        // another table
        {Cell('c', 's', "1.3.6.1.2.1.26.1.1.99", "2", "x")},                                 // no such column
        {Cell('c', 's', kUserName, "2", "admin")},                                           // a name taken
        {Cell('c', 's', kUserPassword, "2", "half"), Cell('c', 'i', kUserLevel, "2", "x1")}, // half a form
        {Cell('b', 'i', kUserRowStatus, "4", "1")},                                          // a start that is no 5
        {Cell('b', 'i', kUserRowStatus, "4", "5"), Cell('c', 'i', kUserIndex, "4", "7")},    // a wrong index
        {Cell('b', 'i', kUserRowStatus, "4", "5"), Cell('e', 'i', kUserRowStatus, "4", "6")},
        {Cell('c', 's', "1.3.6.1.2.1.26.1.1.2.99999999999", "", "x")}, // not an OID
    };
    for (const auto& form : refused)
        EXPECT_FALSE(ApplyFormCells(store, users, form, &error)) << form.front().oid;
    EXPECT_EQ(store.Size(), size);
    EXPECT_EQ(store.Get(NasCell(kUserPassword, "2"))->bytes, "new");
    EXPECT_FALSE(ApplyFormCells(store, "/configuration/Nope.shtml", {}, &error));

    // The disk set-up page: its three scalars, in range.
    std::vector<FormCell> step2 = {{"FormatFS", 0, 'i', kFormatFs, "3"},
                                   {"DiskMode", 0, 'i', kDiskMode, "1"},
                                   {"InitDisk", 0, 'i', kInitDisk, "1"}};
    ASSERT_TRUE(ApplyFormCells(store, kStep2Page, step2, &error)) << error;
    EXPECT_EQ(*store.Get(kDiskMode), MibValue::Integer(1));
    step2[1].value = "5";
    EXPECT_FALSE(ApplyFormCells(store, kStep2Page, step2, &error));
    EXPECT_FALSE(ApplyFormCells(store, kStep2Page, {{"x", 0, 'i', kWebPort, "81"}}, &error));
    EXPECT_EQ(*store.Get(kWebPort), MibValue::Integer(80));
}

TEST(TestbedForms, RefusalsNameTheFieldNeverItsValue)
{
    // Refusals go to the emulator's log; values there can be passwords.
    std::vector<FormCell> cells;
    std::string error;
    for (const char* body : {"setobject_UserPassword=cs1.3.6=s3cr%3", "setobject_a=ci1.3.6=1&s3cr"}) {
        EXPECT_FALSE(ParseFormCells(body, true, cells, &error)) << body;
        EXPECT_EQ(error.find("s3cr"), std::string::npos) << error;
    }
    MibStore store;
    SeedNasMib(store, NasDescription::Default());
    EXPECT_FALSE(ApplyFormCells(store, kStep2Page, {{"DiskMode", 0, 'i', nasmib::kDiskMode, "7357"}}, &error));
    EXPECT_EQ(error.find("7357"), std::string::npos) << error;
    EXPECT_NE(error.find("DiskMode"), std::string::npos) << error;
}
