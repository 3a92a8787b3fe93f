// Request framing, body encoding, the answer judge and the bytes that go on
// the wire.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "HttpRequest.h"
#include "MessageBox.h"
#include "SocketError.h"
#include "stdafx.h"

namespace {

// A one-shot peer on 127.0.0.1: accepts one connection at a time and lets
// the test script what happens on it.
class RawPeer {
public:
    RawPeer()
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
        socklen_t len = sizeof a;
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        EXPECT_EQ(::listen(m_fd, 8), 0);
    }
    ~RawPeer()
    {
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_fd);
    }
    unsigned Port() const { return m_port; }
    void Join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    // Runs script on each of count connections in turn.
    void Serve(int count, std::function<void(int)> script)
    {
        m_thread = std::thread([this, count, script] {
            for (int i = 0; i < count; ++i) {
                int c = ::accept(m_fd, nullptr, nullptr);
                if (c < 0)
                    return;
                script(c);
                ::close(c);
            }
        });
    }

private:
    int m_fd = -1;
    unsigned m_port = 0;
    std::thread m_thread;
};

// Reads until n bytes have come or the peer closes.
std::string ReadBytes(int fd, size_t n)
{
    std::string got;
    char buf[4096];
    while (got.size() < n) {
        ssize_t r = ::recv(fd, buf, std::min(sizeof buf, n - got.size()), 0);
        if (r <= 0)
            break;
        got.append(buf, static_cast<size_t>(r));
    }
    return got;
}

void Say(int fd, const std::string& text) { ::send(fd, text.data(), text.size(), MSG_NOSIGNAL); }

HttpSendOptions Limits(unsigned perTryMs, unsigned overallMs)
{
    HttpSendOptions options;
    options.limits = {perTryMs, overallMs};
    return options;
}

const std::string kGroup = "1.3.6.1.2.1.26.2.1";

} // namespace

TEST(HttpRequest, GoldenGroupCreateRequest)
{
    CSetObjectBody body;
    body.RowStart("rowstart", kGroup + ".8", "4")
        .Integer("GroupIndex", kGroup + ".1", "4", "4")
        .String("GroupName", kGroup + ".2", "4", "a%b&c+d=e", CSetObjectBody::kEscaped)
        .String("GroupUserlist", kGroup + ".3", "4", "u1,u2", CSetObjectBody::kAsIs)
        .Integer("ServiceCIFS", kGroup + ".4", "4", "1")
        .Integer("ServiceFTP", kGroup + ".5", "4", "1")
        .Integer("GroupEnable", kGroup + ".6", "4", "1")
        .Integer("rowflag", kGroup + ".7", "4", "0")
        .RowEnd("rowend", kGroup + ".8", "4");
    const std::string expectedBody = "setobject_rowstart=bi1.3.6.1.2.1.26.2.1.8.4=5"
                                     "&setobject_GroupIndex=ci1.3.6.1.2.1.26.2.1.1.4=4"
                                     "&setobject_GroupName=cs1.3.6.1.2.1.26.2.1.2.4=a%25b%26c%2Bd=e"
                                     "&setobject_GroupUserlist=cs1.3.6.1.2.1.26.2.1.3.4=u1,u2"
                                     "&setobject_ServiceCIFS=ci1.3.6.1.2.1.26.2.1.4.4=1"
                                     "&setobject_ServiceFTP=ci1.3.6.1.2.1.26.2.1.5.4=1"
                                     "&setobject_GroupEnable=ci1.3.6.1.2.1.26.2.1.6.4=1"
                                     "&setobject_rowflag=ci1.3.6.1.2.1.26.2.1.7.4=0"
                                     "&setobject_rowend=ei1.3.6.1.2.1.26.2.1.8.4=1";
    ASSERT_EQ(body.Text(), expectedBody);

    HttpFormPost post;
    post.area = "ShareManagement";
    post.page = "UserGroup";
    post.referer = "AddGroup.shtml?-1";
    post.accept = kHttpAcceptA1;
    post.userAgent = kHttpUserAgentU1;
    post.host = "198.18.0.2";
    post.authorization = MakeBasicAuthorization("admin", "pw");
    post.body = body.Text();
    const std::string expected =
        "POST /cgi-bin/setobject?/configuration/ShareManagement/UserGroup.shtml HTTP/1.1\r\n"
        "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-excel, "
        "application/vnd.ms-powerpoint, application/msword, application/x-shockwave-flash, */*\r\n"
        "Referer: http://198.18.0.2/configuration/ShareManagement/AddGroup.shtml?-1\r\n"
        "Accept-Language: zh-tw\r\n"
        "Content-Type: application/x-www-form-urlencoded\r\n"
        "Accept-Encoding: gzip, deflate\r\n"
        "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; KKman3.0; InfoPath.1)\r\n"
        "Host: 198.18.0.2\r\n"
        "Content-Length: " +
        std::to_string(expectedBody.size()) +
        "\r\n"
        "Connection: Keep-Alive\r\n"
        "Cache-Control: no-cache\r\n"
        "Authorization: Basic YWRtaW46cHc=\r\n"
        "\r\n" +
        expectedBody;
    EXPECT_EQ(BuildFormPostRequest(post), expected);
}

