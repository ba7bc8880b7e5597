#pragma once

#include "frame_source.h"
#include "wire/frame_assembler.h"
#include "wire/queues.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSize>
#include <QTimer>

#include <map>
#include <memory>

class QTcpSocket;

namespace orvane::sim {

class SiteSimulator;
struct SimulatedChannel;

// One client connected to the simulated site.
class SimulatedSession : public QObject {
    Q_OBJECT
  public:
    SimulatedSession(SiteSimulator& site, QTcpSocket* socket, int id, bool callBack);
    ~SimulatedSession() override;

    int id() const { return id_; }
    bool loggedIn() const { return loggedIn_; }
    void Send(const Block& bytes);
    void SendMessage(SiteMessage type, std::uint32_t first, std::uint32_t second,
                     std::span<const std::uint8_t> payload = {});
    void StopChannel(std::uint32_t channelNumber);
    void Drop();
    void StopStreaming() { streams_.clear(); }
    // The streams go at the site's frame rate as it is now.
    void ApplyFrameRate();

  private:
    struct Stream {
        const SimulatedChannel* channel = nullptr;
        int channelIndex = 0;
        int frameIndex = 0;
        std::unique_ptr<LiveEncoder> encoder;
        std::shared_ptr<const std::vector<Block>> replay;
        std::unique_ptr<QTimer> timer;
    };

    void OnReadyRead();
    void Handle(std::span<const std::uint8_t> message);
    void OnLogin(std::span<const std::uint8_t> payload);
    void OpenStream(std::uint32_t channelId);
    void SendNextFrame(std::uint32_t channelNumber);
    // How long channel channelIndex waits before its first frame when key frames are spread.
    int SpreadDelay(int channelIndex) const;
    int SendInterval() const;

    SiteSimulator& site_;
    QTcpSocket* socket_;
    int id_;
    bool callBack_;
    bool loggedIn_ = false;
    bool loginAgainSent_ = false;
    QSize pictureSize_{320, 240};
    ReceiveQueue receiveQueue_;
    FrameAssembler assembler_;
    std::map<std::uint32_t, Stream> streams_;  // by channel number
};

}  // namespace orvane::sim
