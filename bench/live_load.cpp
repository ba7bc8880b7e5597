// Live load: a simulated site (orvane-site, its own process, replaying frames it encoded once)
// streams N channels of video (352 x 288 unless told) to Orvane's main frame and video windows
// for a while, on an offscreen screen of 1920 x 1080 pixels that the main frame fills, the
// windows tiled over it. The channels' streams start one after another over a key-frame
// interval, as cameras that were not started together. Prints the site's send rate, the frames
// shown against the frames sent, Orvane's CPU seconds per shown frame beside decoding the same
// frames alone with one thread (a decoder per channel, the channels in turn; and one decoder
// alone, for comparison), the latency from sending a frame to painting it (p50, p99), the
// lateness of a 10 ms timer on the GUI thread (how long the event loop stalls), and resident
// memory.
// With --record every channel records from its first frame, into a temporary folder; with
// --block-writer S it does, and the recordings' disk stops answering for S seconds in the middle
// of the run (the paints and stalls of that time are told apart).
// With --halve-at S the site halves its frame rate S seconds into the run, and the time the
// view takes to come back to full rate (no channel reduced) is told.
//   live_load [--channels 16] [--seconds 30] [--fps 25] [--record] [--block-writer S]
//             [--codec mpeg4|h264|mjpeg] [--size WxH] [--halve-at S]
#include "app/main_frame.h"
#include "app/viewer_app.h"
#include "decode_only.h"
#include "frame_source.h"
#include "free_port.h"
#include "media/clip_recorder.h"
#include "media/decoder_registry.h"
#include "media/video_decoder.h"
#include "process_stats.h"
#include "shared/command_ids.h"
#include "site_simulator.h"
#include "support/file_gate.h"
#include "video/video_channel_window.h"
#include "wire/byte_order.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

using namespace orvane;
using bench::CpuSeconds;
using bench::ResidentMegabytes;

namespace {

// How much lower than the site's the priority of Orvane's threads is (niceness steps).
constexpr int kGiveWayToSite = 5;

// CPU seconds per frame to decode alone, with one thread, the frames the simulator sends to
// `decoders` channels: each channel has its own decoder, and the frames are taken in turn, a
// frame of each channel after the other, as they arrive. The decoders' pictures and reference
// frames then no longer fit the caches together, which makes each frame dearer than one
// decoder alone on one stream would (about twice, for 64 channels of 352 x 288): that is the
// cost of decoding these channels at all, before anything is shown.
double DecodeOnlySecondsPerFrame(sim::SimulatedCodec codec, QSize size, int decoders) {
    auto encoder = sim::LiveEncoder::Create(codec, size);
    std::vector<Block> loop;
    for (int i = 0; i < sim::ReplayFrames(codec); ++i) {
        if (auto frame = encoder->Encode(sim::TestPattern(0, i, size))) {
            loop.push_back(std::move(*frame));
        }
    }
    if (loop.empty()) {
        return 0;
    }
    const AVCodecID id = codec == sim::SimulatedCodec::H264    ? AV_CODEC_ID_H264
                         : codec == sim::SimulatedCodec::Mjpeg ? AV_CODEC_ID_MJPEG
                                                               : AV_CODEC_ID_MPEG4;
    std::vector<CodecContextPtr> contexts;
    for (int i = 0; i < std::max(1, decoders); ++i) {
        contexts.push_back(bench::OpenDecodeOnly(id));
    }
    // Whole passes of the loop (its key frame and the frames that follow it cost differently)
    // until a second of CPU has gone: one preemption would throw off a shorter measure.
    // This thread's time only: the run's decode workers and writers may still be finishing.
    PacketPtr packet(av_packet_alloc());
    FramePtr picture(av_frame_alloc());
    const double start = bench::ThreadCpuSeconds();
    std::size_t decoded = 0;
    do {
        for (const Block& frame : loop) {
            for (CodecContextPtr& context : contexts) {
                bench::DecodeOnly(context.get(), packet.get(), picture.get(), frame);
            }
            decoded += contexts.size();
        }
    } while (bench::ThreadCpuSeconds() - start < 1.0);
    return (bench::ThreadCpuSeconds() - start) / static_cast<double>(decoded);
}

// Measures, at every paint of a picture, how old the frame it shows is.
class PaintWatch : public QObject {
  public:
    explicit PaintWatch(VideoChannelWindow* window) : window_(window) {}
    std::vector<std::int64_t>* latencies = nullptr;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            // The site stamps each frame's send time where decoders never look.
            const auto stamp = static_cast<std::int64_t>(
                static_cast<std::uint32_t>(window_->pictureSource().biXPelsPerMeter));
            const auto now = QDateTime::currentMSecsSinceEpoch() & 0xFFFFFFFF;
            if (stamp != 0) {
                latencies->push_back((now - stamp + (std::int64_t{1} << 32)) %
                                     (std::int64_t{1} << 32));
            }
        }
        return false;
    }

  private:
    VideoChannelWindow* window_;
};

