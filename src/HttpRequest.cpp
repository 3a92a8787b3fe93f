#include "HttpRequest.h"

#include <cstdint>
#include <cstdio>

#include "BlockingCalls.h"
#include "Clock.h"
#include "MessageBox.h"
#include "SnmpHelpers.h"
#include "SocketError.h"
#include "TcpSocket.h"
#include "stdafx.h"

namespace {

// Milliseconds on the program's clock since a tick.
unsigned ElapsedMs(int64_t since)
{
    const int64_t ms = platform::TickMs() - since;
    return ms > 0 ? static_cast<unsigned>(ms) : 0u;
}

// The text of a socket failure: its number and what the number means.
std::string ErrorCodeText(const char* format, int code)
{
    char text[128];
    std::snprintf(text, sizeof text, format, code);
    return WithSocketErrorReason(text, code);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "HTTP/<d>.<d> <ddd>" followed by the end of the line or a blank; the code
// into status.
bool ParseStatusLine(const std::string& line, int& status)
{
    if (line.compare(0, 5, "HTTP/") != 0)
        return false;
    size_t i = 5;
    size_t digits = 0;
    while (i < line.size() && IsDigit(line[i]))
        ++i, ++digits;
    if (digits == 0 || i >= line.size() || line[i] != '.')
        return false;
    ++i;
    digits = 0;
    while (i < line.size() && IsDigit(line[i]))
        ++i, ++digits;
    if (digits == 0 || i >= line.size() || line[i] != ' ')
        return false;
    ++i;
    if (i + 3 > line.size() || !IsDigit(line[i]) || !IsDigit(line[i + 1]) || !IsDigit(line[i + 2]))
        return false;
    if (i + 3 < line.size() && line[i + 3] != ' ')
        return false;
    status = (line[i] - '0') * 100 + (line[i + 1] - '0') * 10 + (line[i + 2] - '0');
    return status >= 100;
}

} // namespace

// ---------------------------------------------------------------------------

CHttpStatusReader::Verdict CHttpStatusReader::Feed(const char* data, size_t size)
{
    if (m_verdict != kPending)
        return m_verdict;
    size_t room = kMaxHead + 1 - m_text.size();
    m_text.append(data, size < room ? size : room);
    return Judge();
}

CHttpStatusReader::Verdict CHttpStatusReader::Judge()
{
    for (;;) {
        size_t eol = m_text.find('\n', m_pos);
        if (eol == std::string::npos) {
            if (m_text.size() > kMaxHead)
                m_verdict = kMalformed;
            return m_verdict;
        }
        std::string line = m_text.substr(m_pos, eol - m_pos);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        m_pos = eol + 1;
        if (m_inInterimHeaders) {
            if (line.empty())
                m_inInterimHeaders = false;
            continue;
        }
        if (line.empty())
            continue; // blank lines before a status line
        int status = 0;
        if (!ParseStatusLine(line, status)) {
            m_verdict = kMalformed;
            return m_verdict;
        }
        if (status < 200 && status != 101) {
            m_inInterimHeaders = true; // 100 Continue and the like: the real answer follows
            continue;
        }
        m_status = status;
        m_verdict = status == 200 ? kOk : kRejected;
        m_text.clear();
        m_text.shrink_to_fit();
        return m_verdict;
    }
}

// ---------------------------------------------------------------------------

int SendHttpRequest(const std::string& host, unsigned port, const std::string& request)
{
    return SendHttpRequestWithOptions(host, port, request, HttpSendOptions{});
}

int SendHttpRequestWithOptions(const std::string& host, unsigned port, const std::string& request,
                               const HttpSendOptions& options)
{
    NoteBlockingCall(BlockingCall::Http);
    const int64_t start = platform::TickMs();
    // The device reads the request up to and including its NUL byte.
    std::string bytes = request;
    bytes.push_back('\0');
    const unsigned perTry = options.limits.perTryMs;

    for (;;) {
        CTcpSocket socket;
        if (!socket.Create()) {
            platform::MessageBox(ErrorCodeText("Socket Create Fail!!\nSocket Error code: %d ;", GetLastSocketError()));
            return kHttpSocketFailed;
        }
        if (!socket.Connect(host, port, options.connectTimeoutMs)) {
            platform::MessageBox(ErrorCodeText("Socket Connect Fail!!\nSocket Error code: %d ;", GetLastSocketError()));
            return kHttpSocketFailed;
        }

        const int64_t tryStart = platform::TickMs();
        if (!socket.SendAll(bytes.data(), bytes.size(), options.connectTimeoutMs)) {
            if (options.sendFailureText.empty())
                SocketErrorText();
            else
                platform::MessageBox(options.sendFailureText);
            return options.distinctSendFailure ? kHttpSendFailed : kHttpSocketFailed;
        }
        if (!options.waitForAnswer)
            return kHttpSentUnconfirmed;

        CHttpStatusReader reader;
        char chunk[1024];
        bool tryOver = false;
        while (reader.Result() == CHttpStatusReader::kPending && !tryOver) {
            unsigned elapsed = ElapsedMs(tryStart);
            if (elapsed >= perTry)
                break;
            long n = socket.Receive(chunk, sizeof chunk, perTry - elapsed);
            if (n > 0)
                reader.Feed(chunk, static_cast<size_t>(n));
            else if (n == CTcpSocket::kTimedOut)
                break;
            else
                tryOver = true; // closed or failed without a status line
        }
        socket.Close();

        if (reader.Result() == CHttpStatusReader::kOk)
            return kHttpOk;
        if (reader.Result() == CHttpStatusReader::kRejected) {
            DebugTrace("HTTP: device answered status %d\n", reader.Status());
            return kHttpRejected;
        }
        // A connection that ended (or talked nonsense) early still counts
        // as a whole try, so a device that drops connections is not flooded.
        unsigned tryElapsed = ElapsedMs(tryStart);
        unsigned total = ElapsedMs(start);
        if (total >= options.limits.overallMs)
            return kHttpNoAnswer;
        if (tryElapsed < perTry) {
            unsigned pause = perTry - tryElapsed;
            if (pause > options.limits.overallMs - total)
                pause = options.limits.overallMs - total;
            platform::SleepMs(pause);
            if (ElapsedMs(start) >= options.limits.overallMs)
                return kHttpNoAnswer;
        }
    }
}

// ---------------------------------------------------------------------------

std::string MakeBasicAuthorization(const std::string& user, const std::string& password)
{
    return Base64Encode(user + ":" + password);
}

std::string MakeDeviceAuthorization(const LoginCopy& login)
{
    const std::string password = GetUserPassword(login, login.user);
    if (password.empty())
        return {};
    return MakeBasicAuthorization(login.user, password);
}

// ---------------------------------------------------------------------------

std::string EscapeFormValue(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '%': out += "%25"; break;
        case '&': out += "%26"; break;
        case '+': out += "%2B"; break;
        default: out += c; break;
        }
    }
    return out;
}

