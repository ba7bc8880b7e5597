// Soak: Orvane's real main frame and video windows (offscreen) against a simulated site
// (orvane-site, its own process) for a long while, every channel recording, the site dropping
// every link now and then (ReLink must bring the channels back) and every window starting a
// new clip now and then. Samples memory, descriptors, threads, CPU and the frames received,
// decoded and recorded; at the end writes soak.csv and soak.png, counts the frames in every
// clip with ffprobe and says whether anything leaked or was lost (exit code 1).
//   soak_run [--minutes 60] [--channels 16] [--drop-every 180] [--rotate-every 300]
//            [--sample-every 60] [--out DIR] [--keep-clips]
#include "app/main_frame.h"
#include "app/viewer_app.h"
#include "free_port.h"
#include "media/clip_recorder.h"
#include "media/decode_workers.h"
#include "process_stats.h"
#include "shared/command_ids.h"
#include "site/site_connection.h"
#include "site/site_session.h"
#include "store/settings.h"
#include "video/video_channel_window.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

using namespace orvane;
using namespace orvane::bench;

namespace {

struct Options {
    double minutes = 60;
    int channels = 16;
    double dropEverySeconds = 180;
    double rotateEverySeconds = 300;
    double sampleEverySeconds = 60;
    QString outDir;
    bool keepClips = false;
};

struct Sample {
    double minutes = 0;
    double residentMb = 0;
    int fds = 0;
    int threads = 0;
    double cpuPercent = 0;
    std::uint64_t received = 0;
    std::uint64_t decoded = 0;
    std::uint64_t recorded = 0;
    std::int64_t lostRecording = 0;
    std::int64_t lostDecoding = 0;
    int reconnects = 0;
    int clips = 0;
};

struct ClipFile {
    QString path;
    std::uint64_t frames = 0;  // the recorder's count
};

// A clip under way: what its channel had received when it started, so that every frame
// received since can be found in it.
struct OpenClip {
    QPointer<VideoChannelWindow> window;
    std::uint64_t linkFramesAtStart = 0;
    std::uint64_t framesAtStart = 0;  // written at the start: the frames since the key frame
    std::uint64_t lastFrameIndex = 0;
    std::uint64_t lastLinkFrames = 0;
    QString path;
};

// Counts frames of the soak across reconnects, clip rotations and decoder restarts. The
// connection's own counters start again with every link (frameCounter) or every decoder
// (decodedFrames), so they are taken over at each restart.
class FrameBooks {
  public:
    explicit FrameBooks(MainFrame& frame) : frame_(frame) {}

    // The link just ended (the session now waits to reconnect): its frame counter stops
    // here and starts from 0 with the next link.
    void LinkEnded() {
        if (SiteConnection* connection = frame_.session().connection()) {
            receivedDone_ += static_cast<std::uint64_t>(connection->frameCounter());
        }
    }

    std::uint64_t Received() const {
        SiteConnection* connection = frame_.session().connection();
        const bool counting =
            connection && frame_.session().state() == SiteSession::State::Connected;
        return receivedDone_ +
               (counting ? static_cast<std::uint64_t>(connection->frameCounter()) : 0);
    }

    // Keeps every channel's decoding in view until it has finished the frames it was given,
    // even after its link let go of it.
    void WatchDecoders() {
        std::vector<std::shared_ptr<ChannelDecoding>> current;
        if (SiteConnection* connection = frame_.session().connection()) {
            for (const ChannelLink& link : connection->channels().links()) {
                if (link.decoding) {
                    current.push_back(link.decoding);
                }
            }
        }
        for (auto it = decodings_.begin(); it != decodings_.end();) {
            const bool inUse = std::find(current.begin(), current.end(), *it) != current.end();
            // Held by nobody else: no worker is decoding for it, and none will.
            if (!inUse && it->use_count() == 1) {
                decodedDone_ += (*it)->decodedFrames();
                droppedDone_ += (*it)->droppedFrames();
                it = decodings_.erase(it);
            } else {
                ++it;
            }
        }
        for (auto& decoding : current) {
            if (std::find(decodings_.begin(), decodings_.end(), decoding) == decodings_.end()) {
                decodings_.push_back(std::move(decoding));
            }
        }
    }