// How late a 10 ms timer fires on the GUI thread: the event loop's stalls.
class StallWatch : public QObject {
  public:
    StallWatch() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            const qint64 now = clock_.nsecsElapsed();
            if (last_ > 0) {
                lateness.push_back(std::max<qint64>(0, (now - last_) / 1000000 - 10));
            }
            last_ = now;
        });
        clock_.start();
        timer_.start(10);
    }
    std::vector<std::int64_t> lateness;

  private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 last_ = 0;
};

std::int64_t Percentile(std::vector<std::int64_t>& values, double p) {
    if (values.empty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

// The offscreen platform's one screen, as large as a common monitor.
QByteArray OffscreenScreen(const QString& folder) {
    const QString path = folder + "/screen.json";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        return "offscreen";
    }
    file.write(R"({"screens": [{"name": "bench", "x": 0, "y": 0, "width": 1920, "height": 1080,
                   "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    return "offscreen:configfile=" + path.toUtf8();
}

}  // namespace

int main(int argc, char** argv) {
    QTemporaryDir dir;
    qputenv("QT_QPA_PLATFORM", OffscreenScreen(dir.path()));
    QApplication qtApp(argc, argv);
    QCommandLineParser parser;
    parser.addOptions(
        {{"channels", "Channels.", "n", "16"},
         {"seconds", "Seconds of streaming.", "s", "30"},
         {"fps", "Frames per second per channel.", "fps", "25"},
         {"record", "Record every channel."},
         {"block-writer",
          "Record every channel, and hold the recordings' disk still for s seconds "
          "in the middle of the run.",
          "s", "0"},
         {"codec", "mpeg4, h264 or mjpeg.", "codec", "mpeg4"},
         {"size", "Picture size WxH.", "size", "352x288"},
         {"halve-at", "The site halves its frame rate s seconds into the run.", "s", "0"}});
    parser.process(qtApp);
    const int channels = parser.value("channels").toInt();
    const double seconds = parser.value("seconds").toDouble();
    const double blockSeconds = parser.value("block-writer").toDouble();
    const bool record = parser.isSet("record") || blockSeconds > 0;
    const auto codec = sim::ParseCodec(parser.value("codec"));
    if (!codec) {
        std::fprintf(stderr, "live_load: unknown codec\n");
        return 2;
    }
    const QStringList sizeParts = parser.value("size").toLower().split('x');
    const QSize size(sizeParts.value(0).toInt(), sizeParts.value(1).toInt());
    if (sizeParts.size() != 2 || size.isEmpty()) {
        std::fprintf(stderr, "live_load: bad --size (want WxH)\n");
        return 2;
    }
    const double halveAt = parser.value("halve-at").toDouble();

    qputenv("ORVANE_REGISTRY", (dir.path() + "/registry.sqlite3").toUtf8());

    QStringList siteArgs{"--port",
                         "0",
                         "--account",
                         "admin:admin",
                         "--codec",
                         parser.value("codec"),
                         "--size",
                         parser.value("size"),
                         "--fps",
                         parser.value("fps"),
                         "--stream-on-login",
                         "--stamp",
                         "--replay",
                         "--spread-key-frames",
                         "--duration",
                         QString::number(seconds)};
    if (halveAt > 0) {
        siteArgs << "--halve-at" << QString::number(halveAt);
    }
    for (int i = 1; i <= channels; ++i) {
        siteArgs << "--channel" << QString("%1:Camera %1").arg(i);
    }
    QProcess site;
    site.start(ORVANE_SITE_BINARY, siteArgs);
    // The site encodes its channels' loops before it listens: a while for many large ones.
    if (!site.waitForReadyRead(600000)) {
        std::fprintf(stderr, "live_load: orvane-site did not start\n");
        return 1;
    }
    const QString banner = QString::fromUtf8(site.readLine()).trimmed();
    const quint16 port = banner.section(':', -1).toUShort();
    // The site stands for another machine: on a machine of two cores it would otherwise lose
    // the cores to the channels it feeds, send fewer frames than asked when they are many
    // and large, and spare Orvane the very overload the run is to show. Orvane's threads, all
    // started from here on, give way to it instead; the CPU figures count time, not speed.
    errno = 0;
    const int niceness = getpriority(PRIO_PROCESS, 0);
    if (errno == 0) {
        setpriority(PRIO_PROCESS, 0, niceness + kGiveWayToSite);
    }

    ViewerApp app;
    {
        auto opened = OpenSettings((dir.path() + "/registry.sqlite3").toStdString());
        opened.settings.WriteProfileInt("Net", "SitePort", port);
        opened.settings.WriteProfileInt("Net", "ListenPort", bench::FreePort());
        CallSettings call;
        call.user = "admin";
        call.password = "admin";
        call.reLink = 0;  // when the site stops at the end, no reconnecting
        opened.settings.SaveCall(call);
        opened.settings.SetRecordPath((dir.path() + "/").toStdString());
    }
    if (app.InitInstance({"live_load", "/Embedding"}) != ViewerApp::StartResult::Started) {
        return 1;
    }
    MainFrame* frame = app.mainFrame();
    frame->resize(1920, 1080);
    // A disk that stops answering, held still in the middle of the run.
    test::FileGate disk;
    frame->SetRecordFileOpener(disk.Opener());
    std::vector<std::int64_t> blockedLatencies;
    std::vector<std::int64_t> blockedLateness;
    bool blockDone = blockSeconds <= 0;
    QElapsedTimer blockClock;

    // The channel dialog that follows the login is not needed: the site streams by itself.
    QTimer dismiss;
    QObject::connect(&dismiss, &QTimer::timeout, [] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            dialog->reject();
        }
    });
    dismiss.start(50);

    std::uint64_t recorded = 0;
    std::int64_t owed = 0;  // frames the recordings should hold
    std::vector<std::int64_t> latencies;
    std::vector<std::unique_ptr<PaintWatch>> watches;
    QTimer watchNew;
    QObject::connect(&watchNew, &QTimer::timeout, [&] {
        if (static_cast<int>(watches.size()) >= channels) {
            return;  // every channel is watched
        }
        for (VideoChannelWindow* window : frame->channelWindows()) {
            if (!window->property("watched").toBool()) {
                window->setProperty("watched", true);
                watches.push_back(std::make_unique<PaintWatch>(window));
                watches.back()->latencies = &latencies;
                window->pictureView()->installEventFilter(watches.back().get());
                if (record) {
                    window->action(cmd::kStartRecord)->trigger();
                    // What the clip must hold from now on: the frames it started with, and
                    // every frame the channel receives after.
                    const ChannelLink* link =
                        frame->session().connection()
                            ? frame->session().connection()->channels().FindLinkByWindow(window)
                            : nullptr;
                    if (link && window->recorder()) {
                        window->setProperty(
                            "owed", QVariant::fromValue<qint64>(
                                        static_cast<qint64>(window->recorder()->frameIndex()) -
                                        static_cast<qint64>(link->frames)));
                    }
                }
            }
        }
    });
    watchNew.start(100);

    double residentMax = 0;
    std::unique_ptr<StallWatch> stalls;
    const double cpuStart = CpuSeconds();
    if (!frame->ConnectToSite("127.0.0.1")) {
        std::fprintf(stderr, "live_load: cannot connect\n");
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    QString sentLine;
    QString rateLine;
    int shown = 0;
    std::uint64_t decoded = 0;
    std::uint64_t dropped = 0;
    bool degraded = false;
    double cpu = 0;
    qsizetype windows = 0;
    QSize tile;
    int reducedMost = 0;
    // From the site's halving of its load until no channel is reduced any more.
    QElapsedTimer sinceHalved;
    qint64 fullRateAfterMs = -1;
    // The figures are read ten times a second; between reads the loop sleeps until an event
    // comes, so that the measuring costs next to nothing of the CPU it measures.
    bool sampleDue = true;
    QTimer sample;
    QObject::connect(&sample, &QTimer::timeout, [&] { sampleDue = true; });
    sample.start(100);
    while (site.state() == QProcess::Running || site.bytesAvailable() > 0) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (!sampleDue) {
            continue;
        }
        sampleDue = false;
        if (frame->session().connection()) {
            // Counted while the connection lives: it goes when the site stops.
            shown = frame->session().connection()->frameCounter();
            decoded = std::max(decoded, frame->session().connection()->decodedFrames());
            dropped = std::max(dropped, frame->session().connection()->droppedFrames());
            const bool degradedNow = frame->session().connection()->viewDegraded();
            reducedMost =
                std::max(reducedMost, frame->session().connection()->channels().reducedChannels());
            degraded = degraded || degradedNow;
            if (sinceHalved.isValid() && fullRateAfterMs < 0 && !degradedNow) {
                fullRateAfterMs = sinceHalved.elapsed();
            }
            windows = std::max(windows, frame->channelWindows().size());
            if (!frame->channelWindows().isEmpty()) {
                tile = frame->channelWindows().front()->displaySize();
            }
            std::uint64_t recordedNow = 0;
            std::int64_t owedNow = 0;
            for (VideoChannelWindow* window : frame->channelWindows()) {
                recordedNow += window->recorder() ? window->recorder()->frameIndex() : 0;
                const ChannelLink* link =
                    frame->session().connection()->channels().FindLinkByWindow(window);
                if (link && window->property("owed").isValid()) {
                    owedNow += window->property("owed").toLongLong() +
                               static_cast<std::int64_t>(link->frames);
                }
            }
            if (recordedNow >= recorded) {
                recorded = recordedNow;
                owed = owedNow;
            }
            cpu = CpuSeconds() - cpuStart;
            residentMax = std::max(residentMax, ResidentMegabytes());
            if (!stalls && shown > 0) {
                stalls = std::make_unique<StallWatch>();  // from the first frame on
            }
        }
        while (site.canReadLine()) {
            const QString line = QString::fromUtf8(site.readLine()).trimmed();
            if (line.startsWith("frames sent:")) {
                sentLine = line;
            } else if (line.startsWith("send rate:")) {
                rateLine = line;
            } else if (line == "load halved") {
                sinceHalved.start();
            }
        }
        // The block: from the middle of the run, what is painted and how late the loop runs
        // are counted apart.
        if (!blockDone && !blockClock.isValid() && clock.elapsed() > seconds * 500 && stalls) {
            disk.Shut();
            blockClock.start();
            for (auto& watch : watches) {
                watch->latencies = &blockedLatencies;
            }
            stalls->lateness.swap(blockedLateness);
        }
        if (!blockDone && blockClock.isValid() && blockClock.elapsed() > blockSeconds * 1000) {
            blockDone = true;
            disk.Open();
            for (auto& watch : watches) {
                watch->latencies = &latencies;
            }
            stalls->lateness.swap(blockedLateness);
        }
        if (clock.elapsed() > (seconds + 10) * 1000) {
            break;
        }
    }
    const long long sent = sentLine.section(':', 1).trimmed().toLongLong();
    std::vector<std::int64_t> lateness = stalls ? stalls->lateness : std::vector<std::int64_t>();
    stalls.reset();
    const double decodeOnly = DecodeOnlySecondsPerFrame(*codec, size, channels);
    const double decodeOnlyAlone = DecodeOnlySecondsPerFrame(*codec, size, 1);
    std::printf(
        "channels: %d, codec: %s, size: %dx%d, seconds: %.0f, windows: %lld, pictures "
        "made at %dx%d\n",
        channels, qPrintable(parser.value("codec")), size.width(), size.height(), seconds,
        static_cast<long long>(windows), tile.width(), tile.height());
    std::printf("site send rate: %s frames/s (%.0f wanted)\n",
                qPrintable(rateLine.section(':', 1).trimmed()),
                channels * parser.value("fps").toDouble());
    std::printf("frames sent: %lld, frames shown: %d (%.2f%%)\n", sent, shown,
                sent > 0 ? 100.0 * shown / static_cast<double>(sent) : 0.0);
    std::printf("frames decoded: %llu, dropped to catch up: %llu%s\n",
                static_cast<unsigned long long>(decoded), static_cast<unsigned long long>(dropped),
                degraded ? " (the view was degraded for a while)" : "");
    std::printf("channels reduced to key frames: %d at most\n", reducedMost);
    std::printf("cpu per shown frame: %.1f us; decode-only per frame: %.1f us; ratio %.2f\n",
                shown > 0 ? 1e6 * cpu / shown : 0.0, 1e6 * decodeOnly,
                shown > 0 ? (cpu / shown) / decodeOnly : 0.0);
    std::printf("decode-only with one decoder alone: %.1f us per frame; ratio to it %.2f\n",
                1e6 * decodeOnlyAlone, shown > 0 ? (cpu / shown) / decodeOnlyAlone : 0.0);
    if (record) {
        std::printf("frames recorded: %llu of %lld received while recording (lost: %lld)\n",
                    static_cast<unsigned long long>(recorded), static_cast<long long>(owed),
                    static_cast<long long>(owed) - static_cast<long long>(recorded));
    }
    const std::size_t paints = latencies.size();
    std::printf("paint latency ms: p50 %lld, p99 %lld (%zu paints)\n",
                static_cast<long long>(Percentile(latencies, 0.5)),
                static_cast<long long>(Percentile(latencies, 0.99)), paints);
    const std::size_t ticks = lateness.size();
    std::printf("event loop stall ms: p99 %lld, max %lld (%zu ticks of 10 ms)\n",
                static_cast<long long>(Percentile(lateness, 0.99)),
                static_cast<long long>(Percentile(lateness, 1.0)), ticks);
    if (blockSeconds > 0) {
        std::printf(
            "while the disk was held still for %.1f s: paint latency ms p50 %lld, p99 "
            "%lld (%zu paints); event loop stall ms p99 %lld, max %lld\n",
            blockSeconds, static_cast<long long>(Percentile(blockedLatencies, 0.5)),
            static_cast<long long>(Percentile(blockedLatencies, 0.99)), blockedLatencies.size(),
            static_cast<long long>(Percentile(blockedLateness, 0.99)),
            static_cast<long long>(Percentile(blockedLateness, 1.0)));
    }
    if (halveAt > 0) {
        if (fullRateAfterMs >= 0) {
            std::printf("full rate again %.1f s after the load halved\n",
                        static_cast<double>(fullRateAfterMs) / 1000.0);
        } else {
            std::printf("full rate not back by the end of the run\n");
        }
    }
    std::printf("resident memory: %.0f MB at most\n", residentMax);
    return 0;
}
