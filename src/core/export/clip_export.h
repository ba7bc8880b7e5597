#pragma once

#include "export/export_manifest.h"

#include <QJsonObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace orvane {

// What to export: clips of one channel, in the order they were recorded, into one MP4 file.
struct ExportRequest {
    std::vector<QString> clips;  // each as the clip index names it: folder and file name
    QString target;              // the MP4 file
    // Frames seen in [from, to] (UTC microseconds); either end open when absent. The export
    // starts at the last key frame at or before the first such frame, so that its first
    // frame decodes on its own whether the frames are copied or encoded again.
    std::optional<std::int64_t> fromUtcMicros;
    std::optional<std::int64_t> toUtcMicros;
    // From this frame of the first clip on instead (a player's current frame): its time is
    // the range's start.
    std::optional<std::int64_t> fromFrame;
    QString site;  // the file's title is "site channel"
    QString channel;
    // The operator agreed to replace an existing target (and its manifest); without it an
    // existing file is never touched.
    bool replace = false;
    // False encodes with MPEG-4 part 2 even where the H.264 encoder is installed.
    bool preferH264 = true;
};

// How the caller follows and stops an export that runs on its thread.
struct ExportControl {
    // Frames done out of total: now and then (every percent), and at the end; on the
    // exporting thread.
    std::function<void(std::int64_t done, std::int64_t total)> progress;
    const std::atomic<bool>* cancel = nullptr;  // set by anyone: the export stops soon after
};

struct ExportResult {
    enum class Outcome { Done, Cancelled, Failed };
    Outcome outcome = Outcome::Failed;
    QString error;  // why it failed
    QString file;   // the MP4 file and its manifest, once done
    QString manifestFile;
    ExportManifest manifest;  // once done

    bool done() const { return outcome == Outcome::Done; }
    QJsonObject ToJson() const;
};

// Writes the clips' frames in the range to request.target, copying MPEG-4 part 2 and H.264
// frames as they are and encoding every other codec (and clips that differ in codec or size)
// again, then the manifest beside it. Each frame's timestamp is its time. The file is written
// as target + ".part" and renamed when complete: a cancelled or failed export leaves nothing.
// A second export to the same target while one runs is refused.
// Runs on the caller's thread and reads and writes files all along: never the GUI thread.
ExportResult ExportClips(const ExportRequest& request, const ExportControl& control = {});

// The files an export of target writes.
QString ExportPartPath(const QString& target);
QString ExportManifestPath(const QString& target);
// Held while an export of target runs.
QString ExportLockPath(const QString& target);

}  // namespace orvane
