#include "probe.h"

#include "common/command_ids.h"
#include "site/blocking_connect.h"
#include "site/headless_host.h"
#include "site/site_connection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTcpSocket>
#include <QTimer>

namespace orvane::cli {
namespace {

// Receives the connection's posted commands and turns them into the probe's progress.
class ProbeFrame final : public MainFrameLink {
  public:
    std::function<void(int)> onCommand;
    void PostCommand(int commandId) override {
        QTimer::singleShot(0, [this, commandId] { onCommand(commandId); });
    }
    void SetStatusLine(const QString&) override {}
};

}  // namespace

int RunProbe(const ProbeOptions& options, QTextStream& out, QTextStream& err) {
    CallSettings call;
    call.user = options.user.toStdString();
    call.password = options.password.toStdString();
    call.formatSize = options.smallPictures ? 0 : kFormatSizeLarge;
    call.reLink = 0;

    ChannelTable channels;
    HeadlessChannelHost host;
    ProbeFrame frame;
    SiteConnection connection({channels, host, frame, nullptr}, call);

    QEventLoop loop;
    QString failure;
    auto fail = [&](const QString& reason) {
        if (failure.isEmpty()) {
            failure = reason;
        }
        loop.exit(1);
    };

    if (!ConnectBlocking(connection.socket(), options.host, options.port,
                         options.timeoutSeconds * 1000)) {
        err << "orvane-cli: cannot connect to " << options.host << ":" << options.port << ": "
            << connection.socket().errorString() << Qt::endl;
        return 1;
    }
    out << "connected to " << options.host << ":" << options.port << Qt::endl;

    QElapsedTimer clock;
    HeadlessChannelWindow* watched = nullptr;
    qint64 lastAtMs = 0;
    host.onWindowCreated = [&](HeadlessChannelWindow* window) {
        if (watched) {
            return;
        }
        watched = window;
        QObject::connect(window, &HeadlessChannelWindow::pictureDrawn, &loop, [&](int count) {
            lastAtMs = clock.elapsed();
            if (count >= options.frames) {
                loop.exit(0);
            }
        });
    };

    frame.onCommand = [&](int command) {
        switch (command) {
            case cmd::kOpenChannel: {
                out << "channels:" << Qt::endl;
                for (const auto& entry : channels.entries()) {
                    out << "  " << QString::asprintf("%04d ", entry.id)
                        << QString::fromStdString(entry.name) << Qt::endl;
                }
                if (channels.empty()) {
                    fail("the site lists no channels");
                    return;
                }
                const std::uint32_t id = options.channelId.value_or(
                    static_cast<std::uint32_t>(channels.entries().front().id));
                out << "opening channel " << id << Qt::endl;
                clock.start();
                connection.OpenChannel(id);
                return;
            }
            case cmd::kLoginError:
                fail("login rejected");
                return;
            case cmd::kLimitError:
                fail("limit reached: the site takes no more connections");
                return;
            case cmd::kCodecError:
                fail("no codec for the site's video");
                return;
            case cmd::kDisconnect:
            case cmd::kReconnect:
                fail("the site closed the connection");
                return;
            default:
                return;
        }
    };

    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        fail(watched ? QStringLiteral("timeout: %1 of %2 frames")
                           .arg(watched->picturesDrawn())
                           .arg(options.frames)
                     : QStringLiteral("timeout: no frames"));
    });
    deadline.start(options.timeoutSeconds * 1000);
    connection.Start(false);
    const int code = loop.exec();
    if (code != 0) {
        err << "orvane-cli: " << failure << Qt::endl;
        return code;
    }

    const QImage& picture = watched->lastPicture();
    const auto& decoder = connection.decoder();
    out << "codec: " << QString::fromStdString(decoder ? decoder->name : "?") << " ("
        << QString::fromStdString(FourccText(watched->params().format.biCompression))
        << ", found by " << QString::fromStdString(decoder ? decoder->handler : "?") << ")"
        << Qt::endl;
    out << "size: " << picture.width() << " x " << picture.height() << Qt::endl;
    // Measured from the channel request: the connection hands frames over in 100 ms ticks,
    // so the spacing of single frames says little.
    const double seconds = lastAtMs / 1000.0;
    out << "frames: " << watched->picturesDrawn() << " in " << QString::number(seconds, 'f', 2)
        << " s (" << QString::number(seconds > 0 ? watched->picturesDrawn() / seconds : 0.0, 'f', 1)
        << " frames per second)" << Qt::endl;
    if (!options.pngPath.isEmpty()) {
        if (!picture.save(options.pngPath, "PNG")) {
            err << "orvane-cli: cannot write " << options.pngPath << Qt::endl;
            return 1;
        }
        out << "picture: " << options.pngPath << Qt::endl;
    }
    return 0;
}

}  // namespace orvane::cli
