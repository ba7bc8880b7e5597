#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orvane {

inline constexpr std::size_t kMarkNotFound = static_cast<std::size_t>(-1);

// The first position p in [from, size - 3] where data[p..p+2] equals mark[0..2], or
// kMarkNotFound. Scans with the widest vector instructions the processor has: reassembly
// runs this over every received byte.
std::size_t FindMark3(const std::uint8_t* data, std::size_t from, std::size_t size,
                      const std::uint8_t* mark);

// Every way of searching this processor can run, the plain one last. FindMark3 takes the
// first; the others are there so that each can be checked against the plain one on any
// machine, since an older processor would take a way this one never does.
using MarkSearch = std::size_t (*)(const std::uint8_t* data, std::size_t from, std::size_t size,
                                   const std::uint8_t* mark);
std::vector<MarkSearch> MarkSearches();

}  // namespace orvane
