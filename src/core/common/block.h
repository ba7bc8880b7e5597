#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace orvane {

// One zero-filled memory block of exact size: a queued message part, a received chunk, a
// kept frame.
using Block = std::vector<std::uint8_t>;

// A block several holders keep at once without copying it: a received frame is the
// channel's latest, part of what a recording starts with, and waiting to be decoded.
using SharedBlock = std::shared_ptr<const Block>;

}  // namespace orvane
