#include "verify.h"

#include "export/export_manifest.h"
#include "json_text.h"

namespace orvane::cli {

int RunVerify(const QString& manifestPath, bool json, QTextStream& out, QTextStream& err) {
    const ManifestCheck check = CheckManifest(manifestPath);
    if (json) {
        out << JsonText(check.ToJson()) << Qt::flush;
    }
    if (!check.error.isEmpty()) {
        err << "orvane-cli: " << check.error << Qt::endl;
        return 1;
    }
    if (!json) {
        for (const auto& entry : check.entries) {
            const char* state = entry.state == ManifestCheck::State::Matches   ? "matches"
                                : entry.state == ManifestCheck::State::Differs ? "DIFFERS"
                                                                               : "missing";
            out << state << ": " << entry.path << (entry.source ? " (source clip)" : " (export)")
                << "\n";
        }
        out << (check.passed() ? "verified: every file matches its SHA-256"
                               : "NOT verified: a file is missing or differs")
            << Qt::endl;
    }
    return check.passed() ? 0 : 1;
}

}  // namespace orvane::cli
