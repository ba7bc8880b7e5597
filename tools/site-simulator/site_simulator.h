#pragma once

#include "frame_source.h"
#include "wire/message_layout.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QSize>
#include <QString>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QTcpServer;
class QTimer;
class QTcpSocket;

namespace orvane::sim {

class SimulatedSession;

struct SimulatedChannel {
    std::int32_t id = 0;
    std::uint32_t number = 0;  // routes the channel's frames on the wire
    std::string name;
};

struct SiteSimulatorOptions {
    struct Account {
        std::string user;
        std::string password;
    };
    std::vector<Account> accounts{{"admin", "admin"}};
    std::vector<SimulatedChannel> channels{{3, 1, "Gate"}, {7, 2, "Yard"}};
    std::uint32_t siteBits = 3;  // bit 0: channels may be opened, bit 1: closed
    SimulatedCodec codec = SimulatedCodec::Mpeg4;
    double framesPerSecond = 10;
    int maxSessions = 4;           // one more login gets LimitReached
    QString sourceFile;            // an AVI whose video packets are sent instead
    bool loginAgainFirst = false;  // answer the first Login of a session with LoginAgain
    // false: a good Login gets the channel list (and the streams) but never LoginAccepted,
    // as a site calling back may behave; the test tells the client itself.
    bool acceptLogin = true;
    Block eventRecord;           // sent in answer to EventQuery (300 bytes)
    bool streamOnLogin = false;  // stream every channel as soon as a client logs in
    QSize pictureSize;           // when set, overrides the size the login asks for
    // Puts the send time (milliseconds since the epoch, low 32 bits) into each frame's
    // biXPelsPerMeter, which decoders ignore, so a client can measure latency.
    bool stampFrames = false;
    // Each channel's frames are encoded once, a loop of ReplayFrames, and sent over and
    // over: the site then costs next to nothing, so a load test measures the client alone.
    bool replay = false;
    // Keeps every frame sent, per channel number (sentFrames), for a test to compare what a
    // client wrote with what it was sent.
    bool keepSentFrames = false;
    // Frames sent together, at framesPerSecond / framesPerSend sends a second: a site that
    // bunches its frames, so that they arrive in one read.
    int framesPerSend = 1;
    // Each stream ends after this many frames (0: never).
    int frameLimit = 0;
    // The streams of the channels start one after another over a key-frame interval, as
    // cameras that were not started together: their key frames do not all come at once.
    bool spreadKeyFrames = false;
};

// Frames in one channel's replayed loop: whole groups of pictures (about two seconds), so
// every pass starts at a key frame and a decoder never sees a reference it has not had.
inline int ReplayFrames(SimulatedCodec codec) {
    const int group = GroupOfPictures(codec);
    return group * std::max(1, 48 / group);
}

// One message a client sent, as the simulator received it.
struct ReceivedMessage {
    int session = 0;
    std::uint8_t type = 0;
    Block payload;
};

// A site on a TCP port: accounts, a channel list, live-encoded video (or an AVI's packets),
// and the site's own moves (channel stops, login again, closing, dropping the link, event
// records, calling a client back). Logs every message it receives. GUI/main thread only.
class SiteSimulator : public QObject {
    Q_OBJECT
  public:
    explicit SiteSimulator(SiteSimulatorOptions options, QObject* parent = nullptr);
    ~SiteSimulator() override;

    // Port 0 takes a free one; port() tells which. False with error() set on failure.
    bool Listen(const QHostAddress& address, quint16 port);
    quint16 port() const;
    QString error() const { return error_; }

    const SiteSimulatorOptions& options() const { return options_; }
    void SetCodec(SimulatedCodec codec) { options_.codec = codec; }

    // The site's own moves, towards every connected client.
    void StopChannel(std::uint32_t channelNumber);
    void SendLoginAgain();
    void SendSiteClosing();
    void SendEventRecord(const Block& record);
    void SendRaw(const Block& bytes);
    void DropLinks();
    // Every session stops sending frames (the links stay).
    void StopStreaming();
    // Every channel sends half as many frames a second from now on, the same frames more
    // slowly (an inter frame is never left out): the load on a client halves.
    void HalveFrameRate();
    // The channel's camera freezes: its frames stop on every link, which stays up (a feed
    // that dies without the site noticing); false lets them go on.
    void FreezeChannel(std::uint32_t channelNumber, bool frozen);
    bool frozen(std::uint32_t channelNumber) const { return frozen_.count(channelNumber) != 0; }
    // Drops every link each interval (0 stops it), as a site with a flaky network does.
    void DropLinksEvery(int milliseconds);
    // Calls a client's listening port, as a site does on an event; the client logs in there.
    bool CallBack(const QString& host, quint16 port);

    const std::vector<ReceivedMessage>& received() const { return received_; }
    int CountReceived(ClientMessage type) const;
    int sessionCount() const { return static_cast<int>(sessions_.size()); }
    int loggedInCount() const;
    long long framesSent() const { return framesSent_; }
    // Frames sent per second since the first one went out.
    double sendRate() const;
    // The frames sent on a channel, in order, when keepSentFrames is set.
    const std::vector<Block>& sentFrames(std::uint32_t channelNumber) {
        return sentFrames_[channelNumber];
    }

  signals:
    void messageReceived(int session, quint8 type, const QByteArray& payload);
    void frameSent(quint32 channelNumber, qint64 sentAtMs);

  private:
    friend class SimulatedSession;
    using ReplayLoop = std::shared_ptr<const std::vector<Block>>;
    // The replayed loop of one channel at one size, encoded on first use; null when the
    // codec cannot encode.
    ReplayLoop LoopFor(int channelIndex, QSize size);
    void AddSession(QTcpSocket* socket, bool callBack);
    void RemoveSession(SimulatedSession* session);
    void Record(int session, std::uint8_t type, Block payload);
    void CountFrame(std::uint32_t channelNumber, const Block& frame);

    SiteSimulatorOptions options_;
    QTcpServer* server_ = nullptr;
    std::vector<SimulatedSession*> sessions_;  // children of this object
    std::vector<ReceivedMessage> received_;
    std::shared_ptr<AviPacketSource> source_;
    std::map<std::pair<int, std::pair<int, int>>, ReplayLoop> replayLoops_;
    QTimer* dropTimer_ = nullptr;
    std::set<std::uint32_t> frozen_;
    QString error_;
    int nextSessionId_ = 1;
    long long framesSent_ = 0;
    std::map<std::uint32_t, std::vector<Block>> sentFrames_;
    QElapsedTimer sendClock_;
};

// The 300-byte event record a site sends: name, telephone, address, memo.
Block MakeEventRecord(const std::string& name, const std::string& telephone,
                      const std::string& address, const std::string& memo);

}  // namespace orvane::sim
