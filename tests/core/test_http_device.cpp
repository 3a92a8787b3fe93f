// Form posts against the emulated device's web server, with its faults.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "FormParser.h"
#include "Clock.h"
#include "HttpRequest.h"
#include "MessageBox.h"
#include "TcpSocket.h"
#include "WebServer.h"
#include "stdafx.h"

using testbed::FormCell;
using testbed::WebServer;

namespace {

HttpSendOptions Limits(unsigned perTryMs, unsigned overallMs)
{
    HttpSendOptions options;
    options.limits = {perTryMs, overallMs};
    return options;
}

// The device under test: a web server in front of a small OID -> value
// table, applied cell by cell as the MIB store does.
class Device : public ::testing::Test {
protected:
    void SetUp() override
    {
        server.SetPasswordLookup([](const std::string& user) -> std::optional<std::string> {
            if (user == "admin")
                return std::string("pw");
            return std::nullopt;
        });
        server.SetApplyCells([this](const std::string& page, const std::vector<FormCell>& cells) {
            std::lock_guard<std::mutex> guard(lock);
            pages.push_back(page);
            for (const FormCell& c : cells)
                table[c.oid] = c.value;
            return true;
        });
        ASSERT_TRUE(server.Start("127.0.0.1", 0));
        port = server.Port();
        ASSERT_NE(port, 0u);
    }

    std::string Get(const std::string& oid)
    {
        std::lock_guard<std::mutex> guard(lock);
        auto it = table.find(oid);
        return it == table.end() ? std::string("<none>") : it->second;
    }

    std::string GroupCreate(const std::string& row, const std::string& name, const std::string& password = "pw")
    {
        const std::string t = "1.3.6.1.2.1.26.2.1";
        CSetObjectBody body;
        body.RowStart("rowstart", t + ".8", row)
            .Integer("GroupIndex", t + ".1", row, row)
            .String("GroupName", t + ".2", row, name, CSetObjectBody::kEscaped)
            .String("GroupUserlist", t + ".3", row, "u1,u2", CSetObjectBody::kAsIs)
            .Integer("ServiceCIFS", t + ".4", row, "1")
            .Integer("ServiceFTP", t + ".5", row, "1")
            .Integer("GroupEnable", t + ".6", row, "1")
            .Integer("rowflag", t + ".7", row, "0")
            .RowEnd("rowend", t + ".8", row);
        HttpFormPost post;
        post.area = "ShareManagement";
        post.page = "UserGroup";
        post.referer = "AddGroup.shtml?-1";
        post.accept = kHttpAcceptA1;
        post.userAgent = kHttpUserAgentU1;
        post.host = "127.0.0.1";
        post.authorization = MakeBasicAuthorization("admin", password);
        post.body = body.Text();
        return BuildFormPostRequest(post);
    }

    platform::MessageBoxRecorder boxes;
    WebServer server;
    unsigned port = 0;
    std::mutex lock;
    std::map<std::string, std::string> table;
    std::vector<std::string> pages;
};

} // namespace

TEST_F(Device, FormPostChangesTheTablesInOneConnection)
{
    EXPECT_EQ(SendHttpRequestWithOptions("127.0.0.1", port, GroupCreate("4", "a%b&c+d e"), Limits(3000, 15000)),
              kHttpOk);
    EXPECT_EQ(server.Connections(), 1u);
    EXPECT_EQ(server.FormsApplied(), 1u);
    EXPECT_EQ(Get("1.3.6.1.2.1.26.2.1.2.4"), "a%b&c+d e");
    EXPECT_EQ(Get("1.3.6.1.2.1.26.2.1.3.4"), "u1,u2");
    EXPECT_EQ(Get("1.3.6.1.2.1.26.2.1.1.4"), "4");
    EXPECT_EQ(Get("1.3.6.1.2.1.26.2.1.8.4"), "1"); // row end comes last: the row is active
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0], "/configuration/ShareManagement/UserGroup.shtml");
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(Device, EditFormLeavesIgnoredCellsAlone)
{
    ASSERT_EQ(SendHttpRequest("127.0.0.1", port, GroupCreate("2", "staff")), kHttpOk);
    CSetObjectBody edit;
    const std::string t = "1.3.6.1.2.1.26.2.1";
    edit.Ignore("rowstart")
        .Ignore("GroupIndex")
        .String("GroupName", t + ".2", "2", "staff", CSetObjectBody::kEscaped)
        .String("GroupUserlist", t + ".3", "2", "", CSetObjectBody::kAsIs)
        .Ignore("ServiceCIFS ")
        .Ignore("ServiceFTP")
        .Ignore("GroupEnable")
        .Integer("rowflag", t + ".7", "2", "0")
        .Ignore("rowend");
    HttpFormPost post;
    post.area = "ShareManagement";
    post.page = "UserGroup";
    post.referer = "AddGroup.shtml?3";
    post.host = "127.0.0.1";
    post.authorization = MakeBasicAuthorization("admin", "pw");
    post.body = edit.Text();
    {
        std::lock_guard<std::mutex> guard(lock);
        table[t + ".4.2"] = "0"; // changed on the device meanwhile
    }
    ASSERT_EQ(SendHttpRequest("127.0.0.1", port, BuildFormPostRequest(post)), kHttpOk);
    EXPECT_EQ(Get(t + ".3.2"), "");
    EXPECT_EQ(Get(t + ".4.2"), "0");
    EXPECT_EQ(Get(t + ".8.2"), "1");
}

