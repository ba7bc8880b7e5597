#include "site/event_listener.h"

#include "common/log.h"
#include "site/call_back_probe.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace orvane {
namespace {

// A socket descriptor closed when it goes, unless released to a new owner.
class UniqueFd {
  public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        UniqueFd gone(std::exchange(fd_, std::exchange(other.fd_, -1)));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    bool valid() const { return fd_ >= 0; }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};

// A TCP socket listening on every address (IPv6 and IPv4 where the host has both) at port
// with the given kernel backlog; invalid with the reason in error.
UniqueFd OpenListeningSocket(quint16 port, int backlog, QString& error) {
    auto fail = [&error](const char* step) {
        error = QStringLiteral("%1: %2").arg(QLatin1String(step),
                                             QString::fromLocal8Bit(std::strerror(errno)));
        return UniqueFd();
    };
    constexpr int kType = SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK;
    const int on = 1;
    const int off = 0;
    UniqueFd fd(::socket(AF_INET6, kType, 0));
    if (fd.valid()) {
        sockaddr_in6 address{};
        address.sin6_family = AF_INET6;
        address.sin6_addr = in6addr_any;
        address.sin6_port = htons(port);
        if (::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0 ||
            ::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            return fail("bind");
        }
    } else if (errno == EAFNOSUPPORT) {
        fd = UniqueFd(::socket(AF_INET, kType, 0));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_ANY);
        address.sin_port = htons(port);
        if (!fd.valid()) {
            return fail("socket");
        }
        if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            return fail("bind");
        }
    } else {
        return fail("socket");
    }
    if (::listen(fd.get(), backlog) != 0) {
        return fail("listen");
    }
    return fd;
}

}  // namespace

EventListener::EventListener(QObject* parent)
    : QObject(parent), proofTimeoutMs_(CallBackProbe::kProofTimeoutMs) {}

EventListener::~EventListener() = default;

void EventListener::SetCallBackHandling(Greeting greeting, Adopt adopt) {
    greeting_ = std::move(greeting);
    adopt_ = std::move(adopt);
}

bool EventListener::Listen(quint16 port) {
    delete server_;
    server_ = nullptr;
    // Made here, not by QTcpServer::listen: only so does the kernel's accept queue get the
    // backlog of five (Qt always asks for 50; its maximum of pending connections is a queue
    // of its own).
    QString error;
    UniqueFd socket = OpenListeningSocket(port, kBacklog, error);
    auto* server = new QTcpServer(this);
    server->setMaxPendingConnections(kBacklog);
    if (socket.valid() && !server->setSocketDescriptor(socket.get())) {
        error = server->errorString();
    } else if (socket.valid()) {
        socket.release();  // the server's now
    }
    if (!error.isEmpty()) {
        error_ = error;
        qCWarning(lcSite) << "cannot listen for call-backs on port" << port << error_;
        delete server;
        return false;
    }
    server_ = server;
    error_.clear();
    connect(server_, &QTcpServer::newConnection, this, &EventListener::OnNewConnection);
    return true;
}

bool EventListener::listening() const {
    return server_ && server_->isListening();
}

quint16 EventListener::port() const {
    return server_ ? server_->serverPort() : 0;
}

void EventListener::Forget(CallBackProbe* probe) {
    pending_.erase(std::remove(pending_.begin(), pending_.end(), probe), pending_.end());
}

void EventListener::Refuse(QTcpSocket* socket) {
    ++refused_;
    socket->abort();
    socket->deleteLater();
}

void EventListener::OnNewConnection() {
    while (QTcpSocket* socket = server_->nextPendingConnection()) {
        if (!adopt_ || !greeting_) {
            qCInfo(lcSite) << "call-back refused: not taking call-backs";
            Refuse(socket);
            continue;
        }
        // Before the greeting: a host that may not call learns nothing, not even that a
        // client listens here, and costs no probe.
        if (admission_ && !admission_().Admits(socket->peerAddress())) {
            qCWarning(lcSite).noquote() << "call-back from" << socket->peerAddress().toString()
                                        << "refused: not a host \"CallBackFrom\" admits";
            Refuse(socket);
            continue;
        }
        if (pending_.size() >= kMaxPendingCallers) {
            // A site answers the greeting within moments; callers that have kept quiet longest
            // make room, so idle connections can never lock a real site's alarm out.
            pending_.front()->Abandon(QStringLiteral("crowded out by a newer caller"));
        }
        auto* probe = new CallBackProbe(socket, this);
        pending_.push_back(probe);
        connect(probe, &CallBackProbe::failed, this, [this, probe] {
            Forget(probe);
            ++refused_;
            probe->deleteLater();
        });
        connect(probe, &CallBackProbe::proved, this, [this, probe] {
            Forget(probe);
            QTcpSocket* caller = probe->TakeSocket();
            Block received = probe->received();
            qCInfo(lcSite) << "call-back from" << probe->peer() << "taken";
            probe->deleteLater();
            adopt_(caller, std::move(received));
        });
        probe->Begin(greeting_(), proofTimeoutMs_);
    }
}

}  // namespace orvane
