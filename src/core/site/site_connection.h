#pragma once

#include "common/code_page.h"
#include "media/decoder_registry.h"
#include "site/channel_set.h"
#include "site/channel_table.h"
#include "site/site_interfaces.h"
#include "store/settings.h"
#include "wire/frame_assembler.h"
#include "wire/message_builder.h"
#include "wire/queues.h"
#include "wire/site_messages.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <list>
#include <optional>
#include <set>
#include <string_view>

class QTcpSocket;

namespace orvane {

// A site as the program names it: "host:port", an IPv6 address in brackets so that its port
// stands apart ("[::1]:1000", not "::1:1000").
QString SiteAddress(const QString& host, quint16 port);

// The client's one link to a site: the socket and its queues, login, keep-alive, the
// requests that go out, and the dispatch of what the site sends; the channels it streams and
// their windows are its ChannelSet's. Lives on the GUI thread; everything, socket
// notifications and the 100 ms timer included, runs there. It never opens a window of its
// own, and tells what happens as typed notices, delivered after the dispatch.
class SiteConnection : public QObject {
    Q_OBJECT
  public:
    struct Services {
        ChannelTable& channels;
        ChannelWindowHost& host;
        ConnectionObserver& observer;
        EventRecordSink* events = nullptr;
    };

    static constexpr int kTickMilliseconds = 100;
    // A KeepAlive goes out when the tick counter has passed this value.
    static constexpr int kKeepAliveTicks = 50;
    // What the connection takes of a site's stream ahead of the tick: once the receive queue
    // holds this much, reading stops, the socket's buffer and then the kernel's fill, and TCP
    // slows the site down; the tick reads on after dispatching. At least 20 MB/s at the
    // design's tick, far more than a site streams, and no dispatch ever has more than this.
    static constexpr std::size_t kReceiveQueueLimit = 2 * 1024 * 1024;
    static constexpr qint64 kSocketReadBufferBytes = 512 * 1024;
    // Bytes waiting to go out (the send queue and the socket's buffer) beyond which the site
    // counts as no longer reading and the link as broken.
    static constexpr std::size_t kSendBacklogLimit = 1024 * 1024;

    // call: the "Call" settings the login uses (account, picture format, quality, ReLink).
    SiteConnection(Services services, CallSettings call, QObject* parent = nullptr);
    ~SiteConnection() override;

    // The socket the caller connects (or the reconnect loop re-creates).
    QTcpSocket& socket() { return *socket_; }
    bool hasSocket() const { return socket_ != nullptr; }  // none once closed
    // Closes the current socket and makes a fresh one, as the reconnect loop needs.
    void RecreateSocket();
    // Takes over an already connected socket (a site's call-back).
    void AdoptSocket(QTcpSocket* socket);
    // The settings of the next Login (the reconnect loop refreshes them).
    void SetCallSettings(CallSettings call) { call_ = std::move(call); }
    // The single-byte code page of the site's texts (account, channel names).
    void SetCodePage(CodePage codePage) { codePage_ = std::move(codePage); }
    // Tests run the tick faster; the design's interval is kTickMilliseconds.
    void SetTickInterval(int milliseconds) { timer_.setInterval(milliseconds); }

    // Starts a connected socket: logs in and runs the timer. Windows kept from before a
    // reconnect stay; their channels are asked for again once the site accepts the login.
    bool Start(bool alarmMode);
    // Starts an adopted call-back socket in alarm mode. The listener has sent the alarm login
    // already and read the site's first answers (received): they are dispatched first.
    bool StartCalledBack(Block received);
    void Login();
    // Stops the link. closeWindows: the windows go too (otherwise they are kept for a
    // reconnect). Never raises the close handling: that is for the site's or the network's
    // close only.
    void Disconnect(bool closeWindows);
    // The client's own teardown: the socket closes without the close handling, every window
    // closes.
    void Close();

    // Requests of the windows and the main frame, sent while the link is active; each returns
    // whether a message was queued. A site need not have accepted the login for them (a
    // calling site may never say so), except while the link logs in again after a
    // reconnect: then OpenChannel and CloseChannel wait for the answer, go once the site
    // accepts and are dropped when it refuses.
    bool OpenChannel(std::uint32_t channelId);
    // Closes a window's channel: with sendRequest, CloseChannel goes to the site first (never
    // for a channel the site stopped). The link stays, without window.
    void CloseChannel(const ChannelWindow* window, bool sendRequest);
    bool FixChannel(const ChannelWindow* window);

    // Remote control: refused (false, nothing queued) until the site has accepted the login.
    bool SendCloseSite();
    bool SendRebootSite();
    // commandLine: the bytes for the site, already in its code page.
    bool SendRunProgram(std::string_view commandLine);

