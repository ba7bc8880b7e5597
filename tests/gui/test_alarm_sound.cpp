#include "app/alarm_sound.h"

#include "support/event_loop.h"
#include "support/message_guard.h"

#include <QAudioDevice>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMediaDevices>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

namespace orvane {
namespace {

using test::ExpectedMessage;

// Counts what the alarm was asked to do; the test keeps a pointer while the alarm owns it.
class FakeOutput : public AlarmOutput {
  public:
    QString Start() override {
        ++starts;
        sounding = refusal.isEmpty();
        return refusal;
    }
    void Stop() override { sounding = false; }
    // The device giving up after a successful start.
    void Break(const QString& reason) {
        sounding = false;
        ReportFailure(reason);
    }

    int starts = 0;
    bool sounding = false;
    QString refusal;
};

class AlarmSoundTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        static const bool guarded = [] {
            test::InstallMessageGuard();
            return true;
        }();
        (void)guarded;
    }

    AlarmSoundTest() {
        auto output = std::make_unique<FakeOutput>();
        fake_ = output.get();
        alarm_ = std::make_unique<AlarmSound>(std::move(output));
    }

    FakeOutput* fake_;
    std::unique_ptr<AlarmSound> alarm_;
};

TEST_F(AlarmSoundTest, SecondCallInNeitherRestartsNorStops) {
    QSignalSpy changes(alarm_.get(), &AlarmSound::playingChanged);
    alarm_->Play();
    alarm_->Play();
    EXPECT_EQ(fake_->starts, 1);
    EXPECT_TRUE(fake_->sounding);
    EXPECT_TRUE(alarm_->playing());
    ASSERT_EQ(changes.count(), 1);
    EXPECT_TRUE(changes.at(0).at(0).toBool());
}

TEST_F(AlarmSoundTest, StopSilencesAndPlayStartsAgain) {
    QSignalSpy changes(alarm_.get(), &AlarmSound::playingChanged);
    alarm_->Play();
    alarm_->Stop();
    EXPECT_FALSE(alarm_->playing());
    EXPECT_FALSE(fake_->sounding);
    alarm_->Stop();  // the command is greyed out then, but a second stop must stay harmless
    alarm_->Play();
    EXPECT_EQ(fake_->starts, 2);
    EXPECT_TRUE(alarm_->playing());
    ASSERT_EQ(changes.count(), 3);
    EXPECT_FALSE(changes.at(1).at(0).toBool());
}

TEST_F(AlarmSoundTest, RefusedStartStaysSilentWarnsOnceAndRetriesNextCallIn) {
    fake_->refusal = QStringLiteral("no audio output device");
    QSignalSpy changes(alarm_.get(), &AlarmSound::playingChanged);
    {
        ExpectedMessage warning(QtWarningMsg, "orvane.app", fake_->refusal,
                                ExpectedMessage::Occurrence::Optional);
        for (int callIn = 0; callIn < 3; ++callIn) {
            alarm_->Play();
            EXPECT_FALSE(alarm_->playing());
        }
        EXPECT_EQ(warning.seen(), 1);
    }
    EXPECT_EQ(fake_->starts, 3);
    EXPECT_EQ(changes.count(), 0);

    // A device plugged in later is used by the next call-in.
    fake_->refusal.clear();
    alarm_->Play();
    EXPECT_TRUE(alarm_->playing());
}

TEST_F(AlarmSoundTest, LaterFailureTurnsTheStopCommandOff) {
    alarm_->Play();
    QSignalSpy changes(alarm_.get(), &AlarmSound::playingChanged);
    {
        ExpectedMessage warning(QtWarningMsg, "orvane.app", "cannot play");
        fake_->Break(QStringLiteral("cannot play qrc:/sounds/alarm.wav"));
    }
    EXPECT_FALSE(alarm_->playing());
    ASSERT_EQ(changes.count(), 1);
    EXPECT_FALSE(changes.at(0).at(0).toBool());
    alarm_->Play();
    EXPECT_EQ(fake_->starts, 2);
}

TEST_F(AlarmSoundTest, FailureReportedAfterStopIsIgnored) {
    alarm_->Play();
    alarm_->Stop();
    QSignalSpy changes(alarm_.get(), &AlarmSound::playingChanged);
    fake_->Break(QStringLiteral("the audio device stopped playing"));  // the guard fails a warning
    EXPECT_FALSE(alarm_->playing());
    EXPECT_EQ(changes.count(), 0);
}

// The real back end on whatever this machine has: no device on build servers, one on a desk.
class RealAlarmSoundTest : public AlarmSoundTest {
  protected:
    static bool HasDevice() { return !QMediaDevices::defaultAudioOutput().isNull(); }
};

