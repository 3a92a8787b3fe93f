// Users, groups and quotas against the emulated device in a private network:
// one golden body per form, then every save, delete and refusal judged by
// the device's tables read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "Clock.h"
#include "EmulatedNas.h"
#include "HttpRequest.h"
#include "MessageBox.h"
#include "NasMib.h"
#include "QuotaForm.h"
#include "SnmpHelpers.h"
#include "UserAccounts.h"
#include "UserGroups.h"
#include "stdafx.h"
#include <memory>
#include "TestClock.h"

// SNMP helpers' pauses between tries pass at once.
static std::unique_ptr<testsupport::InstantPauses> g_instantPauses;

TOLVANE_PRIVATE_NETWORK();

using testsupport::EmulatedNas;

namespace {

const std::string kBase = "community = c0mm\nuser = admin:secret:15\n"
                          "disk1_size = 1000:0:3\ndisk2_size = 2000:0:3\n";

platform::JobControl NoStop() { return {}; }

UserForm NewUser(const std::string& name, const std::string& password)
{
    UserForm f;
    f.add = true;
    f.name = name;
    f.password = f.confirm = password;
    return f;
}

} // namespace

// ---------------------------------------------------------------------------
// Golden bodies

TEST(UserForms, GoldenBodies)
{
    UserForm user = NewUser("bob", "p%&+");
    user.groupsEnabled = true;
    user.memberGroups = {"g1", "g%2", "g3"};
    user.primaryGroup = "g%2";
    EXPECT_EQ(BuildUserBody(user, "4"),
              "setobject_rowstart=bi1.3.6.1.2.1.26.1.1.10.4=5&setobject_UserIndex=ci1.3.6.1.2.1.26.1.1.1.4=4"
              "&setobject_UserName=cs1.3.6.1.2.1.26.1.1.2.4=bob&setobject_UserFullName=cs1.3.6.1.2.1.26.1.1.3.4="
              "fullname&setobject_UserPassword=cs1.3.6.1.2.1.26.1.1.4.4=p%25%26%2B"
              "&setobject_UserGroupMember=cs1.3.6.1.2.1.26.1.1.5.4=g%252,g1,g3,"
              "&setobject_ServiceCIFS=ci1.3.6.1.2.1.26.1.1.6.4=1&setobject_ServiceFTP=ci1.3.6.1.2.1.26.1.1.7.4=1"
              "&setobject_UserLevel=ci1.3.6.1.2.1.26.1.1.8.4=1&setobject_rowflag=ci1.3.6.1.2.1.26.1.1.9.4=0"
              "&setobject_rowend=ei1.3.6.1.2.1.26.1.1.10.4=1");

    GroupForm group;
    group.add = false;
    group.name = "g%1";
    group.members = {"u%1", "u2"};
    EXPECT_EQ(BuildGroupBody(group, "3"),
              "setobject_rowstart=IGNORE&setobject_GroupIndex=IGNORE"
              "&setobject_GroupName=cs1.3.6.1.2.1.26.2.1.2.3=g%251"
              "&setobject_GroupUserlist=cs1.3.6.1.2.1.26.2.1.3.3=u%251,u2&setobject_ServiceCIFS =IGNORE"
              "&setobject_ServiceFTP=IGNORE&setobject_GroupEnable=IGNORE"
              "&setobject_rowflag=ci1.3.6.1.2.1.26.2.1.7.3=0&setobject_rowend=IGNORE");

    const std::string quota = BuildQuotaRequest("8", "g%251", "100", "198.18.1.10", "dG9rZW4=", "2", 1, "1");
    EXPECT_EQ(quota.substr(0, quota.find("\r\n")),
              "POST /cgi-bin/setobject?/configuration/ShareManagement/QuotaManagement.shtml HTTP/1.1");
    EXPECT_NE(quota.find("Referer: http://198.18.1.10/configuration/ShareManagement/AddGroupQuota.shtml?-1\r\n"),
              std::string::npos);
    EXPECT_EQ(quota.substr(quota.find("\r\n\r\n") + 4),
              "setobject_QuotaStart=bi1.3.6.1.2.1.26.3.1.7.8=5&setobject_QuotaIndex=ci1.3.6.1.2.1.26.3.1.1.8=8"
              "&setobject_QuotaName=cs1.3.6.1.2.1.26.3.1.2.8=g%251&setobject_QuotaDisk=ci1.3.6.1.2.1.26.3.1.3.8=2"
              "&setobject_QuotaSize=ci1.3.6.1.2.1.26.3.1.4.8=100&setobject_QuotaType=ci1.3.6.1.2.1.26.3.1.5.8=1"
              "&setobject_QuotaRowFlag=IGNORE&setobject_QuotaEnd=ei1.3.6.1.2.1.26.3.1.7.8=1");
}