TEST(HttpRequest, EditBodiesCarryBareIgnoreFields)
{
    CSetObjectBody body;
    body.Ignore("rowstart")
        .Ignore("MountIndex")
        .String("MountName", "1.3.6.1.2.1.21.5.1.2", "7", "Disk1", CSetObjectBody::kAsIs)
        .Ignore("ServiceCIFS ")
        .Ignore("rowend");
    EXPECT_EQ(body.Text(), "setobject_rowstart=IGNORE&setobject_MountIndex=IGNORE"
                           "&setobject_MountName=cs1.3.6.1.2.1.21.5.1.2.7=Disk1"
                           "&setobject_ServiceCIFS =IGNORE&setobject_rowend=IGNORE");
}

TEST(HttpRequest, EscapingReplacesPercentFirst)
{
    EXPECT_EQ(EscapeFormValue("%26"), "%2526"); // an escaped-looking name stays what it was
    EXPECT_EQ(EscapeFormValue("a+b&c%d"), "a%2Bb%26c%25d");
    EXPECT_EQ(EscapeFormValue("plain = text, ok?"), "plain = text, ok?");
    // Integer cells are escaped too; digits do not change.
    CSetObjectBody body;
    body.Integer("QuotaSize", "1.3.6.1.2.1.26.3.1.4", "8", "12&x=1");
    EXPECT_EQ(body.Text(), "setobject_QuotaSize=ci1.3.6.1.2.1.26.3.1.4.8=12%26x=1");
}

TEST(HttpRequest, ContentLengthCountsBytesAndTrailerIsOutside)
{
    HttpFormPost post;
    post.area = "ShareManagement";
    post.page = "PrivateFolder";
    post.referer = "AddPrivateFolder.shtml?1";
    post.host = "h";
    post.body =
        "setobject_MountShareName=cs1.3.6.1.2.1.21.5.1.5.3=\xD0\xA4\xD0\xBE\xD1\x82\xD0\xBE"; // 4 letters, 8 bytes
    post.trailer = "\r\n";
    std::string r = BuildFormPostRequest(post);
    EXPECT_NE(r.find("\r\nContent-Length: " + std::to_string(post.body.size()) + "\r\n"), std::string::npos);
    EXPECT_EQ(post.body.size(), std::string("setobject_MountShareName=cs1.3.6.1.2.1.21.5.1.5.3=").size() + 8);
    EXPECT_EQ(r.substr(r.size() - post.body.size() - 6), "\r\n\r\n" + post.body + "\r\n");
    EXPECT_NE(r.find("User-Agent: " + std::string(kHttpUserAgentU2) + "\r\n"), std::string::npos);
}

TEST(HttpRequest, InitDiskBodyIsNinetyEightBytes)
{
    EXPECT_EQ(BuildInitDiskBody(3, 1),
              "FormatFS=i1.3.6.1.2.1.21.6.0%3D3&DiskMode=i1.3.6.1.2.1.21.9.0%3D1&InitDisk=i1.3.6.1.2.1.21.8.0%3D1");
    EXPECT_EQ(BuildInitDiskBody(2, 4).size(), 98u);
    std::string r = BuildInitDiskRequest("10.0.0.1", "tok", 2, 0);
    EXPECT_EQ(r.rfind("POST /cgi-bin/setobject?/configuration/SystemStatus/step2.shtml HTTP/1.1\r\n", 0), 0u);
    EXPECT_NE(r.find("Referer: http://10.0.0.1/configuration/SystemStatus/step1.shtml\r\n"), std::string::npos);
    EXPECT_NE(r.find("\r\nContent-Length: 98\r\n"), std::string::npos);
    EXPECT_NE(r.find(std::string("Accept: ") + kHttpAcceptA3 + "\r\n"), std::string::npos);
    EXPECT_EQ(r.substr(r.size() - 2), "\r\n");
}

TEST(HttpStatusReader, JudgesTheStatusLineAcrossPieces)
{
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
    for (size_t cut = 1; cut < answer.size(); ++cut) {
        CHttpStatusReader reader;
        reader.Feed(answer.data(), cut);
        reader.Feed(answer.data() + cut, answer.size() - cut);
        EXPECT_EQ(reader.Result(), CHttpStatusReader::kOk) << cut;
    }
    CHttpStatusReader byteByByte;
    for (char c : std::string("HTTP/1.0 401 Unauthorized\r\n"))
        byteByByte.Feed(&c, 1);
    EXPECT_EQ(byteByByte.Result(), CHttpStatusReader::kRejected);
    EXPECT_EQ(byteByByte.Status(), 401);
}

