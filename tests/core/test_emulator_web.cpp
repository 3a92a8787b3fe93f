// Form posts to the emulated device in its private network: they change the
// tables that a later SNMP read shows and the UDP login checks, behind the
// Basic authorization the program builds from the password it reads over
// SNMP; forms that do not fit the tables change nothing.
#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "EmulatedNas.h"
#include "HttpRequest.h"
#include "MessageBox.h"
#include "NasFinder.h"
#include "NasMib.h"
#include "SnmpHelpers.h"
#include "TestClock.h"
#include "stdafx.h"

TOLVANE_PRIVATE_NETWORK();

using testsupport::EmulatedNas;

namespace {

const char kConfig[] = "community = c0mm\n"
                       "user = admin:secret:15\n"
                       "user = alice:wonder:1:staff,\n"
                       "folder = 1:public\n"
                       "folder = 2:media:HDD1:2:alice,:alice,\n"
                       "group = 1:staff:alice,\n"
                       "quota = 1:alice:1:500:0\n";

class DeviceForms : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(nas.Started());
        nas.LogInContext("admin", "secret");
        port = GetNasWebPort(CopyLogin(), nullptr);
        ASSERT_GT(port, 0);
    }
    testsupport::InstantPauses pauses;

    int Post(const std::string& page, const std::string& body, const std::string& authorization)
    {
        HttpFormPost post;
        post.area = "ShareManagement";
        post.page = page;
        post.referer = "Add" + page + ".shtml?-1";
        post.host = EmulatedNas::kAddress;
        post.authorization = authorization;
        post.body = body;
        post.trailer = "\r\n";
        HttpSendOptions options;
        options.limits = {3000, 6000};
        return SendHttpRequestWithOptions(EmulatedNas::kAddress, static_cast<unsigned>(port),
                                          BuildFormPostRequest(post), options);
    }
    int Post(const std::string& page, const CSetObjectBody& body)
    {
        return Post(page, body.Text(), MakeDeviceAuthorization(CopyLogin()));
    }

    std::string Read(const std::string& oid)
    {
        std::string value = "<unread>";
        EXPECT_EQ(SnmpGetWithRetry(CopyLogin(), oid, value), 0) << oid;
        return value;
    }

    std::string Rows(const char* column) { return nas.dev->Command(std::string("mib rows ") + column); }

    // The user form's edit of a password (the other cells IGNORE).
    static CSetObjectBody PasswordEdit(const std::string& row, const std::string& name, const std::string& password)
    {
        using namespace nasmib;
        CSetObjectBody body;
        body.Ignore("rowstart")
            .Ignore("UserIndex")
            .String("UserName", kUserName, row, name, CSetObjectBody::kEscaped)
            .Ignore("UserFullName")
            .String("UserPassword", kUserPassword, row, password, CSetObjectBody::kEscaped)
            .Ignore("UserGroupMember")
            .Ignore("ServiceCIFS")
            .Ignore("ServiceFTP")
            .Ignore("UserLevel")
            .Integer("rowflag", kUserRowFlag, row, "0")
            .Ignore("rowend");
        return body;
    }

    static CSetObjectBody UserAdd(const std::string& row, const std::string& name, const std::string& password)
    {
        using namespace nasmib;
        CSetObjectBody body;
        body.RowStart("rowstart", kUserRowStatus, row)
            .Integer("UserIndex", kUserIndex, row, row)
            .String("UserName", kUserName, row, name, CSetObjectBody::kEscaped)
            .String("UserFullName", kUserFullName, row, "fullname", CSetObjectBody::kAsIs)
            .String("UserPassword", kUserPassword, row, password, CSetObjectBody::kEscaped)
            .String("UserGroupMember", kUserGroupMember, row, "staff,", CSetObjectBody::kAsIs)
            .Integer("ServiceCIFS", kUserServiceCifs, row, "1")
            .Integer("ServiceFTP", kUserServiceFtp, row, "1")
            .Integer("UserLevel", kUserLevel, row, "1")
            .Integer("rowflag", kUserRowFlag, row, "0")
            .RowEnd("rowend", kUserRowStatus, row);
        return body;
    }

    platform::MessageBoxRecorder boxes;
    EmulatedNas nas{kConfig};
    int port = -1;
};

} // namespace