// Every refusal text at its boundary, in the order the checks run.
TEST(UserForms, NameAndQuotaChecks)
{
    testsupport::Boxes boxes;
    struct Case {
        int (*check)(const std::string&);
        std::string input;
        std::string box; // "" accepted
    };
    const std::string userChars = "User id can not include any following characters \\ / [ ] : | < > + = ; ? , * \" # "
                                  "& ( ) ` ' @ $ and space";
    const std::string groupChars = "Group Name can not include any following characters \\ / [ ] : | < > + = ; ? , "
                                   "* \" # & ( ) ` ' @ $ and space";
    const Case cases[] = {
        {CheckUserId, "", "User ID can not be empty."},
        {CheckUserId, std::string(15, 'a'), ""},
        {CheckUserId, std::string(16, 'a'), "User ID length must less than 15."},
        {CheckUserId, "j\xC3\xBCrgen", "Only support ASCII code."},
        {CheckUserId, "RoOt", "This user name is a reserved name."},
        {CheckUserId, "a.b", userChars},
        {CheckUserId, "a b", userChars},
        {CheckUserId, "a%b", ""},
        {ValidateGroupName, "", "Group Name can not be empty."},
        {ValidateGroupName, std::string(15, 'g'), ""},
        {ValidateGroupName, std::string(16, 'g'), "Group Name length must less than 15."},
        {ValidateGroupName, "gr\xC3\xBC", "Only support ASCII code."},
        {ValidateGroupName, "ROOT", "This group name is a reserved name."},
        {ValidateGroupName, "root1", ""},
        {ValidateGroupName, "g.1", groupChars},
        {ValidateGroupName, "g&1", groupChars},
    };
    for (const Case& c : cases) {
        boxes.Clear();
        EXPECT_EQ(c.check(c.input), c.box.empty() ? 0 : 1) << c.input;
        EXPECT_EQ(boxes.LastText(), c.box) << c.input;
    }

    DiskQuotaInfo disks{1000, 2000, 0};
    QuotaInput q{true, false, "4294967297", ""}; // 2^32 + 1 reads as 1 after a 32-bit wrap
    boxes.Clear();
    EXPECT_EQ(ValidateQuotas(q, disks), 1);
    EXPECT_EQ(boxes.LastText(), "Disk1 Quota out of range (1 ~ 1000).");
    q = {true, false, "1000", "99999999999999999999999"};
    EXPECT_EQ(ValidateQuotas(q, disks), 1);
    EXPECT_EQ(boxes.LastText(), "Disk2 Quota out of range (1 ~ 2000).");
    q = {true, false, "1x", ""};
    EXPECT_EQ(ValidateQuotas(q, disks), 1);
    EXPECT_EQ(boxes.LastText(), "Please input Disk1 quota with integer.");
    q = {false, false, "junk", "junk"}; // section off: not looked at
    EXPECT_EQ(ValidateQuotas(q, disks), 0);
    disks.noQuotaDisk2 = 1;
    q = {true, false, "1", "999999"};
    EXPECT_EQ(ValidateQuotas(q, disks), 0);
}

