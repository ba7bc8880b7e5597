// Room on the disk: the low-space check, the volumes offered as roots of the record folder tree,
// and which clips go to make room or for their age.
#include "common/volumes.h"
#include "store/clip_retention.h"
#include "store/disk_watch.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace orvane {
namespace {

using Action = DiskWatch::TickAction;

TEST(DiskWatch, BelowTheLimitWarnsOnceThenBlinksUntilOptionsReArmOrSwitchItOff) {
    DiskWatch watch(50, 10);
    EXPECT_EQ(watch.Tick(50), Action::None);  // strictly less is low
    EXPECT_EQ(watch.Tick(49), Action::ShowWarning);
    // Already marked as given: ticks while the message is still open ask for nothing.
    const bool firstPhase = watch.LowIconBright();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(watch.Tick(49), Action::None);
        EXPECT_TRUE(watch.ShowsLowIcon());
        EXPECT_EQ(watch.LowIconBright(), i % 2 == 0 ? !firstPhase : firstPhase);
    }

    // Space coming back puts the lamp out; low again lights it, but gives no second message.
    EXPECT_EQ(watch.Tick(500), Action::None);
    EXPECT_FALSE(watch.ShowsLowIcon());
    EXPECT_EQ(watch.Tick(10), Action::None);
    EXPECT_TRUE(watch.ShowsLowIcon());

    watch.ApplyOptions(50, 20);
    EXPECT_EQ(watch.Tick(10), Action::ShowWarning);

    // A limit of 0 checks nothing, and puts out the lamp the last check left lit.
    watch.ApplyOptions(0, 10);
    EXPECT_FALSE(watch.ShowsLowIcon());
    EXPECT_EQ(watch.Tick(1), Action::None);
    EXPECT_FALSE(watch.ShowsLowIcon());
    // Unsigned all the way, as the count is.
    EXPECT_EQ(DiskWatch::StatusText(4294967295u, "/srv"), "4294967295 MB Free on /srv");
}

TEST(RecordableRoots, KeepsDisksAndNetworkSharesAndDropsWhatNoOneRecordsOnto) {
    const std::vector<MountedVolume> mounted = {
        {"/srv/share", "nfs4", "server:/export", true},
        {"/proc", "proc", "proc", true},
        {"/home", "ext4", "/dev/sda3", true},
        {"/media/op/DVD", "iso9660", "/dev/sr0", true},
        {"/run", "tmpfs", "tmpfs", true},
        {"/var/lib/docker/overlay2/x/merged", "overlay", "overlay", true},
        {"/mnt/ram", "tmpfs", "tmpfs", true},
        {"/home/op/scratch", "tmpfs", "tmpfs", true},
        {"/homeless", "tmpfs", "tmpfs", true},  // beside the home, not in it
        {"/", "ext4", "/dev/sda1", true},
        {"/mnt/remote", "fuse.sshfs", "op@cam:/clips", true},
        {"/mnt/usb", "vfat", "/dev/sdb1", false},
        {"/home", "ext4", "/dev/sda3", true},  // mounted over itself: listed once
    };
    const std::vector<VolumeRoot> expected = {
        {"/", false},        {"/home", false},      {"/home/op/scratch", false},
        {"/mnt/ram", false}, {"/mnt/remote", true}, {"/srv/share", true}};
    EXPECT_EQ(RecordableRoots(mounted, "/home/op"), expected);
    // A folder is held by the root that is its longest prefix of whole components.
    EXPECT_EQ(RootHolding(expected, "/home/op/scratch/day1/"), 2);
    EXPECT_EQ(RootHolding(expected, "/homeless/rec"), 0);
    EXPECT_EQ(RootHolding({{"/mnt/", false}}, "/mnt"), 0);
    EXPECT_EQ(RootHolding(expected, "relative/rec/"), -1);

    // A home of "/" would let every system tmpfs in.
    EXPECT_TRUE(RecordableRoots({{"/run", "tmpfs", "tmpfs", true}}, "/").empty());
    // A container or live system runs from an overlay root; that is still the disk.
    EXPECT_EQ(RecordableRoots({{"/", "overlay", "overlay", true}}, "/root"),
              (std::vector<VolumeRoot>{{"/", false}}));
}

constexpr std::uint64_t kMB = 1 << 20;
constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kNow = 1'800'000'000;

// Clips oldest first by index, all 10 MB, a day apart, as marked: 'k' kept, 'u' in use,
// 'o' on another volume, 'n' started now (out of the index's order).
std::vector<RetentionClip> Clips(std::string_view marks) {
    std::vector<RetentionClip> clips;
    const auto count = static_cast<std::int64_t>(marks.size());
    for (std::int64_t i = 0; i < count; ++i) {
        const char mark = marks[static_cast<std::size_t>(i)];
        clips.push_back({mark == 'n' ? kNow : kNow - (count - i) * kDay, 10 * kMB, mark == 'k',
                         mark == 'u', mark != 'o'});
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
    const RetentionRule periods{true, 0, 100 * kMB, 20 * kMB};
    const RetentionRule daysOnly{false, 3, 100 * kMB, 0};
    const Case cases[] = {
        {"off: nothing, however full", {false, 0, 100 * kMB, 0}, 0, "......", {}},
        {"room enough: nothing", on, 110, "......", {}},
        // 100 MB limit + 10 % = 110 MB: two clips of 10 MB from 95 MB.
        {"oldest first up to limit plus a tenth", on, 95, "......", {0, 1}},
        {"kept, in use and other volumes pass", on, 95, "kuo...", {3, 4}},
        // Two periods of 20 MB each outweigh the tenth: 140 MB wanted.
        {"two periods of writing when larger", periods, 95, "......", {0, 1, 2, 3, 4}},
        {"nothing left to delete stops", on, 0, "kkkkkk", {}},
        {"no limit: never for room", {true, 0, 0, 0}, 0, "......", {}},
        // Clips are 6..1 days old: those over 3 days go even with room enough.
        {"keep days alone", daysOnly, 500, "......", {0, 1, 2}},
        {"keep days spares the kept", daysOnly, 500, ".k....", {0, 2}},
        {"keep days, then room", {true, 5, 100 * kMB, 0}, 80, "......", {0, 1, 2}},
        {"by start, not by place in the index", on, 100, "n..", {1}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseClipsToDelete(Clips(c.marks), c.rule, c.freeMB * kMB, kNow), c.chosen)
            << c.what;
    }
}

}  // namespace
}  // namespace orvane
