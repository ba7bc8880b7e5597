// When a channel's picture stops passing for live: the mark, its text and the outage notice,
// decided on a clock the test moves.
#include "site/feed_watch.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

using std::chrono::seconds;

const QDateTime kLastFrame(QDate(2026, 12, 6), QTime(14, 3, 22));

TEST(FeedWatch, TheMarkAndTheOutageFollowTheStillnessTheLinkAndTheNextFrame) {
    FeedTime now{std::chrono::steady_clock::time_point(std::chrono::hours(1)), kLastFrame};
    auto later = [&](seconds by) {
        now.steady += by;
        now.wall = now.wall.addSecs(by.count());
        return now;
    };
    FeedWatch feed;
    // Before any frame there is no picture that could pass for live.
    EXPECT_FALSE(feed.Check(later(seconds(30))).markChanged);
    now.wall = kLastFrame;
    EXPECT_FALSE(feed.Frame(now).markChanged);

    const char* const since = "No video since 14:03:22";
    struct Step {
        const char* what;
        seconds by;
        enum { Check, Frame, LinkDown } event;
        const char* mark;
        bool markChanged, begins, ends;
    } const steps[] = {
        {"still 4 s: live", seconds(4), Step::Check, "", false, false, false},
        {"still 5 s: dead", seconds(1), Step::Check, since, true, false, false},
        {"same mark: nothing new", seconds(50), Step::Check, since, false, false, false},
        {"a minute: the outage", seconds(5), Step::Check, since, false, true, false},
        {"told once", seconds(30), Step::Check, since, false, false, false},
        {"past midnight: with the date", seconds(36000), Step::Check,
         "No video since 2026/12/06 14:03:22", true, false, false},
        {"the next frame clears both", seconds(1), Step::Frame, "", true, false, true},
        {"the link goes: dead at once", seconds(0), Step::LinkDown, "No video since 00:04:53", true,
         false, false},
        {"back with the next frame, no outage to end", seconds(2), Step::Frame, "", true, false,
         false},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        const FeedTime at = later(step.by);
        const FeedWatch::Update update = step.event == Step::Check   ? feed.Check(at)
                                         : step.event == Step::Frame ? feed.Frame(at)
                                                                     : feed.LinkDown(at);
        EXPECT_EQ(feed.mark(), QString::fromLatin1(step.mark));
        EXPECT_EQ(update.markChanged, step.markChanged);
        EXPECT_EQ(update.outageBegins, step.begins);
        EXPECT_EQ(update.outageEnds, step.ends);
    }
    // Stillness is measured on the steady clock: a wall clock set back revives nothing.
    feed.Frame(now);
    now.steady += seconds(6);
    now.wall = now.wall.addSecs(-3600);
    feed.Check(now);
    EXPECT_TRUE(feed.dead());
}

TEST(FeedWatch, OutageTexts) {
    const QDateTime today(QDate(2026, 12, 6), QTime(15, 0));
    EXPECT_EQ(FeedOutageText({3, FeedOutage::Change::Dead, kLastFrame}, today),
              "Channel 0003: no video since 14:03:22");
    EXPECT_EQ(FeedOutageText({3, FeedOutage::Change::Dead, kLastFrame}, today.addDays(1)),
              "Channel 0003: no video since 2026/12/06 14:03:22");
    EXPECT_EQ(FeedOutageText({12, FeedOutage::Change::Back, kLastFrame}, today),
              "Channel 0012: video is back");
}

}  // namespace
}  // namespace orvane
