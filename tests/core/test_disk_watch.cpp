// Room on the disk: the low-space check, the free space of a record folder, the volumes offered
// as roots of the record folder tree, and which clips go to make room or for their age.
#include "common/disk_space.h"
#include "common/volumes.h"
#include "store/clip_retention.h"
#include "store/disk_watch.h"
#include "support/temp_store.h"

#include <QStorageInfo>

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include <sys/statvfs.h>

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

TEST(DiskSpace, AFolderNotYetMadeReadsTheVolumeItWillBeMadeOn) {
    const test::TempStore temp;
    struct statvfs fs {};
    ASSERT_EQ(::statvfs(temp.folder().c_str(), &fs), 0);
    const auto expected = double((std::uint64_t(fs.f_bavail) * fs.f_frsize) >> 20);
    const std::string root =
        QStorageInfo(QString::fromStdString(temp.folder())).rootPath().toStdString();
    for (const std::string& path : {temp.folder(), temp.folder() + "/not/made/yet"}) {
        const FreeSpace space = QueryFreeSpace(path);
        EXPECT_EQ(space.mountPoint, root) << path;
        // Others write to the disk meanwhile: the readings need only agree roughly.
        EXPECT_NEAR(double(space.freeMB), expected, 64.0) << path;
    }
    // Nothing to read counts as no space at all, which warns.
    EXPECT_EQ(QueryFreeSpace("").freeMB, 0u);
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

    // A home of "/" would let every system tmpfs in.
    EXPECT_TRUE(RecordableRoots({{"/run", "tmpfs", "tmpfs", true}}, "/").empty());
    // A container or live system runs from an overlay root; that is still the disk.
    EXPECT_EQ(RecordableRoots({{"/", "overlay", "overlay", true}}, "/root"),
              (std::vector<VolumeRoot>{{"/", false}}));
}

TEST(RecordableRoots, TheRootHoldingAFolderIsTheLongestWholeComponentPrefix) {
    const std::vector<VolumeRoot> roots = {
        {"/", false}, {"/home", false}, {"/home/op/rec", false}, {"/mnt/", false}};
    for (const auto& [folder, root] :
         {std::pair{"/home/op/rec/day1/", 2}, std::pair{"/home/op/rec", 2},
          std::pair{"/home/op/record/", 1}, std::pair{"/homeless/", 0}, std::pair{"/mnt/a/", 3},
          std::pair{"/mnt", 3}, std::pair{"/", 0}}) {
        EXPECT_EQ(RootHolding(roots, folder), root) << folder;
    }
    EXPECT_EQ(RootHolding({{"/home", false}}, "/var/rec/"), -1);
    EXPECT_EQ(RootHolding({{"/home", false}}, "relative/rec/"), -1);
    EXPECT_EQ(RootHolding({}, "/"), -1);
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
