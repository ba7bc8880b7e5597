#pragma once

#include <cstdint>
#include <vector>

namespace orvane {

// One zero-filled memory block of exact size: a queued message part, a received chunk, a
// kept frame.
using Block = std::vector<std::uint8_t>;

}  // namespace orvane
