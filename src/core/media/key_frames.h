#pragma once

#include "common/block.h"
#include "media/live_frame.h"
#include "wire/bitmap_info.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace orvane {

// Tells whether a compressed frame can be decoded on its own, without decoding it: every
// frame of an intra-only codec is; for the others the codec's parser or the frame's own
// header bits say. A codec it knows nothing about has only its first frame marked, which
// makes a player decode from the start instead of from a picture it cannot show.
class KeyFrameProbe {
  public:
    explicit KeyFrameProbe(const BitmapInfoHeader& format);
    ~KeyFrameProbe();
    KeyFrameProbe(const KeyFrameProbe&) = delete;
    KeyFrameProbe& operator=(const KeyFrameProbe&) = delete;

    bool IsKeyFrame(std::span<const std::uint8_t> imageData);
    // False for a codec it knows nothing about, whose frames it cannot tell apart.
    bool knowsCodec() const { return method_ != Method::FirstOnly; }

  private:
    struct Parser;
    enum class Method { IntraOnly, Parser, Mpeg4, H264, MsMpeg4, Cinepak, Indeo5, FirstOnly };

    Method method_ = Method::FirstOnly;
    std::unique_ptr<Parser> parser_;
    bool first_ = true;
};

// The frames of a channel since its latest key frame, as received: what a recording that
// starts now writes first, so that its first sample can be decoded. For an intra-only codec
// that is the latest frame alone. Bounded: a stream whose key frames are further apart than
// the bounds keeps only its latest frame.
class FramesSinceKey {
  public:
    static constexpr std::size_t kMaxFrames = 300;
    static constexpr std::size_t kMaxBytes = 4u << 20;

    void Add(const LiveFrame& frame);
    const std::vector<LiveFrame>& frames() const { return frames_; }

  private:
    std::vector<LiveFrame> frames_;
    std::size_t bytes_ = 0;
};

// The compressed image bytes of a packed frame: after its header and colour table, as many
// as its header says but never past what is there. nullopt without a readable header.
struct ImageBytes {
    std::size_t offset = 0;
    std::size_t length = 0;
};
std::optional<ImageBytes> LocateImageBytes(std::span<const std::uint8_t> packedFrame);

}  // namespace orvane
