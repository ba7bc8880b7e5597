#include "media/playback_clock.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace orvane {

namespace {

// Longer than this between two frames is not believed (a damaged or foreign time): the
// picture stands a day at most, and the sums below cannot overflow.
constexpr std::int64_t kMaxIntervalMicros = 24LL * 3600 * 1'000'000;

std::int64_t Interval(std::int64_t from, std::int64_t to) {
    std::int64_t interval = 0;
    if (__builtin_sub_overflow(to, from, &interval) || interval > kMaxIntervalMicros) {
        return kMaxIntervalMicros;
    }
    return std::max<std::int64_t>(interval, 0);
}

}  // namespace

PlaybackSchedule::PlaybackSchedule(const ClipTimeline& timeline, double declaredSecondsPerFrame) {
    const std::int64_t count = timeline.frameCount();
    if (count <= 0) {
        return;
    }
    // The interval a burst is spread over: the mean of the ones that are not gaps.
    std::int64_t steady = 0;
    std::int64_t steadyCount = 0;
    for (std::int64_t i = 1; i < count; ++i) {
        const std::int64_t interval = Interval(timeline.TimeOf(i - 1), timeline.TimeOf(i));
        if (interval <= kGapMicros) {
            steady += interval;
            ++steadyCount;
        }
    }
    const std::int64_t spread = steadyCount > 0 ? steady / steadyCount : 0;
    std::vector<std::int64_t> due(static_cast<std::size_t>(count) + 1, 0);
    std::int64_t seen = 0;  // when frame i was seen, after the first
    for (std::int64_t i = 1; i < count; ++i) {
        const std::int64_t gap = Interval(timeline.TimeOf(i - 1), timeline.TimeOf(i));
        seen += gap;
        const std::int64_t previous = due[static_cast<std::size_t>(i - 1)];
        due[static_cast<std::size_t>(i)] =
            gap > kGapMicros ? previous + gap : std::clamp(previous + spread, seen, seen + spread);
    }
    const double declared = declaredSecondsPerFrame > 0 && std::isfinite(declaredSecondsPerFrame)
                                ? std::min(declaredSecondsPerFrame, 3600.0)
                                : 0.5;
    const std::int64_t lastStays =
        spread > 0 ? spread : static_cast<std::int64_t>(std::llround(declared * 1e6));
    due.back() = due[static_cast<std::size_t>(count - 1)] + lastStays;
    due_ = std::move(due);
}

std::int64_t PlaybackSchedule::PositionAt(std::int64_t micros) const {
    const auto after = std::upper_bound(due_.begin(), due_.end(), micros);
    return std::max<std::int64_t>(0, static_cast<std::int64_t>(after - due_.begin()) - 1);
}

PlaybackClock::Now PlaybackClock::SteadyMicros() {
    return [] {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    };
}

PlaybackClock::PlaybackClock(const PlaybackSchedule& schedule, Now now)
    : schedule_(schedule), now_(std::move(now)) {}

void PlaybackClock::Start(std::int64_t from, double rate) {
    from_ = std::clamp<std::int64_t>(from, 0, schedule_.frameCount());
    rate_ = rate > 0 ? rate : 1.0;
    startedAt_ = now_();
}

std::int64_t PlaybackClock::DuePosition() const {
    const double played = static_cast<double>(now_() - startedAt_) * rate_;
    const auto at = schedule_.DueAt(from_) + static_cast<std::int64_t>(std::floor(played));
    return std::max(from_, schedule_.PositionAt(at));
}

std::int64_t PlaybackClock::MicrosUntil(std::int64_t position) const {
    const double ahead = static_cast<double>(schedule_.DueAt(position) - schedule_.DueAt(from_));
    return static_cast<std::int64_t>(std::ceil(ahead / rate_)) - (now_() - startedAt_);
}

}  // namespace orvane
