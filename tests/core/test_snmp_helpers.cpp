// The retrying SNMP helpers and device checks against the emulator's agent.
#include <gtest/gtest.h>

#include <vector>

#include "MessageBox.h"
#include "NasMib.h"
#include "SnmpHelpers.h"
#include "TestClock.h"
#include "SnmpTestAgent.h"
#include "stdafx.h"
#include "y_snmp.h"

using testbed::MibValue;
using testsupport::SnmpTestAgent;

namespace {

testbed::NasDescription ThreeUsers()
{
    testbed::NasDescription nas = testbed::NasDescription::Default("s3cret");
    nas.users = {{1, "admin", "", "s3cret", "", 15, 1, 1},
                 {3, "bob", "",
                  "b\xC3\xB6"
                  "b-pw",
                  "", 1, 1, 1},
                 {4, "carol", "", "c", "", 1, 1, 1}};
    return nas;
}

} // namespace

TEST(SnmpHelpers, GetSucceedsOnTheThirdTryAfterTwoPauses)
{
    SnmpTestAgent a;
    a.PointContext();
    testsupport::InstantPauses pause;
    a.agent.AddNoSuchNamePrefix(nasmib::kDeviceName);
    pause.onPause = [&](int n) {
        if (n == 2)
            a.agent.ClearFaults();
    };
    std::string value = "before";
    EXPECT_EQ(SnmpGetWithRetry(CopyLogin(), nasmib::kDeviceName, value), 0);
    EXPECT_EQ(value, "TOLVANE-NAS");
    EXPECT_EQ(pause.Pauses(), (std::vector<int64_t>{2000, 2000}));

    // Three failures: -3, value untouched, a pause after each (the last too).
    pause.Clear();
    pause.onPause = nullptr;
    a.agent.AddNoSuchNamePrefix(nasmib::kDeviceName);
    EXPECT_EQ(SnmpGetWithRetry(CopyLogin(), nasmib::kDeviceName, value), -3);
    EXPECT_EQ(value, "TOLVANE-NAS");
    EXPECT_EQ(pause.Pauses(), (std::vector<int64_t>{2000, 2000, 2000}));
}

TEST(SnmpHelpers, SetWithRetryLearnsTheTypeAndRetries)
{
    SnmpTestAgent a;
    a.PointContext();
    testsupport::InstantPauses pause;
    EXPECT_EQ(SnmpSetWithRetry(CopyLogin(), nasmib::kDiskMode, "1"), 0);
    EXPECT_EQ(*a.store.Get(nasmib::kDiskMode), MibValue::Integer(1));
    EXPECT_TRUE(pause.Pauses().empty());

    // A UTF-8 value written and read back is unchanged.
    const std::string name = "Stua-\xC3\xA6\xC3\xB8\xC3\xA5";
    EXPECT_EQ(SnmpSetWithRetry(CopyLogin(), nasmib::kDeviceName, name), 0);
    std::string back;
    EXPECT_EQ(SnmpGetWithRetry(CopyLogin(), nasmib::kDeviceName, back), 0);
    EXPECT_EQ(back, name);

    // Row removals through the retrying SET: a quota row and a USB disk.
    EXPECT_EQ(SnmpSetWithRetry(CopyLogin(), NasCell(nasmib::kQuotaRowStatus, "2"), "6"), 0);
    EXPECT_EQ(a.store.Rows(nasmib::kQuotaName), std::vector<std::string>{"1"});
    EXPECT_EQ(SnmpSetWithRetry(CopyLogin(), NasCell(nasmib::kUsbRemove, "1"), "2"), 0);
    EXPECT_TRUE(a.store.Subtree(testbed::ToOid(nasmib::kUsbEntry)).empty());

    // A refused SET (missing object) is retried, then -3.
    EXPECT_EQ(SnmpSetWithRetry(CopyLogin(), NasCell(nasmib::kUsbRemove, "1"), "2"), -3);
    EXPECT_EQ(pause.Pauses().size(), 3u);
}

