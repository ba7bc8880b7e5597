#include "app/alarm_sound.h"

#include "common/log.h"

#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>

namespace orvane {

void AlarmOutput::ReportFailure(const QString& reason) const {
    if (onFailure_) {
        onFailure_(reason);
    }
}

namespace {

class SoundEffectOutput final : public AlarmOutput {
  public:
    explicit SoundEffectOutput(QUrl source) : source_(std::move(source)) {}
    ~SoundEffectOutput() override {
        // Stopping as it goes, the effect would otherwise report to a half-destroyed owner.
        if (effect_) {
            effect_->disconnect();
        }
    }
    SoundEffectOutput(const SoundEffectOutput&) = delete;
    SoundEffectOutput& operator=(const SoundEffectOutput&) = delete;

    QString Start() override {
        // Without a device QSoundEffect claims to play and stays silent, so ask first. The
        // default device is looked up on every start because one may be plugged in later.
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull()) {
            return QStringLiteral("no audio output device");
        }
        if (!effect_) {
            Load(device);
        } else if (effect_->audioDevice() != device) {
            effect_->setAudioDevice(device);
        }
        // A sound that failed to load once never plays; QSoundEffect would say nothing.
        if (effect_->status() == QSoundEffect::Error) {
            return CannotPlay();
        }
        wanted_ = true;
        // Loading runs on a thread of its own; the effect starts when it is done. What fails
        // already inside play() is this call's answer, not a later report.
        starting_ = true;
        effect_->play();
        starting_ = false;
        return wanted_ ? QString() : startFailure_;
    }

    void Stop() override {
        wanted_ = false;
        if (effect_) {
            effect_->stop();
        }
    }

  private:
    void Load(const QAudioDevice& device) {
        effect_ = std::make_unique<QSoundEffect>(device);
        effect_->setLoopCount(QSoundEffect::Infinite);
        QObject::connect(effect_.get(), &QSoundEffect::statusChanged, effect_.get(), [this] {
            if (effect_->status() == QSoundEffect::Error) {
                GiveUp(CannotPlay());
            }
        });
        // An endless loop ends only when stopped; anything else is the device giving up.
        QObject::connect(effect_.get(), &QSoundEffect::playingChanged, effect_.get(), [this] {
            if (!effect_->isPlaying()) {
                GiveUp(QStringLiteral("the audio device stopped playing"));
            }
        });
        effect_->setSource(source_);
    }

    QString CannotPlay() const { return QStringLiteral("cannot play %1").arg(source_.toString()); }

    void GiveUp(const QString& reason) {
        if (!wanted_) {
            return;
        }
        wanted_ = false;
        if (starting_) {
            startFailure_ = reason;
            return;
        }
        ReportFailure(reason);
    }

    QUrl source_;
    std::unique_ptr<QSoundEffect> effect_;
    bool wanted_ = false;
    bool starting_ = false;
    QString startFailure_;
};

}  // namespace

std::unique_ptr<AlarmOutput> MakeSoundEffectOutput(const QUrl& source) {
    return std::make_unique<SoundEffectOutput>(source);
}

AlarmSound::AlarmSound(QObject* parent)
    : AlarmSound(MakeSoundEffectOutput(QUrl(QLatin1String(kAlarmSoundUrl))), parent) {}

AlarmSound::AlarmSound(std::unique_ptr<AlarmOutput> output, QObject* parent) : QObject(parent) {
    SetOutput(std::move(output));
}

void AlarmSound::SetOutput(std::unique_ptr<AlarmOutput> output) {
    if (output_) {
        Stop();
        output_->SetFailureHandler({});
    }
    output_ = std::move(output);
    output_->SetFailureHandler([this](const QString& reason) {
        // A report that crosses Stop concerns a sound nobody waits for any more.
        if (playing_) {
            Fail(reason);
        }
    });
}

AlarmSound::~AlarmSound() {
    // The output goes last of our members and must not report into the ones already gone.
    output_->SetFailureHandler({});
}

void AlarmSound::Play() {
    if (playing_) {
        return;
    }
    const QString reason = output_->Start();
    if (!reason.isEmpty()) {
        Fail(reason);
        return;
    }
    SetPlaying(true);
}

void AlarmSound::Stop() {
    output_->Stop();
    SetPlaying(false);
}

void AlarmSound::Fail(const QString& reason) {
    // Said once: every call-in of a machine without sound fails the same way.
    if (reason != lastWarning_) {
        qCWarning(lcApp).noquote() << "alarm sound unavailable:" << reason;
        lastWarning_ = reason;
    }
    output_->Stop();
    SetPlaying(false);
    emit unavailable(reason);
}

void AlarmSound::SetPlaying(bool playing) {
    if (playing_ == playing) {
        return;
    }
    playing_ = playing;
    emit playingChanged(playing);
}

}  // namespace orvane