TEST_F(DeviceForms, UserFormChangesThePasswordEveryServiceChecks)
{
    EXPECT_EQ(port, 80);
    // The token carries the password the device holds, read over SNMP.
    EXPECT_EQ(MakeDeviceAuthorization(CopyLogin()), MakeBasicAuthorization("admin", "secret"));

    std::string row;
    ASSERT_EQ(SnmpFindIndex(CopyLogin(), nasmib::kUserName, "alice", row), 0);
    ASSERT_EQ(row, "2");
    const std::string password = "n&w+1% x";
    ASSERT_EQ(Post("UserManagement", PasswordEdit(row, "alice", password)), kHttpOk);
    EXPECT_EQ(Read(NasCell(nasmib::kUserPassword, row)), password);
    EXPECT_EQ(Read(NasCell(nasmib::kUserFullName, row)), "alice"); // IGNORE left it
    EXPECT_EQ(Read(NasCell(nasmib::kUserGroupMember, row)), "staff,");
    EXPECT_EQ(nas.Login("alice", password), 0);
    EXPECT_EQ(nas.Login("alice", "wonder"), FINDER_ERR_REFUSED);

    // The administrator's own password: the next form reads the new one.
    ASSERT_EQ(Post("UserManagement", PasswordEdit("1", "admin", "adm1n")), kHttpOk);
    EXPECT_EQ(GetNasContext()->m_password, "secret");
    EXPECT_EQ(MakeDeviceAuthorization(CopyLogin()), MakeBasicAuthorization("admin", "adm1n"));
    EXPECT_EQ(Post("UserManagement", PasswordEdit(row, "alice", "x").Text(), MakeBasicAuthorization("admin", "secret")),
              kHttpRejected);
    EXPECT_EQ(Read(NasCell(nasmib::kUserPassword, row)), password);
    EXPECT_EQ(nas.Login("admin", "adm1n"), 0);
    EXPECT_EQ(nas.Login("admin", "secret"), FINDER_ERR_REFUSED);
    EXPECT_TRUE(boxes.Texts().empty());

    // A user the device does not hold has no token, after the box.
    LoginCopy stranger = CopyLogin();
    stranger.user = "mallory";
    EXPECT_EQ(MakeDeviceAuthorization(stranger), "");
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Timeout!"});
}

