#pragma once

#include <QString>
#include <QTextStream>

namespace orvane::cli {

// Checks a manifest against the export beside it and its source clips: prints each file
// with "matches", "DIFFERS" or "missing" (or, with json, one object with the exit code) and
// returns 0 when every one matches, else 1 with the files that do not named on err.
int RunVerify(const QString& manifestPath, bool json, QTextStream& out, QTextStream& err);

}  // namespace orvane::cli
