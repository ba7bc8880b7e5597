#pragma once

#include <QString>
#include <QStringList>
#include <QTextStream>

#include <optional>

namespace orvane::cli {

struct ExportOptions {
    QStringList clips;  // one channel's, in the order they were recorded
    QString out;
    QString from;  // "YYYY-MM-DD HH:MM:SS[.mmm]" at the clips' UTC offset; empty: open
    QString to;
    bool json = false;      // the result (or the error) as one JSON object on out
    bool progress = false;  // a progress line on err
};

// Exports the clips to one MP4 file and its manifest beside it, as the player's "Export..."
// does. Prints the file, the manifest, the frame count and the range (or, with json, the
// manifest with the file's and manifest's paths). Returns 0 when written, 1 with the reason
// on err when not (an existing --out is never replaced), kExportUsageError for a time that
// cannot be read.
inline constexpr int kExportUsageError = 2;
int RunExport(const ExportOptions& options, QTextStream& out, QTextStream& err);

}  // namespace orvane::cli