TEST_F(DeviceForms, AddFormsCreateRowsAndEditsChangeOnlyTheirCells)
{
    using namespace nasmib;
    // A new user: the row appears whole and can log in.
    ASSERT_EQ(Post("UserManagement", UserAdd("3", "dave", "d4ve")), kHttpOk);
    EXPECT_EQ(Rows(kUserName), "OK 1,2,3");
    EXPECT_EQ(Read(NasCell(kUserLevel, "3")), "1");
    EXPECT_EQ(Read(NasCell(kUserRowStatus, "3")), "1");
    EXPECT_EQ(nas.Login("dave", "d4ve"), 0);

    // A private folder, as the folder form adds it.
    const std::string r = "3";
    CSetObjectBody add;
    add.RowStart("rowstart", kFolderRowStatus, r)
        .Integer("MountIndex", kFolderIndex, r, r)
        .String("MountName", kFolderLocation, r, "HDD2", CSetObjectBody::kAsIs)
        .String("MountPartition", kFolderPartition, r, "", CSetObjectBody::kAsIs)
        .Integer("MountFileSystem", kFolderFileSystem, r, "1")
        .String("MountShareName", kFolderShareName, r, "Fotos & Film", CSetObjectBody::kEscaped)
        .String("MountOldShareName", kFolderOldShareName, r, "Fotos & Film", CSetObjectBody::kEscaped)
        .String("MountDescription", kFolderDescription, r, "", CSetObjectBody::kAsIs)
        .Integer("MountStatus", kFolderStatus, r, "1")
        .String("MountEnableList", kFolderEnableList, r, "", CSetObjectBody::kAsIs)
        .String("MonuntReadList", kFolderReadList, r, "dave,", CSetObjectBody::kEscaped)
        .String("MountWriteList", kFolderWriteList, r, "alice,@staff,", CSetObjectBody::kEscaped)
        .Integer("MountCIFS", kFolderCifs, r, "1")
        .Integer("MountFTP", kFolderFtp, r, "0")
        .Integer("MountNFS", kFolderNfs, r, "0")
        .Integer("MountFolderType", kFolderType, r, "2")
        .Integer("rowflag", kFolderRowFlag, r, "1")
        .RowEnd("rowend", kFolderRowStatus, r);
    ASSERT_EQ(Post("PrivateFolder", add), kHttpOk);
    std::string index;
    ASSERT_EQ(SnmpFindIndex(CopyLogin(), kFolderShareName, "Fotos & Film", index), 0);
    EXPECT_EQ(index, "3");
    EXPECT_EQ(Read(NasCell(kFolderLocation, r)), "HDD2");
    EXPECT_EQ(Read(NasCell(kFolderWriteList, r)), "alice,@staff,");
    EXPECT_EQ(Read(NasCell(kFolderType, r)), "2");

    // An edit sends IGNORE for what it leaves alone.
    CSetObjectBody edit;
    edit.Ignore("rowstart")
        .Ignore("MountIndex")
        .String("MountName", kFolderLocation, r, "HDD2", CSetObjectBody::kAsIs)
        .Ignore("MountPartition")
        .Ignore("MountFileSystem")
        .String("MountShareName", kFolderShareName, r, "Fotos", CSetObjectBody::kEscaped)
        .Ignore("MountOldShareName")
        .Ignore("MountDescription")
        .Ignore("MountStatus")
        .Ignore("MountEnableList")
        .String("MonuntReadList", kFolderReadList, r, "dave,alice,", CSetObjectBody::kEscaped)
        .String("MountWriteList", kFolderWriteList, r, "", CSetObjectBody::kEscaped)
        .Integer("MountCIFS", kFolderCifs, r, "1")
        .Integer("MountFTP", kFolderFtp, r, "1")
        .Integer("MountNFS", kFolderNfs, r, "0")
        .Integer("MountFolderType", kFolderType, r, "2")
        .Integer("rowflag", kFolderRowFlag, r, "2")
        .Ignore("rowend");
    ASSERT_EQ(Post("PrivateFolder", edit), kHttpOk);
    EXPECT_EQ(Read(NasCell(kFolderShareName, r)), "Fotos");
    EXPECT_EQ(Read(NasCell(kFolderOldShareName, r)), "Fotos & Film");
    EXPECT_EQ(Read(NasCell(kFolderReadList, r)), "dave,alice,");
    EXPECT_EQ(Read(NasCell(kFolderWriteList, r)), "");
    EXPECT_EQ(Read(NasCell(kFolderFtp, r)), "1");
    EXPECT_EQ(Read(NasCell(kFolderRowStatus, r)), "1");

    // A group's disk quota row, its row flag IGNORE.
    CSetObjectBody quota;
    quota.RowStart("QuotaStart", kQuotaRowStatus, "2")
        .Integer("QuotaIndex", kQuotaIndex, "2", "2")
        .String("QuotaName", kQuotaName, "2", "staff", CSetObjectBody::kEscaped)
        .Integer("QuotaDisk", kQuotaDisk, "2", "2")
        .Integer("QuotaSize", kQuotaSize, "2", "2048")
        .Integer("QuotaType", kQuotaType, "2", "1")
        .Ignore("QuotaRowFlag")
        .RowEnd("QuotaEnd", kQuotaRowStatus, "2");
    ASSERT_EQ(Post("QuotaManagement", quota), kHttpOk);
    EXPECT_EQ(Rows(kQuotaName), "OK 1,2");
    EXPECT_EQ(Read(NasCell(kQuotaSize, "2")), "2048");
}

