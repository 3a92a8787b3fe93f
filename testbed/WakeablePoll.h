#pragma once
// The emulator's serving threads sleep in poll until their socket has input
// or Stop writes a byte to their wake pipe.
#include <cerrno>
#include <poll.h>

namespace testbed {

// Waits until fd has input (or its peer closed it); false once wakeFd can
// be read, or when poll fails.
inline bool WaitForInput(int fd, int wakeFd)
{
    for (;;) {
        pollfd p[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (p[1].revents)
            return false;
        if (p[0].revents)
            return true;
    }
}

} // namespace testbed