// What a device may make of a save that it did apply, and what it may not.
TEST(UserForms, ReadBackComparisons)
{
    struct Case {
        const char* sent;
        const char* stored;
        bool match;
    };
    const Case sizes[] = {{"0100", "100", true}, {"100", "100", true}, {"100", "0100", true},
                          {"100", "10", false},  {"100", "", false},   {"100", "100MB", false}};
    for (const Case& c : sizes)
        EXPECT_EQ(QuotaSizeMatches(c.sent, c.stored), c.match) << c.sent << " / " << c.stored;

    const std::vector<std::string> sent = {"anna", "bob", "ghost"}; // ghost is no user of the device
    const auto isUser = [](const std::string& name) { return name != "ghost"; };
    const Case lists[] = {
        {"", "anna,bob,ghost", true},    {"", "bob,anna,ghost,", true},
        {"", " ghost , anna,bob", true}, {"", "anna,bob", true},
        {"", "bob,anna,", true},         {"", "anna,ghost", false}, // bob left out
        {"", "anna,bob,carl", false},    {"", "", false},
    };
    for (const Case& c : lists)
        EXPECT_EQ(MemberListMatches(sent, c.stored, isUser), c.match) << c.stored;
    EXPECT_TRUE(MemberListMatches({}, "", isUser));
    EXPECT_FALSE(MemberListMatches({}, "anna", isUser));
}

// ---------------------------------------------------------------------------
// Against the device

class Accounts : public ::testing::Test {
protected:
    void Start(const std::string& config)
    {
        g_instantPauses = std::make_unique<testsupport::InstantPauses>();
        nas = std::make_unique<EmulatedNas>(kBase + config);
        ASSERT_TRUE(nas->Started());
        nas->LogInContext("admin", "secret");
    }
    void TearDown() override { g_instantPauses.reset(); }

    // The text of a device object, "<none>" when it has no such object.
    std::string Cell(const char* column, const std::string& row)
    {
        std::string reply = nas->dev->Command("mib get " + NasCell(column, row));
        return reply.rfind("OK ", 0) == 0 ? reply.substr(5) : "<none>";
    }
    std::vector<std::string> RowStatusWrites()
    {
        std::vector<std::string> rows;
        for (const std::string& w : nas->dev->SnmpWrites())
            rows.push_back(w.substr(0, w.find(' ')));
        return rows;
    }

    testsupport::Boxes boxes;
    std::unique_ptr<EmulatedNas> nas;
};

