#include "site/site_connection.h"

#include "common/command_ids.h"
#include "common/log.h"
#include "site/login_payload.h"
#include "site/socket_chunks.h"

#include <QDateTime>
#include <QHostAddress>
#include <QTcpSocket>

namespace orvane {

SiteConnection::SiteConnection(Services services, QObject* parent)
    : QObject(parent),
      services_(services),
      assembler_(kSiteAssemblyCapacity, SiteMessageHeader::kSize) {
    services_.windows.openWindows = 0;
    services_.windows.nextPosition = QPoint(0, 0);
    timer_.setInterval(kTickMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &SiteConnection::Tick);
    AttachSocket(new QTcpSocket(this));
}

SiteConnection::~SiteConnection() {
    Disconnect(true);
    if (socket_) {
        socket_->disconnect(this);
    }
}

void SiteConnection::AttachSocket(QTcpSocket* socket) {
    socket_ = socket;
    socket_->setParent(this);
    connect(socket_, &QTcpSocket::readyRead, this, &SiteConnection::OnReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, &SiteConnection::OnSocketClosed);
    connect(socket_, &QTcpSocket::connected, this, [this] { writable_ = true; });
}

void SiteConnection::RecreateSocket() {
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_->deleteLater();
    }
    AttachSocket(new QTcpSocket(this));
}

void SiteConnection::AdoptSocket(QTcpSocket* socket) {
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_->deleteLater();
    }
    AttachSocket(socket);
}

bool SiteConnection::Start(bool alarmMode) {
    services_.windows.openWindows = 0;
    services_.windows.nextPosition = QPoint(0, 0);
    peerText_ = QStringLiteral("IP Address: ") + socket_->peerAddress().toString();
    assembler_.Reset();
    dispatching_ = false;
    connectTimeText_ = QStringLiteral("   Time: ") +
                       QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss"));
    frameCounter_ = 0;
    alarmMode_ = alarmMode;
    channelOpenPermission_ = false;
    channelClosePermission_ = false;
    active_ = true;
    // A connected socket can be written at once (the send notification of a fresh link).
    writable_ = socket_->state() == QAbstractSocket::ConnectedState;
    Login();
    timer_.start();
    // Bytes that arrived before the start wait for the first tick, like all others.
    OnReadyRead();
    return true;
}

void SiteConnection::Login() {
    const LoginPayload payload = BuildLoginPayload(services_.settings.LoadCall(), alarmMode_);
    QueueMessage(BuildMessage(static_cast<std::uint8_t>(ClientMessage::Login), payload));
    if (alarmMode_) {
        QueueWord(ClientMessage::EventQuery, 0);
    }
}

void SiteConnection::QueueMessage(MessageBlocks message) {
    sendQueue_.AppendMessage(std::move(message), [this](std::span<const std::uint8_t> block) {
        if (!writable_ || !socket_) {
            return SendOutcome::Blocked;
        }
        const qint64 written =
            socket_->write(reinterpret_cast<const char*>(block.data()), qint64(block.size()));
        return written == qint64(block.size()) ? SendOutcome::Sent : SendOutcome::Blocked;
    });
}

void SiteConnection::QueueWord(ClientMessage type, std::uint32_t value) {
    QueueMessage(BuildWordMessage(static_cast<std::uint8_t>(type), value));
}

void SiteConnection::OnReadyRead() {
    if (socket_) {
        ReadWaitingChunks(*socket_, kSiteChunkSize,
                          [this](Block chunk) { ReceiveChunk(std::move(chunk)); });
    }
}

void SiteConnection::ReceiveChunk(Block chunk) {
    // A chunk never exceeds what one receive call reads, whoever queues it.
    for (std::size_t at = 0; at < chunk.size(); at += kSiteChunkSize) {
        const auto end = std::min(chunk.size(), at + kSiteChunkSize);
        if (at == 0 && end == chunk.size()) {
            receiveQueue_.PushBack(std::move(chunk));
            return;
        }
        receiveQueue_.PushBack(Block(chunk.begin() + static_cast<std::ptrdiff_t>(at),
                                     chunk.begin() + static_cast<std::ptrdiff_t>(end)));
    }
}

void SiteConnection::ProcessReceived() {
    if (dispatching_ || !active_) {
        return;
    }
    dispatching_ = true;
    ProcessReceivedChunks(receiveQueue_, assembler_,
                          [this](std::span<const std::uint8_t> message) { Dispatch(message); });
    dispatching_ = false;
}

