#include "media/live_frame.h"

#include "media/key_frames.h"

#include <chrono>

namespace orvane {

std::span<const std::uint8_t> LiveFrame::bytes() const {
    return packed ? std::span<const std::uint8_t>(*packed) : std::span<const std::uint8_t>();
}

std::span<const std::uint8_t> LiveFrame::colourTable() const {
    const std::size_t tableOffset = header.biSize;
    return bytes().subspan(tableOffset, imageOffset - tableOffset);
}

std::span<const std::uint8_t> LiveFrame::image() const {
    return bytes().subspan(imageOffset, imageLength);
}

PackedFrame LiveFrame::View() const {
    return PackedFrame{header, colourTable(), image()};
}

namespace {

// parsed views into the bytes of packed.
LiveFrame Assemble(SharedBlock packed, const PackedFrame& parsed, KeyFrameProbe& probe) {
    LiveFrame frame;
    frame.header = parsed.header;
    frame.imageOffset = parsed.header.biSize + parsed.colourTable.size();
    frame.imageLength = parsed.imageData.size();
    frame.keyFrame = probe.IsKeyFrame(parsed.imageData);
    frame.packed = std::move(packed);
    using namespace std::chrono;
    frame.arrivalUtcMicros =
        duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    frame.arrivalSteadyMicros =
        duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
    return frame;
}

}  // namespace

LiveFrame MakeLiveFrame(std::span<const std::uint8_t> received, const PackedFrame& parsed,
                        KeyFrameProbe& probe) {
    return Assemble(std::make_shared<const Block>(received.begin(), received.end()), parsed, probe);
}

std::optional<LiveFrame> ReadLiveFrame(SharedBlock packed, KeyFrameProbe& probe) {
    if (!packed) {
        return std::nullopt;
    }
    const auto parsed = ParsePackedFrame(*packed);
    if (!parsed) {
        return std::nullopt;
    }
    return Assemble(std::move(packed), *parsed, probe);
}

}  // namespace orvane
