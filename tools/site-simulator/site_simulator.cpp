#include "site_simulator.h"

#include "simulated_session.h"
#include "wire/message_builder.h"

#include <QDateTime>
#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

Q_LOGGING_CATEGORY(lcSimulator, "orvane.simulator")

namespace orvane::sim {

SiteSimulator::SiteSimulator(SiteSimulatorOptions options, QObject* parent)
    : QObject(parent), options_(std::move(options)) {
    if (!options_.sourceFile.isEmpty()) {
        source_ = AviPacketSource::Load(options_.sourceFile, error_);
        if (source_ && options_.framesPerSecond <= 0) {
            options_.framesPerSecond = source_->framesPerSecond();
        }
    }
}

SiteSimulator::~SiteSimulator() = default;

bool SiteSimulator::Listen(const QHostAddress& address, quint16 port) {
    if (!options_.sourceFile.isEmpty() && !source_) {
        return false;  // error_ says why
    }
    if (options_.replay && options_.pictureSize.isValid()) {
        // Encoded before the first client comes, so that its streams start at full rate.
        for (std::size_t i = 0; i < options_.channels.size(); ++i) {
            LoopFor(static_cast<int>(i), options_.pictureSize);
        }
    }
    server_ = new QTcpServer(this);
    if (!server_->listen(address, port)) {
        error_ = server_->errorString();
        return false;
    }
    connect(server_, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = server_->nextPendingConnection()) {
            AddSession(socket, false);
        }
    });
    return true;
}

quint16 SiteSimulator::port() const {
    return server_ ? server_->serverPort() : 0;
}

void SiteSimulator::AddSession(QTcpSocket* socket, bool callBack) {
    auto* session = new SimulatedSession(*this, socket, nextSessionId_++, callBack);
    sessions_.push_back(session);
    qCInfo(lcSimulator) << "session" << session->id() << "from" << socket->peerAddress().toString()
                        << (callBack ? "(call-back)" : "");
}

void SiteSimulator::RemoveSession(SimulatedSession* session) {
    const auto it = std::find(sessions_.begin(), sessions_.end(), session);
    if (it == sessions_.end()) {
        return;
    }
    sessions_.erase(it);
    qCInfo(lcSimulator) << "session" << session->id() << "ended";
    session->deleteLater();
}

void SiteSimulator::Record(int session, std::uint8_t type, Block payload) {
    qCInfo(lcSimulator) << "session" << session << "received type" << type << "with"
                        << payload.size() << "payload bytes";
    emit messageReceived(
        session, type,
        QByteArray(reinterpret_cast<const char*>(payload.data()), qsizetype(payload.size())));
    received_.push_back({session, type, std::move(payload)});
}

void SiteSimulator::CountFrame(std::uint32_t channelNumber, const Block& frame) {
    if (options_.keepSentFrames) {
        sentFrames_[channelNumber].push_back(frame);
    }
    if (framesSent_++ == 0) {
        sendClock_.start();
    }
    emit frameSent(channelNumber, QDateTime::currentMSecsSinceEpoch());
}

double SiteSimulator::sendRate() const {
    const qint64 elapsed = sendClock_.isValid() ? sendClock_.elapsed() : 0;
    return elapsed > 0 ? 1000.0 * static_cast<double>(framesSent_) / static_cast<double>(elapsed)
                       : 0.0;
}

int SiteSimulator::CountReceived(ClientMessage type) const {
    return static_cast<int>(
        std::count_if(received_.begin(), received_.end(),
                      [type](const auto& m) { return m.type == static_cast<std::uint8_t>(type); }));
}

int SiteSimulator::loggedInCount() const {
    return static_cast<int>(std::count_if(sessions_.begin(), sessions_.end(),
                                          [](const SimulatedSession* s) { return s->loggedIn(); }));
}

void SiteSimulator::StopChannel(std::uint32_t channelNumber) {
    for (auto* session : sessions_) {
        session->StopChannel(channelNumber);
    }
}

void SiteSimulator::SendLoginAgain() {
    for (auto* session : sessions_) {
        session->SendMessage(SiteMessage::LoginAgain, 0, 0);
    }
}

void SiteSimulator::SendSiteClosing() {
    for (auto* session : sessions_) {
        session->SendMessage(SiteMessage::SiteClosing, 0, 0);
    }
}

void SiteSimulator::SendEventRecord(const Block& record) {
    for (auto* session : sessions_) {
        session->SendMessage(SiteMessage::EventRecord, 0, 0, record);
    }
}

void SiteSimulator::SendRaw(const Block& bytes) {
    for (auto* session : sessions_) {
        session->Send(bytes);
    }
}

void SiteSimulator::FreezeChannel(std::uint32_t channelNumber, bool frozen) {
    if (frozen) {
        frozen_.insert(channelNumber);
    } else {
        frozen_.erase(channelNumber);
    }
}

void SiteSimulator::StopStreaming() {
    options_.streamOnLogin = false;
    for (auto* session : sessions_) {
        session->StopStreaming();
    }
}

void SiteSimulator::HalveFrameRate() {
    options_.framesPerSecond /= 2;
    for (auto* session : sessions_) {
        session->ApplyFrameRate();
    }
}

void SiteSimulator::DropLinks() {
    const auto sessions = sessions_;
    for (auto* session : sessions) {
        session->Drop();
    }
}

void SiteSimulator::DropLinksEvery(int milliseconds) {
    if (!dropTimer_) {
        dropTimer_ = new QTimer(this);
        connect(dropTimer_, &QTimer::timeout, this, &SiteSimulator::DropLinks);
    }
    dropTimer_->stop();
    if (milliseconds > 0) {
        dropTimer_->start(milliseconds);
    }
}

SiteSimulator::ReplayLoop SiteSimulator::LoopFor(int channelIndex, QSize size) {
    ReplayLoop& loop = replayLoops_[{channelIndex, {size.width(), size.height()}}];
    if (loop) {
        return loop;
    }
    auto encoder = LiveEncoder::Create(options_.codec, size);
    if (!encoder) {
        return nullptr;
    }
    auto frames = std::make_shared<std::vector<Block>>();
    const int length = ReplayFrames(options_.codec);
    frames->reserve(static_cast<std::size_t>(length));
    for (int i = 0; static_cast<int>(frames->size()) < length && i < 2 * length; ++i) {
        if (auto frame = encoder->Encode(TestPattern(channelIndex, i, size))) {
            frames->push_back(std::move(*frame));
        }
    }
    if (frames->empty()) {
        return nullptr;
    }
    loop = std::move(frames);
    return loop;
}

bool SiteSimulator::CallBack(const QString& host, quint16 port) {
    auto* socket = new QTcpSocket(this);
    socket->connectToHost(host, port);
    if (!socket->waitForConnected(5000)) {
        error_ = socket->errorString();
        socket->deleteLater();
        return false;
    }
    AddSession(socket, true);
    return true;
}

Block MakeEventRecord(const std::string& name, const std::string& telephone,
                      const std::string& address, const std::string& memo) {
    Block record(kEventRecordSize, 0);
    const std::span<std::uint8_t> bytes(record);
    PutTextField(bytes.subspan(0, 30), name);
    PutTextField(bytes.subspan(30, 30), telephone);
    PutTextField(bytes.subspan(60, 120), address);
    PutTextField(bytes.subspan(180, 120), memo);
    return record;
}

}  // namespace orvane::sim
