// What a faulty site costs the client, in process over loopback: how late the event loop
// turns, how much memory and CPU the client takes while a site trickles, floods with garbage or
// with frames, and while the reconnect loop waits for a site that is down. The tests assert
// that the link survives these and that its queues stay bounded; the figures are here.
//   link_faults [--seconds 2]
#include "frame_source.h"
#include "process_stats.h"
#include "site/blocking_connect.h"
#include "site/headless_host.h"
#include "site/site_connection.h"
#include "site/site_session.h"
#include "site_simulator.h"
#include "socket_flood.h"
#include "support/event_loop.h"
#include "support/fake_main_frame.h"
#include "wire/byte_order.h"
#include "wire/message_builder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <thread>

namespace orvane {
namespace {

// How late a 10 ms timer fires, as wall-clock time and as this thread's own work between two
// turns (on a shared machine a busy neighbour makes the first long, only the client the second).
class StallProbe {
  public:
    explicit StallProbe(std::function<void()> sample = {}) : sample_(std::move(sample)) {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            const double cpu = bench::ThreadCpuSeconds() * 1000.0;
            worstBusyMs = std::max(worstBusyMs, cpu - cpuAtLast_);
            worstLateMs = std::max(worstLateMs, clock_.restart() - 10);
            if (sample_) {
                sample_();
            }
            cpuAtLast_ = bench::ThreadCpuSeconds() * 1000.0;
        });
        clock_.start();
        cpuAtLast_ = bench::ThreadCpuSeconds() * 1000.0;
        timer_.start(10);
    }
    double worstBusyMs = 0;
    qint64 worstLateMs = 0;

  private:
    std::function<void()> sample_;
    QTimer timer_;
    QElapsedTimer clock_;
    double cpuAtLast_ = 0;
};

Block LoginAnswer() {
    Block entry(kChannelEntrySize, 0);
    WriteLe32(entry, 0, 3);
    Block answer = BuildSiteMessage(std::uint8_t(SiteMessage::ChannelList), 1, 3, entry);
    const Block accepted = BuildSiteMessage(std::uint8_t(SiteMessage::LoginAccepted), 0, 0, {});
    answer.insert(answer.end(), accepted.begin(), accepted.end());
    return answer;
}

Block FrameMessage(std::uint32_t channel, std::uint32_t sequence) {
    BitmapInfoHeader format;
    format.biWidth = 160;
    format.biHeight = 120;
    format.biBitCount = 24;
    format.biSizeImage = 160 * 120 * 3;
    Block picture(format.biSizeImage, static_cast<std::uint8_t>(sequence));
    return BuildSiteMessage(std::uint8_t(SiteMessage::VideoFrame), channel, channel,
                            sim::PackFrame(format, picture));
}

void Write(QTcpSocket& socket, const Block& bytes) {
    socket.write(reinterpret_cast<const char*>(bytes.data()), qint64(bytes.size()));
}

// A connection whose site is a plain socket of this process, answered by hand.
struct Link {
    Link() {
        server.listen(QHostAddress::LocalHost, 0);
        connection.SetTickInterval(SiteConnection::kTickMilliseconds);
        ConnectBlocking(connection.socket(), "127.0.0.1", server.serverPort(), 5000);
        test::WaitUntil([&] { return server.hasPendingConnections(); });
        connection.Start(false);
        site = server.nextPendingConnection();
        Write(*site, LoginAnswer());
        test::WaitUntil([&] { return frame.Noticed(SiteNotice::LoginAccepted); });
    }
    QTcpServer server;
    ChannelTable channels;
    HeadlessChannelHost host;
    test::FakeMainFrame frame;
    SiteConnection connection{{channels, host, frame, nullptr}, CallSettings{}};
    QTcpSocket* site = nullptr;
};

void Trickle() {
    Link link;
    const Block frame = FrameMessage(9, 1);
    std::size_t sent = 0;
    QTimer trickle;
    QObject::connect(&trickle, &QTimer::timeout, [&] {
        if (sent < frame.size()) {
            Write(*link.site, Block(frame.begin() + long(sent), frame.begin() + long(sent) + 1));
            ++sent;
        }
    });
    StallProbe probe;
    trickle.start(1);
    test::WaitUntil([&] { return sent == frame.size(); }, 120000);
    test::Pump(100);
    std::printf("trickle, a byte a turn: event loop late %lld ms, busy %.1f ms at worst\n",
                static_cast<long long>(probe.worstLateMs), probe.worstBusyMs);
}