    std::uint64_t Decoded() const {
        std::uint64_t frames = decodedDone_;
        for (const auto& decoding : decodings_) {
            frames += decoding->decodedFrames();
        }
        return frames;
    }
    std::uint64_t DroppedByDecoder() const {
        std::uint64_t frames = droppedDone_;
        for (const auto& decoding : decodings_) {
            frames += decoding->droppedFrames();
        }
        return frames;
    }
    std::size_t FramesWaitingForDecoding() const {
        std::size_t frames = 0;
        for (const auto& decoding : decodings_) {
            frames += decoding->waitingFrames();
        }
        return frames;
    }
    void ForgetDecoders() { decodings_.clear(); }

    // Starts a new clip on the window; false when the window did not start recording.
    bool StartClip(VideoChannelWindow* window) {
        const ChannelLink* link = LinkOf(window);
        if (!link) {
            return false;
        }
        const std::uint64_t linkFrames = link->frames;
        window->action(cmd::kStartRecord)->trigger();
        const ClipRecorder* recorder = window->recorder();
        if (!recorder || !recorder->recording()) {
            return false;
        }
        OpenClip clip;
        clip.window = window;
        clip.linkFramesAtStart = linkFrames;
        clip.framesAtStart = recorder->frameIndex();
        clip.lastFrameIndex = clip.framesAtStart;
        clip.lastLinkFrames = linkFrames;
        clip.path = recorder->aviFilePath();
        open_[window] = clip;
        return true;
    }

    // Ends the window's clip; false when the window or its channel had gone, so that its
    // last frames cannot be accounted for.
    bool EndClip(VideoChannelWindow* window) {
        auto it = open_.find(window);
        if (it == open_.end()) {
            return true;
        }
        bool accounted = Update(it->second);
        if (it->second.window) {
            it->second.window->action(cmd::kStopRecord)->trigger();
            const ClipRecorder* recorder = it->second.window->recorder();
            accounted = accounted && recorder && !recorder->recording();
        }
        Close(it->second);
        open_.erase(it);
        return accounted;
    }

    bool Recording(VideoChannelWindow* window) const { return open_.count(window) != 0; }
    std::vector<VideoChannelWindow*> RecordingWindows() const {
        std::vector<VideoChannelWindow*> windows;
        for (const auto& [window, clip] : open_) {
            windows.push_back(window);
        }
        return windows;
    }

    // Refreshes what the open clips hold; false when one's window or channel has gone.
    bool UpdateClips() {
        bool all = true;
        for (auto& [window, clip] : open_) {
            all = Update(clip) && all;
        }
        return all;
    }

    std::uint64_t Recorded() const {
        std::uint64_t frames = closedRecorded_;
        for (const auto& [window, clip] : open_) {
            frames += clip.lastFrameIndex;
        }
        return frames;
    }
    // Frames a clip took from before its start (from the channel's latest key frame on).
    std::uint64_t Rewritten() const {
        std::uint64_t frames = closedRewritten_;
        for (const auto& [window, clip] : open_) {
            frames += clip.framesAtStart;
        }
        return frames;
    }
    std::uint64_t ReceivedWhileRecording() const {
        std::uint64_t frames = closedReceived_;
        for (const auto& [window, clip] : open_) {
            frames += clip.lastLinkFrames - clip.linkFramesAtStart;
        }
        return frames;
    }
    // Frames received on a recording channel that its clip does not hold.
    std::int64_t LostInRecording() const {
        return static_cast<std::int64_t>(ReceivedWhileRecording()) -
               static_cast<std::int64_t>(Recorded() - Rewritten());
    }
    const std::vector<ClipFile>& clips() const { return clips_; }
    int ClipCount() const { return static_cast<int>(clips_.size() + open_.size()); }

  private:
    const ChannelLink* LinkOf(VideoChannelWindow* window) const {
        SiteConnection* connection = frame_.session().connection();
        return connection && window ? connection->channels().FindLinkByWindow(window) : nullptr;
    }

    bool Update(OpenClip& clip) {
        if (!clip.window || !clip.window->recorder()) {
            return false;
        }
        clip.lastFrameIndex = clip.window->recorder()->frameIndex();
        const ChannelLink* link = LinkOf(clip.window);
        if (!link) {
            return false;
        }
        clip.lastLinkFrames = link->frames;
        return true;
    }

    void Close(const OpenClip& clip) {
        closedRecorded_ += clip.lastFrameIndex;
        closedRewritten_ += clip.framesAtStart;
        closedReceived_ += clip.lastLinkFrames - clip.linkFramesAtStart;
        clips_.push_back({clip.path, clip.lastFrameIndex});
    }

