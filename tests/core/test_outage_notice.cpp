// One notice per outage, whatever kind and however many things it affects.
#include "common/outage_notice.h"
#include "support/message_guard.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvane {
namespace {

TEST(OutageNotice, EachKindIsToldOnceWhenItOpensAndOnceWhenItEnds) {
    QDateTime now(QDate(2026, 12, 7), QTime(20, 0, 0));
    OutageNotice notice([&] { return now; });
    std::vector<OutageNotice::Told> told;
    QObject::connect(&notice, &OutageNotice::told,
                     [&](const OutageNotice::Told& one) { told.push_back(one); });
    {
        test::ExpectedMessage recording(QtWarningMsg, "orvane.app", "Recording failed");
        test::ExpectedMessage feed(QtWarningMsg, "orvane.app", "No video");
        notice.Report(OutageKind::Recording, "a",
                      "Cannot record into\n/x/a.avi\n\nNot a directory");
        notice.Report(OutageKind::Recording, "a", "Cannot record into /x/a-1.avi");  // counted once
        notice.Report(OutageKind::Recording, "b", "Cannot record into /x/b.avi");
        notice.Report(OutageKind::DeadFeed, "3", "channel 3");
    }
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(notice.affected(OutageKind::Recording), 2);
    EXPECT_EQ(notice.StatusText(),
              "Recording failed: 2 recordings failing since 20:00:00: Cannot record into /x/a.avi "
              "Not a directory   No video: 1 channel without video since 20:00:00: channel 3");

    now = now.addSecs(90);
    notice.Resolve(OutageKind::Recording, "a");  // b still fails: nothing is told
    notice.Withdraw(OutageKind::DeadFeed, "3");  // its window closed: over, but not recovered
    EXPECT_EQ(told.size(), 2u);
    notice.Resolve(OutageKind::Recording, "b");
    ASSERT_EQ(told.size(), 3u);
    EXPECT_TRUE(told[2].ended);
    EXPECT_EQ(notice.StatusText(),
              "Recording resumed: Writing resumed at 20:01:30 (failing since 20:00:00).");
}

// A feed is called dead a minute after its last frame: the notice dates the outage from that
// frame, and names only what still fails.
TEST(OutageNotice, DatesTheOutageFromItsFirstFailureAndNamesOnlyWhatStillFails) {
    QDateTime now(QDate(2026, 12, 7), QTime(20, 1, 0));
    OutageNotice notice([&] { return now; });
    {
        test::ExpectedMessage feed(QtWarningMsg, "orvane.app", "No video");
        notice.Report(OutageKind::DeadFeed, "3", "channel 3", now.addSecs(-60));
    }
    now = now.addSecs(30);
    notice.Report(OutageKind::DeadFeed, "7", "channel 7", now.addSecs(-60));
    notice.Resolve(OutageKind::DeadFeed, "3");
    EXPECT_EQ(notice.StatusText().toStdString(),
              "No video: 1 channel without video since 20:00:00: channel 7");
    notice.Resolve(OutageKind::DeadFeed, "7");
    EXPECT_EQ(notice.StatusText().toStdString(),
              "Video back: Video came back at 20:01:30 (gone since 20:00:00).");
}

}  // namespace
}  // namespace orvane
