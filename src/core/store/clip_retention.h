#pragma once

#include <cstdint>
#include <vector>

namespace orvane {

// One clip as the retention sees it.
struct RetentionClip {
    std::int64_t start = 0;   // seconds since the epoch; ties keep the order given
    std::uint64_t bytes = 0;  // what removing its files gives back
    bool kept = false;        // marked "Keep" by the operator
    bool inUse = false;       // being recorded, played or exported
    bool onVolume = true;     // on the record folder's volume
};

// When clips go to make room, and how old they may grow.
struct RetentionRule {
    bool deleteOldest = false;   // "DeleteOldClips"
    std::uint32_t keepDays = 0;  // "KeepDays"; 0 keeps them for ever
    std::uint64_t limitBytes = 0;
    // What the volume lost between the last two checks: the running recordings' writes of
    // one check period.
    std::uint64_t periodFallBytes = 0;
};

// The free space deleting old clips restores: the limit plus the larger of a tenth of it and
// two check periods of writing, so that the next checks still find room.
std::uint64_t RetentionTarget(const RetentionRule& rule);

// Which clips go, as indices into clips, in the order they are to be deleted: first every
// clip older than keepDays, then, while deleting old clips is on and free space stays below
// the target, the oldest that are left on the record volume. A clip marked "Keep" or in use
// never goes.
std::vector<std::size_t> ChooseClipsToDelete(const std::vector<RetentionClip>& clips,
                                             const RetentionRule& rule, std::uint64_t freeBytes,
                                             std::int64_t now);

}  // namespace orvane
