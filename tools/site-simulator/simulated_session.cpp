#include "simulated_session.h"

#include "common/fixed_text.h"
#include "site/socket_chunks.h"
#include "site_simulator.h"
#include "wire/byte_order.h"
#include "wire/message_builder.h"

#include <QDateTime>
#include <QLoggingCategory>
#include <QTcpSocket>

Q_DECLARE_LOGGING_CATEGORY(lcSimulator)

namespace orvane::sim {
namespace {

// Client messages are small; a KeepAlive and a login fit many times over.
constexpr std::size_t kClientAssemblyCapacity = 4096;

std::string FieldText(std::span<const std::uint8_t> field) {
    return TextFromField(std::span(reinterpret_cast<const char*>(field.data()), field.size()));
}

}  // namespace

SimulatedSession::SimulatedSession(SiteSimulator& site, QTcpSocket* socket, int id, bool callBack)
    : QObject(&site),
      site_(site),
      socket_(socket),
      id_(id),
      callBack_(callBack),
      assembler_(kClientAssemblyCapacity, MessageHeader::kSize) {
    socket_->setParent(this);
    connect(socket_, &QTcpSocket::readyRead, this, &SimulatedSession::OnReadyRead);
    connect(socket_, &QTcpSocket::disconnected, this, [this] { site_.RemoveSession(this); });
}

SimulatedSession::~SimulatedSession() {
    streams_.clear();
}

void SimulatedSession::Send(const Block& bytes) {
    if (socket_->state() == QAbstractSocket::ConnectedState) {
        socket_->write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
    }
}

void SimulatedSession::SendMessage(SiteMessage type, std::uint32_t first, std::uint32_t second,
                                   std::span<const std::uint8_t> payload) {
    Send(BuildSiteMessage(static_cast<std::uint8_t>(type), first, second, payload));
}

void SimulatedSession::Drop() {
    socket_->abort();
}

void SimulatedSession::OnReadyRead() {
    ReadWaitingChunks(*socket_, kSiteChunkSize,
                      [this](Block chunk) { receiveQueue_.PushBack(std::move(chunk)); });
    ProcessReceivedChunks(receiveQueue_, assembler_,
                          [this](std::span<const std::uint8_t> message) { Handle(message); });
}

void SimulatedSession::Handle(std::span<const std::uint8_t> message) {
    const std::uint8_t type = message[MessageHeader::kTypeOffset];
    const std::uint32_t length = ReadLe32(message, MessageHeader::kLengthOffset);
    const auto payload = message.subspan(MessageHeader::kSize, length);
    site_.Record(id_, type, Block(payload.begin(), payload.end()));
    const std::uint32_t word = payload.size() >= 4 ? ReadLe32(payload, 0) : 0;

    switch (static_cast<ClientMessage>(type)) {
        case ClientMessage::Login:
            OnLogin(payload);
            return;
        case ClientMessage::OpenChannel:
            if (loggedIn_) {
                OpenStream(word);
            }
            return;
        case ClientMessage::CloseChannel:
            for (auto it = streams_.begin(); it != streams_.end(); ++it) {
                if (static_cast<std::uint32_t>(it->second.channel->id) == word) {
                    streams_.erase(it);
                    break;
                }
            }
            return;
        case ClientMessage::EventQuery:
            if (site_.options().eventRecord.size() == kEventRecordSize) {
                SendMessage(SiteMessage::EventRecord, 0, 0, site_.options().eventRecord);
            }
            return;
        case ClientMessage::FixChannel:
        case ClientMessage::KeepAlive:
        case ClientMessage::CloseSite:
        case ClientMessage::RebootSite:
        case ClientMessage::RunProgram:
            return;  // recorded above; a simulated site has nothing more to do
    }
}

void SimulatedSession::OnLogin(std::span<const std::uint8_t> payload) {
    if (payload.size() != kLoginPayloadSize) {
        SendMessage(SiteMessage::LoginRejected, 0, 0);
        return;
    }
    const std::string user = FieldText(payload.subspan(0, kLoginNameField));
    const std::string password =
        FieldText(payload.subspan(kLoginPasswordOffset, kLoginPasswordField));
    const std::uint32_t format = ReadLe32(payload, kLoginFormatOffset);
    pictureSize_ = format == 1 ? QSize(320, 240) : QSize(160, 120);
    if (site_.options().pictureSize.isValid()) {
        pictureSize_ = site_.options().pictureSize;
    }

    const auto& options = site_.options();
    if (options.loginAgainFirst && !loginAgainSent_) {
        loginAgainSent_ = true;
        SendMessage(SiteMessage::LoginAgain, 0, 0);
        return;
    }
    bool known = callBack_ && user == kAlarmUser && password == kAlarmPassword;
    for (const auto& account : options.accounts) {
        known = known || (account.user == user && account.password == password);
    }
    if (!known) {
        qCInfo(lcSimulator) << "session" << id_ << "login rejected for" << user.c_str();
        SendMessage(SiteMessage::LoginRejected, 0, 0);
        return;
    }
    if (!loggedIn_ && site_.loggedInCount() >= options.maxSessions) {
        SendMessage(SiteMessage::LimitReached, 0, 0);
        return;
    }
    loggedIn_ = true;
    Block entries(options.channels.size() * kChannelEntrySize, 0);
    for (std::size_t i = 0; i < options.channels.size(); ++i) {
        const auto entry = std::span(entries).subspan(i * kChannelEntrySize, kChannelEntrySize);
        WriteLe32(entry, 0, static_cast<std::uint32_t>(options.channels[i].id));
        PutTextField(entry.subspan(4, kChannelNameField), options.channels[i].name);
    }
    SendMessage(SiteMessage::ChannelList, static_cast<std::uint32_t>(options.channels.size()),
                options.siteBits, entries);
    if (options.acceptLogin) {
        SendMessage(SiteMessage::LoginAccepted, 0, 0);
    }
    if (options.streamOnLogin) {
        for (const auto& channel : options.channels) {
            OpenStream(static_cast<std::uint32_t>(channel.id));
        }
    }
}

void SimulatedSession::OpenStream(std::uint32_t channelId) {
    const auto& channels = site_.options().channels;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        const SimulatedChannel& channel = channels[i];
        if (static_cast<std::uint32_t>(channel.id) != channelId ||
            streams_.count(channel.number) != 0) {
            continue;
        }
        Stream& stream = streams_[channel.number];
        stream.channel = &channel;
        stream.channelIndex = static_cast<int>(i);
        if (!site_.source_) {
            // Uncompressed 320 x 240 frames would not fit the largest message a site may
            // send (153,600 bytes), so raw video always goes out at 160 x 120.
            const QSize size = site_.options().codec == SimulatedCodec::Uncompressed
                                   ? QSize(160, 120)
                                   : pictureSize_;
            if (site_.options().replay) {
                stream.replay = site_.LoopFor(static_cast<int>(i), size);
            } else {
                stream.encoder = LiveEncoder::Create(site_.options().codec, size);
            }
            if (!stream.encoder && !stream.replay) {
                qCWarning(lcSimulator) << "cannot encode" << CodecName(site_.options().codec);
                streams_.erase(channel.number);
                return;
            }
        }
        stream.timer = std::make_unique<QTimer>();
        stream.timer->setTimerType(Qt::PreciseTimer);
        const int together = std::max(1, site_.options().framesPerSend);
        stream.timer->setInterval(SendInterval());
        const std::uint32_t number = channel.number;
        const auto send = [this, number, together] {
            for (int sent = 0; sent < together; ++sent) {
                SendNextFrame(number);
            }
        };
        connect(stream.timer.get(), &QTimer::timeout, this, send);
        const int delay = site_.options().spreadKeyFrames ? SpreadDelay(stream.channelIndex) : 0;
        if (delay == 0) {
            stream.timer->start();
            send();
            return;
        }
        // The timer is the context: a stream stopped before its start never sends.
        QTimer::singleShot(delay, stream.timer.get(), [timer = stream.timer.get(), send] {
            timer->start();
            send();
        });
        return;
    }
}

