#pragma once

#include <QString>
#include <QTextStream>

#include <cstdint>

namespace orvane::cli {

struct FrameOptions {
    QString clipPath;
    std::int64_t seek = 0;
    // "YYYY-MM-DD HH:MM:SS[.mmm]": show the last frame seen at or before it instead of seek,
    // read at the clip's recorded offset from UTC (local time for a clip without times).
    QString time;
    std::int64_t steps = 0;  // negative: back
    QString pngPath;
    bool progress = false;  // a progress line on err while a seek or the steps take long
};

// Opens a clip with the player's media graph, shows frame `seek` (or the frame at `time`),
// steps from it one frame at a time, saves the picture as PNG and prints "frame: P of D" and
// "time: " the frame's date and time, with the time each operation took. Returns 0 on
// success, 1 with the reason on err when the clip cannot be played, ends before `seek` or
// starts after `time`, and kFrameUsageError when `time` is no time.
inline constexpr int kFrameUsageError = 2;
int RunFrame(const FrameOptions& options, QTextStream& out, QTextStream& err);

}  // namespace orvane::cli