TEST_F(RealAlarmSoundTest, PlayReturnsPromptlyAndFollowsTheDevice) {
    AlarmSound alarm;
    ExpectedMessage warning(QtWarningMsg, "orvane.app", "alarm sound unavailable",
                            ExpectedMessage::Occurrence::Optional);
    // Run alone, this is the program's first look at the audio system, the slowest Play.
    QElapsedTimer clock;
    clock.start();
    alarm.Play();
    const double playMs = clock.nsecsElapsed() / 1e6;
    const bool device = HasDevice();
    std::printf("Play() took %.3f ms (audio device: %s)\n", playMs, device ? "yes" : "none");
    EXPECT_LT(playMs, 100.0);
    EXPECT_EQ(alarm.playing(), device);

    // Loading finishes on another thread; whatever it reports must leave a consistent state.
    test::Pump(300);
    EXPECT_EQ(alarm.playing(), device && warning.seen() == 0);
    alarm.Play();
    alarm.Stop();
    EXPECT_FALSE(alarm.playing());
    alarm.Play();
    EXPECT_LE(warning.seen(), 1);
    alarm.Stop();
}

TEST_F(RealAlarmSoundTest, UnreadableSoundEndsPlayingWithOneWarning) {
    AlarmSound alarm(MakeSoundEffectOutput(QUrl(QStringLiteral("qrc:/sounds/missing.wav"))));
    ExpectedMessage warning(QtWarningMsg, "orvane.app", "alarm sound unavailable");
    alarm.Play();
    EXPECT_TRUE(test::WaitUntil([&] { return !alarm.playing(); }, 3000));
    alarm.Play();
    test::WaitUntil([&] { return !alarm.playing(); }, 3000);
    EXPECT_EQ(warning.seen(), 1);
}

struct WaveFile {
    quint16 format = 0;
    quint16 channels = 0;
    quint32 rate = 0;
    quint16 bits = 0;
    QByteArray data;
};

// Walks the RIFF chunks; an empty result for anything that is not a well-formed wave file.
std::optional<WaveFile> ParseWave(const QByteArray& bytes) {
    if (bytes.size() < 12 || !bytes.startsWith("RIFF") || bytes.mid(8, 4) != "WAVE" ||
        qFromLittleEndian<quint32>(bytes.constData() + 4) != quint32(bytes.size() - 8)) {
        return std::nullopt;
    }
    WaveFile wave;
    bool haveFormat = false;
    for (qsizetype at = 12; at + 8 <= bytes.size();) {
        const QByteArray id = bytes.mid(at, 4);
        const quint32 size = qFromLittleEndian<quint32>(bytes.constData() + at + 4);
        const qsizetype body = at + 8;
        if (body + qsizetype(size) > bytes.size()) {
            return std::nullopt;
        }
        if (id == "fmt " && size >= 16) {
            const char* f = bytes.constData() + body;
            wave.format = qFromLittleEndian<quint16>(f);
            wave.channels = qFromLittleEndian<quint16>(f + 2);
            wave.rate = qFromLittleEndian<quint32>(f + 4);
            wave.bits = qFromLittleEndian<quint16>(f + 14);
            haveFormat = true;
        } else if (id == "data") {
            wave.data = bytes.mid(body, size);
        }
        at = body + size + (size & 1);
    }
    if (!haveFormat || wave.data.isEmpty()) {
        return std::nullopt;
    }
    return wave;
}

// A sample scaled to -1..1 (8-bit wave samples are unsigned, 16-bit ones signed).
double Sample(const WaveFile& wave, qsizetype index) {
    if (wave.bits == 8) {
        return (quint8(wave.data[index]) - 128) / 128.0;
    }
    return qFromLittleEndian<qint16>(wave.data.constData() + 2 * index) / 32768.0;
}

TEST(AlarmSoundFile, IsASmallMonoPcmWaveThatLoopsWithoutAClick) {
    QFile file(QStringLiteral(":/sounds/alarm.wav"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    const QByteArray bytes = file.readAll();
    EXPECT_GT(bytes.size(), 1000);
    EXPECT_LT(bytes.size(), 40 * 1024);

    const auto wave = ParseWave(bytes);
    ASSERT_TRUE(wave.has_value());
    EXPECT_EQ(wave->format, 1);  // PCM
    EXPECT_EQ(wave->channels, 1);
    ASSERT_TRUE(wave->bits == 8 || wave->bits == 16);
    EXPECT_GE(wave->rate, 8000u);
    EXPECT_LE(wave->rate, 22050u);
    const qsizetype samples = wave->data.size() / (wave->bits / 8);
    const double seconds = double(samples) / wave->rate;
    EXPECT_GT(seconds, 0.5);
    EXPECT_LT(seconds, 2.0);

    EXPECT_LT(std::abs(Sample(*wave, 0)), 0.01);
    EXPECT_LT(std::abs(Sample(*wave, samples - 1)), 0.01);
    double peak = 0;
    for (qsizetype i = 0; i < samples; ++i) {
        peak = std::max(peak, std::abs(Sample(*wave, i)));
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
    ASSERT_TRUE(QFileInfo::exists(generator)) << generator.toStdString();
    QTemporaryDir dir;
    const QString made = dir.filePath(QStringLiteral("alarm.wav"));
    QProcess run;
    run.start(python, {generator, made});
    ASSERT_TRUE(run.waitForFinished(30000));
    ASSERT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();

    QFile generated(made);
    QFile built(QStringLiteral(":/sounds/alarm.wav"));
    ASSERT_TRUE(generated.open(QIODevice::ReadOnly));
    ASSERT_TRUE(built.open(QIODevice::ReadOnly));
    EXPECT_TRUE(generated.readAll() == built.readAll());
}

}  // namespace
}  // namespace orvane
