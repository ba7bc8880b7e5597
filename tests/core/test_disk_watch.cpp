#include "common/disk_space.h"
#include "common/disk_watch.h"
#include "store/settings.h"
#include "support/temp_store.h"

#include <QStorageInfo>

#include <gtest/gtest.h>

#include <sys/statvfs.h>

namespace orvane {
namespace {

using Action = DiskWatch::TickAction;

TEST(DiskWatch, BelowTheLimitWarnsOnceThenOnlyBlinks) {
    DiskWatch exact(50, 10);
    EXPECT_EQ(exact.Tick(50), Action::None);  // strictly less is low
    EXPECT_FALSE(exact.ShowsLowIcon());

    DiskWatch watch(50, 10);
    EXPECT_EQ(watch.Tick(49), Action::ShowWarning);
    EXPECT_TRUE(watch.ShowsLowIcon());
    const bool firstPhase = watch.LowIconBright();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(watch.Tick(49), Action::None);
        EXPECT_TRUE(watch.ShowsLowIcon());
        EXPECT_EQ(watch.LowIconBright(), i % 2 == 0 ? !firstPhase : firstPhase);
    }
}

TEST(DiskWatch, SpaceComingBackHidesTheIconButOnlyOptionsReArmTheWarning) {
    DiskWatch watch(50, 10);
    ASSERT_EQ(watch.Tick(10), Action::ShowWarning);
    EXPECT_EQ(watch.Tick(500), Action::None);
    EXPECT_FALSE(watch.ShowsLowIcon());
    EXPECT_TRUE(watch.warned());
    // Low again: the lamp, but no second message.
    EXPECT_EQ(watch.Tick(10), Action::None);
    EXPECT_TRUE(watch.ShowsLowIcon());

    watch.ApplyOptions(50, 20);
    EXPECT_FALSE(watch.warned());
    EXPECT_EQ(watch.checkSeconds(), 20u);
    EXPECT_EQ(watch.periodMs(), 20000u);
    EXPECT_EQ(watch.Tick(10), Action::ShowWarning);
}

TEST(DiskWatch, ALimitOfZeroChecksNothing) {
    DiskWatch watch(0, 10);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(watch.Tick(0), Action::None);
        EXPECT_FALSE(watch.low());
        EXPECT_FALSE(watch.blink());
    }
    EXPECT_FALSE(watch.warned());
}

TEST(DiskWatch, SwitchingTheCheckOffPutsOutALitIndicator) {
    DiskWatch watch(50, 10);
    ASSERT_EQ(watch.Tick(1), Action::ShowWarning);
    watch.Tick(1);
    ASSERT_TRUE(watch.ShowsLowIcon());
    watch.ApplyOptions(0, 10);
    EXPECT_FALSE(watch.ShowsLowIcon());
    EXPECT_EQ(watch.Tick(1), Action::None);
    EXPECT_FALSE(watch.ShowsLowIcon());
}

TEST(DiskWatch, AVolumeThatCannotBeReadCountsAsLow) {
    const FreeSpace nothing = QueryFreeSpace("");
    EXPECT_EQ(nothing.freeMB, 0u);
    EXPECT_EQ(GetFreeDiskMB(""), 0u);
    DiskWatch watch(1, 10);
    EXPECT_EQ(watch.Tick(nothing.freeMB), Action::ShowWarning);
}

TEST(DiskWatch, StatusTextNamesTheMountPoint) {
    EXPECT_EQ(DiskWatch::StatusText(1234, "/home"), "1234 MB Free on /home");
    // Unsigned all the way, as the count is.
    EXPECT_EQ(DiskWatch::StatusText(4294967295u, "/srv"), "4294967295 MB Free on /srv");
}

class DiskWatchSettings : public testing::Test {
  protected:
    test::TempStore temp;
    Settings settings{std::move(*KeyStore::Open(temp.path()).store)};
};

TEST_F(DiskWatchSettings, InitialValuesFallBackOutsideTheirRanges) {
    const DiskWatch fresh = DiskWatch::FromSettings(settings);
    EXPECT_EQ(fresh.limitMB(), 50u);
    EXPECT_EQ(fresh.checkSeconds(), 10u);
    EXPECT_FALSE(fresh.warned() || fresh.low() || fresh.blink());

    struct Case {
        std::int32_t limit, period;
        std::uint32_t wantLimit, wantPeriod;
    };
    for (const Case& c : {Case{0, 0, 50, 10}, Case{1, 1, 1, 1}, Case{9999, 300, 9999, 300},
                          Case{10000, 301, 50, 10}, Case{-1, -7, 50, 10}}) {
        settings.SetSetting(SettingId::LimitDiskSpace, c.limit);
        settings.SetSetting(SettingId::CheckTimer, c.period);
        const DiskWatch watch = DiskWatch::FromSettings(settings);
        EXPECT_EQ(watch.limitMB(), c.wantLimit) << c.limit;
        EXPECT_EQ(watch.checkSeconds(), c.wantPeriod) << c.period;
    }
}

std::uint64_t StatvfsFreeMB(const std::string& path) {
    struct statvfs fs {};
    if (::statvfs(path.c_str(), &fs) != 0) {
        return 0;
    }
    return (static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize) >> 20;
}

TEST_F(DiskWatchSettings, AFolderNotYetMadeReadsTheVolumeItWillBeMadeOn) {
    const std::string folder = temp.folder();
    const FreeSpace here = QueryFreeSpace(folder);
    const FreeSpace later = QueryFreeSpace(folder + "/not/made/yet");
    const std::string root = QStorageInfo(QString::fromStdString(folder)).rootPath().toStdString();
    EXPECT_EQ(here.mountPoint, root);
    EXPECT_EQ(later.mountPoint, root);
    // Others write to the disk meanwhile: the readings need only agree roughly.
    const auto expected = static_cast<double>(StatvfsFreeMB(folder));
    EXPECT_NEAR(static_cast<double>(here.freeMB), expected, 64.0);
    EXPECT_NEAR(static_cast<double>(later.freeMB), expected, 64.0);
    EXPECT_GT(here.freeMB, 0u);
}

}  // namespace
}  // namespace orvane
