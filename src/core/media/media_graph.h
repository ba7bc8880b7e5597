#pragma once

#include "common/block.h"

#include <QImage>
#include <QObject>
#include <QSize>
#include <QString>

#include <cstdint>
#include <memory>

namespace orvane {

// Where a graph shows its pictures: the player window's video widget, or nothing (tests).
// Called on the GUI thread.
class VideoSurface {
  public:
    virtual ~VideoSurface() = default;
    virtual void Present(const QImage& picture) = 0;
};

// The media graph a clip player drives: it plays one AVI clip (libavformat reads it, the
// decoder registry decodes its frames, libswscale converts them) and offers exactly what the
// player's engine relies on: run, pause and stop with immediate or pending results and a
// state query; events (complete, user abort, error abort) with a way to wait for them;
// positions in frames counted from 0 with the duration equal to the frame count;
// frame-accurate seeking; a rate from 0.1 to 50; the average time per frame; the picture on
// show as a packed DIB; and a surface it draws into.
//
// GUI thread only: it paces itself with timers of the thread that made it.
class MediaGraph : public QObject {
    Q_OBJECT
  public:
    enum class State { Stopped, Paused, Running };
    // The codes a player acts on; others are never queued.
    enum class Event { Complete = 1, UserAbort = 2, ErrorAbort = 3 };
    // What a state change returns: reached at once, or still on its way (ask GetState).
    enum class Change { Done, Pending, Failed };

    // A graph that plays the file, stopped at frame 0; nullptr with a reason when the file
    // cannot be played (missing, not an AVI, no video stream, no decoder, no frames). The
    // caller tells the reason where it belongs: the log, a shell.
    static std::unique_ptr<MediaGraph> RenderFile(const QString& path, QString& error);
    ~MediaGraph() override;

    Change Run();
    Change Pause();
    Change Stop();
    // Done once the last change has been reached; Pending while it is on its way, waiting at
    // most timeoutMs for it.
    Change GetState(int timeoutMs, State& state);

    // Takes the oldest queued event; false when none is queued.
    bool GetEvent(Event& event);
    // True as soon as an event is queued; waits at most timeoutMs (running the event loop).
    bool WaitForEvent(int timeoutMs);

    // Positions in frames: 0 is the first, Duration() (the frame count) is past the last,
    // where a clip that played to its end stands.
    std::int64_t Duration() const;
    std::int64_t CurrentPosition() const;
    std::int64_t StopPosition() const;
    // Shows exactly that frame (decoding from the key frame before it when it must) and
    // stands there; a running graph goes on from it. false when the frame is out of range.
    bool SetPositions(std::int64_t current);
    // Playback speed relative to the clip's own rate, 0.1 to 50; false outside.
    bool SetRate(double rate);
    double Rate() const;

    double DurationSeconds() const;
    double CurrentPositionSeconds() const;
    double AvgTimePerFrame() const;  // seconds, from the stream's scale and rate
    QSize videoSize() const;

    // The picture on show: a packed 24-bit DIB (header and bits), as a snapshot saves it;
    // empty before any picture.
    Block GetCurrentImage() const;
    const QImage& currentPicture() const;

    // Where pictures go; nullptr draws nowhere. The graph does not own it.
    void SetSurface(VideoSurface* surface);

  signals:
    void eventQueued();

  private:
    struct Impl;
    explicit MediaGraph(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvane
