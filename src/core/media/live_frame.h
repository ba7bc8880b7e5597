#pragma once

#include "common/block.h"
#include "wire/bitmap_info.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace orvane {

class KeyFrameProbe;

// One frame of a live channel, checked once where it arrives: its header, where its
// compressed image lies in the bytes as received, and whether it can be decoded on its own.
// The latest-frame store, the frames since the key frame, the recorder and the decoder all
// take it as it is; none of them parses the bytes again. Cheap to copy: the bytes are shared.
struct LiveFrame {
    SharedBlock packed;  // BITMAPINFOHEADER, colour table and image data, exactly as received
    BitmapInfoHeader header;
    std::size_t imageOffset = 0;  // the compressed image within packed
    std::size_t imageLength = 0;
    bool keyFrame = false;
    // When it arrived, taken before any queue: UTC microseconds from the wall clock, and
    // microseconds of the steady clock, which no clock step moves, to measure intervals by.
    std::int64_t arrivalUtcMicros = 0;
    std::int64_t arrivalSteadyMicros = 0;

    bool valid() const { return packed != nullptr; }
    std::span<const std::uint8_t> bytes() const;
    std::span<const std::uint8_t> colourTable() const;
    std::span<const std::uint8_t> image() const;
    // The header, colour table and image as the decoders take them.
    PackedFrame View() const;
};

// Takes every frame of one channel as received, before it becomes the channel's latest
// frame: where a recorder attaches. Called on the GUI thread, from inside dispatch.
class FrameSink {
  public:
    virtual ~FrameSink() = default;
    virtual void TakeFrame(const LiveFrame& frame) = 0;
};

// The frame the wire has parsed already (views into received), copied once into a shared
// block and stamped with the time it arrived; probe decides the key flag and is the channel's
// own, so that it sees every frame.
LiveFrame MakeLiveFrame(std::span<const std::uint8_t> received, const PackedFrame& parsed,
                        KeyFrameProbe& probe);
// Frames that did not come from the wire (files, tools): parsed, probed and stamped here.
// nullopt when the bytes are not a frame.
std::optional<LiveFrame> ReadLiveFrame(SharedBlock packed, KeyFrameProbe& probe);

}  // namespace orvane
