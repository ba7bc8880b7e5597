#include "app/help_location.h"

#include <QDir>
#include <QFileInfo>

namespace orvane {

QStringList HelpIndexCandidates(const QString& programDir) {
    const QDir dir(programDir);
    return {QDir::cleanPath(dir.filePath("../share/orvane/help/index.html")),
            QDir::cleanPath(dir.filePath("../../help/index.html"))};
}

QString FindHelpIndex(const QString& programDir) {
    for (const QString& candidate : HelpIndexCandidates(programDir)) {
        if (QFileInfo(candidate).isFile()) {
            return candidate;
        }
    }
    return {};
}

}  // namespace orvane
