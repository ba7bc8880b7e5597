#include "support/event_loop.h"
#include "support/fake_alarm_output.h"
#include "support/message_guard.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace orvane {
namespace {

using test::ExpectedMessage;

class AlarmSoundTest : public testing::Test {
  protected:
    // Once, however often the suite runs: the guard chains to the handler it replaces.
    static void SetUpTestSuite() {
        [[maybe_unused]] static const bool once = (test::InstallMessageGuard(), true);
    }

    std::unique_ptr<test::FakeAlarmOutput> owned_ = std::make_unique<test::FakeAlarmOutput>();
    test::FakeAlarmOutput* fake_ = owned_.get();
    AlarmSound alarm_{std::move(owned_)};
};

TEST_F(AlarmSoundTest, SoundsFromTheFirstCallInUntilStoppedOrBroken) {
    std::vector<bool> changes;
    QObject::connect(&alarm_, &AlarmSound::playingChanged,
                     [&](bool playing) { changes.push_back(playing); });
    alarm_.Play();
    alarm_.Play();  // a second call-in neither restarts nor stops it
    EXPECT_EQ(fake_->starts, 1);
    alarm_.Stop();
    EXPECT_EQ(fake_->stops, 1);
    alarm_.Stop();  // the command is greyed out then, but a second stop must stay harmless
    alarm_.Play();
    {  // ends playing, which turns the Stop command off
        ExpectedMessage warning(QtWarningMsg, "orvane.app", "cannot play");
        fake_->Break(QStringLiteral("cannot play qrc:/sounds/alarm.wav"));
    }
    alarm_.Play();
    EXPECT_EQ(fake_->starts, 3);
    alarm_.Stop();
    // A report that crosses Stop is nobody's concern: the guard fails the test on a warning.
    fake_->Break(QStringLiteral("the audio device stopped playing"));
    EXPECT_EQ(changes, (std::vector<bool>{true, false, true, false, true, false}));
}

TEST_F(AlarmSoundTest, RefusedStartStaysSilentWarnsOnceAndRetriesNextCallIn) {
    fake_->refusal = QStringLiteral("no audio output device");
    {
        ExpectedMessage warning(QtWarningMsg, "orvane.app", fake_->refusal);
        for (int callIn = 0; callIn < 3; ++callIn) {
            alarm_.Play();
            EXPECT_FALSE(alarm_.playing());
        }
        EXPECT_EQ(warning.seen(), 1);
    }
    EXPECT_EQ(fake_->starts, 3);
    // A device plugged in later is used by the next call-in.
    fake_->refusal.clear();
    alarm_.Play();
    EXPECT_TRUE(alarm_.playing());
}

TEST_F(AlarmSoundTest, AnUnreadableSoundEndsPlayingWithOneWarning) {
    AlarmSound real(MakeSoundEffectOutput(QUrl(QStringLiteral("qrc:/sounds/missing.wav"))));
    ExpectedMessage warning(QtWarningMsg, "orvane.app", "alarm sound unavailable");
    for (int callIn = 0; callIn < 2; ++callIn) {
        real.Play();
        EXPECT_TRUE(test::WaitUntil([&] { return !real.playing(); }, 3000));
    }
    EXPECT_EQ(warning.seen(), 1);
}

}  // namespace
}  // namespace orvane
