#include "support/simulated_link.h"

#include "frame_source.h"
#include "site/blocking_connect.h"
#include "support/event_loop.h"
#include "wire/bitmap_info.h"
#include "wire/byte_order.h"

#include <algorithm>
#include <filesystem>

namespace orvane::test {

std::unique_ptr<sim::SiteSimulator> StartSite(sim::SiteSimulatorOptions options) {
    auto site = std::make_unique<sim::SiteSimulator>(std::move(options));
    EXPECT_TRUE(site->Listen(QHostAddress::LocalHost, 0)) << site->error().toStdString();
    return site;
}

Requests RequestsOf(const sim::SiteSimulator& site, std::initializer_list<ClientMessage> types,
                    int fromLogin) {
    Requests requests;
    int logins = 0;
    for (const auto& message : site.received()) {
        logins += message.type == std::uint8_t(ClientMessage::Login) ? 1 : 0;
        const bool wanted = std::any_of(types.begin(), types.end(), [&](ClientMessage type) {
            return message.type == std::uint8_t(type);
        });
        if (logins >= fromLogin && wanted) {
            requests.emplace_back(message.type,
                                  message.payload.size() >= 4 ? ReadLe32(message.payload, 0) : 0);
        }
    }
    return requests;
}

Block Concat(std::initializer_list<Block> parts) {
    Block all;
    for (const Block& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Block RgbFrame(int width, int height, std::uint32_t sequence) {
    BitmapInfoHeader format;
    format.biWidth = width;
    format.biHeight = height;
    format.biBitCount = 24;
    format.biCompression = BitmapInfoHeader::kBiRgb;
    format.biSizeImage = static_cast<std::uint32_t>(width * height * 3);
    Block picture(format.biSizeImage, static_cast<std::uint8_t>(sequence * 37));
    WriteLe32(picture, 0, sequence);
    return sim::PackFrame(format, picture);
}

void Write(QTcpSocket& socket, std::span<const std::uint8_t> bytes) {
    socket.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
}

int OpenFileDescriptors() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                          std::filesystem::directory_iterator()));
}

int LiveWindows(const HeadlessChannelHost& host) {
    return static_cast<int>(std::count_if(host.windows().begin(), host.windows().end(),
                                          [](const auto& window) { return !window->closed(); }));
}

CallSettings AdminCall(int reLink) {
    CallSettings call;
    call.user = "admin";
    call.password = "admin";
    call.reLink = reLink;
    return call;
}

void ConnectionLink::MakeConnection(const CallSettings& call, int tickMs) {
    connection = std::make_unique<SiteConnection>(
        SiteConnection::Services{channels, host, frame, &events}, call);
    connection->SetTickInterval(tickMs);
}

void ConnectionLink::Connect(const std::string& user, const std::string& password, int reLink) {
    CallSettings call = AdminCall(reLink);
    call.user = user;
    call.password = password;
    MakeConnection(call, kFastTickMs);
    ASSERT_TRUE(ConnectBlocking(connection->socket(), "127.0.0.1", site->port(), 5000));
    connection->Start(false);
}

QTcpSocket* ConnectionLink::ConnectToScriptedPeer(int tickMs, int reLink) {
    MakeConnection(AdminCall(reLink), tickMs);
    if ((!peerListener.isListening() && !peerListener.listen(QHostAddress::LocalHost, 0)) ||
        !ConnectBlocking(connection->socket(), "127.0.0.1", peerListener.serverPort(), 5000) ||
        !WaitUntil([&] { return peerListener.hasPendingConnections(); })) {
        return nullptr;
    }
    connection->Start(false);
    return peerListener.nextPendingConnection();
}

bool ConnectionLink::AdoptCallBack() {
    QTcpServer listener;
    if (!listener.listen(QHostAddress::LocalHost, 0) ||
        !site->CallBack("127.0.0.1", listener.serverPort()) ||
        !WaitUntil([&] { return listener.hasPendingConnections(); })) {
        return false;
    }
    MakeConnection(CallSettings{}, kFastTickMs);
    connection->AdoptSocket(listener.nextPendingConnection());
    return true;
}

bool ConnectionLink::LoggedIn() {
    return WaitUntil([this] { return frame.Noticed(SiteNotice::LoginAccepted); });
}

HeadlessChannelWindow* WaitForWindow(const HeadlessChannelHost& host, std::uint32_t number,
                                     int pictures) {
    WaitUntil([&] {
        auto* window = host.WindowFor(number);
        return window && window->picturesDrawn() >= pictures;
    });
    return host.WindowFor(number);
}

std::uint64_t ConnectionLink::FramesOf(std::uint32_t number) const {
    const ChannelLink* link = connection->channels().FindLinkByNumber(number);
    return link ? link->frames : 0;
}

SessionLink::SessionLink() {
    settings.SaveCall(AdminCall());
    session.SetTiming({5000, 100, kFastTickMs});
    QObject::connect(&session, &SiteSession::notified,
                     [this](SiteNotice id) { posted.push_back(id); });
}

void SessionLink::UseSitePort(quint16 port) {
    settings.WriteProfileInt("Net", "SitePort", port);
}

bool SessionLink::ConnectTo(const sim::SiteSimulator& site) {
    UseSitePort(site.port());
    return session.ConnectTo("127.0.0.1") == SiteSession::ConnectResult::Connected && LoggedIn();
}

bool SessionLink::WatchGateAndYard(const sim::SiteSimulator& site) {
    if (!ConnectTo(site)) {
        return false;
    }
    session.connection()->OpenChannel(3);
    session.connection()->OpenChannel(7);
    return WaitForWindow(1) && WaitForWindow(2);
}

bool SessionLink::Posted(SiteNotice id) const {
    return std::find(posted.begin(), posted.end(), id) != posted.end();
}

bool SessionLink::LoggedIn() {
    return WaitUntil([this] { return Posted(SiteNotice::LoginAccepted); });
}

}  // namespace orvane::test
