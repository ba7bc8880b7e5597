#include "media/frame_times.h"

#include <QRegularExpression>
#include <QTimeZone>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvane {

namespace {

void PutU32(Block& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

void PutU64(Block& out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

std::uint64_t GetLe(std::span<const std::uint8_t> bytes, std::size_t at, int size) {
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = (value << 8) | bytes[at + static_cast<std::size_t>(i)];
    }
    return value;
}

}  // namespace

Block FrameTimesChunk::Encode() const {
    Block out;
    out.reserve(DataBytes(utcMicros.size()));
    PutU32(out, kTag);
    PutU32(out, firstSample);
    PutU32(out, static_cast<std::uint32_t>(utcMicros.size()));
    PutU32(out, static_cast<std::uint32_t>(utcOffsetSeconds));
    for (const std::int64_t time : utcMicros) {
        PutU64(out, static_cast<std::uint64_t>(time));
    }
    return out;
}

std::optional<FrameTimesChunk> FrameTimesChunk::Decode(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kHeaderBytes || GetLe(bytes, 0, 4) != kTag) {
        return std::nullopt;
    }
    const auto count = static_cast<std::uint32_t>(GetLe(bytes, 8, 4));
    // Chunks are padded to an even size, so one byte more than the times may follow.
    if (count > kMaxCount || bytes.size() < DataBytes(count)) {
        return std::nullopt;
    }
    FrameTimesChunk chunk;
    chunk.firstSample = static_cast<std::uint32_t>(GetLe(bytes, 4, 4));
    chunk.utcOffsetSeconds = static_cast<std::int32_t>(GetLe(bytes, 12, 4));
    // An offset beyond any time zone's is not believed.
    if (chunk.utcOffsetSeconds < -18 * 3600 || chunk.utcOffsetSeconds > 18 * 3600) {
        return std::nullopt;
    }
    chunk.utcMicros.resize(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        chunk.utcMicros[i] =
            static_cast<std::int64_t>(GetLe(bytes, kHeaderBytes + 8 * std::size_t{i}, 8));
    }
    return chunk;
}

ClipTimeline ClipTimeline::Build(std::int64_t frameCount,
                                 const std::vector<std::optional<std::int64_t>>& recorded,
                                 std::int32_t utcOffsetSeconds, double secondsPerFrame,
                                 std::int64_t fallbackStartUtcMicros) {
    ClipTimeline timeline;
    timeline.utcOffsetSeconds_ = utcOffsetSeconds;
    if (frameCount <= 0) {
        return timeline;
    }
    const auto count = static_cast<std::size_t>(frameCount);
    const double period = secondsPerFrame > 0 && std::isfinite(secondsPerFrame)
                              ? std::min(secondsPerFrame, 3600.0)
                              : 0.5;
    const auto step = static_cast<std::int64_t>(std::llround(period * 1e6));
    const auto known = [&](std::size_t i) -> std::optional<std::int64_t> {
        return i < recorded.size() ? recorded[i] : std::nullopt;
    };

    // Where the estimate of frames before the first recorded time starts.
    std::int64_t start = fallbackStartUtcMicros;
    for (std::size_t i = 0; i < count; ++i) {
        if (const auto time = known(i)) {
            start = *time - static_cast<std::int64_t>(i) * step;
            break;
        }
    }

    timeline.times_.resize(count);
    std::int64_t previous = start - step;
    for (std::size_t i = 0; i < count; ++i) {
        std::int64_t time = previous + step;
        if (const auto given = known(i)) {
            time = *given;
            ++timeline.recordedCount_;
        }
        // A damaged or foreign time that goes back would reorder the frames: hold it.
        if (i > 0 && time < previous) {
            time = previous;
        }
        timeline.times_[i] = time;
        previous = time;
    }
    return timeline;
}

QDateTime ClipTimeline::DateTimeOf(std::int64_t frame) const {
    return QDateTime::fromMSecsSinceEpoch(TimeOf(frame) / 1000, QTimeZone(utcOffsetSeconds_));
}

std::int64_t ClipTimeline::FrameAtOrBefore(std::int64_t utcMicros) const {
    const auto after = std::upper_bound(times_.begin(), times_.end(), utcMicros);
    return static_cast<std::int64_t>(after - times_.begin()) - 1;
}

double ClipTimeline::MeanSecondsPerFrame() const {
    if (times_.size() < 2) {
        return 0.0;
    }
    return static_cast<double>(times_.back() - times_.front()) / 1e6 /
           static_cast<double>(times_.size() - 1);
}

QString FrameTimeText(std::int64_t utcMicros, std::int32_t utcOffsetSeconds) {
    const auto millis = utcMicros >= 0 ? utcMicros / 1000 : (utcMicros - 999) / 1000;
    return QDateTime::fromMSecsSinceEpoch(millis, QTimeZone(utcOffsetSeconds))
        .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

std::optional<std::int64_t> ParseFrameTime(const QString& text,
                                           std::optional<std::int32_t> utcOffsetSeconds) {
    static const QRegularExpression pattern(QStringLiteral(
        R"(^\s*(\d{4})-(\d{2})-(\d{2})[ T](\d{2}):(\d{2}):(\d{2})(?:\.(\d{1,3}))?\s*$)"));
    const auto match = pattern.match(text);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    const QDate date(match.captured(1).toInt(), match.captured(2).toInt(),
                     match.captured(3).toInt());
    QString fraction = match.captured(7);
    const int millis = fraction.isEmpty() ? 0 : fraction.leftJustified(3, u'0').toInt();
    const QTime time(match.captured(4).toInt(), match.captured(5).toInt(),
                     match.captured(6).toInt(), millis);
    if (!date.isValid() || !time.isValid()) {
        return std::nullopt;
    }
    const QDateTime moment = utcOffsetSeconds ? QDateTime(date, time, QTimeZone(*utcOffsetSeconds))
                                              : QDateTime(date, time);
    if (!moment.isValid()) {
        return std::nullopt;
    }
    return moment.toMSecsSinceEpoch() * 1000;
}

}  // namespace orvane
