#pragma once

#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>

namespace orvane {

// Where the alarm is heard: one sound looping until stopped. Starting never waits for the
// audio system, so some failures (an unreadable file, a device that gives up) only surface
// later, through the failure handler.
class AlarmOutput {
  public:
    using FailureHandler = std::function<void(const QString& reason)>;

    virtual ~AlarmOutput() = default;
    // Starts the endless loop and returns at once: empty when playback began, otherwise why
    // it could not.
    virtual QString Start() = 0;
    virtual void Stop() = 0;
    // Called, never from within Start or Stop, when playback that Start began has ended by
    // itself.
    void SetFailureHandler(FailureHandler handler) { onFailure_ = std::move(handler); }

  protected:
    void ReportFailure(const QString& reason) const;

  private:
    FailureHandler onFailure_;
};

// The sound we ship, built into the program.
inline constexpr char kAlarmSoundUrl[] = "qrc:/sounds/alarm.wav";

// The output of the default audio device, through QSoundEffect.
std::unique_ptr<AlarmOutput> MakeSoundEffectOutput(const QUrl& source);

// The alarm announcing a site's call-in: silent -> looping (Play) -> silent (Stop). playing()
// means "asked to play and no failure reported", so the operator can stop the alarm exactly
// while something may be sounding. Lives on the GUI thread.
class AlarmSound : public QObject {
    Q_OBJECT
  public:
    explicit AlarmSound(QObject* parent = nullptr);
    explicit AlarmSound(std::unique_ptr<AlarmOutput> output, QObject* parent = nullptr);
    ~AlarmSound() override;

    // Starts the loop unless it already sounds: a second call-in neither restarts nor stops
    // it. Without a usable audio device it stays silent and warns.
    void Play();
    // Where the sound goes from now on (silent first); tests hear it through a fake.
    void SetOutput(std::unique_ptr<AlarmOutput> output);
    void Stop();
    bool playing() const { return playing_; }

  signals:
    void playingChanged(bool playing);
    // Play found no way to sound, or the sound gave up: why.
    void unavailable(const QString& reason);

  private:
    void Fail(const QString& reason);
    void SetPlaying(bool playing);

    std::unique_ptr<AlarmOutput> output_;
    bool playing_ = false;
    // A machine without sound fails every call-in the same way; one warning says it.
    QString lastWarning_;
};

}  // namespace orvane
