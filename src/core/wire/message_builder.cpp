#include "wire/message_builder.h"

#include "wire/byte_order.h"

#include <algorithm>
#include <cstring>

namespace orvane {

Block BuildHeader(std::uint8_t type, std::uint32_t payloadLength) {
    Block header(MessageHeader::kSize, 0);
    std::copy(kTopMark.begin(), kTopMark.end(), header.begin());
    header[MessageHeader::kTypeOffset] = type;
    WriteLe32(header, MessageHeader::kLengthOffset, payloadLength);
    std::copy(kEofMark.begin(), kEofMark.end(), header.begin() + MessageHeader::kEofOffset);
    return header;
}

Block BuildSiteHeader(std::uint8_t type, std::uint32_t first, std::uint32_t second,
                      std::uint32_t payloadLength) {
    Block header(SiteMessageHeader::kSize, 0);
    std::copy(kTopMark.begin(), kTopMark.end(), header.begin());
    header[SiteMessageHeader::kTypeOffset] = type;
    WriteLe32(header, SiteMessageHeader::kFirstParamOffset, first);
    WriteLe32(header, SiteMessageHeader::kSecondParamOffset, second);
    WriteLe32(header, SiteMessageHeader::kLengthOffset, payloadLength);
    std::copy(kEofMark.begin(), kEofMark.end(), header.begin() + SiteMessageHeader::kEofOffset);
    return header;
}

Block BuildTrailer() {
    return Block(MessageTrailer::kBytes.begin(), MessageTrailer::kBytes.end());
}

MessageBlocks BuildMessage(std::uint8_t type, std::span<const std::uint8_t> payload) {
    return {BuildHeader(type, static_cast<std::uint32_t>(payload.size())),
            Block(payload.begin(), payload.end()), BuildTrailer()};
}

MessageBlocks BuildWordMessage(std::uint8_t type, std::uint32_t value) {
    std::uint8_t word[4];
    WriteLe32(word, 0, value);
    return BuildMessage(type, word);
}

Block Flatten(const MessageBlocks& blocks) {
    Block all;
    all.reserve(blocks.header.size() + blocks.payload.size() + blocks.trailer.size());
    all.insert(all.end(), blocks.header.begin(), blocks.header.end());
    all.insert(all.end(), blocks.payload.begin(), blocks.payload.end());
    all.insert(all.end(), blocks.trailer.begin(), blocks.trailer.end());
    return all;
}

Block BuildSiteMessage(std::uint8_t type, std::uint32_t first, std::uint32_t second,
                       std::span<const std::uint8_t> payload) {
    return Flatten(
        {BuildSiteHeader(type, first, second, static_cast<std::uint32_t>(payload.size())),
         Block(payload.begin(), payload.end()), BuildTrailer()});
}

void PutTextField(std::span<std::uint8_t> field, std::string_view text) {
    std::fill(field.begin(), field.end(), 0);
    text = text.substr(0, text.find('\0'));  // copied up to its NUL
    const std::size_t length = std::min(field.size(), text.size());
    std::memcpy(field.data(), text.data(), length);
}

}  // namespace orvane
