#include "export/stream_config.h"

#include <cstdint>
#include <optional>

namespace orvane {
namespace {

constexpr std::uint8_t kVopStart = 0xB6;
constexpr std::uint8_t kVisualObjectSequence = 0xB0;
constexpr std::uint8_t kVisualObject = 0xB5;
constexpr std::uint8_t kLastVideoObjectLayer = 0x2F;
constexpr std::uint8_t kH264NalTypeMask = 0x1F;
constexpr std::uint8_t kH264Sps = 7;
constexpr std::uint8_t kH264Pps = 8;

// Where the next three-byte start code 00 00 01 begins at or after from.
std::optional<std::size_t> NextStartCode(std::span<const std::uint8_t> bytes, std::size_t from) {
    for (std::size_t i = from; i + 3 <= bytes.size(); ++i) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
            return i;
        }
    }
    return std::nullopt;
}

}  // namespace

Block Mpeg4ConfigOf(std::span<const std::uint8_t> frame) {
    const auto first = NextStartCode(frame, 0);
    if (!first || *first + 3 >= frame.size()) {
        return {};
    }
    const std::uint8_t code = frame[*first + 3];
    const bool header =
        code == kVisualObjectSequence || code == kVisualObject || code <= kLastVideoObjectLayer;
    if (!header) {
        return {};
    }
    for (auto at = first; at; at = NextStartCode(frame, *at + 3)) {
        if (*at + 3 < frame.size() && frame[*at + 3] == kVopStart) {
            return Block(frame.begin() + std::ptrdiff_t(*first),
                         frame.begin() + std::ptrdiff_t(*at));
        }
    }
    return {};
}

Block H264ConfigOf(std::span<const std::uint8_t> frame) {
    static constexpr std::uint8_t kStartCode[] = {0, 0, 0, 1};
    Block config;
    auto at = NextStartCode(frame, 0);
    while (at) {
        const std::size_t begin = *at + 3;
        auto next = NextStartCode(frame, begin);
        std::size_t end = next.value_or(frame.size());
        // A four-byte start code leaves its leading zero at the end of the unit before it.
        while (end > begin && frame[end - 1] == 0) {
            --end;
        }
        if (begin < end) {
            const std::uint8_t type = frame[begin] & kH264NalTypeMask;
            if (type == kH264Sps || type == kH264Pps) {
                config.insert(config.end(), std::begin(kStartCode), std::end(kStartCode));
                config.insert(config.end(), frame.begin() + std::ptrdiff_t(begin),
                              frame.begin() + std::ptrdiff_t(end));
            }
        }
        at = next;
    }
    return config;
}

}  // namespace orvane
