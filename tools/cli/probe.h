#pragma once

#include <QString>
#include <QTextStream>

#include <cstdint>
#include <optional>

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

// Logs in to a site with the real SiteConnection and decoder, opens one channel and decodes
// frames. Returns the exit code (0 when frames arrived); reports on out, fails on err.
int RunProbe(const ProbeOptions& options, QTextStream& out, QTextStream& err);

}  // namespace orvane::cli
