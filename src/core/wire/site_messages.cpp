#include "wire/site_messages.h"

#include "wire/byte_order.h"

#include <algorithm>
#include <cstring>

namespace orvane::sitemsg {
namespace {

ChannelList DecodeChannelList(std::uint32_t announced, std::uint32_t siteBits,
                              std::span<const std::uint8_t> payload) {
    ChannelList list;
    list.announced = announced;
    list.siteBits = siteBits;
    const std::size_t present = payload.size() / kChannelEntrySize;
    const std::size_t used = std::min<std::size_t>(announced, present);
    for (std::size_t i = 0; i < used; ++i) {
        const auto entry = payload.subspan(i * kChannelEntrySize, kChannelEntrySize);
        ChannelListEntry item;
        item.id = static_cast<std::int32_t>(ReadLe32(entry, 0));
        if (item.id <= 0) {
            continue;
        }
        std::memcpy(item.name.data(), entry.data() + 4, kChannelNameField);
        list.entries.push_back(item);
    }
    return list;
}

}  // namespace

SiteMessageValue DecodeSiteMessage(std::span<const std::uint8_t> message) {
    if (message.size() < SiteMessageHeader::kSize) {
        return Dropped{0, "shorter than a header"};
    }
    const std::uint8_t type = message[SiteMessageHeader::kTypeOffset];
    const std::uint32_t first = ReadLe32(message, SiteMessageHeader::kFirstParamOffset);
    const std::uint32_t second = ReadLe32(message, SiteMessageHeader::kSecondParamOffset);
    const std::uint32_t length = ReadLe32(message, SiteMessageHeader::kLengthOffset);
    if (length > message.size() - SiteMessageHeader::kSize) {
        return Dropped{type, "payload beyond the message"};
    }
    const auto payload = message.subspan(SiteMessageHeader::kSize, length);

    switch (static_cast<SiteMessage>(type)) {
        case SiteMessage::ChannelList:
            return DecodeChannelList(first, second, payload);
        case SiteMessage::VideoFrame: {
            if (const auto header = BitmapInfoHeader::Parse(payload);
                header && header->biSize == BitmapInfoHeader::kSize &&
                (header->biWidth == 0 || header->biHeight == 0)) {
                return Dropped{type, "frame of zero size", true};
            }
            const auto frame = ParsePackedFrame(payload);
            if (!frame) {
                return Dropped{type, "frame header does not match its data"};
            }
            return VideoFrame{first, second, payload, *frame};
        }
        case SiteMessage::LoginAccepted:
            return LoginAccepted{};
        case SiteMessage::LoginRejected:
            return LoginRejected{};
        case SiteMessage::LoginAgain:
            return LoginAgain{};
        case SiteMessage::ChannelStopped:
            return ChannelStopped{second};
        case SiteMessage::EventRecord:
            if (payload.size() < kEventRecordSize) {
                return Dropped{type, "event record too short"};
            }
            return EventRecord{payload.first(kEventRecordSize)};
        case SiteMessage::LimitReached:
            return LimitReached{};
        case SiteMessage::SiteClosing:
            return SiteClosing{};
    }
    return StreamError{type};
}

}  // namespace orvane::sitemsg
