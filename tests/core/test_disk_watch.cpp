#include "common/disk_space.h"
#include "store/disk_watch.h"
#include "store/settings.h"
#include "support/temp_store.h"

#include <QStorageInfo>

#include <gtest/gtest.h>

#include <array>

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
}

TEST(DiskWatch, StartsFromTheStoredValuesOrTheirFallbacks) {
    const test::TempStore temp;
    Settings settings{std::move(*KeyStore::Open(temp.path()).store)};
    // A stored 0 switched the check off for one run only; the next run checks at 50 MB.
    for (const auto [limit, period, wantLimit, wantPeriod] :
         {std::array{0, 0, 50, 10}, std::array{9999, 300, 9999, 300}}) {
        settings.SetSetting(SettingId::LimitDiskSpace, limit);
        settings.SetSetting(SettingId::CheckTimer, period);
        const DiskWatch watch = DiskWatch::FromSettings(settings);
        EXPECT_EQ(watch.limitMB(), std::uint32_t(wantLimit));
        EXPECT_EQ(watch.checkSeconds(), std::uint32_t(wantPeriod));
    }
    // Unsigned all the way, as the count is.
    EXPECT_EQ(DiskWatch::StatusText(4294967295u, "/srv"), "4294967295 MB Free on /srv");
}

TEST(DiskSpace, AFolderNotYetMadeReadsTheVolumeItWillBeMadeOn) {
    const test::TempStore temp;
    const std::string folder = temp.folder();
    struct statvfs fs {};
    ASSERT_EQ(::statvfs(folder.c_str(), &fs), 0);
    const auto expected = double((std::uint64_t(fs.f_bavail) * fs.f_frsize) >> 20);
    const std::string root = QStorageInfo(QString::fromStdString(folder)).rootPath().toStdString();
    for (const std::string& path : {folder, folder + "/not/made/yet"}) {
        const FreeSpace space = QueryFreeSpace(path);
        EXPECT_EQ(space.mountPoint, root) << path;
        // Others write to the disk meanwhile: the readings need only agree roughly.
        EXPECT_NEAR(double(space.freeMB), expected, 64.0) << path;
    }
    // Nothing to read counts as no space at all, which warns.
    EXPECT_EQ(QueryFreeSpace("").freeMB, 0u);
}

}  // namespace
}  // namespace orvane
