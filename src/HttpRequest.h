#pragma once
// Form posts to the device's web CGI: the request framing shared by every
// form, Basic authorization, the "setobject" body encoding and the sender
// that waits for the device's "200 OK".
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "stdafx.h"

// ---------------------------------------------------------------------------
// Header variants the forms choose from

inline constexpr char kHttpAcceptA1[] =
    "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/vnd.ms-excel, "
    "application/vnd.ms-powerpoint, application/msword, application/x-shockwave-flash, */*";
inline constexpr char kHttpAcceptA2[] =
    "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*";
inline constexpr char kHttpAcceptA3[] =
    "image/gif, image/x-xbitmap,  image/jpeg,  image/pjpeg, application/x-shockwave-flash, "
    "application/vnd.ms-excel, application/vnd.ms-powerpoint, application/msword, */*";
inline constexpr char kHttpAcceptAny[] = "*/*";

inline constexpr char kHttpUserAgentU1[] =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; KKman3.0; InfoPath.1)";
inline constexpr char kHttpUserAgentU2[] =
    "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0; .NET CLR 1.0.3705; .NET CLR 1.1.4322)";
inline constexpr char kHttpUserAgentU3[] =
    "Mozilla/4.0 (compatible; MSIE 6.1; Windows NT 5.1; SV1; .NET CLR 2.0.20727; .NET CLR 1.14322)";
inline constexpr char kHttpUserAgentU4[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; .NET CLR 1.0.3705)";

// ---------------------------------------------------------------------------
// Wait limits

struct HttpWaitLimits {
    unsigned perTryMs;  // wait for "200 OK" after each send
    unsigned overallMs; // no new try once this much time has passed since the first
};
// SendHttpRequest itself, the folder form, the group quota of disk 2.
inline constexpr HttpWaitLimits kHttpLimitsStandard{6000, 20000};
// The user and group forms, the group quota of disk 1.
inline constexpr HttpWaitLimits kHttpLimitsShort{3000, 15000};
// The user quota form: one try with a 10 s wait.
inline constexpr HttpWaitLimits kHttpLimitsOneTry{10000, 0};
// Bound on connecting and on sending one request.
inline constexpr unsigned kHttpConnectTimeoutMs = 6000;

// ---------------------------------------------------------------------------
// Results

enum : int {
    kHttpOk = 0,             // the device answered "200 OK"
    kHttpSocketFailed = -1,  // socket could not be created or connected, or the send failed; already shown
    kHttpNoAnswer = -2,      // no "200 OK" within the overall limit
    kHttpRejected = -3,      // the device answered with another status (401 for bad credentials...)
    kHttpSendFailed = -4,    // with HttpSendOptions::distinctSendFailure: the send failed; already shown
    kHttpSentUnconfirmed = 1 // sent whole, not waited for (HttpSendOptions::waitForAnswer false)
};

struct HttpSendOptions {
    HttpWaitLimits limits = kHttpLimitsStandard;
    unsigned connectTimeoutMs = kHttpConnectTimeoutMs;
    // false: close right after the send and return kHttpSentUnconfirmed.
    bool waitForAnswer = true;
    // The box shown when the send fails; empty shows SocketErrorText().
    std::string sendFailureText;
    // A failed send returns kHttpSendFailed rather than kHttpSocketFailed,
    // for callers that go on after it.
    bool distinctSendFailure = false;
};

// Sends the request text with its terminating NUL byte and waits for the
// device's answer with the standard limits. Socket creation and connection
// failures show "Socket Create Fail!!..." / "Socket Connect Fail!!..." with
// the Windows Sockets error number, a failed send shows SocketErrorText();
// all three return kHttpSocketFailed at once. An answer without a status line
// (or none at all) within the per-try limit is tried again on a new
// connection until the overall limit has passed (kHttpNoAnswer); a complete
// status other than 200 ends at once (kHttpRejected).
int SendHttpRequest(const std::string& host, unsigned port, const std::string& request);
// The same loop with the caller's limits; the form builders use it.
int SendHttpRequestWithOptions(const std::string& host, unsigned port, const std::string& request,
                               const HttpSendOptions& options);

// ---------------------------------------------------------------------------
// Judging the answer

