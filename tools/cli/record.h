#pragma once

#include <QJsonObject>
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
    bool progress = false;  // a progress line on err while recording
};

// What a recording wrote, as far as it got.
struct RecordReport {
    QString site;  // host:port
    std::uint32_t channel = 0;
    QString clipPath;  // empty until a clip was started
    std::uint32_t frames = 0;
    qint64 bytes = 0;
    double seconds = 0;  // from the clip's start to its end
    QString failure;     // empty on success; why the recording ended early otherwise
    int exitCode = 1;

    QJsonObject ToJson() const;
};

// Logs in, opens one channel and records it with the program's own recorder and clip index
// for the given time, or until SIGTERM, SIGINT or SIGHUP, which end the clip as cleanly.
// Prints "recording: PATH" when a clip starts, then what it holds and "clip: PATH" when it
// is written. Returns 0 when a clip with at least one frame was written, else 1 with the
// reason on err; report holds the same facts.
int RunRecord(const RecordOptions& options, QTextStream& out, QTextStream& err,
              RecordReport& report);

}  // namespace orvane::cli
