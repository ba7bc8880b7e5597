#include "record.h"

#include "common/command_ids.h"
#include "common/quit_signals.h"
#include "media/clip_recorder.h"
#include "site/blocking_connect.h"
#include "site/headless_host.h"
#include "site/site_connection.h"
#include "store/settings.h"
#include "store/store_location.h"

#include <QDir>
#include <QEventLoop>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace orvane::cli {
namespace {

class RecordFrame final : public MainFrameLink {
  public:
    std::function<void(int)> onCommand;
    void PostCommand(int commandId) override {
        QTimer::singleShot(0, &context_, [this, commandId] { onCommand(commandId); });
    }
    void SetStatusLine(const QString&) override {}

  private:
    QObject context_;
};

QString WithSeparator(QString folder) {
    if (!folder.endsWith(QLatin1Char('/'))) {
        folder += QLatin1Char('/');
    }
    return folder;
}

}  // namespace

int RunRecord(const RecordOptions& options, QTextStream& out, QTextStream& err) {
    auto opened = OpenSettings(KeyStorePath());
    Settings& settings = opened.settings;
    const QString folder =
        WithSeparator(options.folder.isEmpty() ? QString::fromStdString(settings.GetRecordPath())
                                               : options.folder);

    CallSettings call;
    call.user = options.user.toStdString();
    call.password = options.password.toStdString();
    call.formatSize = kFormatSizeLarge;
    call.reLink = 0;

    ChannelTable channels;
    HeadlessChannelHost host;
    RecordFrame frame;
    SiteConnection connection({channels, host, frame, nullptr}, call);
    std::unique_ptr<ClipRecorder> recorder;

    QEventLoop loop;
    QString failure;
    auto finish = [&](const QString& reason) {
        if (failure.isEmpty()) {
            failure = reason;
        }
        loop.quit();
    };

    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &loop,
                     [&](int) { finish(QStringLiteral("stopped by a signal")); });

    if (!ConnectBlocking(connection.socket(), options.host, options.port,
                         options.timeoutSeconds * 1000)) {
        err << "orvane-cli: cannot connect to " << options.host << ":" << options.port << ": "
            << connection.socket().errorString() << Qt::endl;
        return 1;
    }

    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop,
                     [&] { finish(recorder ? QString() : QStringLiteral("timeout: no frames")); });

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
            if (!recorder->StartRecording(folder, {}, error)) {
                recorder.reset();
                finish(error);
                return;
            }
            out << "recording: " << recorder->aviFilePath() << Qt::endl;
            connection.SetFrameSink(made, recorder.get());
            const ChannelLink* link = connection.FindLinkByWindow(made);
            if (link) {
                for (const SharedBlock& buffered : link->sinceKey.frames()) {
                    recorder->WriteFrame(*buffered);
                }
            }
            deadline.start(options.seconds * 1000);
        });
    };

    frame.onCommand = [&](int command) {
        switch (command) {
            case cmd::kOpenChannel:
                if (std::none_of(channels.entries().begin(), channels.entries().end(),
                                 [&](const ChannelEntry& entry) {
                                     return entry.id ==
                                            static_cast<std::int32_t>(options.channelId);
                                 })) {
                    finish(QStringLiteral("the site has no channel %1").arg(options.channelId));
                    return;
                }
                connection.OpenChannel(options.channelId);
                return;
            case cmd::kLoginError:
                finish(QStringLiteral("login rejected"));
                return;
            case cmd::kLimitError:
                finish(QStringLiteral("limit reached: the site takes no more connections"));
                return;
            case cmd::kCodecError:
                finish(QStringLiteral("no codec for the site's video"));
                return;
            case cmd::kDisconnect:
            case cmd::kReconnect:
                finish(QStringLiteral("the site closed the connection"));
                return;
            default:
                return;
        }
    };

    deadline.start(options.timeoutSeconds * 1000);
    connection.Start(false);
    if (failure.isEmpty()) {  // a signal during the connect has ended the run already
        loop.exec();
    }

    if (!recorder) {
        err << "orvane-cli: " << failure << Qt::endl;
        return 1;
    }
    const QString path = recorder->aviFilePath();
    const std::uint32_t frames = recorder->frameIndex();
    recorder->StopRecording();
    if (frames == 0) {
        err << "orvane-cli: no frames recorded"
            << (failure.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(failure)) << Qt::endl;
        return 1;
    }
    out << "clip: " << QDir::toNativeSeparators(path) << Qt::endl;
    return 0;
}

}  // namespace orvane::cli
