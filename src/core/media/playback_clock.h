#pragma once

#include "media/frame_times.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace orvane {

// When each frame of a clip is due when it plays at x1, in microseconds after the first:
// the pace its frames arrived at. A burst (frames that came together after a delay on the
// way) is spread out, but no frame moves more than one frame interval from its own time;
// a gap longer than kGapMicros (the site sent nothing) is kept exactly.
class PlaybackSchedule {
  public:
    static constexpr std::int64_t kGapMicros = 500'000;

    PlaybackSchedule() = default;
    // declaredSecondsPerFrame: how long the last frame stays when the times do not tell
    // (a clip of one frame, or one whose every interval is a gap).
    PlaybackSchedule(const ClipTimeline& timeline, double declaredSecondsPerFrame);

    std::int64_t frameCount() const { return static_cast<std::int64_t>(due_.size()) - 1; }
    // position in [0, frameCount()]; frameCount() is when the last frame has had its time.
    std::int64_t DueAt(std::int64_t position) const {
        return due_[static_cast<std::size_t>(position)];
    }
    // The last position due at or before micros.
    std::int64_t PositionAt(std::int64_t micros) const;

  private:
    std::vector<std::int64_t> due_{0};
};

// Playing a schedule on from a position at a rate against a clock: which position is due
// now and how long until the next one. The clock is the caller's (steady microseconds), so
// that pacing can be checked without waiting.
class PlaybackClock {
  public:
    using Now = std::function<std::int64_t()>;
    // A clock on std::chrono::steady_clock.
    static Now SteadyMicros();

    PlaybackClock(const PlaybackSchedule& schedule, Now now);

    void Start(std::int64_t from, double rate);
    // The last position due by now, never before the one started from.
    std::int64_t DuePosition() const;
    // Microseconds of the clock from now until position is due; 0 or less when it is.
    std::int64_t MicrosUntil(std::int64_t position) const;

  private:
    const PlaybackSchedule& schedule_;
    Now now_;
    std::int64_t from_ = 0;
    double rate_ = 1.0;
    std::int64_t startedAt_ = 0;
};

}  // namespace orvane