TEST_F(DeviceForms, FormsThatDoNotFitTheTablesChangeNothing)
{
    using namespace nasmib;
    const std::string users = nas.dev->Get("users");
    const std::string folders = Rows(kFolderShareName);
    auto refused = [&](const std::string& page, const std::string& body) {
        EXPECT_EQ(Post(page, body, MakeDeviceAuthorization(CopyLogin())), kHttpRejected) << body;
    };
    // A text for a number column, and a number for a text column.
    CSetObjectBody level;
    level.String("UserLevel", kUserLevel, "2", "15", CSetObjectBody::kAsIs);
    refused("UserManagement", level.Text());
    CSetObjectBody name;
    name.Integer("UserName", kUserName, "2", "7");
    refused("UserManagement", name.Text());
    // A cell of another table than the page's.
    CSetObjectBody folder;
    folder.String("MountShareName", kFolderShareName, "1", "hijack", CSetObjectBody::kAsIs);
    refused("UserManagement", folder.Text());
    // A row that does not exist, and a row start on one that does.
    refused("UserManagement", PasswordEdit("9", "ghost", "x").Text());
    refused("UserManagement", UserAdd("2", "mallory", "x").Text());
    // A second user of the same name; an index that is not the row's.
    refused("UserManagement", UserAdd("3", "alice", "x").Text());
    CSetObjectBody index;
    index.RowStart("rowstart", kUserRowStatus, "4").Integer("UserIndex", kUserIndex, "4", "5");
    refused("UserManagement", index.Text());
    // Half a form is not applied either: the good first cell stays unwritten.
    CSetObjectBody half;
    half.String("UserPassword", kUserPassword, "2", "half", CSetObjectBody::kAsIs)
        .String("UserLevel", kUserLevel, "2", "x", CSetObjectBody::kAsIs);
    refused("UserManagement", half.Text());
    // Credentials of nobody.
    EXPECT_EQ(Post("UserManagement", PasswordEdit("2", "alice", "y").Text(), MakeBasicAuthorization("eve", "e")),
              kHttpRejected);

    EXPECT_EQ(nas.dev->Get("users"), users);
    EXPECT_EQ(Rows(kFolderShareName), folders);
    EXPECT_EQ(Read(NasCell(kUserPassword, "2")), "wonder");
    EXPECT_EQ(Read(NasCell(kUserLevel, "2")), "1");
    std::string stats = nas.dev->Command("web stats");
    EXPECT_NE(stats.find(" forms=0 "), std::string::npos) << stats;
}

TEST_F(DeviceForms, WebFaultSwitchesFromTheControlChannel)
{
    const std::string row = "2";
    // Answered 200 but not applied: only a read-back tells.
    ASSERT_TRUE(nas.dev->Ok("web fault noapply"));
    EXPECT_EQ(Post("UserManagement", PasswordEdit(row, "alice", "lost")), kHttpOk);
    EXPECT_EQ(Read(NasCell(nasmib::kUserPassword, row)), "wonder");
    // A split status line is still read; the form is applied once.
    ASSERT_TRUE(nas.dev->Ok("web fault split"));
    EXPECT_EQ(Post("UserManagement", PasswordEdit(row, "alice", "split")), kHttpOk);
    EXPECT_EQ(Read(NasCell(nasmib::kUserPassword, row)), "split");
    ASSERT_TRUE(nas.dev->Ok("web fault unauthorized"));
    EXPECT_EQ(Post("UserManagement", PasswordEdit(row, "alice", "no")), kHttpRejected);
    ASSERT_TRUE(nas.dev->Ok("web fault refuse"));
    EXPECT_EQ(Post("UserManagement", PasswordEdit(row, "alice", "no")), kHttpSocketFailed);
    {
        ASSERT_EQ(boxes.Texts().size(), 1u);
        EXPECT_EQ(boxes.Texts()[0].rfind("Socket Connect Fail!!", 0), 0u) << boxes.Texts()[0];
    }
    ASSERT_TRUE(nas.dev->Ok("web fault none"));
    EXPECT_EQ(Post("UserManagement", PasswordEdit(row, "alice", "back")), kHttpOk);
    EXPECT_EQ(Read(NasCell(nasmib::kUserPassword, row)), "back");
    EXPECT_EQ(nas.dev->Command("web stats").rfind("OK connections=", 0), 0u);
    EXPECT_EQ(nas.dev->Command("web fault bogus").rfind("ERR", 0), 0u);
}

