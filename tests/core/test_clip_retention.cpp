// Which clips go to make room or for their age.
#include "store/clip_retention.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace orvane {
namespace {

constexpr std::uint64_t kMB = 1 << 20;
constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kNow = 1'800'000'000;

// Clips oldest first by index, all 10 MB, a day apart, as marked: 'k' kept, 'u' in use,
// 'o' on another volume.
std::vector<RetentionClip> Clips(std::string_view marks) {
    std::vector<RetentionClip> clips;
    const auto count = static_cast<std::int64_t>(marks.size());
    for (std::int64_t i = 0; i < count; ++i) {
        const char mark = marks[static_cast<std::size_t>(i)];
        clips.push_back(
            {kNow - (count - i) * kDay, 10 * kMB, mark == 'k', mark == 'u', mark != 'o'});
    }
    return clips;
}

TEST(ClipRetention, ChoosesTheOldestItMayUntilTheTargetAndEveryClipPastKeepDays) {
    struct Case {
        const char* what;
        RetentionRule rule;
        std::uint64_t freeMB;
        const char* marks;
        std::vector<std::size_t> chosen;
    };
    const RetentionRule on{true, 0, 100 * kMB, 0};
    const Case cases[] = {
        {"off: nothing, however full", {false, 0, 100 * kMB, 0}, 0, "......", {}},
        {"room enough: nothing", on, 110, "......", {}},
        // 100 MB limit + 10 % = 110 MB: two clips of 10 MB from 95 MB.
        {"oldest first up to limit plus a tenth", on, 95, "......", {0, 1}},
        {"kept, in use and other volumes pass", on, 95, "kuo...", {3, 4}},
        // Two periods of 20 MB each outweigh the tenth: 140 MB wanted.
        {"two periods of writing when larger",
         {true, 0, 100 * kMB, 20 * kMB},
         95,
         "......",
         {0, 1, 2, 3, 4}},
        {"nothing left to delete stops", on, 0, "kkkkkk", {}},
        {"no limit: never for room", {true, 0, 0, 0}, 0, "......", {}},
        // Clips are 6..1 days old: those over 3 days go even with room enough.
        {"keep days alone", {false, 3, 100 * kMB, 0}, 500, "......", {0, 1, 2}},
        {"keep days spares the kept", {false, 3, 100 * kMB, 0}, 500, ".k....", {0, 2}},
        {"keep days, then room", {true, 5, 100 * kMB, 0}, 80, "......", {0, 1, 2}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseClipsToDelete(Clips(c.marks), c.rule, c.freeMB * kMB, kNow), c.chosen)
            << c.what;
    }
}

TEST(ClipRetention, OrderIsByStartNotByPlaceInTheIndex) {
    std::vector<RetentionClip> clips = Clips("...");
    std::swap(clips[0].start, clips[2].start);
    EXPECT_EQ(ChooseClipsToDelete(clips, {true, 0, 100 * kMB, 0}, 100 * kMB, kNow),
              std::vector<std::size_t>({2}));
}

}  // namespace
}  // namespace orvane