// Reads the answer as it arrives in pieces and judges its status line; a
// status split across reads is seen as a whole. Interim 1xx answers are
// skipped. Only the head is kept, so the memory used is bounded.
class CHttpStatusReader {
public:
    enum Verdict { kPending, kOk, kRejected, kMalformed };
    Verdict Feed(const char* data, size_t size);
    Verdict Result() const { return m_verdict; }
    // Status code of the final status line, 0 while none was read.
    int Status() const { return m_status; }

    static constexpr size_t kMaxHead = 16384;

private:
    Verdict Judge();

    std::string m_text;
    size_t m_pos = 0;
    bool m_inInterimHeaders = false;
    int m_status = 0;
    Verdict m_verdict = kPending;
};

// ---------------------------------------------------------------------------
// Authorization

// The Basic token: Base64 of "user:password".
std::string MakeBasicAuthorization(const std::string& user, const std::string& password);
// The token the form posts send: the login's user with the password the
// device holds for that user, read over SNMP (GetUserPassword, which shows
// "Timeout!" when it cannot be read); "" when that password is empty, and the
// caller then sends nothing.
std::string MakeDeviceAuthorization(const LoginCopy& login);

// ---------------------------------------------------------------------------
// "setobject" bodies

// A form value as the device's CGI decodes it: "%" -> "%25", then
// "&" -> "%26", then "+" -> "%2B"; nothing else changes.
std::string EscapeFormValue(const std::string& text);

class CSetObjectBody {
public:
    enum Escape { kAsIs, kEscaped };

    // setobject_<field>=b i <statusColumn>.<row>=5 (opens the row; comes first)
    CSetObjectBody& RowStart(const std::string& field, const std::string& statusColumn, const std::string& row);
    // setobject_<field>=c i <column>.<row>=<value>; the value is escaped
    // (digits stay as they are)
    CSetObjectBody& Integer(const std::string& field, const std::string& column, const std::string& row,
                            const std::string& value);
    // setobject_<field>=c s <column>.<row>=<value>
    CSetObjectBody& String(const std::string& field, const std::string& column, const std::string& row,
                           const std::string& value, Escape escape);
    // setobject_<field>=e i <statusColumn>.<row>=1 (makes the row active; comes last)
    CSetObjectBody& RowEnd(const std::string& field, const std::string& statusColumn, const std::string& row);
    // setobject_<field>=IGNORE: the device leaves the cell as it is.
    CSetObjectBody& Ignore(const std::string& field);

    const std::string& Text() const { return m_text; }

private:
    CSetObjectBody& Add(const std::string& field, const std::string& value);
    std::string m_text;
};

// ---------------------------------------------------------------------------
// Requests

struct HttpFormPost {
    std::string area;    // "ShareManagement"
    std::string page;    // "PrivateFolder" (".shtml" is added)
    std::string referer; // referring page under the area, e.g. "AddPrivateFolder.shtml?-1"
    const char* accept = kHttpAcceptA1;
    const char* userAgent = kHttpUserAgentU2;
    std::string host;          // the device's dotted address
    std::string authorization; // Basic token
    std::string body;
    std::string trailer; // bytes sent after the body, outside Content-Length ("\r\n" for some forms)
};

// "POST /cgi-bin/setobject?/configuration/<area>/<page>.shtml HTTP/1.1" and
// the header lines in the device's order; Content-Length is the body's
// length in bytes.
std::string BuildFormPostRequest(const HttpFormPost& post);

// The disk initialisation form of "step2.shtml": FormatFS, DiskMode and
// InitDisk with "=" sent as "%3D".
std::string BuildInitDiskBody(int formatType, int diskMode);
// Its request (Accept A3, User-Agent U3); the body is followed by "\r\n".
std::string BuildInitDiskRequest(const std::string& host, const std::string& authorization, int formatType,
                                 int diskMode);

// "GET / HTTP/1.1", the authorization probe before a package upload.
std::string BuildProbeRequest(const std::string& host, const std::string& authorization);

// The package upload to "/cgi-bin/remoteinstall".
inline constexpr char kRemoteInstallBoundary[] = "---------------------------7d719c3880d38";
std::string RemoteInstallPartHeader();  // before the package's bytes
std::string RemoteInstallClosingPart(); // after them
std::string BuildRemoteInstallHead(const std::string& host, const std::string& authorization, uint64_t bodyLength);
