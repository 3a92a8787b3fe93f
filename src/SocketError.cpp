#include "SocketError.h"

#include <cerrno>
#include <cstdio>
#include <sstream>
#include <system_error>

#include "MessageBox.h"

namespace {

thread_local int t_lastSocketError = 0;

struct ErrnoMapping {
    int err;
    int wsa;
};

// The one table from errno to the Windows numbering.
const ErrnoMapping kErrnoToWsa[] = {
    {EINTR, WSAEINTR},
    {EBADF, WSAEBADF},
    {EACCES, WSAEACCES},
    {EPERM, WSAEACCES},
    {EFAULT, WSAEFAULT},
    {EINVAL, WSAEINVAL},
    {EMFILE, WSAEMFILE},
    {ENFILE, WSAEMFILE},
    {EWOULDBLOCK, WSAEWOULDBLOCK},
#if EAGAIN != EWOULDBLOCK
    {EAGAIN, WSAEWOULDBLOCK},
#endif
    {EINPROGRESS, WSAEINPROGRESS},
    {EALREADY, WSAEALREADY},
    {ENOTSOCK, WSAENOTSOCK},
    {EDESTADDRREQ, WSAEDESTADDRREQ},
    {EMSGSIZE, WSAEMSGSIZE},
    {EPROTOTYPE, WSAEPROTOTYPE},
    {ENOPROTOOPT, WSAENOPROTOOPT},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {EOPNOTSUPP, WSAEOPNOTSUPP},
    {EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {EADDRINUSE, WSAEADDRINUSE},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {ENETDOWN, WSAENETDOWN},
    {ENETUNREACH, WSAENETUNREACH},
    {ENETRESET, WSAENETRESET},
    {ECONNABORTED, WSAECONNABORTED},
    {ECONNRESET, WSAECONNRESET},
    {EPIPE, WSAECONNRESET}, // writing to a connection the peer has closed
    {ENOBUFS, WSAENOBUFS},
    {ENOMEM, WSAENOBUFS},
    {EISCONN, WSAEISCONN},
    {ENOTCONN, WSAENOTCONN},
    {ESHUTDOWN, WSAESHUTDOWN},
    {ETOOMANYREFS, WSAETOOMANYREFS},
    {ETIMEDOUT, WSAETIMEDOUT},
    {ECONNREFUSED, WSAECONNREFUSED},
    {ELOOP, WSAELOOP},
    {ENAMETOOLONG, WSAENAMETOOLONG},
    {EHOSTDOWN, WSAEHOSTDOWN},
    {EHOSTUNREACH, WSAEHOSTUNREACH},
};

struct ErrorText {
    int wsa;
    const char* text;
};

const ErrorText kErrorTexts[] = {
    {WSAEACCES, "The requested address is a broadcast address, but the appropriate flag was not set."},
    {WSAEFAULT, "The lpBuf argument is not in a valid part of the user address space."},
    {WSAEINVAL, "The socket has not been bound with Bind. "},
    {WSAEMFILE, "No more file descriptors are available.\n"},
    {WSAEWOULDBLOCK, "The socket is marked as nonblocking and the requested operation would block."},
    {WSAEINPROGRESS, "A blocking Windows Sockets operation is in progress."},
    {WSAENOTSOCK, "The descriptor is not a socket."},
    {WSAEDESTADDRREQ, "A destination address is required.\n"},
    {WSAEMSGSIZE, "The socket is of type SOCK_DGRAM, and the datagram is larger than the maximum supported by the "
                  "Windows Sockets implementation."},
    {WSAEOPNOTSUPP, "MSG_OOB was specified, but the socket is not of type SOCK_STREAM."},
    {WSAEAFNOSUPPORT, "Addresses in the specified family cannot be used with this socket.\n"},
    {WSAEADDRINUSE, "The specified address is already in use.\n"},
    {WSAEADDRNOTAVAIL, "The specified address is not available from the local machine.\n"},
    {WSAENETDOWN, "The Windows Sockets implementation detected that the network subsystem failed."},
    {WSAENETUNREACH, "The network cannot be reached from this host at this time.\n"},
    {WSAENETRESET, "The connection must be reset because the Windows Sockets implementation dropped it."},
    {WSAECONNABORTED, "The virtual circuit was aborted due to timeout or other failure."},
    {WSAECONNRESET, "The virtual circuit was reset by the remote side."},
    {WSAENOBUFS, "The Windows Sockets implementation reports a buffer deadlock."},
    {WSAEISCONN, "The socket is already connected.\n"},
    {WSAENOTCONN, "send error :The socket is not connected."},
    {WSAESHUTDOWN, "The socket has been shut down; it is not possible to call Send on a socket after ShutDown has "
                   "been invoked with nHow set to 1 or 2."},
    {WSAETIMEDOUT, "The attempt to connect timed out without  establishing a connection. \n"},
    {WSAECONNREFUSED, "The attempt to connect was forcefully  rejected.\n"},
    {WSANOTINITIALISED, "A successful AfxSocketInit must occur before using this API."},
};

// The fixed text for a Windows Sockets code, or null when it has none.
const char* ErrorTextOf(int wsaError)
{
    for (const ErrorText& t : kErrorTexts)
        if (t.wsa == wsaError)
            return t.text;
    return nullptr;
}

} // namespace

int WsaErrorFromErrno(int err)
{
    for (const ErrnoMapping& m : kErrnoToWsa)
        if (m.err == err)
            return m.wsa;
    return err;
}

int GetLastSocketError() { return t_lastSocketError; }

void SetLastSocketError(int wsaError) { t_lastSocketError = wsaError; }

int SetLastSocketErrorFromErrno(int err)
{
    t_lastSocketError = WsaErrorFromErrno(err);
    return t_lastSocketError;
}

std::string SocketErrorMessage(int wsaError)
{
    if (const char* known = ErrorTextOf(wsaError))
        return known;
    char text[64];
    std::snprintf(text, sizeof text, "OnConnect error: %d", wsaError);
    return text;
}

std::string SocketErrorReason(int wsaError)
{
    const char* known = ErrorTextOf(wsaError);
    std::string text = known != nullptr ? known : "";
    if (text.empty()) {
        for (const ErrnoMapping& m : kErrnoToWsa) {
            if (m.wsa == wsaError) {
                text = std::error_code(m.err, std::generic_category()).message() + ".";
                break;
            }
        }
    }
    // One blank between words, no line breaks.
    std::istringstream words(text);
    std::string reason, word;
    while (words >> word)
        reason += (reason.empty() ? "" : " ") + word;
    return reason;
}

std::string WithSocketErrorReason(const std::string& text, int wsaError)
{
    const std::string reason = SocketErrorReason(wsaError);
    return reason.empty() ? text : text + "\n" + reason;
}

void SocketErrorText() { platform::MessageBox(SocketErrorMessage(GetLastSocketError()), platform::MB_OK); }
