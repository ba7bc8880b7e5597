#include "site/login_payload.h"
#include "wire/byte_order.h"
#include "wire/message_builder.h"
#include "wire/queues.h"

#include <gtest/gtest.h>

#include <string>

namespace orvane {
namespace {

std::string Text(std::span<const std::uint8_t> bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

TEST(WireMessages, HeaderAndTrailerBytes) {
    const MessageBlocks blocks = BuildWordMessage(8, 0);
    EXPECT_EQ(Text(blocks.header), std::string("TOP\0\x08\0\0\0\x04\0\0\0EOF\0", 16));
    EXPECT_EQ(Text(blocks.payload), std::string(4, '\0'));
    EXPECT_EQ(Text(blocks.trailer), std::string("END\0EOF\0", 8));

    const Block site = BuildSiteHeader(1, 0x01020304, 7, 300);
    EXPECT_EQ(site.size(), 24u);
    EXPECT_EQ(ReadLe32(site, 8), 0x01020304u);
    EXPECT_EQ(ReadLe32(site, 12), 7u);
    EXPECT_EQ(ReadLe32(site, 16), 300u);
    EXPECT_EQ(Text(std::span(site).subspan(20)), std::string("EOF\0", 4));
}

TEST(WireMessages, LoginFieldsAreCutAndQualityOutOfRangeIsSentAs30) {
    CallSettings call;
    call.user = "ABCDEFGHIJKLMNOPQRST";  // exactly 20: no NUL, the password follows at once
    call.password = "pw";
    call.formatSize = 1;
    call.quality = 150;
    LoginPayload payload = BuildLoginPayload(call, false);
    EXPECT_EQ(Text(std::span(payload).first(22)), "ABCDEFGHIJKLMNOPQRSTpw");
    EXPECT_EQ(payload[22], 0);
    EXPECT_EQ(ReadLe32(payload, 40), 1u);
    EXPECT_EQ(ReadLe32(payload, 44), 30u);

    call.quality = -1;
    call.formatSize = 2;
    payload = BuildLoginPayload(call, false);
    EXPECT_EQ(ReadLe32(payload, 40), 0u);
    EXPECT_EQ(ReadLe32(payload, 44), 30u);

    call.quality = 100;
    call.user = std::string(25, 'u');  // only values edited elsewhere are this long
    payload = BuildLoginPayload(call, false);
    EXPECT_EQ(Text(std::span(payload).first(20)), std::string(20, 'u'));
    EXPECT_EQ(ReadLe32(payload, 44), 100u);

    payload = BuildLoginPayload(call, true);
    EXPECT_EQ(Text(std::span(payload).first(12)), std::string("Rua-Holdmar\0", 12));
    EXPECT_EQ(Text(std::span(payload).subspan(20, 7)), std::string("Q-Spin\0", 7));
}

TEST(SendQueue, BlocksWaitAndGoOutInOrderWithTheNextAppend) {
    bool writable = false;
    std::string wire;
    const BlockSender send = [&](std::span<const std::uint8_t> block) {
        if (!writable) {
            return SendOutcome::Blocked;
        }
        wire += Text(block);
        return SendOutcome::Sent;
    };
    SendQueue queue;
    queue.AppendMessage(BuildWordMessage(1, 3), send);
    EXPECT_EQ(queue.size(), 3u);
    EXPECT_TRUE(wire.empty());

    writable = true;  // the send notification sets the flag but does not flush
    queue.AppendMessage(BuildMessage(21, {}), send);
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(wire, Text(Flatten(BuildWordMessage(1, 3))) + Text(Flatten(BuildMessage(21, {}))));
    // A bare message is header and trailer only.
    EXPECT_EQ(Flatten(BuildMessage(21, {})).size(), 24u);
}

}  // namespace
}  // namespace orvane
