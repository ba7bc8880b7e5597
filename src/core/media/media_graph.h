#pragma once

#include "common/block.h"
#include "media/frame_times.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

namespace orvane {

// Where a player shows its pictures: the player window's video widget, or nothing (tests).
// Called on the GUI thread.
class VideoSurface {
  public:
    virtual ~VideoSurface() = default;
    virtual void Present(const QImage& picture) = 0;
};

// The frames of one AVI clip, decoded exactly: libavformat finds its samples, the decoder
// registry decodes them, libswscale converts them. Positions count frames from 0, with the
// duration equal to the frame count; any frame can be shown exactly (decoding from the key
// frame before it when it must), and playing moves on frame by frame.
//
// Every call decodes before it returns, so the player calls it from its worker only; a shell
// tool may call it directly. One thread at a time.
class MediaGraph {
  public:
    // A graph that shows frame 0 of the file; nullptr with a reason when the file cannot be
    // played (missing, not an AVI, no video stream, no decoder, no frames). The caller tells
    // the reason where it belongs: the log, a shell.
    static std::unique_ptr<MediaGraph> RenderFile(const QString& path, QString& error);
    ~MediaGraph();
    MediaGraph(const MediaGraph&) = delete;
    MediaGraph& operator=(const MediaGraph&) = delete;

    // Positions in frames: 0 is the first, Duration() (the frame count) is past the last,
    // where a clip that played to its end stands.
    std::int64_t Duration() const;
    std::int64_t CurrentPosition() const;
    std::int64_t StopPosition() const;
    // Shows exactly that frame and stands there. false when the frame is out of range or
    // cannot be read or decoded.
    bool SetPositions(std::int64_t current);
    // Playing: moves one frame on towards target (at most Duration()), decoding it; with
    // jumpToKey, straight to the key frame at or before target when that is further on (a
    // player far behind its clock skips rather than falls further behind). Reaching the
    // last frame with target at Duration() stands at Duration(). false when a frame cannot
    // be read, or too many in a row gave no picture.
    bool Advance(std::int64_t target, bool jumpToKey);

    double AvgTimePerFrame() const;  // seconds, the header's declared rate
    QSize videoSize() const;
    // When each frame was seen.
    const ClipTimeline& timeline() const;

    // The picture on show: a packed 24-bit DIB (header and bits), as a snapshot saves it;
    // empty before any picture.
    Block GetCurrentImage() const;
    const QImage& currentPicture() const;

    // Decoding towards a frame gives up between frames once *cancel is true (a player
    // closing does not wait for a long group of pictures); nullptr never gives up.
    void SetCancelFlag(const std::atomic<bool>* cancel);

  private:
    struct Impl;
    explicit MediaGraph(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace orvane