TEST_F(Accounts, AddEditAndQuotasOfAUser)
{
    Start("group = 1:g1\ngroup = 2:g2\ngroup = 3:g3\nquota = 7:other:1:10:1\n");
    // The form posts use the password the device holds, not the one typed
    // at login.
    GetNasContext()->m_password = "stale";
    DiskQuotaInfo disks = ReadDiskQuotaInfo(CopyLogin());
    ASSERT_EQ(disks.disk1Size, 1000);

    UserForm bob = NewUser("bob", "p%&+\xC3\xA9");
    bob.groupsEnabled = true;
    bob.memberGroups = {"g1", "g2", "g3"};
    bob.primaryGroup = "g2";
    bob.quota = {true, false, "100", "200"};
    ASSERT_EQ(SaveUser(NoStop(), CopyLogin(), bob, disks), SaveOutcome::Saved) << boxes.LastText();
    EXPECT_EQ(boxes.LastText(), "");
    const std::string row = "2"; // after admin
    EXPECT_EQ(Cell(nasmib::kUserName, row), "bob");
    EXPECT_EQ(Cell(nasmib::kUserPassword, row), "p%&+\xC3\xA9");
    EXPECT_EQ(Cell(nasmib::kUserGroupMember, row), "g2,g1,g3,");
    EXPECT_EQ(Cell(nasmib::kUserLevel, row), "1");
    // New quota rows at last + 1 and last + 2.
    EXPECT_EQ(Cell(nasmib::kQuotaName, "8") + Cell(nasmib::kQuotaDisk, "8") + Cell(nasmib::kQuotaSize, "8") +
                  Cell(nasmib::kQuotaType, "8"),
              "bob11000");
    EXPECT_EQ(Cell(nasmib::kQuotaDisk, "9") + Cell(nasmib::kQuotaSize, "9") + Cell(nasmib::kQuotaType, "9"), "22000");

    UserForm boss = NewUser("boss", "x");
    boss.admin = true;
    ASSERT_EQ(SaveUser(NoStop(), CopyLogin(), boss, disks), SaveOutcome::Saved);
    EXPECT_EQ(Cell(nasmib::kUserLevel, "3"), "15");

    EXPECT_EQ(SaveUser(NoStop(), CopyLogin(), NewUser("bob", "y"), disks), SaveOutcome::Refused);
    EXPECT_EQ(boxes.LastText(), "bob have exist.");

    // Edit with the group section off: groups, level and full name stay.
    UserForm edit = NewUser("bob", "new");
    edit.add = false;
    edit.quota = {true, false, "150", ""};
    ASSERT_EQ(SaveUser(NoStop(), CopyLogin(), edit, disks), SaveOutcome::Saved);
    EXPECT_EQ(Cell(nasmib::kUserPassword, row), "new");
    EXPECT_EQ(Cell(nasmib::kUserGroupMember, row), "g2,g1,g3,");
    EXPECT_EQ(Cell(nasmib::kUserLevel, row), "1");
    EXPECT_EQ(Cell(nasmib::kUserFullName, row), "fullname");
    EXPECT_EQ(Cell(nasmib::kQuotaSize, "8"), "150");

    std::vector<UserListRow> rows;
    ASSERT_EQ(ReadUserList(NoStop(), CopyLogin(), rows), 0);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].disk1Quota + "/" + rows[1].disk2Quota, "150/200");

    // Quota Remove: the higher row first, no quota form.
    edit.quota = {true, true, "", ""};
    const long posts = std::strtol(nas->dev->Command("web requests").c_str() + 3, nullptr, 10);
    ASSERT_EQ(SaveUser(NoStop(), CopyLogin(), edit, disks), SaveOutcome::Saved);
    EXPECT_EQ(RowStatusWrites(),
              (std::vector<std::string>{NasCell(nasmib::kQuotaRowStatus, "9"), NasCell(nasmib::kQuotaRowStatus, "8")}));
    EXPECT_EQ(std::strtol(nas->dev->Command("web requests").c_str() + 3, nullptr, 10), posts + 1); // the user form
    EXPECT_EQ(Cell(nasmib::kQuotaName, "8"), "<none>");
}

TEST_F(Accounts, DeletingUsers)
{
    Start("user = carol:pw:1\nuser = dave:pw:1\nfolder = 1:docs:HDD1:2:dave,:\n"
          "quota = 3:carol:1:10:0\nquota = 5:carol:2:20:0\n");
    std::vector<UserListRow> rows;
    ASSERT_EQ(ReadUserList(NoStop(), CopyLogin(), rows), 0);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[2].ownFolders, "[docs] ");

    EXPECT_FALSE(DeleteUser(NoStop(), CopyLogin(), "admin", ""));
    EXPECT_EQ(boxes.LastText(), "Can not delete \"admin\".");
    EXPECT_FALSE(DeleteUser(NoStop(), CopyLogin(), "dave", rows[2].ownFolders));
    EXPECT_EQ(boxes.LastText(), "Please delete the user own folder first.");

    ASSERT_TRUE(DeleteUser(NoStop(), CopyLogin(), "carol", ""));
    EXPECT_EQ(RowStatusWrites(),
              (std::vector<std::string>{NasCell(nasmib::kUserRowStatus, "2"), NasCell(nasmib::kQuotaRowStatus, "5"),
                                        NasCell(nasmib::kQuotaRowStatus, "3")}));
    EXPECT_EQ(Cell(nasmib::kUserName, "2"), "<none>");
    EXPECT_EQ(Cell(nasmib::kUserName, "3"), "dave");
}

TEST_F(Accounts, AtMost512Users)
{
    std::string users;
    for (int i = 2; i <= 511; ++i)
        users += "user = u" + std::to_string(i) + ":pw:1\n";
    Start(users);
    EXPECT_EQ(SaveUser(NoStop(), CopyLogin(), NewUser("u512", "pw"), {}), SaveOutcome::Saved) << boxes.LastText();
    EXPECT_EQ(Cell(nasmib::kUserName, "512"), "u512");
    EXPECT_EQ(SaveUser(NoStop(), CopyLogin(), NewUser("u513", "pw"), {}), SaveOutcome::Refused);
    EXPECT_EQ(boxes.LastText(), "Total user can not over 512.");
}

