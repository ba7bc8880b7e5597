#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Layouts of the framed messages exchanged with sites and identify servers: a fixed header,
// the payload, and a fixed trailer. All integers are 32-bit little-endian.
namespace orvane {

// "TOP\0" ... "EOF\0": 16 bytes, heads every client message and every identify reply.
struct MessageHeader {
    static constexpr std::size_t kSize = 16;
    static constexpr std::size_t kTypeOffset = 4;
    static constexpr std::size_t kLengthOffset = 8;
    static constexpr std::size_t kEofOffset = 12;
};

// 24 bytes with two parameter words: heads every message a site sends.
struct SiteMessageHeader {
    static constexpr std::size_t kSize = 24;
    static constexpr std::size_t kTypeOffset = 4;
    static constexpr std::size_t kFirstParamOffset = 8;
    static constexpr std::size_t kSecondParamOffset = 12;
    static constexpr std::size_t kLengthOffset = 16;
    static constexpr std::size_t kEofOffset = 20;
};

// "END\0EOF\0": ends every message in both directions.
struct MessageTrailer {
    static constexpr std::size_t kSize = 8;
    static constexpr std::array<std::uint8_t, kSize> kBytes{'E', 'N', 'D', 0, 'E', 'O', 'F', 0};
};

inline constexpr std::array<std::uint8_t, 4> kTopMark{'T', 'O', 'P', 0};
inline constexpr std::array<std::uint8_t, 4> kEofMark{'E', 'O', 'F', 0};

// Client to site.
enum class ClientMessage : std::uint8_t {
    Login = 0,
    OpenChannel = 1,
    CloseChannel = 2,
    FixChannel = 3,
    KeepAlive = 8,
    EventQuery = 9,
    CloseSite = 20,
    RebootSite = 21,
    RunProgram = 22,
};

// Site to client; every other type is a stream error.
enum class SiteMessage : std::uint8_t {
    ChannelList = 0,
    VideoFrame = 1,
    LoginAccepted = 2,
    LoginRejected = 3,
    LoginAgain = 4,
    ChannelStopped = 5,
    EventRecord = 9,
    LimitReached = 15,
    SiteClosing = 20,
};

// Between the client and an identify server, both ways with MessageHeader.
enum class IdentifyMessage : std::uint8_t {
    Done = 100,
    Query = 103,
    Address = 104,
    Unknown = 199,
};

// Reassembly limits of the two socket kinds.
inline constexpr std::size_t kSiteChunkSize = 1024;
inline constexpr std::size_t kSiteAssemblyCapacity = 153600;
inline constexpr std::size_t kIdentifyChunkSize = 128;
inline constexpr std::size_t kIdentifyAssemblyCapacity = 512;

// Payload layouts.
inline constexpr std::size_t kLoginPayloadSize = 48;
inline constexpr std::size_t kLoginNameField = 20;
inline constexpr std::size_t kLoginPasswordOffset = 20;
inline constexpr std::size_t kLoginPasswordField = 20;
inline constexpr std::size_t kLoginFormatOffset = 40;
inline constexpr std::size_t kLoginQualityOffset = 44;
inline constexpr std::size_t kChannelEntrySize = 36;
inline constexpr std::size_t kChannelNameField = 32;
inline constexpr std::size_t kEventRecordSize = 300;
inline constexpr std::size_t kIdentifyQuerySize = 20;
inline constexpr std::size_t kIdentifyAddressOffset = 12;

// Built-in account of connections accepted from a site's event call-back.
inline constexpr const char* kAlarmUser = "Rua-Holdmar";
inline constexpr const char* kAlarmPassword = "Q-Spin";

}  // namespace orvane