CSetObjectBody& CSetObjectBody::Add(const std::string& field, const std::string& value)
{
    if (!m_text.empty())
        m_text += '&';
    m_text += "setobject_";
    m_text += field;
    m_text += '=';
    m_text += value;
    return *this;
}

CSetObjectBody& CSetObjectBody::RowStart(const std::string& field, const std::string& statusColumn,
                                         const std::string& row)
{
    return Add(field, "bi" + statusColumn + "." + row + "=5");
}

CSetObjectBody& CSetObjectBody::Integer(const std::string& field, const std::string& column, const std::string& row,
                                        const std::string& value)
{
    return Add(field, "ci" + column + "." + row + "=" + EscapeFormValue(value));
}

CSetObjectBody& CSetObjectBody::String(const std::string& field, const std::string& column, const std::string& row,
                                       const std::string& value, Escape escape)
{
    return Add(field, "cs" + column + "." + row + "=" + (escape == kEscaped ? EscapeFormValue(value) : value));
}

CSetObjectBody& CSetObjectBody::RowEnd(const std::string& field, const std::string& statusColumn,
                                       const std::string& row)
{
    return Add(field, "ei" + statusColumn + "." + row + "=1");
}

CSetObjectBody& CSetObjectBody::Ignore(const std::string& field) { return Add(field, "IGNORE"); }

// ---------------------------------------------------------------------------