    bool active() const { return active_; }
    // A site message is being acted on now: nothing may call back into the link.
    bool dispatching() const { return dispatching_; }
    bool loggedIn() const { return loggedIn_; }
    // Started again after the link dropped, and the site has not answered the new login yet.
    bool loggingInAgain() const { return active_ && loginAfterReconnect_ && !loggedIn_; }
    bool writable() const { return writable_; }
    bool alarmMode() const { return alarmMode_; }
    bool channelOpenPermission() const { return channelOpenPermission_; }
    bool channelClosePermission() const { return channelClosePermission_; }
    int frameCounter() const { return frameCounter_; }
    const QString& peerText() const { return peerText_; }
    const std::optional<DecoderChoice>& decoder() const { return decoder_; }
    // Received bytes not yet dispatched: the receive queue and the socket's own buffer.
    std::size_t queuedReceiveBytes() const;
    // Bytes not yet handed to the network: the send queue and the socket's own buffer.
    std::size_t queuedSendBytes() const;

    // The channels, their windows, recordings and pictures.
    ChannelSet& channels() { return channelSet_; }
    const ChannelSet& channels() const { return channelSet_; }
    int OpenWindowCount() const { return channelSet_.OpenWindowCount(); }
    ChannelWindow* fixedWindow() const { return channelSet_.fixedWindow(); }
    std::uint64_t decodedFrames() const { return channelSet_.decodedFrames(); }
    std::uint64_t droppedFrames() const { return channelSet_.droppedFrames(); }
    bool viewDegraded() const { return channelSet_.viewDegraded(); }

    // One tick of the 100 ms timer: received messages, status line, keep-alive.
    void Tick();
    // Queues bytes as received from the socket, for the next tick to reassemble. The
    // receive notification uses it; so do the fuzzer and the benchmarks.
    void ReceiveChunk(Block chunk);

    // "IP Address: " and the peer's address, an IPv4 peer always in dotted form.
    static QString PeerTextFor(const QTcpSocket& socket);
    // The site as clips recorded from it name it: "address:port" ("[address]:port" for IPv6)
    // of a site the client called, the address alone of a site that called in.
    static QString SiteTextFor(const QTcpSocket& socket, bool withPort);

  private:
    bool StartLink(bool alarmMode, bool sendLogin);
    void AttachSocket(QTcpSocket* socket);
    void DetachSocket();
    void OnReadyRead();
    // Moves what the socket holds into the receive queue until the queue holds limit bytes.
    void ReadSocket(std::size_t limit);
    void OnSocketClosed();
    // A site that stopped reading: its link ends as if it had closed it.
    void DropStalledLink();
    // Remote control: queued only once the site has accepted the login.
    bool QueueRequest(MessageBlocks message);
    // A channel request: queued while the link is active, or kept for the login's answer
    // while it logs in again.
    bool QueueChannelRequest(ClientMessage type, std::uint32_t value);
    void QueueMessage(MessageBlocks message);
    void QueueWord(ClientMessage type, std::uint32_t value);
    void ProcessReceived();
    void Notify(SiteNotice notice);
    // After a login again: the kept windows' channels are asked for, the fixed one fixed.
    void ReopenKeptChannels();

    // Acting on site messages (site_dispatch.cpp).
    void Dispatch(std::span<const std::uint8_t> message);
    void Act(const sitemsg::ChannelList& list);
    void Act(const sitemsg::VideoFrame& frame);
    void Act(const sitemsg::LoginAccepted&);
    void Act(const sitemsg::LoginRejected&);
    void Act(const sitemsg::LoginAgain&);
    void Act(const sitemsg::ChannelStopped& stop);
    void Act(const sitemsg::EventRecord& record);
    void Act(const sitemsg::LimitReached&);
    void Act(const sitemsg::SiteClosing&);
    void Act(const sitemsg::StreamError& error);
    void Act(const sitemsg::Dropped& dropped);

    Services services_;
    CallSettings call_;
    CodePage codePage_;
    QTcpSocket* socket_ = nullptr;  // owned as a child
    QTimer timer_;
    bool active_ = false;
    bool loggedIn_ = false;
    bool started_ = false;              // a start after the first logs in again
    bool loginAfterReconnect_ = false;  // this start's login is such a login
    // Channel requests made while logging in again, sent once the site accepts the login.
    std::vector<std::pair<ClientMessage, std::uint32_t>> awaitingLogin_;
    bool writable_ = false;
    bool alarmMode_ = false;
    bool dispatching_ = false;
    bool sendStalled_ = false;  // the send backlog overflowed: the link is being dropped
    bool channelOpenPermission_ = false;
    bool channelClosePermission_ = false;
    QString peerText_;
    QString connectTimeText_;
    int frameCounter_ = 0;
    int keepAliveTicks_ = 0;  // not reset by Start: see Tick()
    SendQueue sendQueue_;
    ReceiveQueue receiveQueue_;
    FrameAssembler assembler_;
    std::optional<DecoderChoice> decoder_;
    bool noCodec_ = false;                    // no decoder reads the stream: told once
    std::set<std::string_view> droppedTold_;  // reasons for dropped messages logged on this link
    // Holds the decoding threads that call into it: it goes before the socket and queues.
    ChannelSet channelSet_;
};

// Texts the connection shows in the main frame's status line.
namespace sitetext {
inline constexpr const char* kStreamError = "Stream error!";
inline constexpr const char* kDisconnect = "Disconnect";
// After the frame counter while some channel's pictures lag behind its frames.
inline constexpr const char* kViewDegraded = "    View degraded: newest pictures only";
}  // namespace sitetext

}  // namespace orvane
