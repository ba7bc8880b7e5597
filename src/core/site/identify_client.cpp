#include "site/identify_client.h"

#include "site/socket_chunks.h"

#include "common/event_pump.h"
#include "common/log.h"
#include "wire/byte_order.h"
#include "wire/message_layout.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

namespace orvane {
namespace {

// How often the waiting loop wakes to check its conditions when nothing else happens.
constexpr int kWakeMs = 20;

qint64 NowMs() {
    static QElapsedTimer clock = [] {
        QElapsedTimer started;
        started.start();
        return started;
    }();
    return clock.elapsed();
}

}  // namespace

IdentifyClient::IdentifyClient(QObject* parent) : IdentifyClient(Timing{}, parent) {}

IdentifyClient::IdentifyClient(Timing timing, QObject* parent)
    : QObject(parent),
      timing_(timing),
      assembler_(kIdentifyAssemblyCapacity, MessageHeader::kSize) {}

IdentifyClient::~IdentifyClient() {
    Close();
}

void IdentifyClient::Close() {
    if (socket_) {
        socket_->disconnect(this);
        socket_->abort();
        socket_->deleteLater();
        socket_ = nullptr;
    }
}

std::string IdentifyClient::Lookup(const std::string& idCode, const QString& host, quint16 port,
                                   const CodePage& codePage) {
    result_.clear();
    Close();
    if (abandoned_) {
        replyState_ = kWaiting;
        return result_;
    }
    const auto codeBytes =
        codePage.EncodeField(QString::fromStdString(idCode), kIdentifyCodeMaxBytes);
    if (!codeBytes) {
        qCWarning(lcSite) << "ID code has characters outside code page" << codePage.name()
                          << "- not sent";
        replyState_ = kUnknownCode;
        return result_;
    }
    socket_ = new QTcpSocket(this);
    connect(socket_, &QTcpSocket::readyRead, this, &IdentifyClient::OnReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, &IdentifyClient::OnServerClosed);
    connect(socket_, &QTcpSocket::bytesWritten, this, [this] { wouldBlock_ = false; });
    // A refused or broken connection ends the wait: no reply can come over it, and the
    // operator would otherwise wait out the silence for nothing.
    connect(socket_, &QTcpSocket::errorOccurred, this, &IdentifyClient::OnLinkEnded);
    replyState_ = kWaiting;
    wouldBlock_ = false;
    linkEnded_ = false;
    socket_->connectToHost(host, port);

    // The pause lets the connect complete; the event loop keeps running meanwhile.
    PumpEventsFor(timing_.pauseMs, [this] { return linkEnded_ || abandoned_; });
    lastActivityMs_ = NowMs();
    bool queried = false;
    while (replyState_ == kWaiting && !linkEnded_ && !abandoned_ &&
           NowMs() - lastActivityMs_ < timing_.silenceMs) {
        if (!queried) {
            queried = true;
            SendQuery(*codeBytes);
        }
        PumpEventsFor(kWakeMs,
                      [this] { return replyState_ != kWaiting || linkEnded_ || abandoned_; });
    }
    Close();
    if (abandoned_) {
        result_.clear();
        replyState_ = kWaiting;
    }
    return result_;
}

void IdentifyClient::SendQuery(const std::string& codeBytes) {
    Block payload(kIdentifyQuerySize, 0);
    PutTextField(std::span(payload).first(kIdentifyQuerySize - 1), codeBytes);
    sendQueue_.AppendMessage(
        BuildMessage(static_cast<std::uint8_t>(IdentifyMessage::Query), payload),
        [this](std::span<const std::uint8_t> block) {
            if (wouldBlock_) {
                return SendOutcome::Blocked;
            }
            // A failed write (no connection) drops the block as if sent; QTcpSocket buffers
            // what it cannot send at once, so a would-block never reaches us here.
            if (socket_) {
                socket_->write(reinterpret_cast<const char*>(block.data()), qint64(block.size()));
            }
            return SendOutcome::Sent;
        });
}

void IdentifyClient::OnReadyRead() {
    if (socket_) {
        ReadWaitingChunks(*socket_, kIdentifyChunkSize, [this](Block chunk) {
            ReceiveChunk(std::move(chunk));
            lastActivityMs_ = NowMs();
        });
    }
}

void IdentifyClient::ReceiveChunk(Block chunk) {
    receiveQueue_.PushBack(std::move(chunk));
    ProcessReceivedChunks(receiveQueue_, assembler_,
                          [this](std::span<const std::uint8_t> message) { Dispatch(message); });
}

void IdentifyClient::Abandon() {
    abandoned_ = true;
}

void IdentifyClient::OnLinkEnded() {
    // What arrived before the end is taken first.
    OnReadyRead();
    linkEnded_ = true;
}

void IdentifyClient::OnServerClosed() {
    sendQueue_.Clear();
    receiveQueue_.Clear();
    assembler_.Reset();
}

void IdentifyClient::Dispatch(std::span<const std::uint8_t> message) {
    const std::uint32_t length = ReadLe32(message, MessageHeader::kLengthOffset);
    const auto payload = message.subspan(MessageHeader::kSize, length);
    switch (message[MessageHeader::kTypeOffset]) {
        case static_cast<std::uint8_t>(IdentifyMessage::Address):
            if (payload.size() >= kIdentifyAddressOffset + 4) {
                const auto* a = payload.data() + kIdentifyAddressOffset;
                result_ = std::to_string(a[0]) + "." + std::to_string(a[1]) + "." +
                          std::to_string(a[2]) + "." + std::to_string(a[3]);
            }
            break;
        case static_cast<std::uint8_t>(IdentifyMessage::Done):
            replyState_ = kDone;
            break;
        case static_cast<std::uint8_t>(IdentifyMessage::Unknown):
            replyState_ = kUnknownCode;
            break;
        default:
            break;  // ignored
    }
}

IdentifyOutcome ResolveSiteAddress(IdentifyClient& client, const std::string& idCode,
                                   const NetSettings& net) {
    IdentifyOutcome outcome;
    const CodePage codePage(net.codePage);
    outcome.address = client.Lookup(idCode, QString::fromStdString(net.identifyPrimary),
                                    net.identifyPort, codePage);
    // A server that said the code is unknown was reached: that is what the operator is told,
    // even when the fallback then cannot be reached.
    bool toldUnknown = client.replyState() == IdentifyClient::kUnknownCode;
    if (outcome.address.empty() && !client.abandoned()) {
        outcome.address = client.Lookup(idCode, QString::fromStdString(net.identifyFallback),
                                        net.identifyPort, codePage);
        toldUnknown = toldUnknown || client.replyState() == IdentifyClient::kUnknownCode;
    }
    client.Close();
    if (client.abandoned()) {
        outcome.address.clear();
        outcome.abandoned = true;
        return outcome;
    }
    if (outcome.address.empty()) {
        if (toldUnknown) {
            outcome.message = identifytext::kIdCodeError;
        } else if (client.replyState() == IdentifyClient::kWaiting) {
            outcome.message = identifytext::kServerUnreachable;
        }
    }
    return outcome;
}

}  // namespace orvane
