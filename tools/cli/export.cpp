#include "export.h"

#include "export/clip_export.h"
#include "json_text.h"
#include "media/clip_packets.h"
#include "media/frame_times.h"
#include "progress.h"
#include "store/clip_index.h"
#include "store/key_store.h"
#include "store/store_location.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <vector>

namespace orvane::cli {
namespace {

// A clip's file name ends in its channel's number, four digits, before any "-N" suffix.
QString ChannelOfClip(const QString& path) {
    static const QRegularExpression name(QStringLiteral("^\\d{14}(\\d{4})(-\\d+)?\\.avi$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const auto match = name.match(QFileInfo(path).fileName());
    return match.hasMatch() ? QStringLiteral("channel %1").arg(match.captured(1).toInt())
                            : QString();
}

// The site the clip was recorded from, as its index entry names it; empty for a clip the index
// does not list (copied from elsewhere) or whose entry is older than the site's value.
QString SiteOfClip(const QString& path) {
    auto opened = KeyStore::OpenReadOnly(KeyStorePath());
    if (!opened.store) {
        return {};
    }
    std::vector<ClipRecord> records;
    ClipIndex(*opened.store, {}).LoadClipRecords(records);
    const QFileInfo clip(path);
    const auto entry = std::find_if(records.begin(), records.end(), [&](const ClipRecord& record) {
        return record.fileName == clip.fileName() &&
               QFileInfo(record.path + record.fileName).absoluteFilePath() ==
                   clip.absoluteFilePath();
    });
    return entry == records.end() ? QString() : entry->site;
}

}  // namespace

int RunExport(const ExportOptions& options, QTextStream& out, QTextStream& err) {
    ProgressLine progress(err, options.progress);
    auto fail = [&](const QString& reason) {
        const int code = 1;
        progress.Clear();
        err << "orvane-cli: " << reason << Qt::endl;
        if (options.json) {
            out << JsonText({{"error", reason}, {"exitCode", code}}) << Qt::flush;
        }
        return code;
    };
    if (QFileInfo::exists(options.out)) {
        return fail(QStringLiteral("%1 exists already; it is never replaced").arg(options.out));
    }
    ExportRequest request;
    for (const QString& clip : options.clips) {
        request.clips.push_back(clip);
    }
    request.target = options.out;
    request.site = SiteOfClip(options.clips.front());
    request.channel = ChannelOfClip(options.clips.front());
    // Times are typed as the clips show them: at the offset they were recorded at.
    if (!options.from.isEmpty() || !options.to.isEmpty()) {
        QString error;
        const auto first = ClipPackets::Open(options.clips.front(), error);
        if (!first) {
            return fail(error);
        }
        const std::int32_t offset = first->timeline().utcOffsetSeconds();
        for (const auto& [text, target] : {std::pair{options.from, &request.fromUtcMicros},
                                           std::pair{options.to, &request.toUtcMicros}}) {
            if (text.isEmpty()) {
                continue;
            }
            *target = ParseFrameTime(text, offset);
            if (!*target) {
                return kExportUsageError;  // the caller names the usage
            }
        }
        if (request.toUtcMicros) {
            request.toUtcMicros = EndOfTypedMillisecond(*request.toUtcMicros);
        }
    }
    ExportControl control;
    control.progress = [&progress](std::int64_t done, std::int64_t total) {
        progress.Show(QStringLiteral("exporting: frame %1 of %2").arg(done).arg(total));
    };
    const ExportResult result = ExportClips(request, control);
    progress.Clear();
    if (!result.done()) {
        return fail(result.error);
    }
    if (options.json) {
        QJsonObject object = result.ToJson();
        object.insert("exitCode", 0);  // as a failure's object has it
        out << JsonText(object) << Qt::flush;
        return 0;
    }
    const ExportManifest& manifest = result.manifest;
    out << "export: " << result.file << "\n"
        << "manifest: " << result.manifestFile << "\n"
        << "frames: " << manifest.frames << " (" << manifest.codec
        << (manifest.copied ? ", copied" : ", encoded again") << ")\n"
        << "from: " << FrameTimeText(manifest.fromUtcMicros, manifest.utcOffsetSeconds) << "\n"
        << "to: " << FrameTimeText(manifest.toUtcMicros, manifest.utcOffsetSeconds) << "\n";
    if (const std::int64_t missing = manifest.missingFrames(); missing > 0) {
        out << "missing: " << missing
            << " frames the clips list but their files no longer hold (cut short or damaged)\n";
    }
    out << Qt::flush;
    return 0;
}

}  // namespace orvane::cli
