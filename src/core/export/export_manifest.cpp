#include "export/export_manifest.h"

#include "common/log.h"
#include "media/frame_times.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

#include <cmath>

namespace orvane {
namespace {

constexpr qint64 kHashChunk = 1 << 20;
constexpr qsizetype kSha256HexLength = 64;
// Microseconds since 1970 fit a JSON number (a double) exactly below 2^53.
constexpr double kLargestExactInteger = 9007199254740992.0;
constexpr std::int32_t kMaxOffsetSeconds = 18 * 3600;

QString UtcText(std::int64_t utcMicros) {
    return QDateTime::fromMSecsSinceEpoch(utcMicros / 1000, Qt::UTC).toString(Qt::ISODateWithMs);
}

QString OffsetText(std::int32_t seconds) {
    const int minutes = std::abs(seconds) / 60;
    return QStringLiteral("%1%2:%3")
        .arg(seconds < 0 ? '-' : '+')
        .arg(minutes / 60, 2, 10, QChar('0'))
        .arg(minutes % 60, 2, 10, QChar('0'));
}

bool IsSha256(const QString& text) {
    if (text.size() != kSha256HexLength) {
        return false;
    }
    for (const QChar c : text) {
        if (!c.isDigit() && (c < 'a' || c > 'f')) {
            return false;
        }
    }
    return true;
}

std::optional<std::int64_t> Whole(const QJsonValue& value) {
    if (!value.isDouble()) {
        return std::nullopt;
    }
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number ||
        std::abs(number) > kLargestExactInteger) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(number);
}

// The export sits beside its manifest: its name is a plain file name, never a path.
bool IsPlainName(const QString& name) {
    return !name.isEmpty() && name != "." && name != ".." && !name.contains('/') &&
           !name.contains('\\') && !name.contains(QChar(0));
}

}  // namespace

std::int64_t ExportManifest::missingFrames() const {
    std::int64_t missing = 0;
    for (const Source& source : sources) {
        missing += source.missingFrames;
    }
    return missing;
}

QJsonObject ExportManifest::ToJson() const {
    QJsonArray clips;
    for (const Source& source : sources) {
        QJsonObject clip{{"path", source.path},
                         {"sha256", source.sha256},
                         {"bytes", double(source.bytes)},
                         {"firstFrame", double(source.firstFrame)},
                         {"lastFrame", double(source.lastFrame)}};
        if (source.missingFrames > 0) {
            clip.insert("missingFrames", double(source.missingFrames));
        }
        clips.append(clip);
    }
    return QJsonObject{
        {"format", kFormat},
        {"formatVersion", kFormatVersion},
        {"orvaneVersion", version},
        {"file", file},
        {"sha256", sha256},
        {"bytes", double(bytes)},
        {"frames", double(frames)},
        {"codec", codec},
        {"copied", copied},
        {"site", site},
        {"channel", channel},
        {"range", QJsonObject{{"fromUtc", UtcText(fromUtcMicros)},
                              {"toUtc", UtcText(toUtcMicros)},
                              {"fromUtcMicros", double(fromUtcMicros)},
                              {"toUtcMicros", double(toUtcMicros)},
                              {"utcOffset", OffsetText(utcOffsetSeconds)},
                              {"utcOffsetSeconds", utcOffsetSeconds},
                              {"from", FrameTimeText(fromUtcMicros, utcOffsetSeconds)},
                              {"to", FrameTimeText(toUtcMicros, utcOffsetSeconds)}}},
        {"sources", clips}};
}

QByteArray ExportManifest::ToBytes() const {
    return QJsonDocument(ToJson()).toJson(QJsonDocument::Indented);
}

