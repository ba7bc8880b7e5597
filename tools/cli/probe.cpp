#include "probe.h"

#include "link_notices.h"
#include "site/blocking_connect.h"
#include "site/channel_link.h"
#include "site/headless_host.h"
#include "site/site_connection.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

namespace orvane::cli {
namespace {}  // namespace

QJsonObject ProbeReport::ToJson() const {
    QJsonObject json{{"site", site}, {"connected", connected}, {"exitCode", exitCode}};
    if (connected) {
        QJsonArray list;
        for (const Channel& channel : channels) {
            list.append(QJsonObject{
                {"id", channel.id}, {"number", channel.number}, {"name", channel.name}});
        }
        json["channels"] = list;
    }
    if (openedChannel) {
        json["channel"] = static_cast<qint64>(*openedChannel);
    }
    if (frames > 0) {
        json["codec"] = codec;
        json["fourcc"] = fourcc;
        json["decoder"] = handler;
        json["width"] = width;
        json["height"] = height;
        json["frames"] = frames;
        json["seconds"] = seconds;
        json["frameRate"] = frameRate;
    }
    if (!picturePath.isEmpty()) {
        json["picture"] = picturePath;
    }
    if (!failure.isEmpty()) {
        json["error"] = failure;
    }
    return json;
}

int RunProbe(const ProbeOptions& options, QTextStream& out, QTextStream& err, ProbeReport& report) {
    report = {};
    report.site = SiteAddress(options.host, options.port);
    auto failWith = [&](const QString& reason, int code) {
        report.failure = reason;
        report.exitCode = code;
        err << "orvane-cli: " << reason << Qt::endl;
        return code;
    };
    CallSettings call;
    call.user = options.user.toStdString();
    call.password = options.password.toStdString();
    call.formatSize = options.smallPictures ? 0 : kFormatSizeLarge;
    call.reLink = 0;

    ChannelTable channels;
    HeadlessChannelHost host;
    LinkNotices notices;
    SiteConnection connection({channels, host, notices, nullptr}, call);

    QEventLoop loop;
    QString failure;
    auto fail = [&](const QString& reason) {
        if (failure.isEmpty()) {
            failure = reason;
        }
        loop.exit(1);
    };

    QString whyNot;
    if (!ConnectBlocking(connection.socket(), options.host, options.port,
                         options.timeoutSeconds * 1000, &whyNot)) {
        return failWith(QStringLiteral("cannot connect to %1: %2").arg(report.site, whyNot), 1);
    }
    report.connected = true;
    out << "connected to " << report.site << Qt::endl;

    QElapsedTimer clock;
    HeadlessChannelWindow* watched = nullptr;
    qint64 firstAtMs = 0;
    qint64 lastAtMs = 0;
    // Frames are counted as decoded, not as drawn: frames that arrive together are decoded
    // one by one but make one picture. Only the channel watched counts: a site may stream
    // others nobody asked for.
    const auto decoded = [&connection, &watched] {
        const ChannelLink* link =
            watched ? connection.channels().FindLinkByWindow(watched) : nullptr;
        return link && link->decoding ? static_cast<int>(link->decoding->decodedFrames()) : 0;
    };
    int firstDecoded = 0;
    host.onWindowCreated = [&](HeadlessChannelWindow* window) {
        if (watched) {
            return;
        }
        watched = window;
        QObject::connect(window, &HeadlessChannelWindow::pictureDrawn, &loop, [&](int count) {
            lastAtMs = clock.elapsed();
            if (count == 1) {
                firstAtMs = lastAtMs;
                firstDecoded = decoded();
            }
            if (decoded() >= options.frames) {
                loop.exit(0);
            }
        });
    };

    notices.onNotice = [&](SiteNotice notice) {
        if (notice != SiteNotice::LoginAccepted) {
            if (const QString reason = FailureFor(notice); !reason.isEmpty()) {
                fail(reason);
            }
            return;
        }
        out << "channels:" << Qt::endl;
        report.channels.clear();
        for (const auto& entry : channels.entries()) {
            const QString name = QString::fromStdString(entry.name);
            out << "  " << QString::asprintf("%04d ", entry.id) << name << Qt::endl;
            report.channels.push_back(
                {entry.id, static_cast<int>(report.channels.size()) + 1, name});
        }
        if (channels.empty()) {
            fail("the site lists no channels");
            return;
        }
        const std::uint32_t id =
            options.channelId.value_or(static_cast<std::uint32_t>(channels.entries().front().id));
        if (std::none_of(channels.entries().begin(), channels.entries().end(),
                         [&](const ChannelEntry& entry) {
                             return static_cast<std::uint32_t>(entry.id) == id;
                         })) {
            fail(QStringLiteral("the site has no channel %1").arg(id));
            return;
        }
        out << "opening channel " << id << Qt::endl;
        report.openedChannel = id;
        clock.start();
        connection.OpenChannel(id);
    };

    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);  // a coarse timer may give up 5 % early
    QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
        fail(watched ? QStringLiteral("timeout: %1 of %2 frames").arg(decoded()).arg(options.frames)
                     : TimeoutBeforeFrames(connection));
    });
    deadline.start(options.timeoutSeconds * 1000);
    connection.Start(false);
    const int code = loop.exec();
    if (code != 0) {
        return failWith(failure, code);
    }

    const QImage& picture = watched->lastPicture();
    const auto& decoder = connection.decoder();
    report.codec = QString::fromStdString(decoder ? decoder->name : "?");
    report.fourcc = QString::fromStdString(FourccText(watched->params().format.biCompression));
    report.handler = QString::fromStdString(decoder ? decoder->handler : "?");
    out << "codec: " << report.codec << " (" << report.fourcc << ", found by " << report.handler
        << ")" << Qt::endl;
    report.width = picture.width();
    report.height = picture.height();
    out << "size: " << report.width << " x " << report.height << Qt::endl;
    // The time is counted from the channel request; the rate over the frames decoded after the
    // first picture, from it to the last (a site streaming already sends its first at once).
    report.frames = decoded();
    report.seconds = lastAtMs / 1000.0;
    const double spanSeconds = (lastAtMs - firstAtMs) / 1000.0;
    report.frameRate = report.frames > firstDecoded && spanSeconds > 0
                           ? (report.frames - firstDecoded) / spanSeconds
                           : (report.seconds > 0 ? report.frames / report.seconds : 0.0);
    out << "frames: " << report.frames << " in " << QString::number(report.seconds, 'f', 2)
        << " s (" << QString::number(report.frameRate, 'f', 1) << " frames per second)" << Qt::endl;
    if (!options.pngPath.isEmpty()) {
        if (!picture.save(options.pngPath, "PNG")) {
            return failWith(QStringLiteral("cannot write %1").arg(options.pngPath), 1);
        }
        report.picturePath = options.pngPath;
        out << "picture: " << options.pngPath << Qt::endl;
    }
    report.exitCode = 0;
    return 0;
}

}  // namespace orvane::cli