TEST(SnmpHelpers, FindIndex)
{
    SnmpTestAgent a(ThreeUsers());
    a.PointContext();
    testsupport::InstantPauses pause;
    std::string index = "unchanged";
    EXPECT_EQ(SnmpFindIndex(CopyLogin(), nasmib::kUserName, "bob", index), 0);
    EXPECT_EQ(index, "3");
    index = "unchanged";
    EXPECT_EQ(SnmpFindIndex(CopyLogin(), nasmib::kUserName, "Bob", index), 0); // case counts
    EXPECT_EQ(index, "unchanged");

    // The same value in several rows: the last one, and no false time-out.
    for (const char* row : {"1", "2", "3", "4"})
        a.store.Set(NasCell(nasmib::kFolderReadList, row), MibValue::String("admin,"));
    EXPECT_EQ(SnmpFindIndex(CopyLogin(), nasmib::kFolderReadList, "admin,", index), 0);
    EXPECT_EQ(index, "4");

    // A device that fails every step: -3, index untouched.
    index = "unchanged";
    a.agent.AddNoSuchNamePrefix(nasmib::kUserEntry);
    EXPECT_EQ(SnmpFindIndex(CopyLogin(), nasmib::kUserName, "bob", index), -3);
    EXPECT_EQ(index, "unchanged");
    a.agent.ClearFaults();

    // Two failed steps on the way: the walk resumes from the row last
    // reached and still finds the last row; a third failure gives -3.
    a.agent.FailRequests(2, 1);
    EXPECT_EQ(SnmpFindIndex(CopyLogin(), nasmib::kUserName, "carol", index), 0);
    EXPECT_EQ(index, "4");
    index = "unchanged";
    a.agent.FailRequests(3, 2);
    EXPECT_EQ(SnmpFindIndex(CopyLogin(), nasmib::kUserName, "admin", index), -3);
    EXPECT_EQ(index, "1"); // met before the device gave up
    EXPECT_TRUE(pause.Pauses().empty());
}

TEST(SnmpHelpers, WalkAndNewRowIndex)
{
    SnmpTestAgent a(ThreeUsers()); // rows 1, 3 and 4
    a.PointContext();
    testsupport::InstantPauses pause;
    int existing = 0;
    EXPECT_EQ(SnmpNewRowIndex(CopyLogin(), nasmib::kUserName, "dave", 0, existing), 5);
    EXPECT_EQ(SnmpNewRowIndex(CopyLogin(), nasmib::kUserName, "bob", 0, existing), -1);
    EXPECT_EQ(existing, 3);
    EXPECT_EQ(SnmpNewRowIndex(CopyLogin(), nasmib::kUserName, "dave", 3, existing), -2);
    EXPECT_EQ(SnmpNewRowIndex(CopyLogin(), nasmib::kUserName, "dave", 4, existing), 5);

    // Two failed tries of one step are tried again; a third gives up.
    a.agent.FailRequests(2, 1);
    EXPECT_EQ(SnmpNewRowIndex(CopyLogin(), nasmib::kUserName, "dave", 0, existing), 5);
    a.agent.FailRequests(3, 1);
    EXPECT_EQ(SnmpNewRowIndex(CopyLogin(), nasmib::kUserName, "dave", 0, existing), -3);

    // One try: the rows before the failed step, and the step's code.
    CSnmpEngine engine = DeviceEngine(CopyLogin());
    std::vector<std::string> seen;
    auto collect = [&seen](const std::string& oid, const std::string& value) {
        seen.push_back(NasRowOf(oid) + "=" + value);
        return true;
    };
    a.agent.FailRequests(1, 2);
    EXPECT_NE(SnmpWalkColumn(engine, nasmib::kUserName, 1, collect), 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"1=admin", "3=bob"}));
    seen.clear();
    EXPECT_EQ(SnmpWalkColumn(engine, nasmib::kUserName, 1, collect), 0);
    EXPECT_EQ(seen, (std::vector<std::string>{"1=admin", "3=bob", "4=carol"}));
    // visit ends the walk early.
    int visits = 0;
    EXPECT_EQ(SnmpWalkColumn(engine, nasmib::kUserName, 1,
                             [&visits](const std::string&, const std::string&) { return ++visits < 2; }),
              0);
    EXPECT_EQ(visits, 2);
    EXPECT_TRUE(pause.Pauses().empty());
}