TEST_F(Device, SilentDeviceGetsNewConnectionsUntilTheOverallLimit)
{
    // The real limits (6 s a try, 20 s in all) on a clock 100 times faster.
    server.SetFault(WebServer::Fault::Silent);
    platform::FastClock fast(100);
    platform::ScopedClock scoped(fast);
    const int64_t start = platform::TickMs();
    EXPECT_EQ(SendHttpRequest("127.0.0.1", port, GroupCreate("4", "g")), kHttpNoAnswer);
    const int64_t spent = platform::TickMs() - start;
    EXPECT_GE(spent, 20000);
    EXPECT_LT(spent, 30000);
    EXPECT_GE(server.Connections(), 3u);
    EXPECT_LE(server.Connections(), 5u);
    EXPECT_EQ(server.FormsApplied(), 0u);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(Device, RefusedConnectionShowsOneBoxAndIsNotRetried)
{
    server.SetFault(WebServer::Fault::Refuse);
    EXPECT_EQ(SendHttpRequest("127.0.0.1", port, GroupCreate("4", "g")), kHttpSocketFailed);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0],
              "Socket Connect Fail!!\nSocket Error code: 10061 ;\nThe attempt to connect was forcefully rejected.");
    EXPECT_EQ(server.Connections(), 0u);
    // Back in service on the same port.
    server.SetFault(WebServer::Fault::None);
    EXPECT_EQ(SendHttpRequest("127.0.0.1", port, GroupCreate("4", "g")), kHttpOk);
    EXPECT_EQ(server.Connections(), 1u);
}

TEST_F(Device, SplitStatusLineIsStillRead)
{
    server.SetFault(WebServer::Fault::SplitStatus);
    EXPECT_EQ(SendHttpRequestWithOptions("127.0.0.1", port, GroupCreate("5", "g"), Limits(3000, 15000)), kHttpOk);
    EXPECT_EQ(server.Connections(), 1u);
    EXPECT_EQ(server.FormsApplied(), 1u);
}

