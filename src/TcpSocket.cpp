#include "TcpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "Clock.h"
#include "SocketError.h"

namespace {

// Deadlines are on the program's clock; the system's waits last what such a
// wait lasts on it in real time.
int64_t DeadlineIn(unsigned timeoutMs) { return platform::TickMs() + static_cast<int64_t>(timeoutMs); }

// Waits for events on fd until the deadline: 1 ready, 0 timed out, -1 error.
int WaitFor(int fd, short events, int64_t deadline)
{
    for (;;) {
        const int64_t left = deadline - platform::TickMs();
        if (left <= 0)
            return 0;
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(platform::RealMs(left), 1 << 30)));
        if (r > 0)
            return 1;
        if (r == 0)
            return 0;
        if (errno != EINTR)
            return -1;
    }
}

bool ResolveHost(const std::string& host, in_addr& address)
{
    if (::inet_pton(AF_INET, host.c_str(), &address) == 1)
        return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    address = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return true;
}

} // namespace

CTcpSocket::~CTcpSocket() { Close(); }

bool CTcpSocket::Create()
{
    Close();
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0) {
        SetLastSocketErrorFromErrno(errno);
        return false;
    }
    return true;
}

bool CTcpSocket::Connect(const std::string& host, unsigned port, unsigned timeoutMs)
{
    if (m_fd < 0) {
        SetLastSocketError(WSAENOTSOCK);
        return false;
    }
    in_addr address{};
    if (!ResolveHost(host, address)) {
        SetLastSocketError(WSAHOST_NOT_FOUND);
        return false;
    }
    if (port == 0 || port > 65535) {
        SetLastSocketError(WSAEADDRNOTAVAIL);
        return false;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(static_cast<uint16_t>(port));
    peer.sin_addr = address;
    const int64_t deadline = DeadlineIn(timeoutMs);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&peer), sizeof peer) == 0)
        return true;
    if (errno != EINPROGRESS && errno != EINTR) {
        SetLastSocketErrorFromErrno(errno);
        return false;
    }
    int ready = WaitFor(m_fd, POLLOUT, deadline);
    if (ready == 0) {
        SetLastSocketError(WSAETIMEDOUT);
        return false;
    }
    if (ready < 0) {
        SetLastSocketErrorFromErrno(errno);
        return false;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
        err = errno;
    if (err != 0) {
        SetLastSocketErrorFromErrno(err);
        return false;
    }
    return true;
}

bool CTcpSocket::SendAll(const void* data, size_t size, unsigned timeoutMs, size_t* sent)
{
    size_t done = 0;
    if (sent)
        *sent = 0;
    if (m_fd < 0) {
        SetLastSocketError(WSAENOTSOCK);
        return false;
    }
    const int64_t deadline = DeadlineIn(timeoutMs);
    const char* bytes = static_cast<const char*>(data);
    while (done < size) {
        ssize_t n = ::send(m_fd, bytes + done, size - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            if (sent)
                *sent = done;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            int ready = WaitFor(m_fd, POLLOUT, deadline);
            if (ready > 0)
                continue;
            if (ready == 0)
                SetLastSocketError(WSAETIMEDOUT);
            else
                SetLastSocketErrorFromErrno(errno);
            return false;
        }
        SetLastSocketErrorFromErrno(n < 0 ? errno : ECONNRESET);
        return false;
    }
    return true;
}

long CTcpSocket::Receive(void* buffer, size_t size, unsigned timeoutMs)
{
    if (m_fd < 0) {
        SetLastSocketError(WSAENOTSOCK);
        return kError;
    }
    const int64_t deadline = DeadlineIn(timeoutMs);
    for (;;) {
        ssize_t n = ::recv(m_fd, buffer, size, 0);
        if (n >= 0)
            return static_cast<long>(n);
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            SetLastSocketErrorFromErrno(errno);
            return kError;
        }
        int ready = WaitFor(m_fd, POLLIN, deadline);
        if (ready == 0)
            return kTimedOut;
        if (ready < 0) {
            SetLastSocketErrorFromErrno(errno);
            return kError;
        }
    }
}

void CTcpSocket::Close()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}
