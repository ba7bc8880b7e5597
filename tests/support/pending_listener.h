#pragma once

#include <QTcpSocket>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvane::test {

// A loopback port on which a connect neither succeeds nor fails: the listener's accept queue
// is full (backlog 0 and one caller already waiting), so the kernel drops further SYNs and a
// new connect stays pending until its own deadline.
class PendingListener {
  public:
    PendingListener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            ::listen(fd_, 0) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        filler_.connectToHost("127.0.0.1", port_);
        ready_ = filler_.waitForConnected(3000);
    }
    ~PendingListener() {
        filler_.abort();
        ::close(fd_);  // -1 when the socket could not be made: EBADF, harmless
    }
    bool ready() const { return ready_; }
    quint16 port() const { return port_; }

  private:
    int fd_ = -1;
    quint16 port_ = 0;
    bool ready_ = false;
    QTcpSocket filler_;
};

}  // namespace orvane::test
