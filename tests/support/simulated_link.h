#pragma once

// The site link as the site tests set it up: a simulated site on a loopback port and the
// client's end of the link, either a site connection driven directly (ConnectionLink) or the
// session that owns one (SessionLink). The site records every message it receives, so what the
// client sent is read from site->received().
#include "site/headless_host.h"
#include "site/site_connection.h"
#include "site/site_session.h"
#include "site_simulator.h"
#include "store/settings.h"
#include "support/fake_main_frame.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <span>
#include <utility>
#include <vector>

namespace orvane::test {

// Tests run the connection's tick ten times faster than the design's 100 ms.
inline constexpr int kFastTickMs = 10;

// The call settings of admin/admin, as the tests' connections log in.
CallSettings AdminCall(int reLink = 1);

// A simulated site listening on a loopback port of its own; fails the test when it cannot.
std::unique_ptr<sim::SiteSimulator> StartSite(sim::SiteSimulatorOptions options = {});

// The type and first payload word of the messages of `types` a site received, in order,
// counted from its `fromLogin`-th Login (0: from the start).
using Requests = std::vector<std::pair<std::uint8_t, std::uint32_t>>;
Requests RequestsOf(const sim::SiteSimulator& site, std::initializer_list<ClientMessage> types,
                    int fromLogin = 0);

Block Concat(std::initializer_list<Block> parts);
// An uncompressed frame, packed as a site sends it, whose first four picture bytes carry
// `sequence` (the rest is filled from it).
Block RgbFrame(int width, int height, std::uint32_t sequence);
void Write(QTcpSocket& socket, std::span<const std::uint8_t> bytes);

// The descriptors this process has open (a leak of sockets shows here).
int OpenFileDescriptors();
// The windows of a host not closed.
int LiveWindows(const HeadlessChannelHost& host);
// The window of a channel number once it has drawn `pictures`, or null after the wait.
HeadlessChannelWindow* WaitForWindow(const HeadlessChannelHost& host, std::uint32_t number,
                                     int pictures = 1);

// A site connection of its own, as the operator's connect makes one.
class ConnectionLink : public testing::Test {
  protected:
    void StartSite(sim::SiteSimulatorOptions options = {}) {
        site = test::StartSite(std::move(options));
    }
    // Connects a new connection to the site with these credentials and starts it.
    void Connect(const std::string& user = "admin", const std::string& password = "admin",
                 int reLink = 1);
    // Starts a site and logs in to it as admin; true once the site took the login.
    bool LogInToNewSite(sim::SiteSimulatorOptions options = {}) {
        StartSite(std::move(options));
        Connect();
        return LoggedIn();
    }
    // Connects a new connection to a plain listener instead: returns the listener's end, which
    // the test scripts byte by byte, or null.
    QTcpSocket* ConnectToScriptedPeer(int tickMs, int reLink = 1);
    // The site calls back; a new connection takes the call, not yet started.
    bool AdoptCallBack();

    bool LoggedIn();
    HeadlessChannelWindow* WaitForWindow(std::uint32_t number, int pictures = 1) {
        return test::WaitForWindow(host, number, pictures);
    }
    // Frames the connection kept for the channel's link.
    std::uint64_t FramesOf(std::uint32_t number) const;

    ChannelTable channels;
    HeadlessChannelHost host;
    FakeMainFrame frame;
    FakeEventLog events;
    std::unique_ptr<sim::SiteSimulator> site;
    QTcpServer peerListener;
    std::unique_ptr<SiteConnection> connection;

  private:
    void MakeConnection(const CallSettings& call, int tickMs);
};

// The session the main frame talks to, logging in as admin/admin, with fast timing.
class SessionLink : public testing::Test {
  protected:
    SessionLink();

    void UseSitePort(quint16 port);
    // Connects the operator's way and waits for the site to take the login.
    bool ConnectTo(const sim::SiteSimulator& site);
    // Connects and opens the site's channels 3 (Gate, number 1) and 7 (Yard, number 2).
    bool WatchGateAndYard(const sim::SiteSimulator& site);
    bool Posted(SiteNotice id) const;
    bool LoggedIn();
    HeadlessChannelWindow* WaitForWindow(std::uint32_t number, int pictures = 1) {
        return test::WaitForWindow(host, number, pictures);
    }

    Settings settings{KeyStore::OpenInMemory()};
    ChannelTable channels;
    HeadlessChannelHost host;
    FakeEventLog events;
    SiteSession session{{settings, channels, host, &events}};
    std::vector<SiteNotice> posted;
};

}  // namespace orvane::test