TEST_F(Accounts, GroupsAndTheirQuotas)
{
    const std::string longList = std::string(1990, 'x') + ",@g,"; // the group is named past the first 254 bytes
    Start("user = u1:pw:1\nuser = u2:pw:1\ngroup = none\nquota = none\nfolder = 1:share:HDD1:2:" + longList + ":\n");
    DiskQuotaInfo disks = ReadDiskQuotaInfo(CopyLogin());
    GroupForm g;
    g.name = "g";
    g.members = {"u1", "u2"};
    g.quota = {true, false, "300", ""};
    ASSERT_EQ(SaveGroup(NoStop(), CopyLogin(), g, disks), SaveOutcome::Saved) << boxes.LastText();
    EXPECT_EQ(Cell(nasmib::kGroupName, "1"), "g");
    EXPECT_EQ(Cell(nasmib::kGroupUserList, "1"), "u1,u2");
    EXPECT_EQ(Cell(nasmib::kQuotaName, "1") + Cell(nasmib::kQuotaSize, "1") + Cell(nasmib::kQuotaType, "1"), "g3001");
    std::vector<GroupListRow> rows = ReadGroupList(NoStop(), CopyLogin());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].disk1Quota, "300");

    EXPECT_FALSE(DeleteGroup(NoStop(), CopyLogin(), "g"));
    EXPECT_EQ(boxes.LastText(), "Please delete the group own folders first.");
    EXPECT_EQ(Cell(nasmib::kGroupName, "1"), "g");

    // A user of the same name (no "@") does not block.
    ASSERT_EQ(nas->dev->Command("mib set " + NasCell(nasmib::kFolderReadList, "1") + " s g,"), "OK");
    EXPECT_TRUE(DeleteGroup(NoStop(), CopyLogin(), "g")) << boxes.LastText();
    EXPECT_EQ(Cell(nasmib::kGroupName, "1"), "<none>");
    EXPECT_EQ(Cell(nasmib::kQuotaName, "1"), "<none>");
}

// Lists longer than one value buffer are read and posted back whole.
TEST_F(Accounts, LongListsStayWhole)
{
    std::string groups;
    for (int i = 0; groups.size() < 2000; ++i)
        groups += "group" + std::to_string(i) + ",";
    Start("user = erin:pw:1:" + groups + "\n");
    std::vector<UserListRow> rows;
    ASSERT_EQ(ReadUserList(NoStop(), CopyLogin(), rows), 0);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].groups, groups);

    std::vector<std::string> list;
    for (size_t from = 0, comma; (comma = groups.find(',', from)) != std::string::npos; from = comma + 1)
        list.push_back(groups.substr(from, comma - from));
    UserForm edit = NewUser("erin", "pw2");
    edit.add = false;
    edit.groupsEnabled = true;
    edit.memberGroups = list;
    edit.primaryGroup = list.back();
    ASSERT_EQ(SaveUser(NoStop(), CopyLogin(), edit, {}), SaveOutcome::Saved);
    EXPECT_EQ(Cell(nasmib::kUserGroupMember, "2"),
              list.back() + "," + groups.substr(0, groups.size() - list.back().size() - 1));
}

