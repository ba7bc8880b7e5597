#include "frame.h"

#include "media/media_graph.h"

#include <QElapsedTimer>

#include <algorithm>

namespace orvane::cli {
namespace {

double Milliseconds(const QElapsedTimer& clock) {
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

}  // namespace

int RunFrame(const FrameOptions& options, QTextStream& out, QTextStream& err) {
    QElapsedTimer clock;
    clock.start();
    QString error;
    const auto graph = MediaGraph::RenderFile(options.clipPath, error);
    if (!graph) {
        err << "orvane-cli: " << error << Qt::endl;
        return 1;
    }
    out << "open: " << QString::number(Milliseconds(clock), 'f', 1) << " ms" << Qt::endl;

    const std::int64_t duration = graph->Duration();
    if (options.seek < 0 || options.seek > duration) {
        err << "orvane-cli: --seek must be 0 to " << duration << Qt::endl;
        return 1;
    }
    clock.restart();
    if (!graph->SetPositions(options.seek)) {
        err << "orvane-cli: cannot show frame " << options.seek << Qt::endl;
        return 1;
    }
    out << "seek: " << QString::number(Milliseconds(clock), 'f', 1) << " ms" << Qt::endl;

    // Stepping as the player does: one positioning per frame, stopping at either end.
    const std::int64_t direction = options.steps < 0 ? -1 : 1;
    std::int64_t taken = 0;
    double total = 0;
    double slowest = 0;
    for (std::int64_t i = 0; i < std::abs(options.steps); ++i) {
        const std::int64_t next = graph->CurrentPosition() + direction;
        if (next < 0 || next > duration) {
            break;
        }
        clock.restart();
        if (!graph->SetPositions(next)) {
            err << "orvane-cli: cannot show frame " << next << Qt::endl;
            return 1;
        }
        const double ms = Milliseconds(clock);
        total += ms;
        slowest = std::max(slowest, ms);
        ++taken;
    }
    if (taken > 0) {
        out << "steps: " << taken << (direction < 0 ? " back" : " forward") << ", total "
            << QString::number(total, 'f', 1) << " ms, average "
            << QString::number(total / static_cast<double>(taken), 'f', 2) << " ms, slowest "
            << QString::number(slowest, 'f', 1) << " ms" << Qt::endl;
    }

    if (!options.pngPath.isEmpty()) {
        if (graph->currentPicture().isNull() ||
            !graph->currentPicture().save(options.pngPath, "PNG")) {
            err << "orvane-cli: cannot write " << options.pngPath << Qt::endl;
            return 1;
        }
    }
    out << "frame: " << graph->CurrentPosition() << " of " << duration << Qt::endl;
    return 0;
}

}  // namespace orvane::cli
