#pragma once

#include <cstddef>
#include <cstdint>

namespace orvane {

inline constexpr std::size_t kMarkNotFound = static_cast<std::size_t>(-1);

// The first position p in [from, size - 3] where data[p..p+2] equals mark[0..2], or
// kMarkNotFound. Scans with the widest vector instructions the processor has: reassembly
// runs this over every received byte.
std::size_t FindMark3(const std::uint8_t* data, std::size_t from, std::size_t size,
                      const std::uint8_t* mark);

}  // namespace orvane