// Posts the device answers but never applies end in the failure texts;
// waits and bounds run on a fast clock.
TEST_F(Accounts, AnsweredButNotApplied)
{
    Start("user = frank:pw:1\nquota = 4:frank:1:10:0\ngroup = none\n");
    platform::FastClock fast(20);
    platform::ScopedClock clock(fast);
    DiskQuotaInfo disks = ReadDiskQuotaInfo(CopyLogin());

    ASSERT_EQ(nas->dev->Command("web fault noapply UserManagement"), "OK");
    EXPECT_EQ(SaveUser(NoStop(), CopyLogin(), NewUser("gina", "pw"), disks), SaveOutcome::NotConfirmed);
    EXPECT_EQ(boxes.LastText(), "Failed!");

    ASSERT_EQ(nas->dev->Command("web fault noapply UserGroup"), "OK");
    GroupForm g;
    g.name = "team";
    g.quota = {true, false, "5", ""};
    const long before = std::strtol(nas->dev->Command("web requests").c_str() + 3, nullptr, 10);
    EXPECT_EQ(SaveGroup(NoStop(), CopyLogin(), g, disks), SaveOutcome::NotConfirmed);
    EXPECT_EQ(boxes.LastText(), "Failed!");
    EXPECT_EQ(std::strtol(nas->dev->Command("web requests").c_str() + 3, nullptr, 10), before + 1); // no quota post

    ASSERT_EQ(nas->dev->Command("web fault noapply QuotaManagement"), "OK");
    UserForm edit = NewUser("frank", "pw");
    edit.add = false;
    edit.quota = {true, false, "20", ""};
    EXPECT_EQ(SaveUser(NoStop(), CopyLogin(), edit, disks), SaveOutcome::QuotaFailed);
    EXPECT_EQ(boxes.LastText(), "Quota setting of Disk1 failed!");
    EXPECT_EQ(Cell(nasmib::kQuotaSize, "4"), "10");

    // A device that never answers a quota post: both disks are waited for
    // and reported.
    ASSERT_EQ(nas->dev->Command("web fault silent"), "OK");
    boxes.Clear();
    EXPECT_FALSE(SendQuotaSettings(NoStop(), CopyLogin(), "frank", kQuotaTypeUser, {true, false, "30", "40"}, disks));
    EXPECT_EQ(boxes.Texts(),
              (std::vector<std::string>{"Quota setting of Disk1 failed!", "Quota setting of Disk2 failed!"}));
    ASSERT_EQ(nas->dev->Command("web fault none"), "OK");

    // A quota row the device keeps answering with no-such-name counts as gone.
    ASSERT_EQ(nas->dev->Command(std::string("snmp nosuchname ") + nasmib::kQuotaSize), "OK");
    std::vector<UserListRow> rows;
    const int64_t start = platform::TickMs();
    ASSERT_EQ(ReadUserList(NoStop(), CopyLogin(), rows), 0);
    EXPECT_GE(platform::TickMs() - start, kBusyRowLimitMs);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].disk1Quota, "");
}

// A failed step refuses a delete: the folder walk of a group delete (the
// group's own folder may be the one not read). Nothing is deleted.
TEST_F(Accounts, FailedStepsRefuseDeletes)
{
    Start("user = carol:pw:1\ngroup = 1:g:carol\nquota = none\n"
          "folder = 1:a:HDD1:2:x,:\nfolder = 2:b:HDD1:2:@g,:\n");
    struct Case {
        std::string fault;
        std::string box;
    };
    const Case cases[] = {
        // The walk's first row and its two list reads pass, its next step fails three times.
        {"snmp fail 3 3", "Timeout!"},
        {"snmp nosuchname " + NasCell(nasmib::kFolderReadList, "2"), "Timeout!"},
    };
    for (const Case& c : cases) {
        boxes.Clear();
        ASSERT_EQ(nas->dev->Command(c.fault), "OK");
        EXPECT_FALSE(DeleteGroup(NoStop(), CopyLogin(), "g")) << c.fault;
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{c.box}) << c.fault;
        ASSERT_EQ(nas->dev->Command("snmp clear"), "OK");
        EXPECT_EQ(Cell(nasmib::kGroupName, "1"), "g") << c.fault;
    }
    boxes.Clear();
    EXPECT_FALSE(DeleteGroup(NoStop(), CopyLogin(), "g"));
    EXPECT_EQ(boxes.LastText(), "Please delete the group own folders first.");
}