TEST(SnmpHelpers, UserPassword)
{
    SnmpTestAgent a(ThreeUsers());
    a.PointContext();
    testsupport::InstantPauses pause;
    platform::MessageBoxRecorder boxes;
    EXPECT_EQ(GetUserPassword(CopyLogin(), "admin"), "s3cret");
    EXPECT_EQ(GetUserPassword(CopyLogin(), "bob"), "b\xC3\xB6"
                                                   "b-pw");
    EXPECT_TRUE(boxes.Texts().empty());

    EXPECT_EQ(GetUserPassword(CopyLogin(), "nobody"), "");
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Timeout!"});

    a.agent.AddNoSuchNamePrefix(nasmib::kUserPassword);
    EXPECT_EQ(GetUserPassword(CopyLogin(), "admin"), "");
    EXPECT_EQ(boxes.Texts().size(), 2u);
    EXPECT_EQ(boxes.Texts().back(), "Timeout!");
}

TEST(SnmpHelpers, WebPort)
{
    SnmpTestAgent a;
    a.PointContext();
    int status = 99;
    EXPECT_EQ(GetNasWebPort(CopyLogin(), &status), 80);
    EXPECT_EQ(status, 0);
    a.store.Set(nasmib::kWebPort, MibValue::String(" 8080 "));
    EXPECT_EQ(GetNasWebPort(CopyLogin(), nullptr), 8080);
    for (const char* bad : {"", "   ", "0", "65536", "-80", "http"}) {
        a.store.Set(nasmib::kWebPort, MibValue::String(bad));
        EXPECT_EQ(GetNasWebPort(CopyLogin(), &status), -1) << bad;
        EXPECT_EQ(status, 0);
    }
    // The first read fails, the one right after it succeeds: two requests.
    a.store.Set(nasmib::kWebPort, MibValue::Integer(81));
    a.agent.AddNoSuchNamePrefix(nasmib::kWebPort);
    EXPECT_EQ(GetNasWebPort(CopyLogin(), &status), -1);
    EXPECT_EQ(status, 2);
    a.agent.ClearFaults();
    uint64_t before = a.agent.RequestCount();
    a.agent.FailRequests(1);
    EXPECT_EQ(GetNasWebPort(CopyLogin(), &status), 81);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(a.agent.RequestCount() - before, 2u);
}

TEST(SnmpHelpers, DiskStatus)
{
    testbed::NasDescription nas = testbed::NasDescription::Default();
    nas.disks[1].status = nasmib::kDiskStateUnformatted;
    SnmpTestAgent a(nas);
    CSnmpEngine::SetDefaultPort(a.Port());
    int d1 = 0, d2 = 0;
    EXPECT_EQ(GetDiskStatus("127.0.0.1", a.Community(), &d1, &d2), 0);
    EXPECT_EQ(d1, 2);
    EXPECT_EQ(d2, -2);
    a.store.Erase(testbed::ToOid(NasCell(nasmib::kDiskStatus, "2")));
    d1 = d2 = 7;
    EXPECT_EQ(GetDiskStatus("127.0.0.1", a.Community(), &d1, &d2), 2);
    EXPECT_EQ(d1, 7);
    EXPECT_EQ(GetDiskStatus("not-an-address", a.Community(), &d1, &d2), -18);
}
