#pragma once

#include "common/code_page.h"
#include "store/settings.h"
#include "wire/frame_assembler.h"
#include "wire/queues.h"

#include <QObject>
#include <QString>

#include <string>

class QTcpSocket;

namespace orvane {

// Asks an identify server for a site's current IPv4 address by its ID code. One lookup at a
// time; a lookup waits in a nested event loop, so the program stays responsive. GUI thread.
class IdentifyClient : public QObject {
    Q_OBJECT
  public:
    enum ReplyState { kWaiting = 0, kDone = 100, kUnknownCode = 199 };

    struct Timing {
        int pauseMs = 500;      // after starting the connect, before waiting for replies
        int silenceMs = 15000;  // a lookup ends after this long without a received chunk
    };

    explicit IdentifyClient(QObject* parent = nullptr);
    IdentifyClient(Timing timing, QObject* parent = nullptr);
    ~IdentifyClient() override;

    // The site's address as dotted text; empty when the lookup failed (see replyState()).
    // The ID code (UTF-8, as typed) goes out in the code page; one that the code page cannot
    // hold is not sent at all and ends as an unknown code.
    std::string Lookup(const std::string& idCode, const QString& host, quint16 port,
                       const CodePage& codePage = CodePage());
    int replyState() const { return replyState_; }
    const std::string& result() const { return result_; }
    void Close();
    // Ends a lookup in progress at once, without an answer, and any later one before it
    // starts (the program is ending, or the operator gave up). Lookup() then returns empty
    // and abandoned() is true.
    void Abandon();
    bool abandoned() const { return abandoned_; }
    // Reassembles and acts on bytes as received from a server (the receive notification
    // uses it; so does the fuzzer).
    void ReceiveChunk(Block chunk);

  private:
    void OnReadyRead();
    void OnServerClosed();
    // The connection failed or ended: no reply can come any more.
    void OnLinkEnded();
    void Dispatch(std::span<const std::uint8_t> message);
    void SendQuery(const std::string& codeBytes);

    Timing timing_;
    QTcpSocket* socket_ = nullptr;
    bool wouldBlock_ = false;
    bool linkEnded_ = false;
    bool abandoned_ = false;
    std::string result_;
    qint64 lastActivityMs_ = 0;
    int replyState_ = kWaiting;
    FrameAssembler assembler_;
    SendQueue sendQueue_;
    ReceiveQueue receiveQueue_;
};

// What the connect flow gets from asking the primary server, then the fallback: the address,
// or the message to show when neither knew it (empty when none is to be shown). The ID code
// is sent in the code page named by net.
struct IdentifyOutcome {
    std::string address;
    QString message;
    bool abandoned = false;  // given up while asking: nothing is to be shown
};
IdentifyOutcome ResolveSiteAddress(IdentifyClient& client, const std::string& idCode,
                                   const NetSettings& net);

namespace identifytext {
inline constexpr const char* kServerUnreachable = "\n\n Can not connect to Identify Server!! \n\n";
inline constexpr const char* kIdCodeError = "\n\n ID Code Error! \n\n";
}  // namespace identifytext

}  // namespace orvane
