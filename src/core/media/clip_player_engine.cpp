#include "media/clip_player_engine.h"

#include "common/event_pump.h"
#include "common/log.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>

#include <algorithm>

namespace orvane {
namespace {

constexpr int kTickMs = 200;
constexpr int kEventWaitMs = 20;
constexpr int kStateChangeMs = 5000;
constexpr int kStateQueryMs = 20;

}  // namespace

ClipPlayerEngine::ClipPlayerEngine(PlayerView& view, QObject* parent)
    : QObject(parent), view_(view) {
    timer_.setInterval(kTickMs);
    connect(&timer_, &QTimer::timeout, this, &ClipPlayerEngine::Tick);
}

ClipPlayerEngine::~ClipPlayerEngine() {
    timer_.stop();
    graph_.reset();
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
    Play(true);
    return true;
}

bool ClipPlayerEngine::LoadClip(const QString& path, const QString& fileName) {
    CloseClip();
    // A file that cannot be opened for its length counts as 0 bytes; rendering decides.
    QFile file(path);
    const qint64 length = file.open(QIODevice::ReadOnly) ? file.size() : 0;
    file.close();
    windowTitle_ =
        fileName + QLatin1Char(' ') + QString::asprintf("%8dK", static_cast<int>(length / 1024));

    QString error;
    graph_ = MediaGraph::RenderFile(path, error);
    if (!graph_) {
        qCWarning(lcMedia) << "cannot play" << error;
        CloseClip();
        return false;
    }
    graph_->SetSurface(view_.surface());
    if (ChangeGraphState(0)) {
        state_ = PlayerState::Stopped;
    }
    averageTimePerFrame_ = graph_ ? graph_->AvgTimePerFrame() : 0.0;
    view_.ResetZoom();
    if (!graph_) {
        return false;  // closed while the state change waited
    }
    durationSeconds_ = graph_->DurationSeconds();
    currentFrame_ = 0;
    durationFrames_ = graph_->Duration();
    ApplyRate(SetRateIndex(rateIndex_));
    view_.EnableControls(durationFrames_, kDefaultRateIndex);
    view_.DrawHeader();
    view_.UpdatePositionText();
    view_.UpdateSpeedText();
    return true;
}

void ClipPlayerEngine::CloseClip() {
    Stop();
    timer_.stop();
    if (graph_) {
        graph_->SetSurface(nullptr);
    }
    graph_.reset();
    state_ = PlayerState::Closed;
}

bool ClipPlayerEngine::ChangeGraphState(int target) {
    if (!graph_) {
        return false;
    }
    MediaGraph* graph = graph_.get();
    MediaGraph::Change result = target == 0   ? graph->Stop()
                                : target == 1 ? graph->Pause()
                                              : graph->Run();
    if (result == MediaGraph::Change::Pending) {
        // The wait runs the event loop: this engine or its graph may go meanwhile.
        QPointer<ClipPlayerEngine> self(this);
        QElapsedTimer clock;
        clock.start();
        while (result == MediaGraph::Change::Pending && clock.elapsed() < kStateChangeMs) {
            PumpEventsFor(0, [] { return true; });
            if (!self || graph_.get() != graph) {
                return false;
            }
            MediaGraph::State reached{};
            result = graph->GetState(kStateQueryMs, reached);
        }
    }
    return result == MediaGraph::Change::Done;
}

void ClipPlayerEngine::Play(bool startTimer) {
    if (!graph_ || state_ == PlayerState::Playing) {
        return;
    }
    if (currentFrame_ == durationFrames_) {
        GoFirstFrame();
    }
    if (ChangeGraphState(2)) {
        state_ = PlayerState::Playing;
        if (startTimer) {
            timer_.start();
        }
    }
}

void ClipPlayerEngine::Pause() {
    if (!graph_ || state_ == PlayerState::Paused) {
        return;
    }
    if (ChangeGraphState(1)) {
        state_ = PlayerState::Paused;
        timer_.stop();
    }
}

void ClipPlayerEngine::Stop() {
    if (!graph_ || state_ == PlayerState::Stopped) {
        return;
    }
    if (ChangeGraphState(0)) {
        state_ = PlayerState::Stopped;
        timer_.stop();
    }
}

void ClipPlayerEngine::SetPositions() {
    if (graph_) {
        graph_->SetPositions(currentFrame_);
    }
}

void ClipPlayerEngine::GoFirstFrame() {
    if (!graph_) {
        return;
    }
    Pause();
    currentFrame_ = 0;
    SetPositions();
    view_.UpdatePositionText();
}

void ClipPlayerEngine::GoLastFrame() {
    if (!graph_) {
        return;
    }
    Pause();
    currentFrame_ = durationFrames_;
    SetPositions();
    view_.UpdatePositionText();
}

void ClipPlayerEngine::StepBack() {
    if (!graph_) {
        return;
    }
    Pause();
    if (!graph_) {
        return;
    }
    currentFrame_ = std::max<std::int64_t>(graph_->CurrentPosition() - 1, 0);
    SetPositions();
    view_.UpdatePositionText();
}

void ClipPlayerEngine::StepForward() {
    if (!graph_) {
        return;
    }
    Pause();
    if (!graph_) {
        return;
    }
    currentFrame_ = std::min(graph_->CurrentPosition() + 1, graph_->StopPosition());
    SetPositions();
    view_.UpdatePositionText();
}

void ClipPlayerEngine::SeekToFrame(std::int64_t frame) {
    if (!graph_) {
        return;
    }
    Pause();
    if (!graph_) {
        return;
    }
    // Past the end, or where it stands already: the clip only pauses.
    if (frame > graph_->StopPosition() || frame == graph_->CurrentPosition()) {
        return;
    }
    currentFrame_ = frame;
    SetPositions();
    view_.UpdatePositionText();
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
    if (graph_) {
        graph_->SetRate(rate);
    }
    view_.UpdateSpeedText();
}

void ClipPlayerEngine::RefreshPosition() {
    if (!graph_) {
        return;
    }
    currentFrame_ = graph_->CurrentPosition();
    currentSeconds_ = graph_->CurrentPositionSeconds();
}

void ClipPlayerEngine::Tick() {
    if (!graph_ || state_ != PlayerState::Playing) {
        return;
    }
    view_.UpdatePositionText();
    QPointer<ClipPlayerEngine> self(this);
    MediaGraph* graph = graph_.get();
    const bool signalled = graph->WaitForEvent(kEventWaitMs);
    if (!self || graph_.get() != graph) {
        return;  // closed while the wait ran the event loop
    }
    if (signalled) {
        HandleGraphEvent();
        return;
    }
    if (currentFrame_ == durationFrames_) {
        Stop();
        view_.UpdatePositionText();
    }
}

void ClipPlayerEngine::HandleGraphEvent() {
    if (!graph_) {
        return;
    }
    MediaGraph::Event event{};
    if (!graph_->GetEvent(event)) {
        return;
    }
    switch (event) {
        case MediaGraph::Event::Complete:
        case MediaGraph::Event::UserAbort:
        case MediaGraph::Event::ErrorAbort:
            Stop();
            view_.UpdatePositionText();
            break;
    }
}

}  // namespace orvane
