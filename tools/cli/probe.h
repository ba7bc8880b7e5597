#pragma once

#include <QJsonObject>
#include <QString>
#include <QTextStream>

#include <cstdint>
#include <optional>
#include <vector>

namespace orvane::cli {

struct ProbeOptions {
    QString host;
    quint16 port = 0;
    QString user;
    QString password;
    std::optional<std::uint32_t> channelId;  // the first channel of the list when absent
    int frames = 10;
    QString pngPath;
    int timeoutSeconds = 15;
    bool smallPictures = false;  // 160 x 120 instead of 320 x 240
};

// What a probe found, as far as it got.
struct ProbeReport {
    struct Channel {
        std::int32_t id = 0;
        int number = 0;  // 1, 2, ... in the order of the site's list
        QString name;
    };
    QString site;  // host:port
    bool connected = false;
    std::vector<Channel> channels;
    std::optional<std::uint32_t> openedChannel;
    QString codec;    // the decoder's name
    QString fourcc;   // the stream's compression
    QString handler;  // how the decoder was found
    int width = 0;
    int height = 0;
    int frames = 0;
    double seconds = 0;  // from the channel request to the last frame
    double frameRate = 0;
    QString picturePath;
    QString failure;  // empty on success
    int exitCode = 1;

    QJsonObject ToJson() const;
};

// Logs in to a site with the real SiteConnection and decoder, opens one channel and decodes
// frames. Returns the exit code (0 when frames arrived); reports on out as it goes, fails on
// err, and fills report with the same facts.
int RunProbe(const ProbeOptions& options, QTextStream& out, QTextStream& err, ProbeReport& report);

}  // namespace orvane::cli
