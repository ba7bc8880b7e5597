#include "identify_server.h"

#include "common/fixed_text.h"
#include "wire/byte_order.h"
#include "wire/message_builder.h"
#include "wire/queues.h"

#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

Q_DECLARE_LOGGING_CATEGORY(lcSimulator)

namespace orvane::sim {
namespace {

// What the server keeps per client: the bytes not yet made into a query.
struct ClientState {
    ReceiveQueue queue;
    FrameAssembler assembler{kIdentifyAssemblyCapacity, MessageHeader::kSize};
};

}  // namespace

IdentifyServer::IdentifyServer(QObject* parent) : QObject(parent) {}

bool IdentifyServer::Listen(const QHostAddress& address, quint16 port) {
    server_ = new QTcpServer(this);
    if (!server_->listen(address, port)) {
        return false;
    }
    connect(server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_->nextPendingConnection()) {
            auto state = std::make_shared<ClientState>();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, state] {
                Block chunk(static_cast<std::size_t>(socket->bytesAvailable()));
                socket->read(reinterpret_cast<char*>(chunk.data()), qint64(chunk.size()));
                state->queue.PushBack(std::move(chunk));
                ProcessReceivedChunks(
                    state->queue, state->assembler,
                    [this, socket](std::span<const std::uint8_t> message) {
                        const std::uint32_t length =
                            ReadLe32(message, MessageHeader::kLengthOffset);
                        const auto payload = message.subspan(MessageHeader::kSize, length);
                        if (message[MessageHeader::kTypeOffset] !=
                            static_cast<std::uint8_t>(IdentifyMessage::Query)) {
                            return;
                        }
                        const std::string code = TextFromField(std::span(
                            reinterpret_cast<const char*>(payload.data()), payload.size()));
                        Answer(socket, code);
                    });
            });
        }
    });
    return true;
}

quint16 IdentifyServer::port() const {
    return server_ ? server_->serverPort() : 0;
}

void IdentifyServer::Answer(QTcpSocket* socket, const std::string& idCode) {
    queries_.push_back(idCode);
    const auto site = sites_.find(idCode);
    // Never the code itself: it is as secret as a password.
    qCInfo(lcSimulator) << "identify query for" << (site == sites_.end() ? "an unknown" : "a known")
                        << "ID code";
    if (silent_) {
        return;
    }
    Block reply;
    if (site == sites_.end()) {
        reply = Flatten(BuildMessage(static_cast<std::uint8_t>(IdentifyMessage::Unknown), {}));
    } else {
        // Bytes 12 to 15 of the payload carry the address, first octet first.
        Block payload(16, 0);
        const quint32 address = QHostAddress(site->second).toIPv4Address();
        payload[12] = static_cast<std::uint8_t>(address >> 24);
        payload[13] = static_cast<std::uint8_t>(address >> 16);
        payload[14] = static_cast<std::uint8_t>(address >> 8);
        payload[15] = static_cast<std::uint8_t>(address);
        reply = Flatten(BuildMessage(static_cast<std::uint8_t>(IdentifyMessage::Address), payload));
        const Block done =
            Flatten(BuildMessage(static_cast<std::uint8_t>(IdentifyMessage::Done), {}));
        reply.insert(reply.end(), done.begin(), done.end());
    }
    socket->write(reinterpret_cast<const char*>(reply.data()), qint64(reply.size()));
}

}  // namespace orvane::sim
