#pragma once

#include "common/block.h"

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>

namespace orvane::test {

// Sends the whole unit on a non-blocking socket, from a thread of the caller's, waiting 10 ms at
// a time while the kernel's buffer is full, so that a flood keeps the buffer full without
// spinning. False once the link is gone; gives up quietly when stop is set.
inline bool SendWhole(int fd, const Block& unit, const std::atomic<bool>& stop) {
    for (std::size_t at = 0; at < unit.size() && !stop;) {
        const ssize_t n =
            ::send(fd, unit.data() + at, unit.size() - at, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            at += static_cast<std::size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd writable{fd, POLLOUT, 0};
            ::poll(&writable, 1, 10);
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace orvane::test
