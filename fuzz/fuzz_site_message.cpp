// Feeds one whole site message, as the assembler hands it over, to the typed decoder alone,
// then reads every byte of every span the result holds, so a view past the message shows.
//
// Input: a mode byte, then the message. Most modes make it look like what the assembler
// passes on (marks in place, the header's length equal to the payload, the trailer behind)
// so the payload parsers are reached; mode 0 hands the bytes over as they are, and mode 1
// leaves the trailer off.
#include "wire/message_layout.h"
#include "wire/site_messages.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace {

using namespace orvane;

// Keeps the reads of the spans from being optimised away.
volatile std::uint8_t sink = 0;

void Touch(std::span<const std::uint8_t> bytes, std::span<const std::uint8_t> message) {
    if (bytes.empty()) {
        return;
    }
    if (bytes.data() < message.data() ||
        bytes.data() + bytes.size() > message.data() + message.size()) {
        __builtin_trap();
    }
    std::uint8_t sum = 0;
    for (const std::uint8_t byte : bytes) {
        sum = static_cast<std::uint8_t>(sum + byte);
    }
    sink = sum;
}

void Check(const sitemsg::SiteMessageValue& value, std::span<const std::uint8_t> message) {
    const std::size_t payload =
        message.size() > SiteMessageHeader::kSize ? message.size() - SiteMessageHeader::kSize : 0;
    if (const auto* list = std::get_if<sitemsg::ChannelList>(&value)) {
        if (list->entries.size() > list->announced ||
            list->entries.size() > payload / kChannelEntrySize) {
            __builtin_trap();
        }
        for (const sitemsg::ChannelListEntry& entry : list->entries) {
            if (entry.id <= 0) {
                __builtin_trap();
            }
            for (const char c : entry.name) {
                sink = static_cast<std::uint8_t>(sink + static_cast<std::uint8_t>(c));
            }
        }
        sink = static_cast<std::uint8_t>(list->openPermission() + list->closePermission());
    } else if (const auto* frame = std::get_if<sitemsg::VideoFrame>(&value)) {
        Touch(frame->packed, message);
        Touch(frame->frame.colourTable, frame->packed);
        Touch(frame->frame.imageData, frame->packed);
        const BitmapInfoHeader& header = frame->frame.header;
        if (header.biSize != BitmapInfoHeader::kSize || frame->frame.width() <= 0 ||
            frame->frame.height() <= 0 || frame->frame.width() > kMaxFrameDimension ||
            frame->frame.height() > kMaxFrameDimension ||
            frame->frame.colourTable.size() != std::size_t{header.biClrUsed} * 4 ||
            (header.biSizeImage != 0 && frame->frame.imageData.size() != header.biSizeImage) ||
            BitmapInfoHeader::kSize + frame->frame.colourTable.size() +
                    frame->frame.imageData.size() >
                frame->packed.size()) {
            __builtin_trap();
        }
    } else if (const auto* record = std::get_if<sitemsg::EventRecord>(&value)) {
        if (record->record.size() != kEventRecordSize) {
            __builtin_trap();
        }
        Touch(record->record, message);
    } else if (const auto* dropped = std::get_if<sitemsg::Dropped>(&value)) {
        if (dropped->reason == nullptr) {
            __builtin_trap();
        }
        sink = static_cast<std::uint8_t>(std::strlen(dropped->reason) + dropped->type);
    } else if (const auto* error = std::get_if<sitemsg::StreamError>(&value)) {
        sink = error->type;
    } else if (const auto* stopped = std::get_if<sitemsg::ChannelStopped>(&value)) {
        sink = static_cast<std::uint8_t>(stopped->channelNumber);
    }
}

void PutLe32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t mode = data[0] % 8;
    const std::span<const std::uint8_t> rest(data + 1, size - 1);

    // A buffer of exactly the message's size, so a read past its end is caught.
    std::vector<std::uint8_t> message;
    if (mode == 0) {
        message.assign(rest.begin(), rest.end());
    } else {
        message.assign(SiteMessageHeader::kSize, 0);
        std::copy_n(rest.begin(), std::min(rest.size(), SiteMessageHeader::kSize), message.begin());
        if (rest.size() > SiteMessageHeader::kSize) {
            message.insert(message.end(), rest.begin() + SiteMessageHeader::kSize, rest.end());
        }
        std::copy(kTopMark.begin(), kTopMark.end(), message.begin());
        std::copy(kEofMark.begin(), kEofMark.end(),
                  message.begin() + SiteMessageHeader::kEofOffset);
        PutLe32(message, SiteMessageHeader::kLengthOffset,
                static_cast<std::uint32_t>(message.size() - SiteMessageHeader::kSize));
        if (mode != 1) {
            message.insert(message.end(), MessageTrailer::kBytes.begin(),
                           MessageTrailer::kBytes.end());
        }
    }
    message.shrink_to_fit();
    const std::span<const std::uint8_t> whole(message);
    Check(sitemsg::DecodeSiteMessage(whole), whole);
    return 0;
}
