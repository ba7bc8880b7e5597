#include "support/event_loop.h"
#include "support/fake_alarm_output.h"
#include "support/message_guard.h"

#include <QAudioDevice>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMediaDevices>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
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

// The real back end on whatever this machine has: no device on build servers, one on a desk.
TEST_F(AlarmSoundTest, TheRealOutputFollowsTheDevice) {
    AlarmSound real;
    ExpectedMessage warning(QtWarningMsg, "orvane.app", "alarm sound unavailable",
                            ExpectedMessage::Occurrence::Optional);
    real.Play();
    const bool device = !QMediaDevices::defaultAudioOutput().isNull();
    EXPECT_EQ(real.playing(), device);

    // Loading finishes on another thread; whatever it reports must leave a consistent state.
    test::Pump(300);
    EXPECT_EQ(real.playing(), device && warning.seen() == 0);
    real.Play();
    EXPECT_LE(warning.seen(), 1);
    real.Stop();
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

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(AlarmSoundFile, IsASmallMonoPcmWaveThatLoopsWithoutAClick) {
    const QByteArray bytes = ReadAll(QStringLiteral(":/sounds/alarm.wav"));
    ASSERT_TRUE(bytes.size() > 44 && bytes.size() < 40 * 1024) << bytes.size();
    const auto u16 = [&](qsizetype at) { return qFromLittleEndian<quint16>(bytes.data() + at); };
    const auto u32 = [&](qsizetype at) { return qFromLittleEndian<quint32>(bytes.data() + at); };
    // The plain 44-byte header: RIFF size, a 16-byte PCM format chunk, then the data chunk.
    EXPECT_EQ(bytes.left(4) + bytes.mid(8, 8) + bytes.mid(36, 4), "RIFFWAVEfmt data");
    EXPECT_EQ(u32(4), quint32(bytes.size() - 8));
    ASSERT_EQ((std::array{u16(20), u16(22), u16(34)}), (std::array<quint16, 3>{1, 1, 16}));
    ASSERT_EQ(u32(40), quint32(bytes.size() - 44));  // PCM, mono, 16 bits, then the samples
    const quint32 rate = u32(24);
    EXPECT_TRUE(rate >= 8000 && rate <= 22050) << rate;

    const qsizetype samples = (bytes.size() - 44) / 2;
    EXPECT_TRUE(samples > rate / 2 && samples < rate * 2) << samples << " samples";
    const auto level = [&](qsizetype i) { return std::abs(qint16(u16(44 + 2 * i))) / 32768.0; };
    EXPECT_LT(level(0), 0.01);
    EXPECT_LT(level(samples - 1), 0.01);
    double peak = 0;
    for (qsizetype i = 0; i < samples; ++i) {
        peak = std::max(peak, level(i));
    }
    EXPECT_GT(peak, 0.25) << "an alarm nobody hears";
    EXPECT_LT(peak, 0.99) << "clipped";
}

TEST(AlarmSoundFile, IsExactlyWhatTheGeneratorMakes) {
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty()) {
        GTEST_SKIP() << "python3 not installed";
    }
    const QDir root = QFileInfo(QStringLiteral(__FILE__)).dir().filePath(QStringLiteral("../.."));
    const QString generator = root.filePath(QStringLiteral("scripts/make-alarm-sound"));
    QTemporaryDir dir;
    const QString made = dir.filePath(QStringLiteral("alarm.wav"));
    QProcess run;
    run.start(python, {generator, made});
    ASSERT_TRUE(run.waitForFinished(30000));
    ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
    EXPECT_TRUE(ReadAll(made) == ReadAll(QStringLiteral(":/sounds/alarm.wav")));
}

}  // namespace
}  // namespace orvane