TEST_F(Device, UnauthorizedEndsAtOnce)
{
    EXPECT_EQ(SendHttpRequest("127.0.0.1", port, GroupCreate("4", "g", "wrong")), kHttpRejected);
    server.SetFault(WebServer::Fault::Unauthorized);
    EXPECT_EQ(SendHttpRequest("127.0.0.1", port, GroupCreate("4", "g")), kHttpRejected);
    EXPECT_EQ(server.Connections(), 2u);
    EXPECT_EQ(server.FormsApplied(), 0u);
    EXPECT_EQ(Get("1.3.6.1.2.1.26.2.1.2.4"), "<none>");
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST_F(Device, LateAnswerWithinTheTryAndAnswerWithoutApplying)
{
    // 150 real ms late: within a try of the real 6 s on a clock 10 times faster.
    server.SetFault(WebServer::Fault::Late, 150);
    {
        platform::FastClock fast(10);
        platform::ScopedClock scoped(fast);
        EXPECT_EQ(SendHttpRequest("127.0.0.1", port, GroupCreate("6", "late")), kHttpOk);
    }
    EXPECT_EQ(server.Connections(), 1u);
    EXPECT_EQ(Get("1.3.6.1.2.1.26.2.1.2.6"), "late");

    server.SetFault(WebServer::Fault::OkWithoutApply);
    EXPECT_EQ(SendHttpRequest("127.0.0.1", port, GroupCreate("7", "lost")), kHttpOk);
    EXPECT_EQ(Get("1.3.6.1.2.1.26.2.1.2.7"), "<none>");
}

TEST_F(Device, MalformedFormIsRefusedWhole)
{
    HttpFormPost post;
    post.area = "ShareManagement";
    post.page = "QuotaManagement";
    post.referer = "AddGroupQuota.shtml?-1";
    post.host = "127.0.0.1";
    post.authorization = MakeBasicAuthorization("admin", "pw");
    post.body = "setobject_QuotaName=cs1.3.6.1.2.1.26.3.1.2.3=ok&setobject_QuotaSize=ci1.3.6.1.2.1.26.3.1.4.3=12MB";
    EXPECT_EQ(SendHttpRequest("127.0.0.1", port, BuildFormPostRequest(post)), kHttpRejected);
    EXPECT_EQ(Get("1.3.6.1.2.1.26.3.1.2.3"), "<none>");
    post.page = "NoSuchPage";
    post.body = "setobject_QuotaName=cs1.3.6.1.2.1.26.3.1.2.3=ok";
    EXPECT_EQ(SendHttpRequest("127.0.0.1", port, BuildFormPostRequest(post)), kHttpRejected);
    EXPECT_EQ(server.FormsApplied(), 0u);
}

TEST_F(Device, DiskInitialisationFormAndProbe)
{
    const std::string token = MakeBasicAuthorization("admin", "pw");
    EXPECT_EQ(SendHttpRequest("127.0.0.1", port, BuildInitDiskRequest("127.0.0.1", token, 3, 1)), kHttpOk);
    EXPECT_EQ(Get("1.3.6.1.2.1.21.6.0"), "3");
    EXPECT_EQ(Get("1.3.6.1.2.1.21.9.0"), "1");
    EXPECT_EQ(Get("1.3.6.1.2.1.21.8.0"), "1");
    EXPECT_EQ(SendHttpRequest("127.0.0.1", port, BuildProbeRequest("127.0.0.1", token)), kHttpOk);
    EXPECT_EQ(SendHttpRequest("127.0.0.1", port, BuildProbeRequest("127.0.0.1", "bm9ib2R5Og==")), kHttpRejected);
}

TEST_F(Device, AnswerIsWholeAndCleanDespiteBytesAfterTheBody)
{
    // The program sends a NUL (and some forms a line break) after the body;
    // the answer must still arrive whole, followed by an orderly close.
    CTcpSocket socket;
    ASSERT_TRUE(socket.Create());
    ASSERT_TRUE(socket.Connect("127.0.0.1", port, 2000));
    std::string request = GroupCreate("9", "tail") + std::string("\r\n\0", 3);
    ASSERT_TRUE(socket.SendAll(request.data(), request.size(), 2000));
    std::string answer;
    char buf[1024];
    long n;
    while ((n = socket.Receive(buf, sizeof buf, 5000)) > 0)
        answer.append(buf, static_cast<size_t>(n));
    EXPECT_EQ(n, CTcpSocket::kClosed);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK\r\n", 0), 0u);
    // Whole: as many body bytes as the answer announces.
    size_t headEnd = answer.find("\r\n\r\n");
    size_t length = answer.find("\r\nContent-Length: ");
    ASSERT_NE(headEnd, std::string::npos);
    ASSERT_NE(length, std::string::npos);
    EXPECT_EQ(answer.size() - headEnd - 4, std::stoul(answer.substr(length + 18)));
    EXPECT_EQ(Get("1.3.6.1.2.1.26.2.1.2.9"), "tail");
}

TEST_F(Device, PackageUploadReachesTheHandler)
{
    std::string received;
    std::mutex got;
    server.SetPackageHandler([&](const std::string& package) {
        std::lock_guard<std::mutex> guard(got);
        received = package;
    });
    std::string package = "PKG\r\n--";
    package += kRemoteInstallBoundary;
    package += "x"; // a boundary line must end after the boundary: this stays package data
    for (int i = 0; i < 5000; ++i)
        package += static_cast<char>(i * 7);
    std::string body = RemoteInstallPartHeader() + package + RemoteInstallClosingPart();
    std::string head = BuildRemoteInstallHead("127.0.0.1", MakeBasicAuthorization("admin", "pw"), body.size());
    EXPECT_NE(head.find("\r\nContent-Length:" + std::to_string(body.size()) + "\r\n"), std::string::npos);

    CTcpSocket socket;
    ASSERT_TRUE(socket.Create());
    ASSERT_TRUE(socket.Connect("127.0.0.1", port, 2000));
    ASSERT_TRUE(socket.SendAll(head.data(), head.size(), 2000));
    // The body goes in 1460-byte packets.
    for (size_t at = 0; at < body.size(); at += 1460)
        ASSERT_TRUE(socket.SendAll(body.data() + at, std::min<size_t>(1460, body.size() - at), 2000));
    CHttpStatusReader reader;
    char buf[1024];
    long n;
    while (reader.Result() == CHttpStatusReader::kPending && (n = socket.Receive(buf, sizeof buf, 5000)) > 0)
        reader.Feed(buf, static_cast<size_t>(n));
    EXPECT_EQ(reader.Result(), CHttpStatusReader::kOk);
    EXPECT_EQ(server.PackagesReceived(), 1u);
    std::lock_guard<std::mutex> guard(got);
    EXPECT_EQ(received.size(), package.size());
    EXPECT_TRUE(received == package);
}

// ---------------------------------------------------------------------------

TEST(FormParser, CellsInOrderWithIgnoredFieldsLeftOut)
{
    std::vector<FormCell> cells;
    ASSERT_TRUE(testbed::ParseFormCells("setobject_rowstart=IGNORE&setobject_MountName=cs1.3.6.1.2.1.21.5.1.2.7=Disk1"
                                        "&setobject_ServiceCIFS =IGNORE&setobject_MountFTP=ci1.3.6.1.2.1.21.5.1.13.7=0"
                                        "&setobject_MountDescription=cs1.3.6.1.2.1.21.5.1.7.7=a%25b%26c%2Bd+e=f",
                                        true, cells));
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(cells[0].field, "MountName");
    EXPECT_EQ(cells[0].role, 'c');
    EXPECT_EQ(cells[0].type, 's');
    EXPECT_EQ(cells[0].oid, "1.3.6.1.2.1.21.5.1.2.7");
    EXPECT_EQ(cells[1].type, 'i');
    EXPECT_EQ(cells[1].value, "0");
    EXPECT_EQ(cells[2].value, "a%b&c+d e=f");

    ASSERT_TRUE(testbed::ParseFormCells(BuildInitDiskBody(2, 4), false, cells));
    ASSERT_EQ(cells.size(), 3u);
    EXPECT_EQ(cells[1].field, "DiskMode");
    EXPECT_EQ(cells[1].role, 0);
    EXPECT_EQ(cells[1].oid, "1.3.6.1.2.1.21.9.0");
    EXPECT_EQ(cells[1].value, "4");
}

TEST(FormParser, MalformedBodiesGiveNoCells)
{
    const char* bad[] = {
        "",
        "setobject_a",                                    // no value
        "other_a=ci1.3.6=1",                              // not a setobject field
        "setobject_a=xi1.3.6=1",                          // bad role
        "setobject_a=cx1.3.6=1",                          // bad type
        "setobject_a=ci1..3=1",                           // bad OID
        "setobject_a=ci1.3.6.",                           // no value after the OID
        "setobject_a=ci1.3.6=12a",                        // not an integer
        "setobject_a=ci1.3.6=99999999999",                // out of range
        "setobject_a=cs1.3.6=%4",                         // broken escape
        "setobject_a=bs1.3.6=5",                          // row status as text
        "setobject_a=cs1.3.6=ok&&setobject_b=cs1.3.7=ok", // empty field
    };
    for (const char* body : bad) {
        std::vector<FormCell> cells{FormCell{}};
        std::string error;
        EXPECT_FALSE(testbed::ParseFormCells(body, true, cells, &error)) << body;
        EXPECT_TRUE(cells.empty()) << body;
        EXPECT_FALSE(error.empty()) << body;
    }
}

TEST(FormParser, UploadPartsWithEitherBoundaryForm)
{
    const std::string b = "XyZ";
    std::string package;
    EXPECT_TRUE(testbed::ParseRemoteInstallBody(
        "XyZ\r\nContent-Disposition: form-data; name=\"package\"\r\n\r\n\r\nDATA\r\nXyZ\r\n"
        "Content-Disposition: form-data; name=\"Submit\"\r\n\r\ninstall\r\nXyZ--\r\n",
        b, package));
    EXPECT_EQ(package, "\r\nDATA");
    EXPECT_TRUE(
        testbed::ParseRemoteInstallBody("--XyZ\r\nContent-Disposition: form-data; name=\"package\"\r\n\r\n\r\n--XyZ\r\n"
                                        "Content-Disposition: form-data; name=\"Submit\"\r\n\r\ninstall\r\n--XyZ--\r\n",
                                        b, package));
    EXPECT_EQ(package, "");
    EXPECT_FALSE(testbed::ParseRemoteInstallBody("XyZ\r\nContent-Disposition: form-data; name=\"package\"\r\n\r\nDA", b,
                                                 package));
    EXPECT_FALSE(testbed::ParseRemoteInstallBody(
        "XyZ\r\nContent-Disposition: form-data; name=\"Submit\"\r\n\r\ninstall\r\nXyZ--\r\n", b, package));
}
