#pragma once

#include "common/block.h"
#include "wire/message_layout.h"

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace orvane {

// A message as the three blocks that are queued one after another.
struct MessageBlocks {
    Block header;
    Block payload;  // empty for a bare message
    Block trailer;
};

MessageBlocks BuildMessage(std::uint8_t type, std::span<const std::uint8_t> payload);
// A message whose payload is one 32-bit word.
MessageBlocks BuildWordMessage(std::uint8_t type, std::uint32_t value);

Block BuildHeader(std::uint8_t type, std::uint32_t payloadLength);
Block BuildSiteHeader(std::uint8_t type, std::uint32_t first, std::uint32_t second,
                      std::uint32_t payloadLength);
Block BuildTrailer();

// One contiguous message (for a site or server writing to its socket, and for tests).
Block Flatten(const MessageBlocks& blocks);
Block BuildSiteMessage(std::uint8_t type, std::uint32_t first, std::uint32_t second,
                       std::span<const std::uint8_t> payload);

// Copies text into a fixed NUL-padded field, cut at the field's size (which leaves no NUL
// when the text fills it).
void PutTextField(std::span<std::uint8_t> field, std::string_view text);

}  // namespace orvane