std::optional<ExportManifest> ExportManifest::Parse(std::span<const char> bytes, QString& error) {
    auto fail = [&error](const QString& why) {
        error = why;
        return std::nullopt;
    };
    if (static_cast<qsizetype>(bytes.size()) > kMaxBytes) {
        return fail(QStringLiteral("too large for a manifest"));
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size())), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        return fail(QStringLiteral("not JSON: %1").arg(parseError.errorString()));
    }
    if (!document.isObject()) {
        return fail(QStringLiteral("not a JSON object"));
    }
    const QJsonObject root = document.object();
    if (root.value("format").toString() != QLatin1String(kFormat) ||
        root.value("formatVersion").toInt(-1) != kFormatVersion) {
        return fail(QStringLiteral("not an export manifest of format %1").arg(kFormatVersion));
    }
    ExportManifest manifest;
    manifest.file = root.value("file").toString();
    manifest.sha256 = root.value("sha256").toString();
    if (!IsPlainName(manifest.file) || !IsSha256(manifest.sha256)) {
        return fail(QStringLiteral("the export's name or SHA-256 is missing or malformed"));
    }
    const auto size = Whole(root.value("bytes"));
    const auto frames = Whole(root.value("frames"));
    const QJsonObject range = root.value("range").toObject();
    const auto from = Whole(range.value("fromUtcMicros"));
    const auto to = Whole(range.value("toUtcMicros"));
    const auto offset = Whole(range.value("utcOffsetSeconds"));
    if (!size || *size < 0 || !frames || *frames < 0 || !from || !to || *to < *from || !offset ||
        std::abs(*offset) > kMaxOffsetSeconds) {
        return fail(QStringLiteral("the size, frame count or range is missing or malformed"));
    }
    manifest.bytes = *size;
    manifest.frames = *frames;
    manifest.fromUtcMicros = *from;
    manifest.toUtcMicros = *to;
    manifest.utcOffsetSeconds = static_cast<std::int32_t>(*offset);
    manifest.codec = root.value("codec").toString();
    manifest.copied = root.value("copied").toBool();
    manifest.site = root.value("site").toString();
    manifest.channel = root.value("channel").toString();
    manifest.version = root.value("orvaneVersion").toString();
    const QJsonArray clips = root.value("sources").toArray();
    if (clips.isEmpty()) {
        return fail(QStringLiteral("no source clips"));
    }
    for (const QJsonValue& value : clips) {
        const QJsonObject clip = value.toObject();
        Source source;
        source.path = clip.value("path").toString();
        source.sha256 = clip.value("sha256").toString();
        const auto clipBytes = Whole(clip.value("bytes"));
        const auto first = Whole(clip.value("firstFrame"));
        const auto last = Whole(clip.value("lastFrame"));
        // Absent from the manifests of complete exports.
        const auto missing =
            clip.contains("missingFrames") ? Whole(clip.value("missingFrames")) : 0;
        if (source.path.isEmpty() || source.path.contains(QChar(0)) || !IsSha256(source.sha256) ||
            !clipBytes || *clipBytes < 0 || !first || !last || *first < 0 || *last < *first ||
            !missing || *missing < 0) {
            return fail(QStringLiteral("a source clip's entry is malformed"));
        }
        source.bytes = *clipBytes;
        source.firstFrame = *first;
        source.lastFrame = *last;
        source.missingFrames = *missing;
        manifest.sources.push_back(std::move(source));
    }
    return manifest;
}

QString Sha256OfFile(const QString& path, QString& error, const std::atomic<bool>* cancel,
                     std::int64_t* hashedBytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return {};
    }
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray chunk;
    std::int64_t hashed = 0;
    while (!file.atEnd()) {
        if (cancel && cancel->load()) {
            error = QStringLiteral("cancelled");
            return {};
        }
        chunk = file.read(kHashChunk);
        if (chunk.isEmpty() && file.error() != QFileDevice::NoError) {
            error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
            return {};
        }
        hash.addData(chunk);
        hashed += chunk.size();
    }
    if (hashedBytes) {
        *hashedBytes = hashed;
    }
    return QString::fromLatin1(hash.result().toHex());
}

bool ManifestCheck::passed() const {
    if (!error.isEmpty() || entries.empty()) {
        return false;
    }
    for (const Entry& entry : entries) {
        if (entry.state != State::Matches) {
            return false;
        }
    }
    return true;
}

QJsonObject ManifestCheck::ToJson() const {
    QJsonArray files;
    for (const Entry& entry : entries) {
        const char* state = entry.state == State::Matches   ? "matches"
                            : entry.state == State::Differs ? "differs"
                                                            : "missing";
        files.append(QJsonObject{
            {"path", entry.path}, {"role", entry.source ? "source" : "export"}, {"state", state}});
    }
    QJsonObject object{{"passed", passed()}, {"files", files}};
    if (!error.isEmpty()) {
        object.insert("error", error);
    }
    return object;
}

ManifestCheck CheckManifest(const QString& manifestPath) {
    ManifestCheck check;
    QFile file(manifestPath);
    if (!file.open(QIODevice::ReadOnly)) {
        check.error = QStringLiteral("cannot read %1: %2").arg(manifestPath, file.errorString());
        return check;
    }
    const QByteArray bytes = file.read(ExportManifest::kMaxBytes + 1);
    QString why;
    const auto manifest = ExportManifest::Parse(bytes, why);
    if (!manifest) {
        check.error = QStringLiteral("%1 is not an export manifest: %2").arg(manifestPath, why);
        return check;
    }
    const QDir beside = QFileInfo(manifestPath).absoluteDir();
    auto checkFile = [&check](const QString& path, const QString& sha256, bool source) {
        QString error;
        ManifestCheck::Entry entry{path, source, ManifestCheck::State::Missing};
        if (QFileInfo::exists(path)) {
            const QString actual = Sha256OfFile(path, error);
            entry.state = actual.isEmpty()   ? ManifestCheck::State::Missing
                          : actual == sha256 ? ManifestCheck::State::Matches
                                             : ManifestCheck::State::Differs;
        }
        check.entries.push_back(entry);
    };
    checkFile(beside.filePath(manifest->file), manifest->sha256, false);
    for (const auto& source : manifest->sources) {
        const QString besideManifest = beside.filePath(QFileInfo(source.path).fileName());
        const QString path = QFileInfo::exists(source.path) || !QFileInfo::exists(besideManifest)
                                 ? source.path
                                 : besideManifest;
        checkFile(path, source.sha256, true);
    }
    return check;
}

}  // namespace orvane
