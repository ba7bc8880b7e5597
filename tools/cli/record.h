#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
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
    // Every clip of the recording, clipPath first: a recording goes on in a new clip each
    // hour.
    QStringList clips;
    std::uint64_t frames = 0;  // the frames the clips hold, never one that could not be written
    qint64 bytes = 0;
    double seconds = 0;  // from the clip's start to its end
    // How long the channel sent nothing at the end, to the tenth of a second as err tells it;
    // 0, and left out of the object, when it was silent for less than the program waits
    // before it marks a feed dead.
    double silentSeconds = 0;
    QString failure;  // empty on success; why the recording ended early otherwise
    int exitCode = 1;

    QJsonObject ToJson() const;
};

// Logs in, opens one channel and records it with the program's own recorder and clip index
// for the given time, or until SIGTERM, SIGINT or SIGHUP, which end the clip as cleanly.
// Prints "recording: PATH" when a clip starts (the recording goes on in a new clip each
// hour), then what the clips hold and "clip: PATH" for each once they are written. A full
// disk does not end it: frames that cannot be written are skipped, and the clip goes on from
// a key frame once there is room. A clip whose file or folder is removed is lost, and the
// recording goes on at once in a new clip, where a recording starting now would go. Returns 0
// when a clip with at least one frame was written, else 1 with the reason on err; report holds
// the same facts.
int RunRecord(const RecordOptions& options, QTextStream& out, QTextStream& err,
              RecordReport& report);

}  // namespace orvane::cli
