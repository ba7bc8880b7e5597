#pragma once

#include "common/block.h"
#include "media/frame_times.h"
#include "media/media_graph.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

namespace orvane {

// Plays one clip. Opening, decoding and pacing happen on a worker thread of its own, so the
// thread that made it (the GUI thread) never waits on the file or a decoder: every call here
// returns at once, having changed the state it names, and what the worker then shows comes
// back as queued notifications. A notification answers the latest command only: pictures
// still on their way from before a seek or a pause are dropped.
//
// Threads: made, called and notified on one thread (the owner's); Shared is the only state
// the worker touches, under its mutex, and the worker and the owner share it, so whichever
// ends last frees it.
class ClipPlayback : public QObject {
    Q_OBJECT
  public:
    enum class State { Stopped, Paused, Running };

    // Starts opening the file; opened() or openFailed() follows.
    explicit ClipPlayback(const QString& path, QObject* parent = nullptr);
    // Returns at once: the worker, which may be waiting on the file or decoding, is told to
    // stop, gives up between frames and frees what it holds on its own.
    ~ClipPlayback() override;
    ClipPlayback(const ClipPlayback&) = delete;
    ClipPlayback& operator=(const ClipPlayback&) = delete;

    // Until opened, the commands below fail and the figures are 0.
    bool isOpen() const { return open_; }
    State state() const { return state_; }
    bool Run();
    bool Pause();
    bool Stop();
    // Shows exactly that frame (0 to Duration(), which shows the last frame and stands past
    // it); a running clip goes on from it. The position is that frame at once, its picture
    // follows. false when out of range.
    bool SetPositions(std::int64_t frame);
    // Speed relative to the pace the frames arrived at, 0.1 to 50; false outside.
    bool SetRate(double rate);
    double Rate() const { return rate_; }

    std::int64_t Duration() const { return duration_; }
    std::int64_t CurrentPosition() const { return position_; }
    // The file's length as found when it was opened (0 when it could not be opened).
    qint64 fileBytes() const { return fileBytes_; }
    double AvgTimePerFrame() const { return declaredSecondsPerFrame_; }  // the header's
    QSize videoSize() const { return videoSize_; }
    const ClipTimeline& timeline() const { return timeline_; }
    // Workers still running, those of closed clips included (they end on their own).
    static int workersRunning();
    // Waits at most timeoutMs for the workers of closed clips to end: called once at exit, so
    // that none still reads a file while the program's globals go. False when some still run.
    static bool WaitForWorkers(int timeoutMs);

    // The picture on show, and as a packed 24-bit DIB (header and bits) as a snapshot saves
    // it; empty before any picture.
    const QImage& currentPicture() const { return picture_; }
    Block GetCurrentImage() const;
    // Where pictures go; nullptr draws nowhere. Not owned.
    void SetSurface(VideoSurface* surface);

  signals:
    void opened();
    void openFailed(const QString& reason);
    // A new position, with its picture on show.
    void frameShown();
    // Playing reached the end of the clip; the clip stays Running at its end.
    void completed();
    // A frame could not be read or decoded: playing stopped, and the position is the frame
    // still on show (a seek that failed went nowhere).
    void failed();

  private:
    struct Shared;
    void Post(std::optional<std::int64_t> frame);
    void Deliver();

    std::shared_ptr<Shared> shared_;
    bool open_ = false;
    State state_ = State::Stopped;
    double rate_ = 1.0;
    std::uint64_t serial_ = 0;
    qint64 fileBytes_ = 0;
    std::int64_t duration_ = 0;
    std::int64_t position_ = 0;
    double declaredSecondsPerFrame_ = 0.0;
    QSize videoSize_;
    ClipTimeline timeline_;
    QImage picture_;
    VideoSurface* surface_ = nullptr;
};

}  // namespace orvane
