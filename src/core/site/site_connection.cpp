#include "site/site_connection.h"

#include "common/command_ids.h"
#include "common/log.h"
#include "site/login_payload.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QHostAddress>
#include <QPointer>
#include <QScreen>
#include <QTcpSocket>

#include <algorithm>

namespace orvane {

SiteConnection::SiteConnection(Services services, CallSettings call, QObject* parent)
    : QObject(parent),
      services_(services),
      call_(std::move(call)),
      assembler_(kSiteAssemblyCapacity, SiteMessageHeader::kSize) {
    timer_.setInterval(kTickMilliseconds);
    connect(&timer_, &QTimer::timeout, this, &SiteConnection::Tick);
    presentTimer_.setSingleShot(true);
    presentTimer_.setTimerType(Qt::PreciseTimer);
    connect(&presentTimer_, &QTimer::timeout, this, &SiteConnection::PresentPictures);
    // Pictures reach the windows no more often than the screen shows them.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (const QScreen* screen = QGuiApplication::primaryScreen();
            screen && screen->refreshRate() >= 1) {
            presentInterval_ = std::max(1, static_cast<int>(1000.0 / screen->refreshRate()));
        }
    }
    AttachSocket(new QTcpSocket(this));
}

SiteConnection::~SiteConnection() {
    // The workers call back into this object: they stop before any of it goes.
    workers_.reset();
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

QString SiteConnection::PeerTextFor(const QTcpSocket& socket) {
    const QHostAddress peer = socket.peerAddress();
    bool isIpv4 = false;
    const quint32 v4 = peer.toIPv4Address(&isIpv4);
    return QStringLiteral("IP Address: ") +
           (isIpv4 ? QHostAddress(v4).toString() : peer.toString());
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
    if (socket_->state() != QAbstractSocket::ConnectedState) {
        // It hung up right after speaking: what it said is still acted on, then the link
        // closes as any other the site ends.
        QMetaObject::invokeMethod(this, &SiteConnection::OnSocketClosed, Qt::QueuedConnection);
    }
    return true;
}

bool SiteConnection::StartLink(bool alarmMode, bool sendLogin) {
    peerText_ = PeerTextFor(*socket_);
    assembler_.Reset();
    dispatching_ = false;
    sendStalled_ = false;
    connectTimeText_ = QStringLiteral("   Time: ") +
                       QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss"));
    frameCounter_ = 0;
    alarmMode_ = alarmMode;
    loggedIn_ = false;
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

bool SiteConnection::QueueWordRequest(ClientMessage type, std::uint32_t value) {
    return QueueRequest(BuildWordMessage(static_cast<std::uint8_t>(type), value));
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
    ProcessReceivedChunks(receiveQueue_, assembler_,
                          [this](std::span<const std::uint8_t> message) { Dispatch(message); });
    dispatching_ = false;
    TellWindowsChanged();
}

void SiteConnection::NoteWindowsChanged() {
    windowsChanged_ = true;
    if (!dispatching_) {
        TellWindowsChanged();
    }
}

void SiteConnection::TellWindowsChanged() {
    if (windowsChanged_) {
        windowsChanged_ = false;
        services_.host.ChannelWindowsChanged();
    }
}

void SiteConnection::Tick() {
    ProcessReceived();
    // What waited in the socket while the queue was full comes in for the next tick.
    OnReadyRead();
    services_.frame.SetStatusLine(
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
        // The reconnect goes back to the operator's site. The windows of a site's call-back
        // show and record that site's channels: kept, they would take the operator's
        // channels' frames under the calling site's names, so they close (and their clips
        // end) instead.
        Disconnect(alarmMode_);
        services_.frame.PostCommand(cmd::kReconnect);
    } else {
        Disconnect(true);
        services_.frame.PostCommand(cmd::kDisconnect);
    }
}

void SiteConnection::Disconnect(bool closeWindows) {
    active_ = false;
    loggedIn_ = false;
    writable_ = false;
    peerText_.clear();
    alarmMode_ = false;
    timer_.stop();
    receiveQueue_.Clear();
    sendQueue_.Clear();
    if (closeWindows) {
        while (!links_.empty()) {
            if (links_.front().hasWindow()) {
                windowsChanged_ = true;
            }
            CloseLink(links_.front());
            links_.pop_front();
        }
    }
    dispatching_ = false;
    sendStalled_ = false;
    decoder_.reset();
    for (auto& link : links_) {
        link.decoding.reset();
        link.decoderFailed = false;
    }
    services_.frame.SetStatusLine(sitetext::kDisconnect);
    TellWindowsChanged();
}

DecodeWorkers& SiteConnection::Workers() {
    if (!workers_) {
        QPointer<SiteConnection> self(this);
        workers_ = std::make_unique<DecodeWorkers>([self] {
            // On a worker: only a posted call crosses to this object's thread.
            QMetaObject::invokeMethod(
                self.get(),
                [self] {
                    if (self) {
                        self->SchedulePresent();
                    }
                },
                Qt::QueuedConnection);
        });
    }
    return *workers_;
}

void SiteConnection::SchedulePresent() {
    if (presentTimer_.isActive()) {
        return;
    }
    const qint64 since = sincePresent_.isValid() ? sincePresent_.elapsed() : presentInterval_;
    presentTimer_.start(static_cast<int>(std::max<qint64>(0, presentInterval_ - since)));
}

void SiteConnection::PresentPictures() {
    if (workers_) {
        workers_->PicturesTaken();
    }
    sincePresent_.start();
    for (ChannelLink& link : links_) {
        if (!link.decoding || !link.hasWindow()) {
            continue;
        }
        if (auto picture = link.decoding->TakePicture()) {
            link.window->DrawPicture(*picture);
        }
    }
}

std::uint64_t SiteConnection::decodedFrames() const {
    std::uint64_t frames = 0;
    for (const ChannelLink& link : links_) {
        frames += link.decoding ? link.decoding->decodedFrames() : 0;
    }
    return frames;
}

std::uint64_t SiteConnection::droppedFrames() const {
    std::uint64_t frames = 0;
    for (const ChannelLink& link : links_) {
        frames += link.decoding ? link.decoding->droppedFrames() : 0;
    }
    return frames;
}

bool SiteConnection::viewDegraded() const {
    return std::any_of(links_.begin(), links_.end(), [](const ChannelLink& link) {
        return link.decoding && link.decoding->behind();
    });
}

void SiteConnection::Close() {
    DetachSocket();
    Disconnect(true);
}

void SiteConnection::CloseLink(ChannelLink& link) {
    if (link.hasWindow()) {
        ChannelWindow* window = link.window;
        link.window = nullptr;
        link.windowObject.clear();
        if (fixedWindow_ == window) {
            fixedWindow_ = nullptr;
        }
        window->object()->disconnect(this);
        window->CloseWindow();
    }
    link.window = nullptr;
    link.windowObject.clear();
    link.windowIdentity = nullptr;
    link.frameSink = nullptr;
    link.reopenRequested = false;
}

void SiteConnection::ForgetWindow(QObject* window) {
    for (auto& link : links_) {
        if (link.window && link.windowIdentity == window) {
            if (fixedWindow_ == link.window) {
                fixedWindow_ = nullptr;
            }
            link.window = nullptr;
            link.windowIdentity = nullptr;
            link.frameSink = nullptr;
            NoteWindowsChanged();
        }
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

ChannelLink* SiteConnection::LinkOf(const ChannelWindow* window) {
    for (auto& link : links_) {
        if (window && link.window == window && link.hasWindow()) {
            return &link;
        }
    }
    return nullptr;
}

const ChannelLink* SiteConnection::FindLinkByWindow(const ChannelWindow* window) const {
    return const_cast<SiteConnection*>(this)->LinkOf(window);
}

bool SiteConnection::HasLiveWindowForId(std::uint32_t channelId) const {
    for (const auto& link : links_) {
        if (link.channelId == channelId && link.hasWindow()) {
            return true;
        }
    }
    return false;
}

int SiteConnection::OpenWindowCount() const {
    int count = 0;
    for (const auto& link : links_) {
        count += link.hasWindow() ? 1 : 0;
    }
    return count;
}

bool SiteConnection::SetFrameSink(const ChannelWindow* window, FrameSink* sink) {
    ChannelLink* link = LinkOf(window);
    if (link) {
        link->frameSink = sink;
    }
    return link != nullptr;
}

bool SiteConnection::OpenChannel(std::uint32_t channelId) {
    if (HasLiveWindowForId(channelId)) {
        return false;
    }
    if (!QueueWordRequest(ClientMessage::OpenChannel, channelId)) {
        return false;
    }
    // A channel closed before gets its window again with its next frame.
    for (auto& link : links_) {
        if (link.channelId == channelId && !link.hasWindow()) {
            link.reopenRequested = true;
        }
    }
    return true;
}

void SiteConnection::ReopenKeptChannels() {
    const ChannelLink* fixed = nullptr;
    for (const auto& link : links_) {
        if (link.hasWindow()) {
            QueueWord(ClientMessage::OpenChannel, link.channelId);
            if (fixedWindow_ && link.window == fixedWindow_) {
                fixed = &link;
            }
        }
    }
    // The new session knows nothing of the fixed channel the window still shows as fixed.
    if (fixed) {
        QueueWord(ClientMessage::FixChannel, fixed->channelId);
    }
}

void SiteConnection::CloseChannel(ChannelWindow* window, bool sendRequest) {
    ChannelLink* link = LinkOf(window);
    if (!link) {
        return;
    }
    if (sendRequest && !link->stopped) {
        QueueWordRequest(ClientMessage::CloseChannel, link->channelId);
    }
    CloseLink(*link);
    NoteWindowsChanged();
}

bool SiteConnection::FixChannel(ChannelWindow* window) {
    if (OpenWindowCount() < 2) {
        return false;
    }
    const ChannelLink* link = FindLinkByWindow(window);
    if (!link || !QueueWordRequest(ClientMessage::FixChannel, link->channelId)) {
        return false;
    }
    fixedWindow_ = fixedWindow_ == window ? nullptr : window;
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
