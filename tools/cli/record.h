#pragma once

#include <QString>
#include <QTextStream>

#include <cstdint>

namespace orvane::cli {

struct RecordOptions {
    QString host;
    quint16 port = 0;
    QString user;
    QString password;
    std::uint32_t channelId = 0;
    int seconds = 10;
    QString folder;  // ends in a separator; the settings' record folder when empty
    int timeoutSeconds = 15;
};

// Logs in, opens one channel and records it with the program's own recorder and clip index
// for the given time, or until SIGTERM, SIGINT or SIGHUP, which end the clip as cleanly.
// Prints "recording: PATH" when a clip starts and "clip: PATH" when it is written. Returns
// 0 when a clip with at least one frame was written, else 1 with the reason on err.
int RunRecord(const RecordOptions& options, QTextStream& out, QTextStream& err);

}  // namespace orvane::cli
