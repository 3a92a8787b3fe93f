#pragma once
// A stream socket with bounded waits, the program's stand-in for the class
// library's CSocket. Every failing call records its error for
// GetLastSocketError() in the Windows numbering (SocketError.h).
#include <cstddef>
#include <string>

class CTcpSocket {
public:
    CTcpSocket() = default;
    ~CTcpSocket();
    CTcpSocket(const CTcpSocket&) = delete;
    CTcpSocket& operator=(const CTcpSocket&) = delete;

    // An IPv4 stream socket (any local port).
    bool Create();
    // Connects to host (dotted address or a name) and port, waiting at most
    // timeoutMs. Fails with WSAETIMEDOUT when the time passes.
    bool Connect(const std::string& host, unsigned port, unsigned timeoutMs);
    // Sends every byte; fails on an error or when timeoutMs pass before the
    // last byte left (WSAETIMEDOUT). *sent receives the bytes that did go.
    bool SendAll(const void* data, size_t size, unsigned timeoutMs, size_t* sent = nullptr);

    enum : long { kClosed = 0, kError = -1, kTimedOut = -2 };
    // Waits at most timeoutMs for bytes: their count, kClosed when the peer
    // ended the connection, kError, or kTimedOut.
    long Receive(void* buffer, size_t size, unsigned timeoutMs);

    void Close();
    int Handle() const { return m_fd; }

private:
    int m_fd = -1;
};
