#include "record.h"

#include "progress.h"

#include "common/quit_signals.h"
#include "link_notices.h"
#include "media/clip_recorder.h"
#include "site/blocking_connect.h"
#include "site/channel_link.h"
#include "site/feed_watch.h"
#include "site/headless_host.h"
#include "site/site_connection.h"
#include "store/settings.h"
#include "store/store_location.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

namespace orvane::cli {
namespace {

// How often the recorded channel's latest arrival is looked at while the link lives.
constexpr int kArrivalCheckMs = 250;

// The folder as the clip index keeps it: absolute, so that Orvane finds the clips whatever
// folder it was started from, and ending in a separator.
QString WithSeparator(QString folder) {
    folder = QDir(folder).absolutePath();
    if (!folder.endsWith(QLatin1Char('/'))) {
        folder += QLatin1Char('/');
    }
    return folder;
}

// The recorder's messages are laid out for a message box ("Cannot record into\nFILE\n\n
// reason"); a shell reads one line.
QString OneLine(QString message) {
    return message.replace(QStringLiteral("\n\n"), QStringLiteral(": "))
        .replace(u'\n', u' ')
        .trimmed();
}

}  // namespace

QJsonObject RecordReport::ToJson() const {
    QJsonObject json{{"site", site},
                     {"channel", static_cast<qint64>(channel)},
                     {"frames", static_cast<qint64>(frames)},
                     {"bytes", bytes},
                     {"seconds", seconds},
                     {"exitCode", exitCode}};
    if (!clipPath.isEmpty()) {
        json["clip"] = clipPath;
        json["clips"] = QJsonArray::fromStringList(clips);
    }
    if (silentSeconds > 0) {
        json["silentSeconds"] = silentSeconds;
    }
    if (!failure.isEmpty()) {
        json["error"] = failure;
    }
    return json;
}

int RunRecord(const RecordOptions& options, QTextStream& out, QTextStream& err,
              RecordReport& report) {
    report = {};
    report.site = SiteAddress(options.host, options.port);
    report.channel = options.channelId;
    ProgressLine progress(err, options.progress);
    auto failWith = [&](const QString& reason) {
        progress.Clear();
        report.failure = reason;
        err << "orvane-cli: " << reason << Qt::endl;
        return 1;
    };

    auto opened = OpenSettings(KeyStorePath());
    Settings& settings = opened.settings;
    RecordFolderNotice folderNotice;
    // Where a clip starting now goes, as in the program: the record folder while it is there,
    // else the default one. --dir is taken as given at the start, so that a mistyped folder
    // fails at once rather than filling the default one.
    const auto prepareFolder = [&] {
        const RecordFolder used = options.folder.isEmpty()
                                      ? settings.PrepareRecordFolder()
                                      : settings.PrepareRecordFolder(options.folder.toStdString());
        if (const std::string notice = folderNotice.After(used); !notice.empty()) {
            progress.Clear();
            err << "orvane-cli: " << QString::fromStdString(notice) << Qt::endl;
        }
        return WithSeparator(QString::fromStdString(used.path));
    };
    const QString folder =
        options.folder.isEmpty() ? prepareFolder() : WithSeparator(options.folder);

    CallSettings call;
    call.user = options.user.toStdString();
    call.password = options.password.toStdString();
    call.formatSize = kFormatSizeLarge;
    call.reLink = 0;

    ChannelTable channels;
    HeadlessChannelHost host;
    LinkNotices notices;
    SiteConnection connection({channels, host, notices, nullptr}, call);
    std::unique_ptr<ClipRecorder> recorder;
    std::uint64_t framesOfEndedClips = 0;  // of the clips before the recorder's present one
    QPointer<HeadlessChannelWindow> recordedWindow;  // whose frames the recorder takes

    QEventLoop loop;
    QString failure;
    auto finish = [&](const QString& reason) {
        if (failure.isEmpty()) {
            failure = reason;
        }
        loop.quit();
    };

    QuitSignals quitSignals;
    const QString stoppedBySignal = QStringLiteral("stopped by a signal");
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &loop, [&](int) {
        finish(stoppedBySignal);
        // A connect under way ends now, not at its timeout.
        if (connection.socket().state() != QAbstractSocket::ConnectedState) {
            connection.socket().abort();
        }
    });

    QString whyNot;
    if (!ConnectBlocking(connection.socket(), options.host, options.port,
                         options.timeoutSeconds * 1000, &whyNot)) {
        return failWith(failure.isEmpty()
                            ? QStringLiteral("cannot connect to %1: %2").arg(report.site, whyNot)
                            : failure);
    }