    MainFrame& frame_;
    std::uint64_t receivedDone_ = 0;
    std::vector<std::shared_ptr<ChannelDecoding>> decodings_;
    std::uint64_t decodedDone_ = 0;
    std::uint64_t droppedDone_ = 0;
    std::map<VideoChannelWindow*, OpenClip> open_;
    std::vector<ClipFile> clips_;
    std::uint64_t closedRecorded_ = 0;
    std::uint64_t closedRewritten_ = 0;
    std::uint64_t closedReceived_ = 0;
};

// Frames ffprobe decodes from a clip; nullopt when it cannot read the file.
std::optional<std::uint64_t> FramesInFile(const QString& path) {
    QProcess probe;
    probe.start("ffprobe",
                {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                 "stream=nb_read_frames", "-of", "default=nokey=1:noprint_wrappers=1", path});
    if (!probe.waitForFinished(300000) || probe.exitCode() != 0) {
        return std::nullopt;
    }
    bool ok = false;
    const std::uint64_t frames = probe.readAllStandardOutput().trimmed().toULongLong(&ok);
    return ok ? std::optional(frames) : std::nullopt;
}

bool WriteCsv(const QString& path, const std::vector<Sample>& samples) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        return false;
    }
    QTextStream out(&file);
    // Lost frames while running: recording ones are exact at any moment, decoding ones
    // include the frames still waiting for a worker.
    out << "minutes,resident_mb,open_fds,threads,cpu_percent,frames_received,frames_decoded,"
           "frames_recorded,lost_recording,lost_decoding,reconnects,clips\n";
    for (const Sample& s : samples) {
        out << QString::number(s.minutes, 'f', 2) << ',' << QString::number(s.residentMb, 'f', 1)
            << ',' << s.fds << ',' << s.threads << ',' << QString::number(s.cpuPercent, 'f', 1)
            << ',' << s.received << ',' << s.decoded << ',' << s.recorded << ',' << s.lostRecording
            << ',' << s.lostDecoding << ',' << s.reconnects << ',' << s.clips << '\n';
    }
    return file.flush();
}

// A round step of about range / count: 1, 2 or 5 times a power of ten.
double NiceStep(double range, int count) {
    const double raw = std::max(range, 1e-9) / count;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double factor : {1.0, 2.0, 5.0}) {
        if (raw <= factor * power) {
            return factor * power;
        }
    }
    return 10 * power;
}

QString TickText(double value, double step) {
    return QString::number(value, 'f', step >= 1 ? 0 : (step >= 0.1 ? 1 : 2));
}

struct Panel {
    QString title;
    std::function<double(const Sample&)> value;
    bool fromZero = false;
    bool whole = false;  // counts: no ticks between whole numbers
};

