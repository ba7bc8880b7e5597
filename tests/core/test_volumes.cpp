// The volumes offered as roots of the record folder tree.
#include "common/volumes.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(RecordableRoots, KeepsDisksAndNetworkSharesAndDropsWhatNoOneRecordsOnto) {
    const std::vector<MountedVolume> mounted = {
        {"/srv/share", "nfs4", "server:/export", true},
        {"/proc", "proc", "proc", true},
        {"/sys/fs/cgroup", "tmpfs", "tmpfs", true},
        {"/home", "ext4", "/dev/sda3", true},
        {"/sys/fs/cgroup/unified", "cgroup2", "cgroup2", true},
        {"/dev", "devtmpfs", "devtmpfs", true},
        {"/media/op/DVD", "iso9660", "/dev/sr0", true},
        {"/media/op/BD", "udf", "/dev/sr1", true},
        {"/run", "tmpfs", "tmpfs", true},
        {"/dev/shm", "tmpfs", "tmpfs", true},
        {"/snap/core/1", "squashfs", "/dev/loop0", true},
        {"/var/lib/docker/overlay2/x/merged", "overlay", "overlay", true},
        {"/mnt/ram", "tmpfs", "tmpfs", true},
        {"/home/op/scratch", "tmpfs", "tmpfs", true},
        {"/homeless", "tmpfs", "tmpfs", true},  // beside the home, not in it
        {"/", "ext4", "/dev/sda1", true},
        {"/mnt/office", "cifs", "//office/clips", true},
        {"/mnt/remote", "fuse.sshfs", "op@cam:/clips", true},
        {"/mnt/usb", "vfat", "/dev/sdb1", false},
        {"/home", "ext4", "/dev/sda3", true},  // mounted over itself: listed once
    };
    const std::vector<VolumeRoot> expected = {
        {"/", false},          {"/home", false},    {"/home/op/scratch", false},
        {"/mnt/office", true}, {"/mnt/ram", false}, {"/mnt/remote", true},
        {"/srv/share", true},
    };
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
    EXPECT_EQ(RootHolding(roots, "/home/op/rec/day1/"), 2);
    EXPECT_EQ(RootHolding(roots, "/home/op/rec"), 2);
    EXPECT_EQ(RootHolding(roots, "/home/op/record/"), 1);
    EXPECT_EQ(RootHolding(roots, "/homeless/"), 0);
    EXPECT_EQ(RootHolding(roots, "/mnt/a/"), 3);
    EXPECT_EQ(RootHolding(roots, "/mnt"), 3);
    EXPECT_EQ(RootHolding(roots, "/"), 0);
    EXPECT_EQ(RootHolding({{"/home", false}}, "/var/rec/"), -1);
    EXPECT_EQ(RootHolding({{"/home", false}}, "relative/rec/"), -1);
    EXPECT_EQ(RootHolding({}, "/"), -1);
}

TEST(RecordableRoots, ThisMachineOffersItsRootFirstAndNoKernelFileSystems) {
    const std::vector<VolumeRoot> roots = LocalRecordableRoots();
    ASSERT_FALSE(roots.empty());
    EXPECT_EQ(roots.front().rootPath, "/");
    for (const VolumeRoot& root : roots) {
        EXPECT_FALSE(root.rootPath.starts_with("/proc")) << root.rootPath;
        EXPECT_FALSE(root.rootPath.starts_with("/sys")) << root.rootPath;
    }
}

}  // namespace
}  // namespace orvane