// The site floods from a thread of its own, 1 MB every 10 ms; the client's thread is busy for
// 150 ms every 500 ms, so the kernel gathers what the site sends.
void Flood(const char* what, const std::function<Block()>& makeUnit, int seconds) {
    Link link;
    const double residentBefore = bench::ResidentMegabytes();
    double mostResident = residentBefore;
    const double cpuBefore = bench::CpuSeconds();
    QElapsedTimer wall;
    wall.start();
    std::atomic<bool> stop = false;
    std::atomic<std::size_t> sent = 0;
    std::thread flooder([&, fd = int(link.site->socketDescriptor())] {
        auto next = std::chrono::steady_clock::now();
        while (!stop) {
            const Block unit = makeUnit();
            if (!test::SendWhole(fd, unit, stop)) {
                return;
            }
            sent += unit.size();
            next += std::chrono::milliseconds(10);
            std::this_thread::sleep_until(next);
        }
    });
    QTimer busy;
    QObject::connect(&busy, &QTimer::timeout,
                     [] { std::this_thread::sleep_for(std::chrono::milliseconds(150)); });
    StallProbe probe([&] { mostResident = std::max(mostResident, bench::ResidentMegabytes()); });
    busy.start(500);
    test::Pump(seconds * 1000);
    stop = true;
    flooder.join();
    std::printf(
        "flood of %s: %.1f MB sent, resident +%.1f MB at most; event loop "
        "late %lld ms, busy %.1f ms at worst; CPU %.2f of a core\n",
        what, double(sent) / 1e6, mostResident - residentBefore,
        static_cast<long long>(probe.worstLateMs), probe.worstBusyMs,
        (bench::CpuSeconds() - cpuBefore) / (double(wall.elapsed()) / 1000.0));
}

// The reconnect loop's CPU while the site is down for a few seconds.
void ReconnectWait(int seconds) {
    Settings settings{KeyStore::OpenInMemory()};
    ChannelTable channels;
    HeadlessChannelHost host;
    SiteSession session{{settings, channels, host, nullptr}};
    auto site = std::make_unique<sim::SiteSimulator>(sim::SiteSimulatorOptions{});
    site->Listen(QHostAddress::LocalHost, 0);
    const quint16 port = site->port();
    CallSettings call;
    call.user = call.password = "admin";
    settings.SaveCall(call);
    settings.WriteProfileInt("Net", "SitePort", port);
    session.ConnectTo("127.0.0.1");
    QObject::connect(&session, &SiteSession::notified, [&](SiteNotice id) {
        if (id == SiteNotice::LinkLost) {
            session.Reconnect();
        }
    });
    const double cpuBefore = bench::CpuSeconds();
    site.reset();
    QTimer::singleShot(seconds * 1000, [&] {
        site = std::make_unique<sim::SiteSimulator>(sim::SiteSimulatorOptions{});
        site->Listen(QHostAddress::LocalHost, port);
    });
    test::Pump(seconds * 1000);
    std::printf("reconnect loop, site down %d s: CPU %.3f of a core\n", seconds,
                (bench::CpuSeconds() - cpuBefore) / seconds);
    test::WaitUntil([&] { return session.state() == SiteSession::State::Connected; });
}

}  // namespace
}  // namespace orvane

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    int seconds = 2;
    const QStringList args = app.arguments();
    if (const auto at = args.indexOf("--seconds"); at > 0 && at + 1 < args.size()) {
        seconds = std::max(1, args[at + 1].toInt());
    }
    using namespace orvane;
    Trickle();
    Block garbage(1024 * 1024);
    std::mt19937 random(7);
    // Without a 'T' no message header can ever form.
    std::generate(garbage.begin(), garbage.end(), [&] {
        const auto byte = static_cast<std::uint8_t>(random());
        return byte == 'T' ? std::uint8_t('t') : byte;
    });
    Flood(
        "garbage", [&] { return garbage; }, seconds);
    std::uint32_t sequence = 0;
    Flood(
        "frames on a channel never opened",
        [&] {
            Block unit;
            for (int i = 0; i < 18; ++i) {
                const Block message = FrameMessage(77, sequence++);
                unit.insert(unit.end(), message.begin(), message.end());
            }
            return unit;
        },
        seconds);
    ReconnectWait(seconds);
    return 0;
}