    auto clipBytes = [&report] {
        qint64 bytes = 0;
        for (const QString& clip : report.clips) {
            bytes += QFileInfo(clip).size();
        }
        return bytes;
    };
    // When the channel's latest frame came: looked at while the link lives (a link lost
    // takes the channel with it), for the silence at the end of the recording.
    std::optional<std::int64_t> latestArrival;
    const auto noteLatestArrival = [&] {
        const ChannelLink* link =
            recordedWindow ? connection.channels().FindLinkByWindow(recordedWindow) : nullptr;
        if (link && link->latestFrame.valid()) {
            latestArrival = link->latestFrame.arrivalSteadyMicros;
        }
    };
    QTimer arrivals;
    QObject::connect(&arrivals, &QTimer::timeout, &loop, noteLatestArrival);
    arrivals.start(kArrivalCheckMs);
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);  // a coarse timer may end the recording 5 % early
    QElapsedTimer recordingClock;
    QTimer progressTicks;
    QObject::connect(&progressTicks, &QTimer::timeout, &loop, [&] {
        const double recorded =
            std::min(recordingClock.elapsed() / 1000.0, static_cast<double>(options.seconds));
        progress.Show(QStringLiteral("recording %1 / %2 s, %3 frames, %4")
                          .arg(QString::number(recorded, 'f', 1))
                          .arg(options.seconds)
                          .arg(framesOfEndedClips + (recorder ? recorder->framesWritten() : 0))
                          .arg(ByteCount(clipBytes())));
    });
    QObject::connect(&deadline, &QTimer::timeout, &loop,
                     [&] { finish(recorder ? QString() : TimeoutBeforeFrames(connection)); });

    // The clip that ended at its file or folder going away is closed, and named no more when
    // nothing is left of it; the channel's frames since its key frame start the next clip.
    const std::function<void()> goOnInNewClip = [&] {
        if (!recorder || !recorder->endedByFailure() || !failure.isEmpty() || !recordedWindow) {
            return;
        }
        const QString lost = QDir::toNativeSeparators(recorder->aviFilePath());
        connection.channels().StopRecording(*recorder);
        framesOfEndedClips += recorder->framesWritten();
        if (!QFileInfo::exists(lost)) {
            report.clips.removeAll(lost);
            report.clipPath = report.clips.value(0);
        }
        QString error;
        if (!connection.channels().StartRecording(recordedWindow, *recorder, prepareFolder(),
                                                  error)) {
            finish(OneLine(error));
            return;
        }
        report.clips << QDir::toNativeSeparators(recorder->aviFilePath());
        report.clipPath = report.clips.first();
        progress.Clear();
        out << "recording: " << recorder->aviFilePath() << Qt::endl;
    };

    // The window exists once the dispatch that made it is over: the recorder attaches then
    // and writes the frames already there first, as the Record command does.
    host.onWindowCreated = [&](HeadlessChannelWindow* window) {
        // A site may stream channels nobody asked for; only the one asked for is recorded.
        if (recorder || window->params().channelId != options.channelId) {
            return;
        }
        QPointer<HeadlessChannelWindow> made(window);
        QTimer::singleShot(0, &loop, [&, made] {
            if (!made || recorder) {
                return;
            }
            const auto id = static_cast<std::int32_t>(made->params().channelId);
            recorder = std::make_unique<ClipRecorder>(
                settings.store(),
                [&channels](std::int32_t channel) {
                    return QString::fromStdString(channels.GetChannelName(channel));
                },
                id, made->params().format);
            QString error;
            // The clip starts with what the channel kept since its key frame, as the
            // window's Record does.
            if (!connection.channels().StartRecording(made, *recorder, folder, error)) {
                recorder.reset();
                finish(OneLine(error));
                return;
            }
            recordedWindow = made;
            report.clipPath = QDir::toNativeSeparators(recorder->aviFilePath());
            report.clips = {report.clipPath};
            out << "recording: " << recorder->aviFilePath() << Qt::endl;
            // A full disk does not end the recording: it goes on at the next key frame that
            // can be written, in the same clip. A file or folder gone ends the clip, and the
            // recording goes on at once in a new one, as the program's does.
            recorder->SetFailureHandler([&](const QString& message) {
                progress.Clear();
                err << "orvane-cli: " << OneLine(message) << Qt::endl;
                if (recorder->endedByFailure()) {
                    QTimer::singleShot(0, &loop, goOnInNewClip);
                }
            });
            recorder->SetWritingAgainHandler([&] {
                progress.Clear();
                err << "orvane-cli: writing " << recorder->aviFilePath() << " again" << Qt::endl;
            });
            recorder->SetNextClipHandler([&](const QString& path) {
                progress.Clear();
                report.clips << QDir::toNativeSeparators(path);
                out << "recording: " << path << Qt::endl;
            });
            recordingClock.start();
            if (progress.enabled()) {
                progressTicks.start(ProgressLine::kIntervalMs);
            }
            deadline.start(options.seconds * 1000);
        });
    };

    notices.onNotice = [&](SiteNotice notice) {
        if (notice != SiteNotice::LoginAccepted) {
            if (const QString reason = FailureFor(notice); !reason.isEmpty()) {
                finish(reason);
            }
            return;
        }
        if (std::none_of(channels.entries().begin(), channels.entries().end(),
                         [&](const ChannelEntry& entry) {
                             return entry.id == static_cast<std::int32_t>(options.channelId);
                         })) {
            finish(QStringLiteral("the site has no channel %1").arg(options.channelId));
            return;
        }
        connection.OpenChannel(options.channelId);
    };

    deadline.start(options.timeoutSeconds * 1000);
    connection.Start(false);
    if (failure.isEmpty()) {  // a signal during the connect has ended the run already
        loop.exec();
    }

    progressTicks.stop();
    progress.Clear();
    if (!recorder) {
        return failWith(failure);
    }
    report.seconds = recordingClock.elapsed() / 1000.0;
    // A camera can stop sending while the link stays up: the clip then ends in a stretch
    // without video that nothing else would point out. Measured as the feed watch measures a
    // still feed, by the steady clock from the latest frame's arrival, within the recording.
    double silentSeconds = 0;
    noteLatestArrival();
    if (latestArrival) {
        using namespace std::chrono;
        const auto now = duration_cast<microseconds>(steady_clock::now().time_since_epoch());
        silentSeconds =
            std::min(static_cast<double>(now.count() - *latestArrival) / 1e6, report.seconds);
    }
    const QString lastClip = recorder->aviFilePath();  // the recorder forgets it as it stops
    connection.channels().StopRecording(*recorder);
    // What the clips hold: a frame that met a full disk, or whose clip was removed, is not
    // counted. A clip removed after the last frames written into it (a camera gone still) is
    // found only as it closes: it is not named either.
    const bool lastRemoved = !lastClip.isEmpty() && !QFileInfo::exists(lastClip);
    if (lastRemoved) {
        report.clips.removeAll(QDir::toNativeSeparators(lastClip));
        report.clipPath = report.clips.value(0);
        err << "orvane-cli: the clip " << lastClip << " was removed while recording" << Qt::endl;
    }
    report.frames = framesOfEndedClips + recorder->framesWritten();
    report.bytes = clipBytes();
    if (report.frames == 0) {
        const QString why =
            lastRemoved ? QStringLiteral("the file or its folder has been removed") : failure;
        return failWith(why.isEmpty() ? QStringLiteral("no frames recorded")
                                      : QStringLiteral("no frames recorded (%1)").arg(why));
    }
    // Past the time after which the program marks a feed dead, the silence is told; the
    // frames that came are still a clip, so the run succeeds.
    if (silentSeconds >= std::chrono::duration<double>(FeedWatch::kStillLimit).count()) {
        const QString told = QString::number(silentSeconds, 'f', 1);
        report.silentSeconds = told.toDouble();  // a script reads the figure the line gives
        err << "orvane-cli: channel " << options.channelId << " sent no frame for the last " << told
            << " s of the recording" << Qt::endl;
    }
    out << "recorded: " << report.frames << " frames, " << report.bytes << " bytes in "
        << QString::number(report.seconds, 'f', 2) << " s" << Qt::endl;
    for (const QString& clip : report.clips) {
        out << "clip: " << clip << Qt::endl;
    }
    // A link lost before the time was up leaves its clips, but a script must not take them
    // for the whole recording it asked for.
    if (!failure.isEmpty() && failure != stoppedBySignal) {
        return failWith(QStringLiteral("%1 after %2 of %3 s")
                            .arg(failure, QString::number(report.seconds, 'f', 1))
                            .arg(options.seconds));
    }
    report.exitCode = 0;
    return 0;
}

}  // namespace orvane::cli