TEST(DeviceWebPort, TheReportedPortIsTheServedOne)
{
    platform::MessageBoxRecorder boxes;
    EmulatedNas nas("user = admin:pw:15\nweb_port = 8080\n");
    ASSERT_TRUE(nas.Started());
    nas.LogInContext("admin", "pw");
    EXPECT_EQ(GetNasWebPort(CopyLogin(), nullptr), 8080);
    EXPECT_EQ(nas.dev->Command("web port"), "OK 8080");
    EXPECT_EQ(SendHttpRequest(EmulatedNas::kAddress, 8080,
                              BuildProbeRequest(EmulatedNas::kAddress, MakeDeviceAuthorization(CopyLogin()))),
              kHttpOk);
    // A device that reports no usable port.
    ASSERT_TRUE(nas.dev->Ok("set web_port 0"));
    EXPECT_EQ(GetNasWebPort(CopyLogin(), nullptr), -1);
}

TEST_F(DeviceForms, RequestsAndSetsAreReadBackFromTheControlChannel)
{
    EXPECT_EQ(nas.dev->Command("web request -1"), "ERR no such request");
    const std::string body = PasswordEdit("2", "alice", "seen").Text();
    ASSERT_EQ(Post("UserManagement", body, MakeDeviceAuthorization(CopyLogin())), kHttpOk);
    // As sent: the head and the Content-Length bytes, without the trailer.
    const std::string request = nas.dev->WebRequest(-1);
    EXPECT_EQ(
        request.rfind("POST /cgi-bin/setobject?/configuration/ShareManagement/UserManagement.shtml HTTP/1.1\r\n", 0),
        0u)
        << request;
    ASSERT_GE(request.size(), body.size());
    EXPECT_EQ(request.substr(request.size() - body.size()), body);
    EXPECT_EQ(nas.dev->Command("web requests"), "OK 1");
    EXPECT_EQ(nas.dev->WebRequest(0), request);

    // Only the last 32 are kept.
    for (int i = 0; i < 32; ++i)
        ASSERT_EQ(SendHttpRequest(EmulatedNas::kAddress, static_cast<unsigned>(port),
                                  BuildProbeRequest(EmulatedNas::kAddress, MakeDeviceAuthorization(CopyLogin()))),
                  kHttpOk);
    EXPECT_EQ(nas.dev->Command("web requests"), "OK 33");
    EXPECT_EQ(nas.dev->Command("web request 0"), "ERR no such request");
    EXPECT_EQ(nas.dev->WebRequest(1).rfind("GET / HTTP/1.1\r\n", 0), 0u);
    EXPECT_EQ(nas.dev->WebRequests().size(), 32u);

    // SNMP SETs: what they wrote, in order; reads and forms are not SETs.
    EXPECT_EQ(nas.dev->Command("snmp writes"), "OK 0");
    ASSERT_EQ(SnmpSetWithRetry(CopyLogin(), nasmib::kDeviceName, "RENAMED"), 0);
    std::string value;
    ASSERT_EQ(SnmpGetWithRetry(CopyLogin(), nasmib::kDeviceName, value), 0);
    EXPECT_EQ(nas.dev->SnmpWrites(), std::vector<std::string>{std::string(nasmib::kDeviceName) + " s RENAMED"});
    EXPECT_EQ(nas.dev->Command("snmp write 1"), "ERR no such write");
    EXPECT_EQ(nas.dev->Command("snmp write x").rfind("ERR", 0), 0u);
}
