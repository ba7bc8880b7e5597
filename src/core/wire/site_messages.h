#pragma once

#include "wire/bitmap_info.h"
#include "wire/message_layout.h"

#include <array>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

// What one reassembled site message says, decoded once with every bounds check in one place.
// Pure: no sockets, no state. The connection acts on the result; the fuzzer and the tests call
// it directly.
namespace orvane::sitemsg {

struct ChannelListEntry {
    std::int32_t id = 0;
    std::array<char, kChannelNameField> name{};  // as on the wire, NUL-padded
};

// The site's channels with their permission bits. Only entries wholly inside the payload are
// listed, at most `announced` of them; entries with an id <= 0 are left out.
struct ChannelList {
    std::uint32_t announced = 0;
    std::uint32_t siteBits = 0;
    std::vector<ChannelListEntry> entries;

    bool openPermission() const { return (siteBits & 1u) != 0; }
    bool closePermission() const { return (siteBits & 2u) != 0; }
};

// A frame whose header passed every check; the spans view the message it came from.
struct VideoFrame {
    std::uint32_t channelId = 0;
    std::uint32_t channelNumber = 0;
    std::span<const std::uint8_t> packed;  // header, colour table and image data as received
    PackedFrame frame;
};

struct LoginAccepted {};
struct LoginRejected {};
struct LoginAgain {};
struct ChannelStopped {
    std::uint32_t channelNumber = 0;
};
struct EventRecord {
    std::span<const std::uint8_t> record;  // exactly kEventRecordSize bytes
};
struct LimitReached {};
struct SiteClosing {};
// A type the protocol does not have.
struct StreamError {
    std::uint8_t type = 0;
};
// A known type whose content cannot be used (a frame that lies about its size, an event
// record that is too short); acted on by nobody.
struct Dropped {
    std::uint8_t type = 0;
    const char* reason = "";
    // Worth a line in the log, not only in a debug trace: a site that sends it is faulty.
    bool notable = false;
};

using SiteMessageValue =
    std::variant<ChannelList, VideoFrame, LoginAccepted, LoginRejected, LoginAgain, ChannelStopped,
                 EventRecord, LimitReached, SiteClosing, StreamError, Dropped>;

// Decodes one whole message: SiteMessageHeader, payload, trailer. Anything shorter than the
// header, or a payload length beyond the bytes given, decodes as Dropped.
SiteMessageValue DecodeSiteMessage(std::span<const std::uint8_t> message);

}  // namespace orvane::sitemsg
