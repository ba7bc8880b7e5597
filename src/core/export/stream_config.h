#pragma once

#include "common/block.h"

#include <span>

namespace orvane {

// The decoder configuration an MP4 file keeps apart from the frames, found in a clip's
// first key frame: the headers a recorder's stream repeats in front of its pictures.

// MPEG-4 part 2: everything in front of the first picture (VOP) start code when the frame
// starts with a visual object sequence, object or object layer; empty otherwise.
Block Mpeg4ConfigOf(std::span<const std::uint8_t> frame);

// H.264 in Annex B form: the frame's sequence and picture parameter sets, each behind a
// four-byte start code, in the order they appear; empty when it has neither.
Block H264ConfigOf(std::span<const std::uint8_t> frame);

}  // namespace orvane