bool DrawChart(const QString& path, const std::vector<Sample>& samples, const QString& heading) {
    const std::vector<Panel> panels = {
        {"Resident memory (MB)", [](const Sample& s) { return s.residentMb; }, false},
        {"Open file descriptors", [](const Sample& s) { return double(s.fds); }, false, true},
        {"Threads", [](const Sample& s) { return double(s.threads); }, false, true},
        {"CPU (% of one core)", [](const Sample& s) { return s.cpuPercent; }, true},
    };
    const int width = 1000;
    const int panelHeight = 230;
    const int top = 40;
    QImage image(width, top + panelHeight * static_cast<int>(panels.size()), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawText(QRect(0, 8, width, 24), Qt::AlignCenter, heading);
    double lastMinute = 0;
    for (const Sample& s : samples) {
        lastMinute = std::max(lastMinute, s.minutes);
    }
    const double xStep = NiceStep(std::max(lastMinute, 1.0), 8);
    const double xMax = std::ceil(std::max(lastMinute, 1.0) / xStep) * xStep;

    for (std::size_t p = 0; p < panels.size(); ++p) {
        const Panel& panel = panels[p];
        const QRect plot(80, top + static_cast<int>(p) * panelHeight + 28, width - 110,
                         panelHeight - 28 - 45);
        double low = panel.fromZero ? 0 : 1e300;
        double high = -1e300;
        for (const Sample& s : samples) {
            low = std::min(low, panel.value(s));
            high = std::max(high, panel.value(s));
        }
        if (samples.empty()) {
            low = 0;
            high = 1;
        }
        double yStep = NiceStep(std::max(high - low, std::max(1.0, high * 0.02)), 5);
        if (panel.whole) {
            yStep = std::max(1.0, yStep);
        }
        const double yMin = std::floor(low / yStep) * yStep;
        const double yMax = std::max(yMin + yStep, std::ceil(high / yStep) * yStep);
        auto toPoint = [&](double minutes, double value) {
            return QPointF(plot.left() + plot.width() * minutes / xMax,
                           plot.bottom() - plot.height() * (value - yMin) / (yMax - yMin));
        };

        painter.setPen(Qt::black);
        painter.drawText(QRect(plot.left(), plot.top() - 24, plot.width(), 20),
                         Qt::AlignLeft | Qt::AlignVCenter, panel.title);
        for (double y = yMin; y <= yMax + yStep / 2; y += yStep) {
            const QPointF at = toPoint(0, y);
            painter.setPen(QColor(225, 225, 225));
            painter.drawLine(QPointF(plot.left(), at.y()), QPointF(plot.right(), at.y()));
            painter.setPen(Qt::black);
            painter.drawText(QRectF(0, at.y() - 9, plot.left() - 8, 18),
                             Qt::AlignRight | Qt::AlignVCenter, TickText(y, yStep));
        }
        for (double x = 0; x <= xMax + xStep / 2; x += xStep) {
            const QPointF at = toPoint(x, yMin);
            painter.setPen(QColor(225, 225, 225));
            painter.drawLine(QPointF(at.x(), plot.top()), QPointF(at.x(), plot.bottom()));
            painter.setPen(Qt::black);
            painter.drawText(QRectF(at.x() - 30, plot.bottom() + 4, 60, 16), Qt::AlignCenter,
                             TickText(x, xStep));
        }
        painter.drawRect(plot);
        painter.drawText(QRect(plot.left(), plot.bottom() + 20, plot.width(), 18), Qt::AlignCenter,
                         "minutes");

        QPolygonF line;
        for (const Sample& s : samples) {
            line << toPoint(s.minutes, panel.value(s));
        }
        painter.setPen(QPen(QColor(30, 90, 180), 2));
        painter.drawPolyline(line);
        painter.setBrush(QColor(30, 90, 180));
        for (const QPointF& point : line) {
            painter.drawEllipse(point, 2.5, 2.5);
        }
        painter.setBrush(Qt::NoBrush);
    }
    painter.end();
    return image.save(path, "PNG");
}

// What went wrong during the run, each kind once with how often and when it first happened:
// a window that keeps failing must not fill the report.
class Problems {
  public:
    void Add(const QString& what, double minute) {
        auto it = std::find_if(seen_.begin(), seen_.end(),
                               [&](const Seen& seen) { return seen.what == what; });
        if (it == seen_.end()) {
            seen_.push_back({what, minute, 1});
        } else {
            ++it->count;
        }
    }
    std::vector<QString> Lines() const {
        std::vector<QString> lines;
        for (const Seen& seen : seen_) {
            lines.push_back(
                QString("%1 (first at minute %2%3)")
                    .arg(seen.what)
                    .arg(seen.minute, 0, 'f', 1)
                    .arg(seen.count > 1 ? QString(", %1 times").arg(seen.count) : QString()));
        }
        return lines;
    }

  private:
    struct Seen {
        QString what;
        double minute = 0;
        int count = 0;
    };
    std::vector<Seen> seen_;
};

// The sample memory and descriptors are judged against: the first at 10 minutes or later,
// so that start-up and the first clips have settled; the first of all in a shorter run.
const Sample* Baseline(const std::vector<Sample>& samples) {
    for (const Sample& s : samples) {
        if (s.minutes >= 10) {
            return &s;
        }
    }
    return samples.empty() ? nullptr : &samples.front();
}

// Resident memory steps up and down by several megabytes as links drop and clips turn over,
// so single samples are compared only in short runs. Over an hour the mean of the ten minutes
// after the baseline is set against the mean of the last ten: a leak moves the second, the
// steps do not.
struct MemoryWindow {
    double meanMb = 0;
    double fromMinute = 0;
    double toMinute = 0;
};
std::optional<MemoryWindow> MeanResident(const std::vector<Sample>& samples, double fromMinute,
                                         double toMinute) {
    MemoryWindow window{0, toMinute, fromMinute};
    int count = 0;
    for (const Sample& s : samples) {
        if (s.minutes >= fromMinute && s.minutes <= toMinute) {
            window.meanMb += s.residentMb;
            window.fromMinute = std::min(window.fromMinute, s.minutes);
            window.toMinute = std::max(window.toMinute, s.minutes);
            ++count;
        }
    }
    if (count == 0) {
        return std::nullopt;
    }
    window.meanMb /= count;
    return window;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qtApp(argc, argv);
    QCommandLineParser parser;
    parser.addOptions(
        {{"minutes", "Minutes of streaming.", "m", "60"},
         {"channels", "Channels, all recording.", "n", "16"},
         {"drop-every", "The site drops the link every S seconds.", "s", "180"},
         {"rotate-every", "Every window starts a new clip every S seconds.", "s", "300"},
         {"sample-every", "Seconds between samples.", "s", "60"},
         {"out", "Folder for soak.csv and soak.png.", "dir", "soak"},
         {"keep-clips", "Keep the clips (in DIR/clips) after checking them."}});
    parser.process(qtApp);
    Options options;
    options.minutes = parser.value("minutes").toDouble();
    options.channels = parser.value("channels").toInt();
    options.dropEverySeconds = parser.value("drop-every").toDouble();
    options.rotateEverySeconds = parser.value("rotate-every").toDouble();
    options.sampleEverySeconds = parser.value("sample-every").toDouble();
    options.outDir = QDir(parser.value("out")).absolutePath();
    options.keepClips = parser.isSet("keep-clips");
    if (options.minutes <= 0 || options.channels < 1 || options.sampleEverySeconds <= 0 ||
        options.rotateEverySeconds <= 0) {
        std::fprintf(stderr,
                     "soak_run: --minutes, --channels, --sample-every and --rotate-every "
                     "must be positive\n");
        return 2;
    }
    if (!QDir().mkpath(options.outDir)) {
        std::fprintf(stderr, "soak_run: cannot make %s\n", qPrintable(options.outDir));
        return 2;
    }

    QTemporaryDir registryDir;
    qputenv("ORVANE_REGISTRY", (registryDir.path() + "/registry.sqlite3").toUtf8());
    // Hours of clips are large: they go beside the results, removed once checked.
    QTemporaryDir scratchClips(options.outDir + "/clips-XXXXXX");
    QString clipDir = scratchClips.path();
    if (options.keepClips) {
        scratchClips.remove();
        clipDir = options.outDir + "/clips";
        QDir(clipDir).removeRecursively();
        QDir().mkpath(clipDir);
    }

    // The site stops streaming after the soak's time (a little more for the start-up),
    // reports what it sent and quits a second later.
    const double siteSeconds = options.minutes * 60 + 2;
    QStringList siteArgs{"--port",
                         "0",
                         "--account",
                         "admin:admin",
                         "--codec",
                         "mpeg4",
                         "--size",
                         "352x288",
                         "--fps",
                         "25",
                         "--stream-on-login",
                         "--stamp",
                         "--replay",
                         "--duration",
                         QString::number(siteSeconds)};
    if (options.dropEverySeconds > 0) {
        siteArgs << "--drop-every" << QString::number(options.dropEverySeconds);
    }
    for (int i = 1; i <= options.channels; ++i) {
        siteArgs << "--channel" << QString("%1:Camera %1").arg(i);
    }
    QProcess site;
    site.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    site.start(ORVANE_SITE_BINARY, siteArgs);
    if (!site.waitForReadyRead(10000)) {
        std::fprintf(stderr, "soak_run: orvane-site did not start\n");
        return 2;
    }
    const QString banner = QString::fromUtf8(site.readLine()).trimmed();
    const quint16 port = banner.section(':', -1).toUShort();

    ViewerApp app;
    {
        auto opened = OpenSettings((registryDir.path() + "/registry.sqlite3").toStdString());
        opened.settings.WriteProfileInt("Net", "SitePort", port);
        opened.settings.WriteProfileInt("Net", "ListenPort", bench::FreePort());
        CallSettings call;
        call.user = "admin";
        call.password = "admin";
        call.reLink = 1;  // every drop must be followed by a reconnect
        opened.settings.SaveCall(call);
        opened.settings.SetRecordPath((clipDir + "/").toStdString());
    }
    if (app.InitInstance({"soak_run", "/Embedding"}) != ViewerApp::StartResult::Started) {
        std::fprintf(stderr, "soak_run: Orvane did not start\n");
        return 2;
    }
    MainFrame* frame = app.mainFrame();
    frame->resize(1920, 1080);
    SiteSession::Timing timing;
    timing.reconnectPauseMs = 250;  // the site is back at once: no need to wait a second
    frame->session().SetTiming(timing);

    FrameBooks books(*frame);
    std::vector<Sample> samples;
    Problems problems;
    int drops = 0;
    int reconnects = 0;
    bool ending = false;    // the site has stopped streaming
    bool finished = false;  // the books are closed; waiting for the link to go
    long long siteSent = -1;
    QElapsedTimer clock;
    auto minute = [&clock] { return static_cast<double>(clock.elapsed()) / 60000.0; };
    QElapsedTimer sinceEnd;
    QElapsedTimer sinceProgress;
    std::uint64_t lastReceived = 0;
    double lastCpu = CpuSeconds();
    qint64 lastSampleMs = 0;
    bool stalled = false;

    // Modal dialogs would stop the soak: the channel dialog that follows every login is not
    // needed (the site streams by itself); anything else is a problem worth telling.
    QTimer dismiss;
    QObject::connect(&dismiss, &QTimer::timeout, [&] {
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
            const QString kind = dialog->metaObject()->className();
            if (!kind.contains("OpenChannelDialog")) {
                QStringList texts;
                for (const QLabel* label : dialog->findChildren<QLabel*>()) {
                    if (!label->text().trimmed().isEmpty()) {
                        texts << label->text().simplified();
                    }
                }
                problems.Add(QString("a %1 was shown: \"%2\"").arg(kind, texts.join(" ")),
                             minute());
            }
            dialog->reject();
        }
    });
    dismiss.start(50);

    QObject::connect(&frame->session(), &SiteSession::stateChanged, [&](SiteSession::State state) {
        if (state == SiteSession::State::Reconnecting) {
            books.LinkEnded();
            if (!ending) {
                ++drops;
            }
        } else if (state == SiteSession::State::Connected && drops > reconnects && !ending) {
            ++reconnects;
        } else if (state == SiteSession::State::Closed && !finished) {
            problems.Add("the link closed for good", minute());
        }
    });

    auto takeSample = [&] {
        if (!books.UpdateClips()) {
            problems.Add("a recording window or its channel went", minute());
        }
        const qint64 now = clock.elapsed();
        const double cpu = CpuSeconds();
        Sample s;
        s.minutes = now / 60000.0;
        s.residentMb = ResidentMegabytes();
        s.fds = OpenFileDescriptors();
        s.threads = ThreadCount();
        s.cpuPercent = now > lastSampleMs ? 100.0 * (cpu - lastCpu) * 1000.0 /
                                                static_cast<double>(now - lastSampleMs)
                                          : 0;
        s.received = books.Received();
        s.decoded = books.Decoded();
        s.recorded = books.Recorded();
        s.lostRecording = books.LostInRecording();
        s.lostDecoding =
            static_cast<std::int64_t>(s.received) - static_cast<std::int64_t>(s.decoded);
        s.reconnects = reconnects;
        s.clips = books.ClipCount();
        lastCpu = cpu;
        lastSampleMs = now;
        samples.push_back(s);
        std::printf(
            "soak: %.1f min, %.1f MB, %d fds, %d threads, %.0f%% cpu, %llu received, "
            "%lld lost in recording, %d reconnects, %d clips\n",
            s.minutes, s.residentMb, s.fds, s.threads, s.cpuPercent,
            static_cast<unsigned long long>(s.received), static_cast<long long>(s.lostRecording),
            s.reconnects, s.clips);
        std::fflush(stdout);
    };

    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (!ending) {
            takeSample();
        }
    });

    // Clip rotation: every window ends its clip and starts the next one at once.
    QTimer rotation;
    QObject::connect(&rotation, &QTimer::timeout, [&] {
        if (ending) {
            return;
        }
        for (VideoChannelWindow* window : books.RecordingWindows()) {
            if (!books.EndClip(window)) {
                problems.Add("a clip could not be accounted for", minute());
            }
            if (!books.StartClip(window)) {
                problems.Add("a window did not start its next clip", minute());
            }
        }
    });

    auto finish = [&] {
        finished = true;
        for (VideoChannelWindow* window : books.RecordingWindows()) {
            if (!books.EndClip(window)) {
                problems.Add("a clip's last frames could not be accounted for", minute());
            }
        }
        books.WatchDecoders();
        if (books.FramesWaitingForDecoding() > 0) {
            problems.Add(QString("%1 frames still waited for decoding at the end")
                             .arg(books.FramesWaitingForDecoding()),
                         minute());
        }
        takeSample();
        books.ForgetDecoders();
        frame->session().Disconnect();
    };

    // Everything that follows the link's state: new windows start recording, decoders are
    // watched, and the end waits until every frame sent has been received and decoded.
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (finished) {
            if (!frame->session().connection()) {
                QCoreApplication::quit();
            }
            return;
        }
        books.WatchDecoders();
        const std::uint64_t received = books.Received();
        if (received != lastReceived) {
            lastReceived = received;
            sinceProgress.start();
            stalled = false;
        }
        if (!ending) {
            for (VideoChannelWindow* window : frame->channelWindows()) {
                if (!books.Recording(window) && !books.StartClip(window)) {
                    problems.Add("a window did not start recording", minute());
                }
            }
            if (!stalled && sinceProgress.elapsed() > 30000) {
                stalled = true;
                problems.Add("no frame came for 30 s", minute());
            }
            if (clock.elapsed() > (options.minutes * 60 + 60) * 1000) {
                problems.Add("the site did not stop streaming in time", minute());
                ending = true;
                sinceEnd.start();
            }
            return;
        }
        // The site quits a second after its last frame; then nothing more can come.
        const bool settled = sinceEnd.elapsed() > 2500 && sinceProgress.elapsed() > 1000 &&
                             books.FramesWaitingForDecoding() == 0;
        if (settled || sinceEnd.elapsed() > 30000) {
            finish();
        }
    });

    QObject::connect(&site, &QProcess::readyReadStandardOutput, [&] {
        while (site.canReadLine()) {
            const QString line = QString::fromUtf8(site.readLine()).trimmed();
            if (line.startsWith("frames sent:")) {
                siteSent = line.section(':', 1).trimmed().toLongLong();
                if (!ending) {
                    ending = true;
                    sinceEnd.start();
                }
            }
        }
    });

    clock.start();
    sinceProgress.start();
    if (!frame->ConnectToSite("127.0.0.1")) {
        std::fprintf(stderr, "soak_run: cannot connect\n");
        return 2;
    }
    poll.start(50);
    sampler.start(static_cast<int>(options.sampleEverySeconds * 1000));
    rotation.start(static_cast<int>(options.rotateEverySeconds * 1000));
    QCoreApplication::exec();
    dismiss.stop();
    if (!site.waitForFinished(5000)) {
        site.kill();
        site.waitForFinished(2000);
    }

    // Every clip, read by ffprobe: what the files hold must be what was recorded.
    std::uint64_t framesInFiles = 0;
    std::vector<QString> mismatches;
    for (const ClipFile& clip : books.clips()) {
        const auto frames = FramesInFile(clip.path);
        if (!frames) {
            mismatches.push_back(clip.path + ": ffprobe cannot read it");
            continue;
        }
        framesInFiles += *frames;
        if (*frames != clip.frames) {
            mismatches.push_back(QString("%1: %2 frames in the file, %3 recorded")
                                     .arg(clip.path)
                                     .arg(*frames)
                                     .arg(clip.frames));
        }
    }

    const QString csvPath = options.outDir + "/soak.csv";
    const QString pngPath = options.outDir + "/soak.png";
    const QString heading =
        QString("Orvane soak: %1 channels, %2 minutes, link dropped every %3 s, clips every %4 s")
            .arg(options.channels)
            .arg(options.minutes)
            .arg(options.dropEverySeconds)
            .arg(options.rotateEverySeconds);
    std::vector<QString> failures;
    if (!WriteCsv(csvPath, samples)) {
        failures.push_back("cannot write " + csvPath);
    }
    if (!DrawChart(pngPath, samples, heading)) {
        failures.push_back("cannot write " + pngPath);
    }

    const Sample* base = Baseline(samples);
    const Sample* last = samples.empty() ? nullptr : &samples.back();
    std::printf("%s\n", qPrintable(heading));
    if (base && last) {
        const double growth = base->residentMb > 0
                                  ? 100.0 * (last->residentMb - base->residentMb) / base->residentMb
                                  : 0;
        std::printf("memory: %.1f MB at minute %.1f, %.1f MB at the end (%+.1f %%)\n",
                    base->residentMb, base->minutes, last->residentMb, growth);
        constexpr double kWindowMinutes = 10;
        const auto early = MeanResident(samples, base->minutes, base->minutes + kWindowMinutes);
        const auto late = MeanResident(samples, last->minutes - kWindowMinutes, last->minutes + 1);
        if (options.minutes >= 20 && early && late && early->meanMb > 0) {
            const double meanGrowth = 100.0 * (late->meanMb - early->meanMb) / early->meanMb;
            std::printf(
                "memory on average: %.1f MB in minutes %.0f-%.0f, %.1f MB in minutes "
                "%.0f-%.0f (%+.1f %%)\n",
                early->meanMb, early->fromMinute, early->toMinute, late->meanMb, late->fromMinute,
                late->toMinute, meanGrowth);
            if (meanGrowth > 5) {
                failures.push_back(QString("memory grew %1 % on average after minute %2")
                                       .arg(meanGrowth, 0, 'f', 1)
                                       .arg(base->minutes, 0, 'f', 1));
            }
        }
        const auto [fdLow, fdHigh] =
            std::minmax_element(samples.begin(), samples.end(),
                                [](const Sample& a, const Sample& b) { return a.fds < b.fds; });
        const auto [threadLow, threadHigh] = std::minmax_element(
            samples.begin(), samples.end(),
            [](const Sample& a, const Sample& b) { return a.threads < b.threads; });
        std::printf("file descriptors: min %d, max %d (%d at minute %.1f, %d at the end)\n",
                    fdLow->fds, fdHigh->fds, base->fds, base->minutes, last->fds);
        std::printf("threads: min %d, max %d\n", threadLow->threads, threadHigh->threads);
        // A few descriptors come and go with the links and the clips being written.
        constexpr int kFdAllowance = 4;
        if (last->fds > base->fds + kFdAllowance) {
            failures.push_back(QString("%1 more file descriptors at the end than at minute %2")
                                   .arg(last->fds - base->fds)
                                   .arg(base->minutes, 0, 'f', 1));
        }
        double cpuSum = 0;
        for (const Sample& s : samples) {
            cpuSum += s.cpuPercent;
        }
        std::printf("cpu: %.1f %% of one core on average\n",
                    cpuSum / static_cast<double>(samples.size()));
    } else {
        failures.push_back("no sample was taken");
    }

    const std::uint64_t received = books.Received();
    const std::uint64_t decoded = books.Decoded();
    const std::uint64_t recorded = books.Recorded();
    const std::int64_t lostRecording = books.LostInRecording();
    const std::int64_t lostDecoding =
        static_cast<std::int64_t>(received) - static_cast<std::int64_t>(decoded);
    std::printf("frames the site sent before it stopped streaming: %lld\n", siteSent);
    std::printf("frames received: %llu (%llu while recording)\n",
                static_cast<unsigned long long>(received),
                static_cast<unsigned long long>(books.ReceivedWhileRecording()));
    std::printf("frames decoded: %llu (%llu dropped by a decoder that fell behind)\n",
                static_cast<unsigned long long>(decoded),
                static_cast<unsigned long long>(books.DroppedByDecoder()));
    std::printf("frames recorded: %llu (%llu of them from before a clip's start)\n",
                static_cast<unsigned long long>(recorded),
                static_cast<unsigned long long>(books.Rewritten()));
    std::printf("frames lost: %lld in recording, %lld in decoding\n",
                static_cast<long long>(lostRecording), static_cast<long long>(lostDecoding));
    std::printf("reconnects: %d after %d drops\n", reconnects, drops);
    std::printf("clips written: %zu, frames in the files (ffprobe): %llu%s\n", books.clips().size(),
                static_cast<unsigned long long>(framesInFiles),
                framesInFiles == recorded ? " (as recorded)" : " (NOT as recorded)");

    if (received == 0) {
        failures.push_back("no frame was received");
    }
    if (lostRecording != 0) {
        failures.push_back(QString("%1 frames received on recording channels are not in "
                                   "their clips")
                               .arg(lostRecording));
    }
    if (lostDecoding != 0) {
        failures.push_back(QString("%1 frames received were not decoded").arg(lostDecoding));
    }
    if (reconnects < drops) {
        failures.push_back(
            QString("%1 drops were not followed by a reconnect").arg(drops - reconnects));
    }
    if (books.clips().empty()) {
        failures.push_back("no clip was written");
    }
    for (const QString& mismatch : mismatches) {
        failures.push_back(mismatch);
    }
    for (const QString& problem : problems.Lines()) {
        failures.push_back(problem);
    }
    if (options.keepClips) {
        std::printf("clips kept in %s\n", qPrintable(clipDir));
    }
    std::printf("samples: %s\nchart: %s\n", qPrintable(csvPath), qPrintable(pngPath));
    if (!failures.empty()) {
        std::printf("FAILED:\n");
        for (const QString& failure : failures) {
            std::printf("  %s\n", qPrintable(failure));
        }
        return 1;
    }
    std::printf("passed: nothing leaked, nothing was lost\n");
    return 0;
}
