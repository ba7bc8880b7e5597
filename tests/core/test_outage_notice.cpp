// One notice per outage, whatever kind and however many things it affects.
#include "common/outage_notice.h"
#include "support/message_guard.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvane {
namespace {

// A notice on a clock the test sets, and what it tells.
class OutageNoticeTest : public ::testing::Test {
  protected:
    OutageNoticeTest() {
        QObject::connect(&notice, &OutageNotice::told,
                         [this](const OutageNotice::Told& one) { told.push_back(one); });
    }
    QDateTime now{QDate(2026, 12, 7), QTime(20, 0, 0)};
    OutageNotice notice{[this] { return now; }};
    std::vector<OutageNotice::Told> told;
};

TEST_F(OutageNoticeTest, EachKindIsToldOnceWhenItOpensAndOnceWhenItEnds) {
    {
        test::ExpectedMessage recording(QtWarningMsg, "orvane.app", "Recording failed");
        test::ExpectedMessage feed(QtWarningMsg, "orvane.app", "No video");
        notice.Report(OutageKind::Recording, "a",
                      "Cannot record into\n/x/a.avi\n\nNot a directory");
        notice.Report(OutageKind::Recording, "a", "Cannot record into /x/a-1.avi");  // counted once
        notice.Report(OutageKind::Recording, "b", "Cannot record into /x/b.avi");
        // A feed is called dead a minute after its last frame: the outage dates from that frame.
        notice.Report(OutageKind::DeadFeed, "3", "channel 3", now.addSecs(-60));
    }
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(notice.StatusText(),
              "Recording failed: 2 recordings failing since 20:00:00: Cannot record into /x/a.avi "
              "Not a directory   No video: 1 channel without video since 19:59:00: channel 3");

    now = now.addSecs(90);
    notice.Resolve(OutageKind::Recording, "a");  // b still fails: nothing is told
    notice.Report(OutageKind::DeadFeed, "7", "channel 7", now.addSecs(-60));
    notice.Resolve(OutageKind::DeadFeed, "3");  // only what still fails is named
    EXPECT_EQ(told.size(), 2u);
    EXPECT_EQ(notice.StatusText().toStdString(),
              "Recording failed: 1 recording failing since 20:00:00: Cannot record into /x/b.avi   "
              "No video: 1 channel without video since 19:59:00: channel 7");
    notice.Resolve(OutageKind::DeadFeed, "7");
    notice.Withdraw(OutageKind::Recording, "b");  // its window closed: over, but not recovered
    ASSERT_EQ(told.size(), 3u);
    EXPECT_TRUE(told[2].ended);
    EXPECT_EQ(notice.StatusText(),
              "Video back: Video came back at 20:01:30 (gone since 19:59:00).");
}

// A folder removed under four recordings: each finds it at its own commit, a second or so
// after the one before, and goes on at once in a new clip. That is one outage, counting all
// four, told once and ended once; one that cannot go on stays failing and ends it when it can.
TEST_F(OutageNoticeTest, FailuresCloseTogetherAreOneOutageThoughEachResumesAtOnce) {
    {
        test::ExpectedMessage failed(QtWarningMsg, "orvane.app", "Recording failed");
        for (const QString key : {"a", "b", "c", "d"}) {
            notice.Report(OutageKind::Recording, key, "Recording cannot write to /x/" + key);
            if (key != "d") {  // d's new clip cannot start either
                notice.Resolve(OutageKind::Recording, key);
            }
            notice.Settle();
            now = now.addMSecs(400);
        }
    }
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(notice.StatusText(),
              "Recording failed: 4 recordings failing since 20:00:00: Recording cannot write to "
              "/x/a");

    now = now.addSecs(5);
    notice.Settle();  // quiet for a while: the three that write again leave it
    EXPECT_EQ(told.size(), 1u);
    EXPECT_EQ(notice.StatusText(),
              "Recording failed: 1 recording failing since 20:00:00: Recording cannot write to "
              "/x/d");
    notice.Resolve(OutageKind::Recording, "d");  // long after the last failure: told at once
    ASSERT_EQ(told.size(), 2u);
    EXPECT_EQ(notice.StatusText(),
              "Recording resumed: Writing resumed at 20:00:06 (failing since 20:00:00).");
}

}  // namespace
}  // namespace orvane
