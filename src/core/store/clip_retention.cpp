#include "store/clip_retention.h"

#include <algorithm>
#include <numeric>

namespace orvane {

std::uint64_t RetentionTarget(const RetentionRule& rule) {
    return rule.limitBytes + std::max(rule.limitBytes / 10, 2 * rule.periodFallBytes);
}

std::vector<std::size_t> ChooseClipsToDelete(const std::vector<RetentionClip>& clips,
                                             const RetentionRule& rule, std::uint64_t freeBytes,
                                             std::int64_t now) {
    std::vector<std::size_t> order(clips.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return clips[a].start < clips[b].start; });
    std::vector<std::size_t> chosen;
    std::vector<bool> taken(clips.size(), false);
    const auto take = [&](std::size_t i) {
        chosen.push_back(i);
        taken[i] = true;
        if (clips[i].onVolume) {
            freeBytes += clips[i].bytes;
        }
    };
    const auto deletable = [&](std::size_t i) { return !clips[i].kept && !clips[i].inUse; };
    if (rule.keepDays > 0) {
        const std::int64_t oldest = now - static_cast<std::int64_t>(rule.keepDays) * 86400;
        for (const std::size_t i : order) {
            if (clips[i].start < oldest && deletable(i)) {
                take(i);
            }
        }
    }
    if (rule.deleteOldest && rule.limitBytes > 0) {
        const std::uint64_t target = RetentionTarget(rule);
        for (const std::size_t i : order) {
            if (freeBytes >= target) {
                break;
            }
            if (!taken[i] && clips[i].onVolume && deletable(i)) {
                take(i);
            }
        }
    }
    return chosen;
}

}  // namespace orvane
