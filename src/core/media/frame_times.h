#pragma once

#include "common/block.h"

#include <QDateTime>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace orvane {

// When each frame of a clip was seen. A recording writes the times of the samples of each
// commit into the same 'movi' list, in a 'JUNK' chunk just before the commit's standard index
// chunk, so a clip cut off anywhere keeps the times of exactly the frames it keeps, and any
// reader that does not know the chunk skips it as padding. The chunk's data, little-endian:
//
//   'OVTM'                      4 bytes
//   first sample number         u32, counted from 0 over the whole clip
//   sample count                u32
//   UTC offset                  i32 seconds east of UTC, of the clip's local time
//   count sample times          i64 each, microseconds since 1970-01-01 00:00 UTC
//
// A commit with no new samples writes none.
struct FrameTimesChunk {
    static constexpr std::uint32_t kTag = 0x4D54564F;  // 'OVTM'
    static constexpr std::size_t kHeaderBytes = 16;
    // A chunk larger than this is not believed: a standard index holds at most this many
    // samples too.
    static constexpr std::uint32_t kMaxCount = 1u << 20;

    std::uint32_t firstSample = 0;
    std::int32_t utcOffsetSeconds = 0;
    std::vector<std::int64_t> utcMicros;

    // The chunk's data (without the 'JUNK' header).
    Block Encode() const;
    // nullopt unless bytes start with the tag and hold exactly the count's times.
    static std::optional<FrameTimesChunk> Decode(std::span<const std::uint8_t> bytes);
    // The chunk's data size for count samples.
    static std::size_t DataBytes(std::size_t count) { return kHeaderBytes + 8 * count; }
};

// The time of every frame of one clip, in UTC microseconds: as recorded, or for a clip
// recorded before times were kept (and for frames found past its last recorded time),
// estimated from the last known time and the clip's declared rate. Times never go back.
class ClipTimeline {
  public:
    ClipTimeline() = default;
    // Times of frameCount frames: recorded[i] when present, else estimated. The estimate of
    // a frame before any recorded time counts back from the first one; a clip with no
    // recorded time at all starts at fallbackStartUtcMicros.
    static ClipTimeline Build(std::int64_t frameCount,
                              const std::vector<std::optional<std::int64_t>>& recorded,
                              std::int32_t utcOffsetSeconds, double secondsPerFrame,
                              std::int64_t fallbackStartUtcMicros);

    std::int64_t frameCount() const { return static_cast<std::int64_t>(times_.size()); }
    // True when every frame's time was recorded with it.
    bool recorded() const { return recordedCount_ == frameCount() && frameCount() > 0; }
    std::int64_t recordedCount() const { return recordedCount_; }
    std::int32_t utcOffsetSeconds() const { return utcOffsetSeconds_; }

    // frame in [0, frameCount()).
    std::int64_t TimeOf(std::int64_t frame) const {
        return times_[static_cast<std::size_t>(frame)];
    }
    // The frame's time as a date and time at the clip's UTC offset.
    QDateTime DateTimeOf(std::int64_t frame) const;
    // The last frame seen at or before the moment; -1 when the clip starts after it.
    std::int64_t FrameAtOrBefore(std::int64_t utcMicros) const;
    // Seconds from the first frame to the last divided by the intervals: the mean rate's
    // period; 0 with fewer than two frames.
    double MeanSecondsPerFrame() const;

  private:
    std::vector<std::int64_t> times_;
    std::int64_t recordedCount_ = 0;
    std::int32_t utcOffsetSeconds_ = 0;
};

// "yyyy-MM-dd hh:mm:ss.zzz" of a moment at an offset: how a frame's time is shown and typed.
QString FrameTimeText(std::int64_t utcMicros, std::int32_t utcOffsetSeconds);
// Reads "YYYY-MM-DD HH:MM:SS[.mmm]" in the given offset (local time when offset is nullopt);
// nullopt when it is not such a time.
std::optional<std::int64_t> ParseFrameTime(const QString& text,
                                           std::optional<std::int32_t> utcOffsetSeconds);
// A time typed to the millisecond names that whole millisecond, as a frame's time is shown
// cut to it: the last microsecond of it, so that "at or before" and a range's end take the
// frames shown with that very time.
constexpr std::int64_t EndOfTypedMillisecond(std::int64_t utcMicros) {
    return utcMicros + 999;
}

}  // namespace orvane
