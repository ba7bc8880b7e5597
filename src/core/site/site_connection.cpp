#include "site/site_connection.h"

#include "common/log.h"
#include "site/login_payload.h"

#include <QDateTime>
#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>
#include <utility>

namespace orvane {

SiteConnection::SiteConnection(Services services, CallSettings call, QObject* parent)
    : QObject(parent),
      services_(services),
      call_(std::move(call)),
      assembler_(kSiteAssemblyCapacity, SiteMessageHeader::kSize),
      channelSet_(services.host) {
    timer_.setInterval(kTickMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &SiteConnection::Tick);
    AttachSocket(new QTcpSocket(this));
}

SiteConnection::~SiteConnection() {
    Close();
}

void SiteConnection::AttachSocket(QTcpSocket* socket) {
    socket_ = socket;
    socket_->setParent(this);
    // Unbounded by default: a site sending faster than the tick dispatches would fill memory.
    socket_->setReadBufferSize(kSocketReadBufferBytes);
    // What arrives is dispatched at once, in the order it came, and on every tick as well:
    // waiting for the tick would add up to its whole interval to every picture's delay.
    connect(socket_, &QTcpSocket::readyRead, this, [this] {
        OnReadyRead();
        ProcessReceived();
    });
    connect(socket_, &QTcpSocket::disconnected, this, &SiteConnection::OnSocketClosed);
    connect(socket_, &QTcpSocket::connected, this, [this] { writable_ = true; });
}

void SiteConnection::DetachSocket() {
    if (!socket_) {
        return;
    }
    // Signals first: abort() on a connected socket reports "disconnected" at once, and that
    // must not read as the site closing the link.
    socket_->disconnect(this);
    socket_->abort();
    socket_->deleteLater();
    socket_ = nullptr;
}

void SiteConnection::RecreateSocket() {
    DetachSocket();
    AttachSocket(new QTcpSocket(this));
}

void SiteConnection::AdoptSocket(QTcpSocket* socket) {
    DetachSocket();
    AttachSocket(socket);
}

namespace {

// The peer's address, an IPv4 peer (also one mapped into IPv6) in dotted form.
QString PeerAddress(const QTcpSocket& socket) {
    const QHostAddress peer = socket.peerAddress();
    bool isIpv4 = false;
    const quint32 v4 = peer.toIPv4Address(&isIpv4);
    return isIpv4 ? QHostAddress(v4).toString() : peer.toString();
}

}  // namespace

QString SiteConnection::PeerTextFor(const QTcpSocket& socket) {
    return QStringLiteral("IP Address: ") + PeerAddress(socket);
}

QString SiteAddress(const QString& host, quint16 port) {
    const QString shown = host.contains(u':') ? u'[' + host + u']' : host;
    return QStringLiteral("%1:%2").arg(shown).arg(port);
}

QString SiteConnection::SiteTextFor(const QTcpSocket& socket, bool withPort) {
    const QString address = PeerAddress(socket);
    return withPort ? SiteAddress(address, socket.peerPort()) : address;
}

bool SiteConnection::Start(bool alarmMode) {
    return StartLink(alarmMode, true);
}

bool SiteConnection::StartCalledBack(Block received) {
    // The site's first answers, read while it proved itself, come before anything the socket
    // still holds (which the start reads).
    receiveQueue_.Clear();
    ReceiveChunk(std::move(received));
    StartLink(true, false);
    // Acted on now, not at the next arrival or tick: a second site calling in the same moment
    // replaces this link at once, and what this one said (its event) must not go with it.
    ProcessReceived();
    if (socket_->state() != QAbstractSocket::ConnectedState) {
        // It hung up right after speaking: what it said is still acted on, then the link
        // closes as any other the site ends.
        QMetaObject::invokeMethod(this, &SiteConnection::OnSocketClosed, Qt::QueuedConnection);
    }
    return true;
}

bool SiteConnection::StartLink(bool alarmMode, bool sendLogin) {
    services_.host.ConnectionStarted();
    peerText_ = PeerTextFor(*socket_);
    // A calling site's port is only the one its call went out from.
    channelSet_.SetSite(SiteTextFor(*socket_, sendLogin));
    assembler_.Reset();
    noCodec_ = false;
    droppedTold_.clear();
    dispatching_ = false;
    sendStalled_ = false;
    connectTimeText_ = QStringLiteral("   Time: ") +
                       QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss"));
    frameCounter_ = 0;
    alarmMode_ = alarmMode;
    loggedIn_ = false;
    loginAfterReconnect_ = started_;
    started_ = true;
    awaitingLogin_.clear();
    channelOpenPermission_ = false;
    channelClosePermission_ = false;
    active_ = true;
    // A connected socket can be written at once (the send notification of a fresh link).
    writable_ = socket_->state() == QAbstractSocket::ConnectedState;
    if (sendLogin) {
        Login();
    }
    timer_.start();
    // Bytes that arrived before the start wait for the first tick, like all others.
    OnReadyRead();
    return true;
}

void SiteConnection::Login() {
    const LoginPayload payload = BuildLoginPayload(call_, alarmMode_, codePage_);
    QueueMessage(BuildMessage(static_cast<std::uint8_t>(ClientMessage::Login), payload));
    if (alarmMode_) {
        QueueWord(ClientMessage::EventQuery, 0);
    }
}

void SiteConnection::QueueMessage(MessageBlocks message) {
    if (sendStalled_) {
        return;  // the link is being dropped: nothing more piles up for it
    }
    sendQueue_.AppendMessage(std::move(message), [this](std::span<const std::uint8_t> block) {
        if (!writable_ || !socket_) {
            return SendOutcome::Blocked;
        }
        const qint64 written =
            socket_->write(reinterpret_cast<const char*>(block.data()), qint64(block.size()));
        return written == qint64(block.size()) ? SendOutcome::Sent : SendOutcome::Blocked;
    });
    if (const std::size_t waiting = queuedSendBytes(); waiting > kSendBacklogLimit) {
        qCWarning(lcSite) << "site not reading:" << waiting
                          << "bytes waiting to be sent, the link is dropped";
        sendStalled_ = true;
        // Not now: a message may be under dispatch, and the drop clears the queues it uses.
        QMetaObject::invokeMethod(this, &SiteConnection::DropStalledLink, Qt::QueuedConnection);
    }
}

void SiteConnection::DropStalledLink() {
    if (!sendStalled_ || !active_) {
        return;  // restarted or stopped meanwhile
    }
    sendStalled_ = false;
    // What the socket still holds for the site goes with it. A connected socket reports the
    // abort as a close at once; otherwise the close handling runs here.
    if (socket_) {
        socket_->abort();
    }
    OnSocketClosed();
}

bool SiteConnection::QueueRequest(MessageBlocks message) {
    if (!active_ || !loggedIn_) {
        return false;
    }
    QueueMessage(std::move(message));
    return true;
}

bool SiteConnection::QueueChannelRequest(ClientMessage type, std::uint32_t value) {
    if (!active_) {
        return false;
    }
    if (loggingInAgain()) {
        // The site knows nothing of this link's channels until it has taken the new login.
        awaitingLogin_.emplace_back(type, value);
        return true;
    }
    QueueWord(type, value);
    return true;
}

void SiteConnection::QueueWord(ClientMessage type, std::uint32_t value) {
    QueueMessage(BuildWordMessage(static_cast<std::uint8_t>(type), value));
}

void SiteConnection::OnReadyRead() {
    ReadSocket(kReceiveQueueLimit);
}

void SiteConnection::ReadSocket(std::size_t limit) {
    // Chunks of at most one receive call's size, as the reassembly expects them.
    while (socket_ && receiveQueue_.bytes() < limit && socket_->bytesAvailable() > 0) {
        Block chunk(kSiteChunkSize);
        const qint64 got =
            socket_->read(reinterpret_cast<char*>(chunk.data()), qint64(chunk.size()));
        if (got <= 0) {
            return;
        }
        chunk.resize(static_cast<std::size_t>(got));
        receiveQueue_.PushBack(std::move(chunk));
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

std::size_t SiteConnection::queuedReceiveBytes() const {
    const qint64 buffered = socket_ ? socket_->bytesAvailable() : 0;
    return receiveQueue_.bytes() + static_cast<std::size_t>(std::max<qint64>(buffered, 0));
}

std::size_t SiteConnection::queuedSendBytes() const {
    const qint64 buffered = socket_ ? socket_->bytesToWrite() : 0;
    return sendQueue_.bytes() + static_cast<std::size_t>(std::max<qint64>(buffered, 0));
}

void SiteConnection::ProcessReceived() {
    if (dispatching_ || !active_) {
        return;
    }
    dispatching_ = true;
    channelSet_.Hold();
    ProcessReceivedChunks(receiveQueue_, assembler_,
                          [this](std::span<const std::uint8_t> message) { Dispatch(message); });
    dispatching_ = false;
    channelSet_.Release();
}

void SiteConnection::Notify(SiteNotice notice) {
    services_.observer.Notify(notice);
}

void SiteConnection::Tick() {
    ProcessReceived();
    // What waited in the socket while the queue was full comes in for the next tick.
    OnReadyRead();
    services_.observer.SetStatusLine(
        peerText_ + connectTimeText_ + QStringLiteral(" -- ") +
        QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss")) +
        QStringLiteral("    Frame: %1").arg(frameCounter_) +
        (viewDegraded() ? QString::fromLatin1(sitetext::kViewDegraded) : QString()));
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
        return;  // already handled
    }
    writable_ = false;
    // Messages the site sent just before it closed (a SiteClosing, say) are acted on first,
    // a queue's limit at a time.
    for (bool more = true; more;) {
        OnReadyRead();
        more = receiveQueue_.bytes() >= kReceiveQueueLimit;  // stopped by the limit
        ProcessReceived();
        more = more && active_ && !dispatching_;
    }
    if (!active_) {
        return;
    }
    if (call_.reLinkOn()) {
        qCInfo(lcSite) << "the link to" << peerText_
                       << "was closed by the site or the network; ReLink: reconnecting";
    } else {
        qCInfo(lcSite) << "the link to" << peerText_ << "was closed by the site or the network";
    }
    if (call_.reLinkOn()) {
        // The reconnect goes back to the operator's site. The windows of a site's call-back
        // show and record that site's channels: kept, they would take the operator's
        // channels' frames under the calling site's names, so they close (and their clips
        // end) instead.
        Disconnect(alarmMode_);
        Notify(SiteNotice::LinkLost);
    } else {
        Disconnect(true);
        Notify(SiteNotice::LinkEnded);
    }
}

void SiteConnection::Disconnect(bool closeWindows) {
    active_ = false;
    loggedIn_ = false;
    awaitingLogin_.clear();
    writable_ = false;
    peerText_.clear();
    alarmMode_ = false;
    timer_.stop();
    receiveQueue_.Clear();
    sendQueue_.Clear();
    dispatching_ = false;
    sendStalled_ = false;
    decoder_.reset();
    noCodec_ = false;
    channelSet_.EndLink(closeWindows);
    services_.observer.SetStatusLine(sitetext::kDisconnect);
}

void SiteConnection::Close() {
    DetachSocket();
    Disconnect(true);
}

bool SiteConnection::OpenChannel(std::uint32_t channelId) {
    if (channelSet_.HasLiveWindowForId(channelId) || !active_) {
        return false;
    }
    QueueChannelRequest(ClientMessage::OpenChannel, channelId);
    channelSet_.PrepareOpen(channelId);
    return true;
}

void SiteConnection::ReopenKeptChannels() {
    const ChannelSet::KeptChannels kept = channelSet_.Kept();
    for (const std::uint32_t channelId : kept.open) {
        QueueWord(ClientMessage::OpenChannel, channelId);
    }
    // The new session knows nothing of the fixed channel the window still shows as fixed.
    if (kept.fixed) {
        QueueWord(ClientMessage::FixChannel, *kept.fixed);
    }
    // Then what the operator asked for while the login was under way, in the order asked.
    const auto waiting = std::exchange(awaitingLogin_, {});
    for (const auto& [type, channelId] : waiting) {
        QueueWord(type, channelId);
    }
}

void SiteConnection::CloseChannel(const ChannelWindow* window, bool sendRequest) {
    const auto channelId = channelSet_.Close(window);
    if (sendRequest && channelId) {
        QueueChannelRequest(ClientMessage::CloseChannel, *channelId);
    }
}

bool SiteConnection::FixChannel(const ChannelWindow* window) {
    if (!active_) {
        return false;
    }
    const auto channelId = channelSet_.ToggleFix(window);
    if (!channelId) {
        return false;
    }
    QueueWord(ClientMessage::FixChannel, *channelId);
    return true;
}

bool SiteConnection::SendCloseSite() {
    return QueueRequest(BuildMessage(static_cast<std::uint8_t>(ClientMessage::CloseSite), {}));
}

bool SiteConnection::SendRebootSite() {
    return QueueRequest(BuildMessage(static_cast<std::uint8_t>(ClientMessage::RebootSite), {}));
}

bool SiteConnection::SendRunProgram(std::string_view commandLine) {
    commandLine = commandLine.substr(0, commandLine.find('\0'));
    Block payload;
    if (!commandLine.empty()) {
        payload.assign(commandLine.begin(), commandLine.end());
        payload.push_back(0);
    }
    return QueueRequest(
        BuildMessage(static_cast<std::uint8_t>(ClientMessage::RunProgram), payload));
}

}  // namespace orvane