TEST(HttpStatusReader, OnlyTheStatusLineCounts)
{
    struct Case {
        const char* text;
        CHttpStatusReader::Verdict verdict;
    } cases[] = {
        {"HTTP/1.1 200 OK", CHttpStatusReader::kPending}, // line not complete yet
        {"HTTP/1.1 404 Not Found\r\n\r\n200 OK", CHttpStatusReader::kRejected},
        {"HTTP/1.1 100 Continue\r\nX: y\r\n\r\nHTTP/1.1 200 OK\r\n", CHttpStatusReader::kOk},
        {"\r\nHTTP/1.1 200\r\n", CHttpStatusReader::kOk},
        {"<html>200 OK</html>\n", CHttpStatusReader::kMalformed},
        {"HTTP/1.1 2000 OK\r\n", CHttpStatusReader::kMalformed},
        {"HTTP/x 200 OK\r\n", CHttpStatusReader::kMalformed},
    };
    for (const Case& c : cases) {
        CHttpStatusReader reader;
        EXPECT_EQ(reader.Feed(c.text, std::strlen(c.text)), c.verdict) << c.text;
    }
    // A head that never ends a line is cut off rather than kept growing.
    CHttpStatusReader reader;
    std::string junk(CHttpStatusReader::kMaxHead + 10, 'x');
    EXPECT_EQ(reader.Feed(junk.data(), junk.size()), CHttpStatusReader::kMalformed);
}

TEST(SocketErrors, WindowsNumbersAndTexts)
{
    EXPECT_EQ(WsaErrorFromErrno(ECONNREFUSED), 10061);
    EXPECT_EQ(WsaErrorFromErrno(ETIMEDOUT), 10060);
    EXPECT_EQ(WsaErrorFromErrno(EPIPE), WSAECONNRESET);
    EXPECT_EQ(SocketErrorMessage(WSAECONNREFUSED), "The attempt to connect was forcefully  rejected.\n");
    EXPECT_EQ(SocketErrorMessage(WSAETIMEDOUT),
              "The attempt to connect timed out without  establishing a connection. \n");
    EXPECT_EQ(SocketErrorMessage(12345), "OnConnect error: 12345");
    // The words that follow a number wherever one is shown.
    const std::pair<int, const char*> reasons[] = {
        {WSAECONNREFUSED, "The attempt to connect was forcefully rejected."},
        {WSAETIMEDOUT, "The attempt to connect timed out without establishing a connection."},
        {WSAEHOSTUNREACH, "No route to host."},
        {12345, ""},
    };
    for (const auto& [number, reason] : reasons)
        EXPECT_EQ(SocketErrorReason(number), reason) << number;
    EXPECT_EQ(WithSocketErrorReason("Error code: 10061 ;", WSAECONNREFUSED),
              "Error code: 10061 ;\nThe attempt to connect was forcefully rejected.");
    platform::MessageBoxRecorder boxes;
    SetLastSocketError(WSAENOTCONN);
    SocketErrorText();
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], "send error :The socket is not connected.");
}

TEST(HttpSend, WholeRequestWithItsNulReachesThePeer)
{
    platform::MessageBoxRecorder boxes;
    RawPeer peer;
    const std::string request = "GET / HTTP/1.1\r\nHost: x\r\n\r\n" + std::string(100000, 'b');
    std::string got;
    peer.Serve(1, [&](int c) {
        got = ReadBytes(c, request.size() + 1);
        Say(c, "HTTP/1.1 200 OK\r\n\r\n");
    });
    EXPECT_EQ(SendHttpRequest("127.0.0.1", peer.Port(), request), kHttpOk);
    ASSERT_EQ(got.size(), request.size() + 1);
    EXPECT_EQ(got.back(), '\0');
    EXPECT_EQ(got.substr(0, request.size()), request);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST(HttpSend, StatusSplitAcrossSegmentsIsSeen)
{
    platform::MessageBoxRecorder boxes;
    RawPeer peer;
    peer.Serve(1, [](int c) {
        ReadBytes(c, 1);
        Say(c, "HTTP/1.1 200 O");
        std::this_thread::sleep_for(std::chrono::milliseconds(80));
        Say(c, "K\r\n\r\n");
    });
    EXPECT_EQ(SendHttpRequestWithOptions("127.0.0.1", peer.Port(), "x", Limits(2000, 2000)), kHttpOk);
}

TEST(HttpSend, PeerThatClosesWithoutAnswerIsRetriedUntilTheLimit)
{
    platform::MessageBoxRecorder boxes;
    RawPeer peer;
    int served = 0;
    peer.Serve(2, [&](int c) {
        ++served;
        ReadBytes(c, 1);
        if (served == 2)
            Say(c, "HTTP/1.1 200 OK\r\n\r\n");
    });
    // The first connection ends without a word; the second try gets the answer.
    EXPECT_EQ(SendHttpRequestWithOptions("127.0.0.1", peer.Port(), "x", Limits(100, 5000)), kHttpOk);
    EXPECT_TRUE(boxes.Texts().empty());
}

TEST(HttpSend, NoWaitClosesAfterTheSend)
{
    platform::MessageBoxRecorder boxes;
    RawPeer peer;
    std::string got;
    peer.Serve(1, [&](int c) { got = ReadBytes(c, 100); });
    HttpSendOptions options;
    options.waitForAnswer = false;
    EXPECT_EQ(SendHttpRequestWithOptions("127.0.0.1", peer.Port(), "abc", options), kHttpSentUnconfirmed);
    peer.Join(); // returns once the peer saw the connection end
    EXPECT_EQ(got, std::string("abc\0", 4));
}
