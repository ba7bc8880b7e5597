#include "verify.h"

#include "export/export_manifest.h"
#include "json_text.h"

#include <QStringList>

namespace orvane::cli {
namespace {

// Why a check failed, in one line: the manifest that cannot be read, or each file that is not
// as the manifest says.
QString FailureOf(const ManifestCheck& check) {
    if (!check.error.isEmpty()) {
        return check.error;
    }
    QStringList files;
    for (const auto& entry : check.entries) {
        if (entry.state != ManifestCheck::State::Matches) {
            files << entry.path + (entry.state == ManifestCheck::State::Differs
                                       ? QStringLiteral(" differs")
                                       : QStringLiteral(" is missing"));
        }
    }
    return "not verified: " + files.join(", ");
}

}  // namespace

int RunVerify(const QString& manifestPath, bool json, QTextStream& out, QTextStream& err) {
    const ManifestCheck check = CheckManifest(manifestPath);
    const int code = check.passed() ? 0 : 1;
    // A failed check is told as every failure is: on stderr, and in the object's error.
    const QString failure = code == 0 ? QString() : FailureOf(check);
    if (json) {
        QJsonObject object = check.ToJson();
        if (!failure.isEmpty()) {
            object.insert("error", failure);
        }
        object.insert("exitCode", code);
        out << JsonText(object) << Qt::flush;
    } else if (check.error.isEmpty()) {
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
    if (!failure.isEmpty()) {
        err << "orvane-cli: " << failure << Qt::endl;
    }
    return code;
}

}  // namespace orvane::cli
