#include "media/clip_player_engine.h"

#include "common/log.h"

#include <algorithm>

namespace orvane {

ClipPlayerEngine::ClipPlayerEngine(PlayerView& view, QObject* parent)
    : QObject(parent), view_(view) {}

ClipPlayerEngine::~ClipPlayerEngine() {
    playback_.reset();
}

bool ClipPlayerEngine::OpenClip(const ClipRecord& clip) {
    titleLine_ = QString::asprintf("%04d", clip.channel) + QLatin1Char(' ') + clip.location;
    startText_ = QStringLiteral("Start:") + clip.startDate + QLatin1Char('[') + clip.startTime +
                 QLatin1Char(']');
    endText_ = QStringLiteral("Ending:") + clip.endDate + QLatin1Char('[') + clip.endTime +
               QLatin1Char(']');
    if (!IsPlainFileName(clip.fileName)) {
        qCWarning(lcMedia) << "the index names a clip outside its folder:" << clip.fileName;
        return false;
    }
    if (!LoadClip(clip.path + clip.fileName, clip.fileName)) {
        return false;
    }
    playWhenOpen_ = true;
    return true;
}

bool ClipPlayerEngine::LoadClip(const QString& path, const QString& fileName) {
    CloseClip();
    fileName_ = fileName;
    windowTitle_.clear();
    playWhenOpen_ = false;
    playback_ = std::make_unique<ClipPlayback>(path);
    ClipPlayback* playback = playback_.get();
    connect(playback, &ClipPlayback::opened, this, &ClipPlayerEngine::OnOpened);
    connect(playback, &ClipPlayback::openFailed, this, &ClipPlayerEngine::OnOpenFailed);
    connect(playback, &ClipPlayback::frameShown, this, [this] { view_.UpdatePositionText(); });
    connect(playback, &ClipPlayback::completed, this, &ClipPlayerEngine::OnEnded);
    connect(playback, &ClipPlayback::failed, this, &ClipPlayerEngine::OnFailed);
    return true;
}

void ClipPlayerEngine::OnOpened() {
    ClipPlayback& playback = *playback_;
    windowTitle_ = fileName_ + QLatin1Char(' ') +
                   QString::asprintf("%8dK", static_cast<int>(playback.fileBytes() / 1024));
    playback.SetSurface(view_.surface());
    state_ = PlayerState::Stopped;
    const ClipTimeline& timeline = playback.timeline();
    const double measured = timeline.MeanSecondsPerFrame();
    averageTimePerFrame_ = measured > 0 ? measured : playback.AvgTimePerFrame();
    durationFrames_ = playback.Duration();
    durationSeconds_ = (static_cast<double>(timeline.TimeOf(durationFrames_ - 1)) -
                        static_cast<double>(timeline.TimeOf(0))) /
                           1e6 +
                       averageTimePerFrame_;
    currentFrame_ = 0;
    view_.ResetZoom();
    ApplyRate(SetRateIndex(rateIndex_));
    view_.EnableControls(durationFrames_, kDefaultRateIndex);
    view_.DrawHeader();
    view_.UpdatePositionText();
    view_.UpdateSpeedText();
    view_.OpenFinished(true);
    if (playWhenOpen_ && playback_) {
        playWhenOpen_ = false;
        Play();
    }
}

void ClipPlayerEngine::OnOpenFailed(const QString& reason) {
    qCWarning(lcMedia) << "cannot play" << reason;
    windowTitle_ = fileName_ + QLatin1Char(' ') +
                   QString::asprintf("%8dK", static_cast<int>(playback_->fileBytes() / 1024));
    state_ = PlayerState::Closed;
    view_.OpenFinished(false);
}

void ClipPlayerEngine::OnEnded() {
    Stop();
    view_.UpdatePositionText();
}

void ClipPlayerEngine::OnFailed() {
    Stop();
    view_.UpdatePositionText();
    view_.ClipUnreadable();
}

void ClipPlayerEngine::CloseClip() {
    Stop();
    playback_.reset();
    playWhenOpen_ = false;
    state_ = PlayerState::Closed;
}

bool ClipPlayerEngine::ChangeGraphState(ClipPlayback::State target) {
    if (!isOpen()) {
        return false;
    }
    switch (target) {
        case ClipPlayback::State::Stopped:
            return playback_->Stop();
        case ClipPlayback::State::Paused:
            return playback_->Pause();
        case ClipPlayback::State::Running:
            return playback_->Run();
    }
    return false;
}

void ClipPlayerEngine::Play() {
    if (!isOpen() || state_ == PlayerState::Playing) {
        return;
    }
    if (currentFrame_ == durationFrames_) {
        GoFirstFrame();
    }
    if (ChangeGraphState(ClipPlayback::State::Running)) {
        state_ = PlayerState::Playing;
    }
}

void ClipPlayerEngine::Pause() {
    if (!isOpen() || state_ == PlayerState::Paused) {
        return;
    }
    if (ChangeGraphState(ClipPlayback::State::Paused)) {
        state_ = PlayerState::Paused;
    }
}

void ClipPlayerEngine::Stop() {
    if (!isOpen() || state_ == PlayerState::Stopped) {
        return;
    }
    if (ChangeGraphState(ClipPlayback::State::Stopped)) {
        state_ = PlayerState::Stopped;
    }
}

void ClipPlayerEngine::SetPositions() {
    playback_->SetPositions(currentFrame_);
}

void ClipPlayerEngine::GoFirstFrame() {
    if (!isOpen()) {
        return;
    }
    Pause();
    currentFrame_ = 0;
    SetPositions();
    view_.UpdatePositionText();
}

void ClipPlayerEngine::GoLastFrame() {
    if (!isOpen()) {
        return;
    }
    Pause();
    currentFrame_ = durationFrames_;
    SetPositions();
    view_.UpdatePositionText();
}

void ClipPlayerEngine::StepBack() {
    if (!isOpen()) {
        return;
    }
    Pause();
    currentFrame_ = std::max<std::int64_t>(playback_->CurrentPosition() - 1, 0);
    SetPositions();
    view_.UpdatePositionText();
}

void ClipPlayerEngine::StepForward() {
    if (!isOpen()) {
        return;
    }
    Pause();
    currentFrame_ = std::min(playback_->CurrentPosition() + 1, durationFrames_);
    SetPositions();
    view_.UpdatePositionText();
}

void ClipPlayerEngine::SeekToFrame(std::int64_t frame) {
    if (!isOpen()) {
        return;
    }
    Pause();
    // Past the end, or where it stands already: the clip only pauses.
    if (frame > durationFrames_ || frame == playback_->CurrentPosition()) {
        return;
    }
    currentFrame_ = frame;
    SetPositions();
    view_.UpdatePositionText();
}

bool ClipPlayerEngine::GoToTime(std::int64_t utcMicros) {
    if (!isOpen()) {
        return false;
    }
    const std::int64_t frame = playback_->timeline().FrameAtOrBefore(utcMicros);
    if (frame < 0) {
        return false;
    }
    SeekToFrame(frame);
    return true;
}

double ClipPlayerEngine::StepRate(bool up) {
    rateIndex_ = std::clamp(rateIndex_ + (up ? 1 : -1), 0, static_cast<int>(kRateTable.size()) - 1);
    return kRateTable[static_cast<std::size_t>(rateIndex_)].rate;
}

double ClipPlayerEngine::SetRateIndex(int index) {
    if (index < 0 || index >= static_cast<int>(kRateTable.size())) {
        rateIndex_ = kDefaultRateIndex;
        return 1.0;
    }
    rateIndex_ = index;
    return kRateTable[static_cast<std::size_t>(index)].rate;
}

void ClipPlayerEngine::ApplyRate(double rate) {
    if (playback_) {
        playback_->SetRate(rate);
    }
    view_.UpdateSpeedText();
}

void ClipPlayerEngine::RefreshPosition() {
    if (!isOpen()) {
        return;
    }
    currentFrame_ = playback_->CurrentPosition();
    const ClipTimeline& timeline = playback_->timeline();
    currentSeconds_ =
        currentFrame_ >= durationFrames_
            ? durationSeconds_
            : static_cast<double>(timeline.TimeOf(currentFrame_) - timeline.TimeOf(0)) / 1e6;
}

std::int64_t ClipPlayerEngine::currentUtcMicros() const {
    if (!isOpen()) {
        return 0;
    }
    return playback_->timeline().TimeOf(std::min(currentFrame_, durationFrames_ - 1));
}

QString ClipPlayerEngine::currentTimeText() const {
    if (!isOpen()) {
        return {};
    }
    return FrameTimeText(currentUtcMicros(), playback_->timeline().utcOffsetSeconds());
}

}  // namespace orvane