// A row that cannot be deleted keeps its quota rows; a row that is gone
// while its quota rows stay is said to be so.
TEST_F(Accounts, AFailedDeleteLeavesTheDeviceAsItWas)
{
    Start("user = carol:pw:1\nuser = dave:pw:1\ngroup = 1:g:\ngroup = 2:h:\nquota = 3:carol:1:10:0\n"
          "quota = 5:carol:2:20:0\nquota = 4:g:1:10:1\nquota = 6:h:2:30:1\nfolder = none\n");
    struct Case {
        bool user;
        std::string name;
        const char* failing; // the column whose SETs fail
        bool deleted;
        std::string box;
        std::vector<std::string> quotaRows;
    };
    const Case cases[] = {
        {true, "carol", nasmib::kUserRowStatus, false, "Failed!", {"3", "5"}},
        {false, "g", nasmib::kGroupRowStatus, false, "Timeout!", {"4"}},
        {true,
         "carol",
         nasmib::kQuotaRowStatus,
         true,
         "User \"carol\" was deleted, but its quota rows could not be removed.",
         {"3", "5"}},
        {false,
         "g",
         nasmib::kQuotaRowStatus,
         true,
         "Group \"g\" was deleted, but its quota rows could not be removed.",
         {"4"}},
    };
    for (const Case& c : cases) {
        boxes.Clear();
        ASSERT_EQ(nas->dev->Command(std::string("snmp nosuchname ") + c.failing), "OK");
        EXPECT_EQ(c.user ? DeleteUser(NoStop(), CopyLogin(), c.name, "") : DeleteGroup(NoStop(), CopyLogin(), c.name),
                  c.deleted)
            << c.failing;
        ASSERT_EQ(nas->dev->Command("snmp clear"), "OK");
        EXPECT_EQ(boxes.Texts(), std::vector<std::string>{c.box}) << c.failing;
        const std::vector<std::string> names =
            ReadNameColumn(CopyLogin(), c.user ? nasmib::kUserName : nasmib::kGroupName);
        EXPECT_EQ(std::count(names.begin(), names.end(), c.name), c.deleted ? 0 : 1) << c.failing;
        for (const std::string& row : c.quotaRows)
            EXPECT_EQ(Cell(nasmib::kQuotaName, row), c.name) << c.failing << " " << row;
    }
    // The others and their quotas were not touched.
    EXPECT_EQ(Cell(nasmib::kUserName, "3") + Cell(nasmib::kGroupName, "2") + Cell(nasmib::kQuotaName, "6"), "davehh");
}

// Saves the device applied in its own way are confirmed at once: a quota
// typed with a leading zero, a member list without a name that is no user,
// a quota post the device never answered. Memberships show on both sides.
TEST_F(Accounts, WhatTheDeviceAppliedIsConfirmed)
{
    Start("user = u1:pw:1\nuser = u2:pw:1:\ngroup = 1:family:u1\nquota = none\n");
    platform::FastClock fast(20);
    platform::ScopedClock clock(fast);
    DiskQuotaInfo disks = ReadDiskQuotaInfo(CopyLogin());
    // Each save is confirmed without waiting for the read-back's limit,
    // beyond the wait for an answer that it has to make.
    auto atOnce = [](int64_t answerWaitMs, auto save) {
        const int64_t start = platform::TickMs();
        const auto result = save();
        EXPECT_LT(platform::TickMs() - start, answerWaitMs + kReadBackLimitMs);
        return result;
    };

    GroupForm team;
    team.name = "team";
    team.members = {"u2", "ghost", "u1"};
    team.quota = {true, false, "0100", ""};
    ASSERT_EQ(atOnce(0, [&] { return SaveGroup(NoStop(), CopyLogin(), team, disks); }), SaveOutcome::Saved);
    EXPECT_EQ(Cell(nasmib::kGroupUserList, "2"), "u2,u1");
    EXPECT_EQ(Cell(nasmib::kQuotaName, "1") + Cell(nasmib::kQuotaSize, "1"), "team100");
    EXPECT_EQ(Cell(nasmib::kUserGroupMember, "2"), "team,");
    EXPECT_EQ(Cell(nasmib::kUserGroupMember, "3"), "team,");

    // The user form moves u2 from team to family; the groups follow.
    UserForm u2 = NewUser("u2", "pw");
    u2.add = false;
    u2.groupsEnabled = true;
    u2.memberGroups = {"family"};
    ASSERT_EQ(atOnce(0, [&] { return SaveUser(NoStop(), CopyLogin(), u2, disks); }), SaveOutcome::Saved);
    EXPECT_EQ(Cell(nasmib::kGroupUserList, "1"), "u1,u2");
    EXPECT_EQ(Cell(nasmib::kGroupUserList, "2"), "u1");
    // Deleting a user or a group takes it from the other side's lists.
    ASSERT_TRUE(atOnce(0, [&] { return DeleteUser(NoStop(), CopyLogin(), "u2", ""); }));
    EXPECT_EQ(Cell(nasmib::kGroupUserList, "1"), "u1");
    ASSERT_TRUE(atOnce(0, [&] { return DeleteGroup(NoStop(), CopyLogin(), "family"); }));
    EXPECT_EQ(Cell(nasmib::kUserGroupMember, "2"), "team,");

    ASSERT_EQ(nas->dev->Command("web fault late 600000"), "OK");
    EXPECT_TRUE(atOnce(kHttpLimitsOneTry.perTryMs, [&] {
        return SendQuotaSettings(NoStop(), CopyLogin(), "u1", kQuotaTypeUser, {true, false, "030", ""}, disks);
    }));
    ASSERT_EQ(nas->dev->Command("web fault none"), "OK");
    EXPECT_EQ(Cell(nasmib::kQuotaName, "2") + Cell(nasmib::kQuotaSize, "2") + Cell(nasmib::kQuotaType, "2"), "u1300");
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{});
}

