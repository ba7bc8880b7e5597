#include "frame.h"

#include "media/clip_packets.h"
#include "media/frame_times.h"
#include "media/media_graph.h"
#include "progress.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdint>
#include <optional>

namespace orvane::cli {
namespace {

double Milliseconds(const QElapsedTimer& clock) {
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

// A seek decodes every frame from the key frame at or before the target. With a progress
// line it goes there in a hundred stops within that group of pictures: the graph decodes on
// from where it stands, so the stops cost nothing extra and show how far it has come.
bool SeekShowingProgress(MediaGraph& graph, const ClipPackets& packets, std::int64_t target,
                         ProgressLine& progress) {
    const std::int64_t key = packets.KeyAtOrBefore(target);
    const std::int64_t work = target - key;
    const std::int64_t stride = std::max<std::int64_t>(1, work / 100);
    for (std::int64_t stop = key + stride; stop < target; stop += stride) {
        if (!graph.SetPositions(stop)) {
            return false;
        }
        progress.Show(
            QStringLiteral("seeking to frame %1: %2%").arg(target).arg((stop - key) * 100 / work));
    }
    return graph.SetPositions(target);
}

}  // namespace

int RunFrame(const FrameOptions& options, QTextStream& out, QTextStream& err) {
    ProgressLine progress(err, options.progress);
    auto fail = [&](const QString& reason) {
        progress.Clear();
        err << "orvane-cli: " << reason << Qt::endl;
        return 1;
    };
    QElapsedTimer clock;
    clock.start();
    QString error;
    const auto graph = MediaGraph::RenderFile(options.clipPath, error);
    if (!graph) {
        return fail(error);
    }
    // The frames' times and key frames, from the clip's index.
    const auto packets = ClipPackets::Open(options.clipPath, error);
    if (!packets) {
        return fail(error);
    }
    const ClipTimeline& timeline = packets->timeline();
    out << "open: " << QString::number(Milliseconds(clock), 'f', 1) << " ms" << Qt::endl;

    const std::int64_t duration = graph->Duration();
    std::int64_t seek = options.seek;
    if (!options.time.isEmpty()) {
        // Typed as the clip shows its times: at its recorded offset, else in local time.
        const auto offset = timeline.recordedCount() > 0
                                ? std::optional<std::int32_t>(timeline.utcOffsetSeconds())
                                : std::nullopt;
        const auto moment = ParseFrameTime(options.time, offset);
        if (!moment) {
            fail(QStringLiteral("--time must be YYYY-MM-DD HH:MM:SS[.mmm]"));
            return kFrameUsageError;
        }
        // A time names its whole millisecond, as times are shown: the time printed for a
        // frame (its microseconds dropped) finds that frame again.
        seek = timeline.FrameAtOrBefore(*moment + 999);
        if (seek < 0) {
            return fail(QStringLiteral("the clip starts at %1, after %2")
                            .arg(FrameTimeText(timeline.TimeOf(0), timeline.utcOffsetSeconds()),
                                 options.time.trimmed()));
        }
    }
    // Frames are counted from 0, so the last is duration - 1. The player's own position
    // duration (a clip played to its end) shows no frame of its own: it is no frame to ask for.
    if (seek >= duration) {
        // Known only once the clip is open: this clip is too short, as a clip that starts
        // after --time is too late.
        return fail(
            QStringLiteral("the clip has %1 frames: --seek %2 lies beyond its end (0 to %3)")
                .arg(duration)
                .arg(seek)
                .arg(duration - 1));
    }
    clock.restart();
    progress.Restart();
    const bool shown = progress.enabled() ? SeekShowingProgress(*graph, *packets, seek, progress)
                                          : graph->SetPositions(seek);
    if (!shown) {
        return fail(QStringLiteral("cannot show frame %1").arg(seek));
    }
    progress.Clear();
    progress.Restart();
    out << "seek: " << QString::number(Milliseconds(clock), 'f', 1) << " ms" << Qt::endl;

    // Stepping as the player does: one positioning per frame, stopping at either end.
    const std::int64_t direction = options.steps < 0 ? -1 : 1;
    // The most negative step has no positive counterpart; no clip is that long anyway.
    const std::int64_t count =
        options.steps < 0 ? -std::max(options.steps, -INT64_MAX) : options.steps;
    std::int64_t taken = 0;
    double total = 0;
    double slowest = 0;
    for (std::int64_t i = 0; i < count; ++i) {
        const std::int64_t next = graph->CurrentPosition() + direction;
        if (next < 0 || next >= duration) {  // the last frame is duration - 1, as for --seek
            break;
        }
        clock.restart();
        if (!graph->SetPositions(next)) {
            return fail(QStringLiteral("cannot show frame %1").arg(next));
        }
        const double ms = Milliseconds(clock);
        total += ms;
        slowest = std::max(slowest, ms);
        ++taken;
        progress.Show(QStringLiteral("step %1 of %2").arg(taken).arg(count));
    }
    progress.Clear();
    if (taken > 0) {
        out << "steps: " << taken << (direction < 0 ? " back" : " forward") << ", total "
            << QString::number(total, 'f', 1) << " ms, average "
            << QString::number(total / static_cast<double>(taken), 'f', 2) << " ms, slowest "
            << QString::number(slowest, 'f', 1) << " ms" << Qt::endl;
    }

    if (!options.pngPath.isEmpty()) {
        if (graph->currentPicture().isNull() ||
            !graph->currentPicture().save(options.pngPath, "PNG")) {
            return fail(QStringLiteral("cannot write %1").arg(options.pngPath));
        }
    }
    const std::int64_t position = graph->CurrentPosition();
    out << "frame: " << position << " of " << duration << Qt::endl;
    // At the end of the clip the last frame stays on screen.
    const std::int64_t shownFrame =
        std::clamp<std::int64_t>(position, 0, timeline.frameCount() - 1);
    if (timeline.frameCount() > 0) {
        out << "time: " << FrameTimeText(timeline.TimeOf(shownFrame), timeline.utcOffsetSeconds())
            << Qt::endl;
    }
    return 0;
}

}  // namespace orvane::cli
