// Live load: a simulated site (orvane-site, its own process) streams N channels of 352 x 288
// MPEG-4 part 2 to Orvane's main frame and video windows (offscreen) for a while. Prints the
// frames shown against the frames sent, Orvane's CPU seconds per shown frame beside decoding
// the same kind of frames alone with one thread, and the latency from sending a frame to
// painting it (p50, p99).
// With --record every channel records from its first frame, into a temporary folder.
//   live_load [--channels 16] [--seconds 30] [--fps 25] [--record]
#include "app/main_frame.h"
#include "app/viewer_app.h"
#include "common/command_ids.h"
#include "decode_only.h"
#include "frame_source.h"
#include "media/clip_recorder.h"
#include "media/decoder_registry.h"
#include "media/video_decoder.h"
#include "video/video_channel_window.h"
#include "wire/byte_order.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDateTime>
#include <QDialog>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace orvane;

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds per frame to decode the simulator's kind of frames alone, one thread.
double DecodeOnlySecondsPerFrame() {
    const QSize size(352, 288);
    auto encoder = sim::LiveEncoder::Create(sim::SimulatedCodec::Mpeg4, size);
    std::vector<Block> frames;
    for (int i = 0; i < 250; ++i) {
        if (auto frame = encoder->Encode(sim::TestPattern(i % 4, i, size))) {
            frames.push_back(std::move(*frame));
        }
    }
    CodecContextPtr context = bench::OpenDecodeOnly(AV_CODEC_ID_MPEG4);
    const double start = CpuSeconds();
    bench::DecodeOnly(context.get(), frames);
    return (CpuSeconds() - start) / static_cast<double>(frames.size());
}

// Measures, at every paint of a picture, how old the frame it shows is.
class PaintWatch : public QObject {
  public:
    explicit PaintWatch(VideoChannelWindow* window) : window_(window) {}
    std::vector<std::int64_t>* latencies = nullptr;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && window_->latestFrame().size() >= 28) {
            const auto stamp = static_cast<std::int64_t>(ReadLe32(window_->latestFrame(), 24));
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

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qtApp(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({{"channels", "Channels.", "n", "16"},
                       {"seconds", "Seconds of streaming.", "s", "30"},
                       {"fps", "Frames per second per channel.", "fps", "25"},
                       {"record", "Record every channel."}});
    parser.process(qtApp);
    const int channels = parser.value("channels").toInt();
    const double seconds = parser.value("seconds").toDouble();
    const bool record = parser.isSet("record");

    QTemporaryDir dir;
    qputenv("ORVANE_REGISTRY", (dir.path() + "/registry.sqlite3").toUtf8());

    QStringList siteArgs{"--port",
                         "0",
                         "--account",
                         "admin:admin",
                         "--codec",
                         "mpeg4",
                         "--size",
                         "352x288",
                         "--fps",
                         parser.value("fps"),
                         "--stream-on-login",
                         "--stamp",
                         "--duration",
                         QString::number(seconds)};
    for (int i = 1; i <= channels; ++i) {
        siteArgs << "--channel" << QString("%1:Camera %1").arg(i);
    }
    QProcess site;
    site.start(ORVANE_SITE_BINARY, siteArgs);
    if (!site.waitForReadyRead(10000)) {
        std::fprintf(stderr, "live_load: orvane-site did not start\n");
        return 1;
    }
    const QString banner = QString::fromUtf8(site.readLine()).trimmed();
    const quint16 port = banner.section(':', -1).toUShort();

    ViewerApp app;
    {
        auto opened = OpenSettings((dir.path() + "/registry.sqlite3").toStdString());
        opened.settings.WriteProfileInt("Net", "SitePort", port);
        opened.settings.WriteProfileInt("Net", "ListenPort", 0);
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

    // The channel dialog that follows the login is not needed: the site streams by itself.
    QTimer dismiss;
    QObject::connect(&dismiss, &QTimer::timeout, [] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            dialog->reject();
        }
    });
    dismiss.start(50);

    std::uint64_t recorded = 0;
    std::vector<std::int64_t> latencies;
    std::vector<std::unique_ptr<PaintWatch>> watches;
    QTimer watchNew;
    QObject::connect(&watchNew, &QTimer::timeout, [&] {
        for (VideoChannelWindow* window : frame->channelWindows()) {
            if (!window->property("watched").toBool()) {
                window->setProperty("watched", true);
                watches.push_back(std::make_unique<PaintWatch>(window));
                watches.back()->latencies = &latencies;
                window->pictureView()->installEventFilter(watches.back().get());
                if (record) {
                    window->action(cmd::kStartRecord)->trigger();
                }
            }
        }
    });
    watchNew.start(100);

    const double cpuStart = CpuSeconds();
    if (!frame->ConnectToSite("127.0.0.1")) {
        std::fprintf(stderr, "live_load: cannot connect\n");
        return 1;
    }
    QElapsedTimer clock;
    clock.start();
    QString sentLine;
    int shown = 0;
    double cpu = 0;
    qsizetype windows = 0;
    while (site.state() == QProcess::Running || site.bytesAvailable() > 0) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (frame->connection()) {
            // Counted while the connection lives: it goes when the site stops.
            shown = frame->connection()->frameCounter();
            windows = std::max(windows, frame->channelWindows().size());
            std::uint64_t recordedNow = 0;
            for (VideoChannelWindow* window : frame->channelWindows()) {
                recordedNow += window->recorder() ? window->recorder()->frameIndex() : 0;
            }
            recorded = std::max(recorded, recordedNow);
            cpu = CpuSeconds() - cpuStart;
        }
        while (site.canReadLine()) {
            const QString line = QString::fromUtf8(site.readLine()).trimmed();
            if (line.startsWith("frames sent:")) {
                sentLine = line;
            }
        }
        if (clock.elapsed() > (seconds + 10) * 1000) {
            break;
        }
        site.waitForReadyRead(1);
    }
    const long long sent = sentLine.section(':', 1).trimmed().toLongLong();
    const double decodeOnly = DecodeOnlySecondsPerFrame();
    std::sort(latencies.begin(), latencies.end());
    auto percentile = [&](double p) {
        return latencies.empty() ? -1
                                 : latencies[static_cast<std::size_t>(p * (latencies.size() - 1))];
    };
    std::printf("channels: %d, seconds: %.0f, windows: %lld\n", channels, seconds,
                static_cast<long long>(windows));
    std::printf("frames sent: %lld, frames shown: %d (%.2f%%)\n", sent, shown,
                sent > 0 ? 100.0 * shown / static_cast<double>(sent) : 0.0);
    std::printf("cpu per shown frame: %.1f us; decode-only per frame: %.1f us; ratio %.2f\n",
                shown > 0 ? 1e6 * cpu / shown : 0.0, 1e6 * decodeOnly,
                shown > 0 ? (cpu / shown) / decodeOnly : 0.0);
    if (record) {
        std::printf("frames recorded: %llu\n", static_cast<unsigned long long>(recorded));
    }
    std::printf("paint latency ms: p50 %lld, p99 %lld (%zu paints)\n",
                static_cast<long long>(percentile(0.5)), static_cast<long long>(percentile(0.99)),
                latencies.size());
    return 0;
}