// Row numbers at the top of the range leave no index for a new row: the
// tables are refused rather than wrapped around. A quota table that is full
// says so, and still lets a name's own rows be changed.
TEST_F(Accounts, RowNumbersAtTheTopAreRefused)
{
    Start("group = 2147483647:big\ngroup = 3:g\nquota = 1:g:1:10:1\n");
    int existing = 0;
    EXPECT_EQ(FindGroupIndex(CopyLogin(), "new", existing), -3);
    EXPECT_EQ(FindGroupIndex(CopyLogin(), "big", existing), -1);
    EXPECT_EQ(existing, 2147483647);
    GroupForm g;
    g.name = "new";
    const DiskQuotaInfo disks = ReadDiskQuotaInfo(CopyLogin());
    EXPECT_EQ(SaveGroup(NoStop(), CopyLogin(), g, disks), SaveOutcome::Refused);
    EXPECT_EQ(boxes.LastText(), "Timeout!");
    EXPECT_EQ(nas->dev->Command("web requests"), "OK 0");

    struct Case {
        std::string topRow;
        QuotaInput quota;
        bool full;
        bool sent;
    };
    const Case cases[] = {
        {"2147483646", {true, false, "20", "30"}, true, false}, // room for one row, not two
        {"2147483647", {true, false, "", "30"}, true, false},   {"4294967295", {true, false, "", "30"}, true, false},
        {"4294967295", {true, false, "40", ""}, true, true}, // g's own disk 1 row
        {"2147483645", {true, false, "50", "60"}, false, true},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(nas->dev->Command("mib set " + NasCell(nasmib::kQuotaName, c.topRow) + " s other"), "OK");
        boxes.Clear();
        std::string d1, d2;
        EXPECT_EQ(FindQuotaRows(CopyLogin(), "g", kQuotaTypeGroup, d1, d2),
                  c.full ? kQuotaTableFull : std::stoi(c.topRow))
            << c.topRow;
        EXPECT_EQ(d1, "1") << c.topRow;
        EXPECT_EQ(SendQuotaSettings(NoStop(), CopyLogin(), "g", kQuotaTypeGroup, c.quota, disks), c.sent) << c.topRow;
        EXPECT_EQ(boxes.Texts(),
                  c.sent ? std::vector<std::string>{} : std::vector<std::string>{"The device's quota table is full."})
            << c.topRow;
        ASSERT_EQ(nas->dev->Command("mib del " + NasCell(nasmib::kQuotaName, c.topRow)), "OK");
    }
    EXPECT_EQ(Cell(nasmib::kQuotaSize, "1"), "50");
    EXPECT_EQ(Cell(nasmib::kQuotaSize, "2147483646") + Cell(nasmib::kQuotaDisk, "2147483646"), "602");
}
