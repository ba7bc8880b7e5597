#include "site/call_back_probe.h"

#include "common/log.h"
#include "site/socket_chunks.h"
#include "wire/message_layout.h"
#include "wire/site_messages.h"

#include <QTcpSocket>

#include <variant>

namespace orvane {
namespace {

// Only an answer to the greeting proves a caller a site: its event, the login taken, its
// channels or its video. A refusal, a limit, a close or a login again is what any host can
// send, and must not tear down the operator's view.
bool IsSiteMessage(const sitemsg::SiteMessageValue& value) {
    return std::holds_alternative<sitemsg::EventRecord>(value) ||
           std::holds_alternative<sitemsg::LoginAccepted>(value) ||
           std::holds_alternative<sitemsg::ChannelList>(value) ||
           std::holds_alternative<sitemsg::VideoFrame>(value);
}

}  // namespace

CallBackProbe::CallBackProbe(QTcpSocket* socket, QObject* parent)
    : QObject(parent),
      socket_(socket),
      assembler_(kSiteAssemblyCapacity, SiteMessageHeader::kSize) {
    socket->setParent(this);
    bool isIpv4 = false;
    const quint32 v4 = socket->peerAddress().toIPv4Address(&isIpv4);
    peer_ = (isIpv4 ? QHostAddress(v4).toString() : socket->peerAddress().toString()) + ':' +
            QString::number(socket->peerPort());
    connect(socket, &QTcpSocket::readyRead, this, &CallBackProbe::OnReadyRead);
    connect(socket, &QTcpSocket::disconnected, this,
            [this] { Fail(QStringLiteral("closed before it spoke")); });
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this,
            [this] { Fail(QStringLiteral("said nothing valid in time")); });
}

void CallBackProbe::Begin(const Block& greeting, int timeoutMs) {
    if (!socket_) {
        return;
    }
    deadline_.start(timeoutMs);
    socket_->write(reinterpret_cast<const char*>(greeting.data()), qint64(greeting.size()));
    OnReadyRead();
}

CallBackProbe::~CallBackProbe() {
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
    }
}

QTcpSocket* CallBackProbe::TakeSocket() {
    QTcpSocket* socket = socket_.data();
    if (socket) {
        socket->disconnect(this);
        socket->setParent(nullptr);
        socket_.clear();
    }
    deadline_.stop();
    return socket;
}

void CallBackProbe::OnReadyRead() {
    if (decided_ || !socket_) {
        return;
    }
    enum class Verdict { Undecided, Site, NotSite };
    Verdict verdict = Verdict::Undecided;
    ReadWaitingChunks(*socket_, kSiteChunkSize, [&](Block chunk) {
        // Everything read is kept, also behind the first message: the new owner reads on
        // from the socket and must see the bytes in their order.
        received_.insert(received_.end(), chunk.begin(), chunk.end());
        if (verdict != Verdict::Undecided) {
            return;
        }
        const auto outcome = assembler_
                                 .Feed(chunk,
                                       [&](std::span<const std::uint8_t> message) {
                                           verdict =
                                               IsSiteMessage(sitemsg::DecodeSiteMessage(message))
                                                   ? Verdict::Site
                                                   : Verdict::NotSite;
                                       })
                                 .outcome;
        if (outcome == FrameAssembler::Outcome::Overflow ||
            outcome == FrameAssembler::Outcome::LengthMismatch) {
            verdict = Verdict::NotSite;
        }
    });
    if (verdict == Verdict::Site) {
        decided_ = true;
        deadline_.stop();
        emit proved();
    } else if (verdict == Verdict::NotSite || received_.size() > kSiteAssemblyCapacity) {
        Fail(QStringLiteral("it does not speak the site protocol"));
    }
}

void CallBackProbe::Fail(const QString& reason) {
    if (decided_) {
        return;
    }
    decided_ = true;
    deadline_.stop();
    qCInfo(lcSite) << "call-back from" << peer_ << "dropped:" << reason;
    emit failed(reason);
}

}  // namespace orvane
