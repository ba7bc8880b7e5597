#include "media/clip_playback.h"

#include "common/log.h"
#include "media/decoded_picture.h"
#include "media/playback_clock.h"

#include <QFile>
#include <QPointer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace orvane {
namespace {

constexpr double kMinRate = 0.1;
constexpr double kMaxRate = 50.0;
// Further behind the clock than this, playing jumps ahead to a key frame.
constexpr double kMaxLagSeconds = 1.0;
constexpr std::int64_t kMaxWaitMicros = 1'000'000;

std::atomic<int> liveWorkers{0};

}  // namespace

struct ClipPlayback::Shared {
    enum class Note { Opened, OpenFailed, Completed, Failed };
    struct Shown {
        std::uint64_t serial = 0;
        std::int64_t frame = 0;
        QImage picture;
    };

    ClipPlayback* owner = nullptr;  // only to post to; nullptr once the owner is gone
    QString path;
    std::atomic<bool> cancel{false};

    std::mutex mutex;  // guards everything below
    std::condition_variable wake;
    bool stopping = false;
    // The latest command.
    std::uint64_t serial = 0;
    bool play = false;
    std::int64_t frame = -1;  // to show before anything else; -1: where it stands
    double rate = 1.0;
    // What the worker has for the owner: the newest picture and every note, in order.
    std::optional<Shown> shown;
    std::deque<std::pair<Note, std::uint64_t>> notes;
    bool delivering = false;
    QString openError;
    // The open's figures, handed over with its note.
    qint64 fileBytes = 0;
    std::int64_t duration = 0;
    double declaredSecondsPerFrame = 0.0;
    QSize videoSize;
    ClipTimeline timeline;

    // Called with the mutex held.
    void Notify() {
        if (owner && !delivering) {
            delivering = true;
            QMetaObject::invokeMethod(
                owner, [target = owner] { target->Deliver(); }, Qt::QueuedConnection);
        }
    }
    void Show(std::uint64_t forSerial, const MediaGraph& graph) {
        const std::lock_guard lock(mutex);
        shown = Shown{forSerial, graph.CurrentPosition(), graph.currentPicture()};
        Notify();
    }
    void Tell(Note note, std::uint64_t forSerial) {
        const std::lock_guard lock(mutex);
        notes.emplace_back(note, forSerial);
        Notify();
    }

    void Work();
};

void ClipPlayback::Shared::Work() {
    {
        // A file that cannot be opened for its length counts as 0 bytes; rendering decides.
        QFile file(path);
        const qint64 length = file.open(QIODevice::ReadOnly) ? file.size() : 0;
        const std::lock_guard lock(mutex);
        fileBytes = length;
    }
    if (cancel) {
        return;
    }
    QString error;
    std::unique_ptr<MediaGraph> graph = MediaGraph::RenderFile(path, error);
    if (!graph) {
        const std::lock_guard lock(mutex);
        openError = error;
        notes.emplace_back(Note::OpenFailed, 0);
        Notify();
        return;
    }
    graph->SetCancelFlag(&cancel);
    {
        const std::lock_guard lock(mutex);
        duration = graph->Duration();
        declaredSecondsPerFrame = graph->AvgTimePerFrame();
        videoSize = graph->videoSize();
        timeline = graph->timeline();
        notes.emplace_back(Note::Opened, 0);
        shown = Shown{0, 0, graph->currentPicture()};
        Notify();
    }
    const PlaybackSchedule schedule(graph->timeline(), graph->AvgTimePerFrame());
    PlaybackClock clock(schedule, PlaybackClock::SteadyMicros());
    std::uint64_t seen = 0;
    bool playing = false;
    bool done = false;  // ended or failed: nothing more until the next command
    double playRate = 1.0;
    while (true) {
        std::int64_t show = -1;
        {
            std::unique_lock lock(mutex);
            const auto commanded = [&] { return stopping || serial != seen; };
            if (playing && !done) {
                // Waking at least once a second keeps the wait's arithmetic small whatever the
                // gap and the rate; the clock is looked at again anyway.
                const std::int64_t next = std::min(graph->CurrentPosition() + 1, duration);
                const std::int64_t micros =
                    std::clamp<std::int64_t>(clock.MicrosUntil(next), 0, kMaxWaitMicros);
                wake.wait_for(lock, std::chrono::microseconds(micros), commanded);
            } else {
                wake.wait(lock, commanded);
            }
            if (stopping) {
                return;
            }
            if (serial != seen) {
                seen = serial;
                show = frame;
                frame = -1;
                playing = play;
                playRate = rate;
                done = false;
                lock.unlock();
                if (show >= 0 && !graph->SetPositions(show)) {
                    if (cancel) {
                        return;
                    }
                    // The owner stands where it was told to go: back to the frame on show.
                    Show(seen, *graph);
                    Tell(Note::Failed, seen);
                    done = true;
                    continue;
                }
                Show(seen, *graph);
                clock.Start(graph->CurrentPosition(), playRate);
                if (playing && graph->CurrentPosition() >= duration) {
                    Tell(Note::Completed, seen);
                    done = true;
                }
                continue;
            }
        }
        if (!playing || done) {
            continue;
        }
        // Every frame up to the one due (each picture builds on the one before), unless a
        // command comes meanwhile; the newest is shown.
        const std::int64_t due = clock.DuePosition();
        const std::int64_t from = graph->CurrentPosition();
        while (graph->CurrentPosition() < due) {
            const double lagSeconds =
                static_cast<double>(schedule.DueAt(due) -
                                    schedule.DueAt(graph->CurrentPosition())) /
                playRate / 1e6;
            if (!graph->Advance(due, lagSeconds > kMaxLagSeconds)) {
                if (cancel) {
                    return;
                }
                if (graph->CurrentPosition() != from) {
                    Show(seen, *graph);
                }
                Tell(Note::Failed, seen);
                done = true;
                break;
            }
            const std::lock_guard lock(mutex);
            if (stopping || serial != seen) {
                break;
            }
        }
        if (done) {
            continue;
        }
        if (graph->CurrentPosition() != from) {
            Show(seen, *graph);
        }
        if (graph->CurrentPosition() >= duration) {
            Tell(Note::Completed, seen);
            done = true;
        }
    }
}