void SiteConnection::Tick() {
    ProcessReceived();
    services_.frame.SetStatusLine(
        peerText_ + connectTimeText_ + QStringLiteral(" -- ") +
        QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")) +
        QStringLiteral("    Frame: %1").arg(frameCounter_));
    // The counter is not reset by Start, so a restarted connection's first KeepAlive goes
    // out on its 52nd tick, later ones every 51 ticks.
    if (keepAliveTicks_ > kKeepAliveTicks) {
        QueueWord(ClientMessage::KeepAlive, 0);
        keepAliveTicks_ = 0;
    }
    ++keepAliveTicks_;
}

void SiteConnection::OnSocketClosed() {
    if (!active_) {
        return;  // our own close, or already handled
    }
    writable_ = false;
    // Messages the site sent just before it closed (a SiteClosing, say) are acted on first.
    OnReadyRead();
    ProcessReceived();
    if (services_.settings.LoadCall().reLinkOn()) {
        Disconnect(false);
        services_.frame.PostCommand(cmd::kReconnect);
    } else {
        Disconnect(true);
        services_.frame.PostCommand(cmd::kDisconnect);
    }
}

void SiteConnection::Disconnect(bool closeWindows) {
    active_ = false;
    writable_ = false;
    peerText_.clear();
    alarmMode_ = false;
    timer_.stop();
    receiveQueue_.Clear();
    sendQueue_.Clear();
    if (closeWindows) {
        while (!links_.empty()) {
            CloseLink(links_.front());
            links_.pop_front();
        }
    }
    dispatching_ = false;
    decoder_.reset();
    for (auto& link : links_) {
        link.decoder.reset();
    }
    services_.frame.SetStatusLine(sitetext::kDisconnect);
}

void SiteConnection::CloseLink(ChannelLink& link) {
    if (link.hasWindow()) {
        ChannelWindow* window = link.window;
        link.window = nullptr;
        link.windowObject.clear();
        if (services_.windows.fixedWindow == window) {
            services_.windows.fixedWindow = nullptr;
        }
        --services_.windows.openWindows;
        window->CloseWindow();
    }
    link.window = nullptr;
    ArrangeIfAutomatic();
}

void SiteConnection::ForgetWindow(ChannelWindow* window) {
    for (auto& link : links_) {
        if (link.window == window) {
            link.window = nullptr;
            --services_.windows.openWindows;
            if (services_.windows.fixedWindow == window) {
                services_.windows.fixedWindow = nullptr;
            }
        }
    }
}

void SiteConnection::ArrangeIfAutomatic() {
    if (services_.settings.VideoArrange()) {
        services_.host.ArrangeVideoWindows();
    }
}

ChannelLink* SiteConnection::FindLinkByNumber(std::uint32_t channelNumber) {
    for (auto& link : links_) {
        if (link.channelNumber == channelNumber) {
            return &link;
        }
    }
    return nullptr;
}

bool SiteConnection::HasLiveWindowForId(std::uint32_t channelId) const {
    for (const auto& link : links_) {
        if (link.channelId == channelId && link.hasWindow()) {
            return true;
        }
    }
    return false;
}

bool SiteConnection::OpenChannel(std::uint32_t channelId) {
    if (!active_ || HasLiveWindowForId(channelId)) {
        return false;
    }
    QueueWord(ClientMessage::OpenChannel, channelId);
    return true;
}

void SiteConnection::CloseChannel(ChannelWindow* window, bool sendRequest) {
    for (auto& link : links_) {
        if (link.window != window || !link.hasWindow()) {
            continue;
        }
        if (sendRequest && !window->IsStopped()) {
            QueueWord(ClientMessage::CloseChannel, link.channelId);
        }
        CloseLink(link);
        return;
    }
}

bool SiteConnection::FixChannel(ChannelWindow* window) {
    if (services_.windows.openWindows < 2) {
        return false;
    }
    for (const auto& link : links_) {
        if (link.window == window && link.hasWindow()) {
            QueueWord(ClientMessage::FixChannel, link.channelId);
            services_.windows.fixedWindow =
                services_.windows.fixedWindow == window ? nullptr : window;
            return true;
        }
    }
    return false;
}

void SiteConnection::SendCloseSite() {
    QueueMessage(BuildMessage(static_cast<std::uint8_t>(ClientMessage::CloseSite), {}));
}

void SiteConnection::SendRebootSite() {
    QueueMessage(BuildMessage(static_cast<std::uint8_t>(ClientMessage::RebootSite), {}));
}

void SiteConnection::SendRunProgram(std::string_view commandLine) {
    commandLine = commandLine.substr(0, commandLine.find('\0'));
    Block payload;
    if (!commandLine.empty()) {
        payload.assign(commandLine.begin(), commandLine.end());
        payload.push_back(0);
    }
    QueueMessage(BuildMessage(static_cast<std::uint8_t>(ClientMessage::RunProgram), payload));
}

}  // namespace orvane
