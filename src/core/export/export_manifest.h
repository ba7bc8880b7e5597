#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace orvane {

// What an export's manifest (NAME.mp4.json beside it) says: the file and the clips it was
// made from, each with its SHA-256, so that anyone can show later that none of them changed.
struct ExportManifest {
    static constexpr const char* kFormat = "orvane-export";
    static constexpr int kFormatVersion = 1;
    // A manifest is a few kilobytes; anything past this is not one.
    static constexpr qsizetype kMaxBytes = 4 << 20;
    static constexpr const char* kSuffix = ".json";

    struct Source {
        QString path;  // absolute, as it was read
        QString sha256;
        std::int64_t bytes = 0;
        std::int64_t firstFrame = 0;  // the clip's frames in the export, numbered from 0
        std::int64_t lastFrame = 0;
        // Frames the clip lists after lastFrame that its file no longer holds (cut short):
        // an export up to the clip's end lacks them. Written only when there are some.
        std::int64_t missingFrames = 0;
    };

    QString file;  // the export's file name, beside the manifest
    QString sha256;
    std::int64_t bytes = 0;
    std::int64_t frames = 0;
    QString codec;  // "h264", "mpeg4"
    bool copied = false;
    QString site;
    QString channel;
    // The first and last frame's time in the export, and the clips' offset from UTC.
    std::int64_t fromUtcMicros = 0;
    std::int64_t toUtcMicros = 0;
    std::int32_t utcOffsetSeconds = 0;
    QString version;  // Orvane's
    std::vector<Source> sources;

    // The sources' missing frames together.
    std::int64_t missingFrames() const;
    QJsonObject ToJson() const;
    QByteArray ToBytes() const;
    // nullopt with the reason when bytes are not a manifest of this format.
    static std::optional<ExportManifest> Parse(std::span<const char> bytes, QString& error);
};

// The SHA-256 of a file in lower-case hex; empty with the reason when it cannot be read.
// Stops, empty, once cancel is set. hashedBytes, when given, gets the length hashed: a clip
// still being recorded grows meanwhile, and only this length goes with the hash.
QString Sha256OfFile(const QString& path, QString& error, const std::atomic<bool>* cancel = nullptr,
                     std::int64_t* hashedBytes = nullptr);

// The check of a manifest against the files it names.
struct ManifestCheck {
    enum class State { Matches, Differs, Missing };
    struct Entry {
        QString path;
        bool source = false;  // a clip the export was made from, else the export itself
        State state = State::Missing;
    };
    QString error;  // the manifest itself cannot be read; no entries then
    std::vector<Entry> entries;

    bool passed() const;
    QJsonObject ToJson() const;
};

// Reads the manifest and hashes the export beside it and every source: at the path it names,
// else (copied elsewhere together) beside the manifest.
ManifestCheck CheckManifest(const QString& manifestPath);

}  // namespace orvane