std::string BuildFormPostRequest(const HttpFormPost& post)
{
    std::string r;
    r += "POST /cgi-bin/setobject?/configuration/" + post.area + "/" + post.page + ".shtml HTTP/1.1\r\n";
    r += std::string("Accept: ") + post.accept + "\r\n";
    r += "Referer: http://" + post.host + "/configuration/" + post.area + "/" + post.referer + "\r\n";
    r += "Accept-Language: zh-tw\r\n";
    r += "Content-Type: application/x-www-form-urlencoded\r\n";
    r += "Accept-Encoding: gzip, deflate\r\n";
    r += std::string("User-Agent: ") + post.userAgent + "\r\n";
    r += "Host: " + post.host + "\r\n";
    r += "Content-Length: " + std::to_string(post.body.size()) + "\r\n";
    r += "Connection: Keep-Alive\r\n";
    r += "Cache-Control: no-cache\r\n";
    r += "Authorization: Basic " + post.authorization + "\r\n";
    r += "\r\n";
    r += post.body;
    r += post.trailer;
    return r;
}

std::string BuildInitDiskBody(int formatType, int diskMode)
{
    return "FormatFS=i1.3.6.1.2.1.21.6.0%3D" + std::to_string(formatType) + "&DiskMode=i1.3.6.1.2.1.21.9.0%3D" +
           std::to_string(diskMode) + "&InitDisk=i1.3.6.1.2.1.21.8.0%3D1";
}

std::string BuildInitDiskRequest(const std::string& host, const std::string& authorization, int formatType,
                                 int diskMode)
{
    HttpFormPost post;
    post.area = "SystemStatus";
    post.page = "step2";
    post.referer = "step1.shtml";
    post.accept = kHttpAcceptA3;
    post.userAgent = kHttpUserAgentU3;
    post.host = host;
    post.authorization = authorization;
    post.body = BuildInitDiskBody(formatType, diskMode);
    post.trailer = "\r\n";
    return BuildFormPostRequest(post);
}

std::string BuildProbeRequest(const std::string& host, const std::string& authorization)
{
    std::string r;
    r += "GET / HTTP/1.1\r\n";
    r += std::string("Accept: ") + kHttpAcceptA2 + "\r\n";
    r += "Accept-Language: zh-tw\r\n";
    r += "Accept-Encoding: gzip, deflate\r\n";
    r += "If-Modified-Since: Thu, 31 Jul 2008 03:52:38 GMT; length=347\r\n";
    r += std::string("User-Agent: ") + kHttpUserAgentU1 + "\r\n";
    r += "Host: " + host + "\r\n";
    r += "Connection: Keep-Alive\r\n";
    r += "Authorization: Basic " + authorization + "\r\n";
    r += "\r\n";
    return r;
}

std::string RemoteInstallPartHeader()
{
    return std::string(kRemoteInstallBoundary) +
           "\r\nContent-Disposition: form-data; name=\"package\" filename=\"c:\\default_remote_package.bin\"\r\n"
           "Content-Type: application/octet-stream\r\n\r\n";
}

std::string RemoteInstallClosingPart()
{
    return std::string("\r\n") + kRemoteInstallBoundary +
           "\r\nContent-Disposition: form-data; name=\"Submit\"\r\n\r\n" + "install\r\n" + kRemoteInstallBoundary +
           "--\r\n";
}

std::string BuildRemoteInstallHead(const std::string& host, const std::string& authorization, uint64_t bodyLength)
{
    std::string r;
    r += "POST /cgi-bin/remoteinstall HTTP/1.1\r\n";
    r += std::string("Accept: ") + kHttpAcceptAny + "\r\n";
    r += "Referer: http://" + host + "/configuration/SystemConfiguration/SystemConfiguration.shtml\r\n";
    r += "Accept-Language: zh-tw\r\n";
    r += std::string("Content-Type: multipart/form-data; boundary=") + kRemoteInstallBoundary + "\r\n";
    r += "Accept-Encoding: gzip, deflate\r\n";
    r += std::string("User-Agent: ") + kHttpUserAgentU4 + "\r\n";
    r += "Host: " + host + "\r\n";
    r += "Content-Length:" + std::to_string(bodyLength) + "\r\n";
    r += "Connection: Keep-Alive\r\n";
    r += "Cache-Control: no-cache\r\n";
    r += "Authorization: Basic " + authorization + "\r\n";
    r += "\r\n";
    return r;
}
