#pragma once

// The site link as the site tests set it up: a simulated site on a loopback port, which records
// every message it receives, and the client's end: a site connection driven directly
// (ConnectionLink) or the session that owns one (SessionLink).
#include "site/blocking_connect.h"
#include "site/headless_host.h"
#include "site/site_connection.h"
#include "site/site_session.h"
#include "site_simulator.h"
#include "store/settings.h"
#include "support/event_loop.h"
#include "support/fake_main_frame.h"
#include "wire/byte_order.h"
#include "wire/message_builder.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace orvane::test {

// Tests run the connection's tick ten times faster than the design's 100 ms.
inline constexpr int kFastTickMs = 10;

inline CallSettings AdminCall(const std::string& password = "admin", int reLink = 1) {
    CallSettings call;
    call.user = "admin";
    call.password = password;
    call.reLink = reLink;
    return call;
}

// A simulated site listening on a loopback port of its own; fails the test when it cannot.
inline std::unique_ptr<sim::SiteSimulator> StartSite(sim::SiteSimulatorOptions options = {}) {
    auto site = std::make_unique<sim::SiteSimulator>(std::move(options));
    EXPECT_TRUE(site->Listen(QHostAddress::LocalHost, 0)) << site->error().toStdString();
    return site;
}

// The type and first payload word of the messages of `types` a site received, in order,
// counted from its `fromLogin`-th Login (0: from the start).
using Requests = std::vector<std::pair<std::uint8_t, std::uint32_t>>;
inline Requests RequestsOf(const sim::SiteSimulator& site,
                           std::initializer_list<ClientMessage> types, int fromLogin = 0) {
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

inline Block SiteMessageOf(SiteMessage type, std::uint32_t first = 0, std::uint32_t second = 0,
                           const Block& payload = {}) {
    return BuildSiteMessage(static_cast<std::uint8_t>(type), first, second, payload);
}

inline void Write(QTcpSocket& socket, std::span<const std::uint8_t> bytes) {
    socket.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
}

// The descriptors this process has open (a leak of sockets shows here).
inline int OpenFileDescriptors() {
    return static_cast<int>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                          std::filesystem::directory_iterator()));
}

// What the client's end of a link reports to: the channel table, the windows, the event log.
class LinkParts : public testing::Test {
  protected:
    // The window of a channel number once it has drawn `pictures`, or null after the wait.
    HeadlessChannelWindow* WaitForWindow(std::uint32_t number, int pictures = 1) {
        WaitUntil([&] {
            auto* window = host.WindowFor(number);
            return window && window->picturesDrawn() >= pictures;
        });
        return host.WindowFor(number);
    }

    ChannelTable channels;
    HeadlessChannelHost host;
    FakeEventLog events;
};

// A site connection of its own, as the operator's connect makes one.
class ConnectionLink : public LinkParts {
  protected:
    // Connects a new connection to the site as admin with this password and starts it.
    void Connect(const std::string& password = "admin", int reLink = 1) {
        MakeConnection(AdminCall(password, reLink), kFastTickMs);
        Reconnect(false);
    }
    // The reconnect loop's part (a new socket when `again`), then the login.
    void Reconnect(bool again = true) {
        if (again) {
            connection->RecreateSocket();
        }
        ASSERT_TRUE(ConnectBlocking(connection->socket(), "127.0.0.1", site->port(), 5000));
        connection->Start(false);
    }
    // Starts a site and logs in to it as admin; true once the site took the login.
    bool LogInToNewSite(sim::SiteSimulatorOptions options = {}, int reLink = 1) {
        site = StartSite(std::move(options));
        Connect("admin", reLink);
        return LoggedIn();
    }
    // Connects to a plain listener instead: returns its end, which the test scripts, or null.
    QTcpSocket* ConnectToScriptedPeer(int tickMs) {
        MakeConnection(AdminCall(), tickMs);
        if (!peerListener.listen(QHostAddress::LocalHost, 0) ||
            !ConnectBlocking(connection->socket(), "127.0.0.1", peerListener.serverPort(), 5000) ||
            !WaitUntil([&] { return peerListener.hasPendingConnections(); })) {
            return nullptr;
        }
        connection->Start(false);
        return peerListener.nextPendingConnection();
    }
    // The site calls back; a new connection takes the call, not yet started.
    bool AdoptCallBack() {
        if (!peerListener.listen(QHostAddress::LocalHost, 0) ||
            !site->CallBack("127.0.0.1", peerListener.serverPort()) ||
            !WaitUntil([&] { return peerListener.hasPendingConnections(); })) {
            return false;
        }
        MakeConnection(CallSettings{}, kFastTickMs);
        connection->AdoptSocket(peerListener.nextPendingConnection());
        return true;
    }
    bool LoggedIn() {
        return WaitUntil([this] { return frame.Noticed(SiteNotice::LoginAccepted); });
    }
    // Frames the connection kept for the channel's link.
    std::uint64_t FramesOf(std::uint32_t number) const {
        const ChannelLink* link = connection->channels().FindLinkByNumber(number);
        return link ? link->frames : 0;
    }

    FakeMainFrame frame;
    std::unique_ptr<sim::SiteSimulator> site;
    QTcpServer peerListener;
    std::unique_ptr<SiteConnection> connection;

  private:
    void MakeConnection(const CallSettings& call, int tickMs) {
        connection = std::make_unique<SiteConnection>(
            SiteConnection::Services{channels, host, frame, &events}, call);
        connection->SetTickInterval(tickMs);
    }
};

// The session the main frame talks to, logging in as admin/admin, with fast timing.
class SessionLink : public LinkParts {
  protected:
    SessionLink() {
        settings.SaveCall(AdminCall());
        session.SetTiming({5000, 100, kFastTickMs});
        QObject::connect(&session, &SiteSession::notified,
                         [this](SiteNotice id) { posted.push_back(id); });
    }
    void UseSitePort(quint16 port) { settings.WriteProfileInt("Net", "SitePort", port); }
    // Connects the operator's way and waits for the site to take the login.
    bool ConnectTo(const sim::SiteSimulator& site) {
        UseSitePort(site.port());
        return session.ConnectTo("127.0.0.1") == SiteSession::ConnectResult::Connected &&
               WaitUntil([this] { return Posted(SiteNotice::LoginAccepted); });
    }
    bool Posted(SiteNotice id) const {
        return std::find(posted.begin(), posted.end(), id) != posted.end();
    }

    Settings settings{KeyStore::OpenInMemory()};
    SiteSession session{{settings, channels, host, &events}};
    std::vector<SiteNotice> posted;
};

}  // namespace orvane::test
