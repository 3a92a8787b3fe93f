#pragma once
#include <string>

// Socket error numbers as the user sees them. The program shows the
// Windows Sockets numbering (WSAE*) in its messages, so every socket call of
// ours records its failure through one mapping from errno.

// Windows Sockets error numbers.
enum : int {
    WSAEINTR = 10004,
    WSAEBADF = 10009,
    WSAEACCES = 10013,
    WSAEFAULT = 10014,
    WSAEINVAL = 10022,
    WSAEMFILE = 10024,
    WSAEWOULDBLOCK = 10035,
    WSAEINPROGRESS = 10036,
    WSAEALREADY = 10037,
    WSAENOTSOCK = 10038,
    WSAEDESTADDRREQ = 10039,
    WSAEMSGSIZE = 10040,
    WSAEPROTOTYPE = 10041,
    WSAENOPROTOOPT = 10042,
    WSAEPROTONOSUPPORT = 10043,
    WSAESOCKTNOSUPPORT = 10044,
    WSAEOPNOTSUPP = 10045,
    WSAEPFNOSUPPORT = 10046,
    WSAEAFNOSUPPORT = 10047,
    WSAEADDRINUSE = 10048,
    WSAEADDRNOTAVAIL = 10049,
    WSAENETDOWN = 10050,
    WSAENETUNREACH = 10051,
    WSAENETRESET = 10052,
    WSAECONNABORTED = 10053,
    WSAECONNRESET = 10054,
    WSAENOBUFS = 10055,
    WSAEISCONN = 10056,
    WSAENOTCONN = 10057,
    WSAESHUTDOWN = 10058,
    WSAETOOMANYREFS = 10059,
    WSAETIMEDOUT = 10060,
    WSAECONNREFUSED = 10061,
    WSAELOOP = 10062,
    WSAENAMETOOLONG = 10063,
    WSAEHOSTDOWN = 10064,
    WSAEHOSTUNREACH = 10065,
    WSANOTINITIALISED = 10093,
    WSAHOST_NOT_FOUND = 11001,
};

// The Windows Sockets number of an errno value; an errno without a
// counterpart is returned unchanged.
int WsaErrorFromErrno(int err);

// The calling thread's last socket error (Windows numbering), as recorded by
// the socket calls of CTcpSocket; 0 when none failed yet.
int GetLastSocketError();
void SetLastSocketError(int wsaError);
// Records errno's counterpart and returns it.
int SetLastSocketErrorFromErrno(int err);

// The text shown for a socket error, "OnConnect error: %d" for the numbers
// without a text of their own.
std::string SocketErrorMessage(int wsaError);

// The words for a socket error number, to follow the number wherever one is
// shown: the text above with its spacing tidied, or, for numbers without one,
// the system's description of the matching errno; "" when there is neither.
std::string SocketErrorReason(int wsaError);
// text with the reason for wsaError on a line of its own after it.
std::string WithSocketErrorReason(const std::string& text, int wsaError);

// Shows one message box (no caption of its own) describing the calling thread's last
// socket error.
void SocketErrorText();
