#pragma once

#include "media/decoder_registry.h"
#include "media/video_decoder.h"
#include "site/channel_table.h"
#include "site/site_interfaces.h"
#include "store/settings.h"
#include "wire/frame_assembler.h"
#include "wire/message_layout.h"
#include "wire/queues.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <list>
#include <memory>
#include <optional>
#include <string_view>

class QTcpSocket;

namespace orvane {

// One open channel: its identifiers, its window (null once closed) and its decoder.
struct ChannelLink {
    std::uint32_t channelId = 0;
    std::uint32_t channelNumber = 0;  // routes frames and stops
    ChannelWindow* window = nullptr;
    QPointer<QObject> windowObject;   // notices a window destroyed behind our back
    std::unique_ptr<VideoDecoder> decoder;

    bool hasWindow() const { return window && windowObject; }
};

// The client's one connection to a site: login, keep-alive, channel requests, the dispatch
// of what the site sends (including decoding video), and teardown. Lives on the GUI thread;
// everything, socket notifications and the 100 ms timer included, runs there. It never opens
// a window of its own: it posts commands to the main frame.
class SiteConnection : public QObject {
    Q_OBJECT
public:
    struct Services {
        Settings& settings;
        ChannelTable& channels;
        VideoWindowState& windows;
        ChannelWindowHost& host;
        MainFrameLink& frame;
        EventRecordSink* events = nullptr;
    };

    static constexpr int kTickMilliseconds = 100;
    // A KeepAlive goes out when the tick counter has passed this value.
    static constexpr int kKeepAliveTicks = 50;

    explicit SiteConnection(Services services, QObject* parent = nullptr);
    ~SiteConnection() override;

    // The socket the caller connects (or the reconnect loop re-creates).
    QTcpSocket& socket() { return *socket_; }
    // Closes the current socket and makes a fresh one, as the reconnect loop needs.
    void RecreateSocket();
    // Takes over an already connected socket (a site's call-back).
    void AdoptSocket(QTcpSocket* socket);

    // Starts a connected socket: logs in and runs the timer. Always true here; allocation
    // cannot fail in a way that the design reported.
    bool Start(bool alarmMode);
    void Login();
    void Disconnect(bool closeWindows);

    // Requests of the windows and the main frame. Each returns whether a message was queued.
    bool OpenChannel(std::uint32_t channelId);
    // Closes a window's channel: with sendRequest, CloseChannel goes to the site first (never
    // for a channel the site stopped). The link stays, without window.
    void CloseChannel(ChannelWindow* window, bool sendRequest);
    bool FixChannel(ChannelWindow* window);

    // Remote control.
    void SendCloseSite();
    void SendRebootSite();
    void SendRunProgram(std::string_view commandLine);

    bool active() const { return active_; }
    bool writable() const { return writable_; }
    bool alarmMode() const { return alarmMode_; }
    bool channelOpenPermission() const { return channelOpenPermission_; }
    bool channelClosePermission() const { return channelClosePermission_; }
    int frameCounter() const { return frameCounter_; }
    const QString& peerText() const { return peerText_; }
    const std::optional<DecoderChoice>& decoder() const { return decoder_; }
    const std::list<ChannelLink>& links() const { return links_; }
    ChannelLink* FindLinkByNumber(std::uint32_t channelNumber);
    bool HasLiveWindowForId(std::uint32_t channelId) const;

    // One tick of the 100 ms timer: received messages, status line, keep-alive.
    void Tick();
    // Queues bytes as received from the socket, for the next tick to reassemble. The
    // receive notification uses it; so do the fuzzer and the benchmarks.
    void ReceiveChunk(Block chunk);

private:
    void AttachSocket(QTcpSocket* socket);
    void OnReadyRead();
    void OnSocketClosed();
    void QueueMessage(MessageBlocks message);
    void QueueWord(ClientMessage type, std::uint32_t value);
    void ProcessReceived();
    void CloseLink(ChannelLink& link);
    // A window destroyed without the connection closing it (its parent went away).
    void ForgetWindow(ChannelWindow* window);
    void ArrangeIfAutomatic();

    // Dispatch of site messages (site_dispatch.cpp).
    void Dispatch(std::span<const std::uint8_t> message);
    void OnChannelList(std::uint32_t count, std::uint32_t siteBits,
                       std::span<const std::uint8_t> payload);
    void OnVideoFrame(std::uint32_t channelId, std::uint32_t channelNumber,
                      std::span<const std::uint8_t> payload);
    ChannelLink* CreateWindowLink(std::uint32_t channelId, std::uint32_t channelNumber,
                                  const PackedFrame& frame);
    void OnChannelStopped(std::uint32_t channelNumber);

    Services services_;
    QTcpSocket* socket_ = nullptr;  // owned as a child
    QTimer timer_;
    bool active_ = false;
    bool writable_ = false;
    bool alarmMode_ = false;
    bool dispatching_ = false;
    bool channelOpenPermission_ = false;
    bool channelClosePermission_ = false;
    QString peerText_;
    QString connectTimeText_;
    int frameCounter_ = 0;
    int keepAliveTicks_ = 0;  // not reset by Start: see Tick()
    SendQueue sendQueue_;
    ReceiveQueue receiveQueue_;
    FrameAssembler assembler_;
    std::list<ChannelLink> links_;
    std::optional<DecoderChoice> decoder_;
};

// Texts the connection shows in the main frame's status line.
namespace sitetext {
inline constexpr const char* kStreamError = "Stream error!";
inline constexpr const char* kDisconnect = "Disconnect";
}  // namespace sitetext

}  // namespace orvane