int SimulatedSession::SpreadDelay(int channelIndex) const {
    const auto channels = static_cast<int>(site_.options().channels.size());
    const double keyInterval = 1000.0 * GroupOfPictures(site_.options().codec) /
                               std::max(0.1, site_.options().framesPerSecond);
    return static_cast<int>(keyInterval * channelIndex / std::max(1, channels));
}

int SimulatedSession::SendInterval() const {
    const int together = std::max(1, site_.options().framesPerSend);
    return static_cast<int>(1000.0 * together / std::max(0.1, site_.options().framesPerSecond));
}

void SimulatedSession::ApplyFrameRate() {
    for (auto& [number, stream] : streams_) {
        if (stream.timer) {
            stream.timer->setInterval(SendInterval());
        }
    }
}

void SimulatedSession::SendNextFrame(std::uint32_t channelNumber) {
    auto it = streams_.find(channelNumber);
    if (it == streams_.end() || site_.frozen(channelNumber)) {
        return;
    }
    Stream& stream = it->second;
    const int limit = site_.options().frameLimit;
    if (limit > 0 && stream.frameIndex >= limit) {
        return;
    }
    std::optional<Block> frame;
    if (site_.source_) {
        const auto& frames = site_.source_->frames();
        frame = frames[static_cast<std::size_t>(stream.frameIndex) % frames.size()];
    } else if (stream.replay) {
        frame =
            (*stream.replay)[static_cast<std::size_t>(stream.frameIndex) % stream.replay->size()];
    } else {
        frame = stream.encoder->Encode(
            TestPattern(stream.channelIndex, stream.frameIndex, stream.encoder->size()));
    }
    ++stream.frameIndex;
    if (!frame) {
        return;
    }
    if (site_.options().stampFrames && frame->size() >= 28) {
        WriteLe32(*frame, 24, static_cast<std::uint32_t>(QDateTime::currentMSecsSinceEpoch()));
    }
    SendMessage(SiteMessage::VideoFrame, static_cast<std::uint32_t>(stream.channel->id),
                channelNumber, *frame);
    site_.CountFrame(channelNumber, *frame);
}

void SimulatedSession::StopChannel(std::uint32_t channelNumber) {
    if (streams_.erase(channelNumber) > 0) {
        SendMessage(SiteMessage::ChannelStopped, 0, channelNumber);
    }
}

}  // namespace orvane::sim
