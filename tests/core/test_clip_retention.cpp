// Which clips go to make room or for their age.
#include "store/clip_retention.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvane {
namespace {

constexpr std::uint64_t kMB = 1 << 20;
constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kNow = 1'800'000'000;

// Clips oldest first by index, none kept, all on the volume, 10 MB each, a day apart.
std::vector<RetentionClip> Clips(int count) {
    std::vector<RetentionClip> clips;
    for (int i = 0; i < count; ++i) {
        clips.push_back({kNow - (count - i) * kDay, 10 * kMB, false, false, true});
    }
    return clips;
}

TEST(ClipRetention, ChoosesTheOldestItMayUntilTheTargetAndEveryClipPastKeepDays) {
    struct Case {
        const char* what;
        RetentionRule rule;
        std::uint64_t freeMB;
        std::vector<int> kept, inUse, offVolume;
        std::vector<std::size_t> chosen;
    };
    const RetentionRule on{true, 0, 100 * kMB, 0};
    const RetentionRule twoPeriods{true, 0, 100 * kMB, 20 * kMB};
    const Case cases[] = {
        {"off: nothing, however full", {false, 0, 100 * kMB, 0}, 0, {}, {}, {}, {}},
        {"room enough: nothing", on, 110, {}, {}, {}, {}},
        // 100 MB limit + 10 % = 110 MB: two clips of 10 MB from 95 MB.
        {"oldest first up to limit plus a tenth", on, 95, {}, {}, {}, {0, 1}},
        {"kept, in use and other volumes pass", on, 95, {0}, {1}, {2}, {3, 4}},
        // Two periods of 20 MB each outweigh the tenth: 140 MB wanted.
        {"two periods of writing when larger", twoPeriods, 95, {}, {}, {}, {0, 1, 2, 3, 4}},
        {"nothing left to delete stops", on, 0, {0, 1, 2, 3, 4, 5}, {}, {}, {}},
        {"no limit: never for room", {true, 0, 0, 0}, 0, {}, {}, {}, {}},
        // Clips are 6..1 days old: those over 3 days go even with room enough.
        {"keep days alone", {false, 3, 100 * kMB, 0}, 500, {}, {}, {}, {0, 1, 2}},
        {"keep days spares the kept", {false, 3, 100 * kMB, 0}, 500, {1}, {}, {}, {0, 2}},
        {"keep days, then room", {true, 5, 100 * kMB, 0}, 80, {}, {}, {}, {0, 1, 2}},
    };
    for (const Case& c : cases) {
        std::vector<RetentionClip> clips = Clips(6);
        for (int i : c.kept) {
            clips[static_cast<std::size_t>(i)].kept = true;
        }
        for (int i : c.inUse) {
            clips[static_cast<std::size_t>(i)].inUse = true;
        }
        for (int i : c.offVolume) {
            clips[static_cast<std::size_t>(i)].onVolume = false;
        }
        EXPECT_EQ(ChooseClipsToDelete(clips, c.rule, c.freeMB * kMB, kNow), c.chosen) << c.what;
    }
}

TEST(ClipRetention, OrderIsByStartNotByPlaceInTheIndex) {
    std::vector<RetentionClip> clips = Clips(3);
    std::swap(clips[0].start, clips[2].start);
    EXPECT_EQ(ChooseClipsToDelete(clips, {true, 0, 100 * kMB, 0}, 100 * kMB, kNow),
              std::vector<std::size_t>({2}));
}

}  // namespace
}  // namespace orvane
