#include "site/socket_layer.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

namespace orvane {

bool SocketLayerUsable() {
    // Lets support staff and tests see the refusal path without breaking the network.
    if (const char* forced = std::getenv("ORVANE_NO_SOCKETS"); forced && *forced == '1') {
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

}  // namespace orvane