ClipPlayback::ClipPlayback(const QString& path, QObject* parent)
    : QObject(parent), shared_(std::make_shared<Shared>()) {
    shared_->owner = this;
    shared_->path = path;
    ++liveWorkers;
    std::thread([shared = shared_]() mutable {
        shared->Work();
        shared.reset();  // the last owner frees the shared state here, before counting out
        --liveWorkers;
    }).detach();
}

ClipPlayback::~ClipPlayback() {
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
        shared_->owner = nullptr;
    }
    shared_->cancel = true;
    shared_->wake.notify_all();
}

int ClipPlayback::workersRunning() {
    return liveWorkers;
}

bool ClipPlayback::WaitForWorkers(int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (liveWorkers > 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            qCWarning(lcMedia) << liveWorkers << "clip readers still running at exit";
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

void ClipPlayback::Post(std::optional<std::int64_t> frame) {
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->serial = ++serial_;
        if (frame) {
            shared_->frame = *frame;
        }
        shared_->play = state_ == State::Running;
        shared_->rate = rate_;
    }
    shared_->wake.notify_all();
}

bool ClipPlayback::Run() {
    if (!open_) {
        return false;
    }
    if (state_ != State::Running) {
        state_ = State::Running;
        Post(std::nullopt);
    }
    return true;
}

bool ClipPlayback::Pause() {
    if (!open_) {
        return false;
    }
    if (state_ != State::Paused) {
        state_ = State::Paused;
        Post(std::nullopt);
    }
    return true;
}

bool ClipPlayback::Stop() {
    if (!open_) {
        return false;
    }
    if (state_ != State::Stopped) {
        state_ = State::Stopped;
        Post(std::nullopt);
    }
    return true;
}

bool ClipPlayback::SetPositions(std::int64_t frame) {
    if (!open_ || frame < 0 || frame > duration_) {
        return false;
    }
    position_ = frame;
    Post(frame);
    return true;
}

bool ClipPlayback::SetRate(double rate) {
    if (!(rate >= kMinRate && rate <= kMaxRate)) {
        return false;
    }
    rate_ = rate;
    if (state_ == State::Running) {
        Post(std::nullopt);  // the clock starts again from where it stands
    }
    return true;
}

Block ClipPlayback::GetCurrentImage() const {
    return picture_.isNull() ? Block{} : ToPackedDib24(picture_);
}

void ClipPlayback::SetSurface(VideoSurface* surface) {
    // A new surface starts with the picture on show rather than blank.
    surface_ = surface;
    if (surface_ && !picture_.isNull()) {
        surface_->Present(picture_);
    }
}

void ClipPlayback::Deliver() {
    std::optional<Shared::Shown> shown;
    std::deque<std::pair<Shared::Note, std::uint64_t>> notes;
    QString openError;
    {
        const std::lock_guard lock(shared_->mutex);
        shared_->delivering = false;
        shown = std::move(shared_->shown);
        shared_->shown.reset();
        notes.swap(shared_->notes);
        openError = shared_->openError;
        fileBytes_ = shared_->fileBytes;
        if (!open_ && shared_->duration > 0) {
            duration_ = shared_->duration;
            declaredSecondsPerFrame_ = shared_->declaredSecondsPerFrame;
            videoSize_ = shared_->videoSize;
            timeline_ = std::move(shared_->timeline);
            open_ = true;
        }
    }
    // A handler may close the clip: nothing here is touched after one that could.
    const QPointer<ClipPlayback> self(this);
    for (const auto& [note, serial] : notes) {
        if (note == Shared::Note::OpenFailed) {
            emit openFailed(openError);
            return;
        }
    }
    const bool justOpened = std::any_of(notes.begin(), notes.end(), [](const auto& note) {
        return note.first == Shared::Note::Opened;
    });
    if (shown && shown->serial == serial_) {
        position_ = shown->frame;
        picture_ = std::move(shown->picture);
        if (surface_) {
            surface_->Present(picture_);
        }
    }
    if (justOpened) {
        emit opened();
        if (!self) {
            return;
        }
    }
    if (shown && shown->serial == serial_) {
        emit frameShown();
        if (!self) {
            return;
        }
    }
    for (const auto& [note, serial] : notes) {
        if (serial != serial_) {
            continue;
        }
        if (note == Shared::Note::Completed) {
            emit completed();
        } else if (note == Shared::Note::Failed) {
            emit failed();
        }
        if (!self) {
            return;
        }
    }
}

}  // namespace orvane
