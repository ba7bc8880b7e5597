// The exact bytes of every message, in both directions, written out by hand from the message
// layouts. The simulated site frames and parses with the client's own wire code, so a layout
// mistake there would be shared by both sides and never seen by the other tests; the bytes
// here come from neither.
#include "site/login_payload.h"
#include "support/event_loop.h"
#include "support/simulated_link.h"
#include "wire/message_builder.h"

#include <QTcpSocket>

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <memory>
#include <string_view>

namespace orvane {
namespace {

using sim::SiteSimulatorOptions;
using test::WaitUntil;

// A tiny little-endian writer: every field is spelled out where it is used.
class Wire {
  public:
    Wire& Bytes(std::initializer_list<unsigned> bytes) {
        for (const unsigned byte : bytes) {
            data_.append(static_cast<char>(byte));
        }
        return *this;
    }
    Wire& Word(std::uint32_t value) {
        return Bytes({value & 0xFF, value >> 8 & 0xFF, value >> 16 & 0xFF, value >> 24 & 0xFF});
    }
    Wire& Text(std::string_view text) {
        data_.append(text.data(), static_cast<qsizetype>(text.size()));
        return *this;
    }
    // Text NUL-padded to a field of `size` bytes.
    Wire& Field(std::string_view text, std::size_t size) {
        Text(text);
        data_.append(static_cast<qsizetype>(size - text.size()), '\0');
        return *this;
    }
    Wire& Append(const QByteArray& bytes) {
        data_.append(bytes);
        return *this;
    }
    const QByteArray& bytes() const { return data_; }
    operator QByteArray() const { return data_; }

  private:
    QByteArray data_;
};

constexpr std::string_view kTop{"TOP\0", 4};
constexpr std::string_view kEof{"EOF\0", 4};
constexpr std::string_view kTrailer{"END\0EOF\0", 8};

// 16-byte header, payload, 8-byte trailer: what the client sends.
QByteArray ClientBytes(unsigned type, const QByteArray& payload = {}) {
    return Wire()
        .Text(kTop)
        .Bytes({type, 0, 0, 0})
        .Word(static_cast<std::uint32_t>(payload.size()))
        .Text(kEof)
        .Append(payload)
        .Text(kTrailer);
}

QByteArray WordPayload(std::uint32_t value) {
    return Wire().Word(value);
}

// 24-byte header with two parameters, payload, trailer: what a site sends.
QByteArray SiteBytes(unsigned type, std::uint32_t first, std::uint32_t second,
                     const QByteArray& payload = {}) {
    return Wire()
        .Text(kTop)
        .Bytes({type, 0, 0, 0})
        .Word(first)
        .Word(second)
        .Word(static_cast<std::uint32_t>(payload.size()))
        .Text(kEof)
        .Append(payload)
        .Text(kTrailer);
}

QByteArray LoginBytes(std::string_view user, std::string_view password, std::uint32_t format,
                      std::uint32_t quality) {
    return ClientBytes(0, Wire().Field(user, 20).Field(password, 20).Word(format).Word(quality));
}

QByteArray Bytes(const Block& block) {
    return QByteArray(reinterpret_cast<const char*>(block.data()),
                      static_cast<qsizetype>(block.size()));
}

// Hex so that a mismatch shows where it is.
std::string Hex(const QByteArray& bytes) {
    return bytes.toHex(' ').toStdString();
}

std::uint32_t Le32(const QByteArray& bytes, qsizetype at) {
    const auto byte = [&](qsizetype i) {
        return static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + i]));
    };
    return byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24;
}

std::uint16_t Le16(const QByteArray& bytes, qsizetype at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                      static_cast<std::uint8_t>(bytes[at + 1]) << 8);
}

// ---------------------------------------------------------------------------------------
// Client to site: what our builders produce.

TEST(ClientToSiteBytes, EveryMessageIsLaidOutAsWritten) {
    const auto word = [](ClientMessage type, std::uint32_t value) {
        return Bytes(Flatten(BuildWordMessage(static_cast<std::uint8_t>(type), value)));
    };
    const auto bare = [](ClientMessage type, const Block& payload = {}) {
        return Bytes(Flatten(BuildMessage(static_cast<std::uint8_t>(type), payload)));
    };
    // A login of these settings: admin / secret, format 1, quality 55, changed by `edit`.
    const auto login = [](const std::function<void(CallSettings&)>& edit, bool alarmMode = false) {
        CallSettings call;
        call.user = "admin";
        call.password = "secret";
        call.formatSize = 1;
        call.quality = 55;
        edit(call);
        return Bytes(Flatten(BuildMessage(static_cast<std::uint8_t>(ClientMessage::Login),
                                          BuildLoginPayload(call, alarmMode))));
    };
    const auto unchanged = [](CallSettings&) {};
    struct Row {
        const char* what;
        QByteArray built;
        QByteArray expected;
    } const rows[] = {
        {"keep-alive, byte by byte", word(ClientMessage::KeepAlive, 0),
         Wire().Bytes({
             0x54, 0x4F, 0x50, 0x00, 0x08, 0x00, 0x00, 0x00,  // "TOP", type 8
             0x04, 0x00, 0x00, 0x00, 0x45, 0x4F, 0x46, 0x00,  // length 4, "EOF"
             0x00, 0x00, 0x00, 0x00,                          // value 0
             0x45, 0x4E, 0x44, 0x00, 0x45, 0x4F, 0x46, 0x00,  // "END", "EOF"
         })},
        {"keep-alive", word(ClientMessage::KeepAlive, 0), ClientBytes(8, WordPayload(0))},
        {"open channel", word(ClientMessage::OpenChannel, 3), ClientBytes(1, WordPayload(3))},
        {"close channel", word(ClientMessage::CloseChannel, 0x01020304),
         ClientBytes(2, WordPayload(0x01020304))},
        {"fix channel", word(ClientMessage::FixChannel, 0xFFFFFFFE),
         ClientBytes(3, WordPayload(0xFFFFFFFE))},
        {"event query", word(ClientMessage::EventQuery, 0), ClientBytes(9, WordPayload(0))},
        {"close site", bare(ClientMessage::CloseSite), ClientBytes(20)},
        {"reboot site", bare(ClientMessage::RebootSite), ClientBytes(21)},
        {"run program", bare(ClientMessage::RunProgram, Block{'r', 'k', '-', 's', 'r', 'v', 0}),
         ClientBytes(22, Wire().Text({"rk-srv\0", 7}))},
        {"an empty command line goes out bare", bare(ClientMessage::RunProgram), ClientBytes(22)},
        {"login", login(unchanged), LoginBytes("admin", "secret", 1, 55)},
        {"a 20-character name fills its field, the password follows without a NUL",
         login([](CallSettings& call) { call.user = "ABCDEFGHIJKLMNOPQRST"; }),
         LoginBytes("ABCDEFGHIJKLMNOPQRST", "secret", 1, 55)},
        {"a longer name is cut to its field",
         login([](CallSettings& call) { call.user = std::string(25, 'u'); }),
         LoginBytes(std::string(20, 'u'), "secret", 1, 55)},
        {"quality above 100 goes out as 30", login([](CallSettings& call) { call.quality = 150; }),
         LoginBytes("admin", "secret", 1, 30)},
        {"quality below 0 as 30, a format beyond 1 as 0", login([](CallSettings& call) {
             call.quality = -1;
             call.formatSize = 2;
         }),
         LoginBytes("admin", "secret", 0, 30)},
        {"quality 0 and format 0 as they are",
         login([](CallSettings& call) { call.quality = call.formatSize = 0; }),
         LoginBytes("admin", "secret", 0, 0)},
        // Format and quality still come from the settings.
        {"the built-in account of a call-back",
         login([](CallSettings& call) { call.quality = 100; }, /*alarmMode=*/true),
         LoginBytes("Rua-Holdmar", "Q-Spin", 1, 100)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(Hex(row.built), Hex(row.expected));
    }
}

// ---------------------------------------------------------------------------------------
// Site to client: what the simulated site sends to a plain socket.

class SimulatedSiteBytes : public testing::Test {
  protected:
    void StartSite(SiteSimulatorOptions options = {}) {
        site = test::StartSite(std::move(options));
    }

    // A plain client socket, connected to the site; nothing of the client's wire code.
    std::unique_ptr<QTcpSocket> Connect() {
        auto socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, site->port());
        const int sessions = site->sessionCount();
        EXPECT_TRUE(WaitUntil([&] {
            return socket->state() == QAbstractSocket::ConnectedState &&
                   site->sessionCount() > sessions;
        }));
        return socket;
    }

    // A plain client that logged in and read the channel list and LoginAccepted.
    std::unique_ptr<QTcpSocket> LoggedInClient(std::uint32_t format = 1) {
        auto client = Connect();
        Send(*client, LoginBytes("admin", "admin", format, 30));
        (void)ReadSiteMessage(*client);
        (void)ReadSiteMessage(*client);
        return client;
    }

    static void Send(QTcpSocket& socket, const QByteArray& bytes) {
        socket.write(bytes);
        socket.flush();
    }

    // Exactly `count` bytes, or what came within the wait.
    static QByteArray Read(QTcpSocket& socket, qsizetype count, int timeoutMs = 5000) {
        WaitUntil([&] { return socket.bytesAvailable() >= count; }, timeoutMs);
        return socket.read(count);
    }

    // One whole site message, located by its own length field.
    static QByteArray ReadSiteMessage(QTcpSocket& socket) {
        QByteArray message = Read(socket, 24);
        if (message.size() < 24) {
            return message;
        }
        return message + Read(socket, Le32(message, 16) + 8);
    }

    // The next message that is not a VideoFrame.
    static QByteArray ReadNonVideoMessage(QTcpSocket& socket) {
        for (int skipped = 0; skipped < 200; ++skipped) {
            const QByteArray message = ReadSiteMessage(socket);
            if (message.size() < 5 || message[4] != 1) {
                return message;
            }
        }
        return {};
    }

    static QByteArray ChannelEntry(std::int32_t id, std::string_view name) {
        return Wire().Word(static_cast<std::uint32_t>(id)).Field(name, 32);
    }

    std::unique_ptr<sim::SiteSimulator> site;
};

TEST_F(SimulatedSiteBytes, AnAcceptedLoginGetsTheChannelListThenLoginAccepted) {
    SiteSimulatorOptions options;
    options.channels = {
        {3, 1, "Gate"}, {-4, 2, "Negative"}, {7, 3, "Gate, yard and the loading bay!"}};
    options.siteBits = 1;
    StartSite(options);
    auto client = Connect();
    Send(*client, LoginBytes("admin", "admin", 1, 30));

    const QByteArray entries = ChannelEntry(3, "Gate") + ChannelEntry(-4, "Negative") +
                               ChannelEntry(7, "Gate, yard and the loading bay!");
    ASSERT_EQ(entries.size(), 3 * 36);
    const QByteArray expected = SiteBytes(0, 3, 1, entries) + SiteBytes(2, 0, 0);
    EXPECT_EQ(Hex(Read(*client, expected.size())), Hex(expected));
    test::Pump(100);
    EXPECT_EQ(client->bytesAvailable(), 0);
}

TEST_F(SimulatedSiteBytes, RejectedLimitedAndRepeatedLogins) {
    SiteSimulatorOptions options;
    options.maxSessions = 1;
    StartSite(options);

    auto wrong = Connect();
    Send(*wrong, LoginBytes("admin", "wrong", 1, 30));
    EXPECT_EQ(Hex(Read(*wrong, 32)), Hex(SiteBytes(3, 0, 0)));

    auto first = Connect();
    Send(*first, LoginBytes("admin", "admin", 1, 30));
    ASSERT_TRUE(WaitUntil([&] { return site->loggedInCount() == 1; }));
    auto second = Connect();
    Send(*second, LoginBytes("admin", "admin", 1, 30));
    EXPECT_EQ(Hex(Read(*second, 32)), Hex(SiteBytes(15, 0, 0)));

    (void)ReadSiteMessage(*first);  // ChannelList
    (void)ReadSiteMessage(*first);  // LoginAccepted
    site->SendLoginAgain();
    EXPECT_EQ(Hex(ReadSiteMessage(*first)), Hex(SiteBytes(4, 0, 0)));
    site->SendSiteClosing();
    EXPECT_EQ(Hex(ReadSiteMessage(*first)), Hex(SiteBytes(20, 0, 0)));
}

TEST_F(SimulatedSiteBytes, LoginAgainFirstWhenTheSiteAsksForIt) {
    SiteSimulatorOptions options;
    options.loginAgainFirst = true;
    StartSite(options);
    auto client = Connect();
    Send(*client, LoginBytes("admin", "admin", 1, 30));
    EXPECT_EQ(Hex(Read(*client, 32)), Hex(SiteBytes(4, 0, 0)));
    Send(*client, LoginBytes("admin", "admin", 1, 30));
    EXPECT_EQ(ReadSiteMessage(*client).left(5), Wire().Text(kTop).Bytes({0}).bytes());
}

struct FrameCase {
    sim::SimulatedCodec codec;
    std::uint32_t loginFormat;
    std::int32_t width;
    std::int32_t height;
    std::uint16_t bitCount;
    std::uint32_t fourcc;  // as the four bytes read little-endian
};

void PrintTo(const FrameCase& frameCase, std::ostream* out) {
    *out << sim::CodecName(frameCase.codec).toStdString() << " format " << frameCase.loginFormat;
}

class SimulatedFrames : public SimulatedSiteBytes, public testing::WithParamInterface<FrameCase> {};

TEST_P(SimulatedFrames, VideoFrameHeaderTrailerAndBitmapInfo) {
    const FrameCase& param = GetParam();
    SiteSimulatorOptions options;
    options.codec = param.codec;
    StartSite(options);
    auto client = LoggedInClient(param.loginFormat);
    Send(*client, ClientBytes(1, WordPayload(7)));  // Yard: id 7, number 2

    for (int frame = 0; frame < 3; ++frame) {
        const QByteArray header = Read(*client, 24);
        ASSERT_EQ(header.size(), 24);
        const std::uint32_t length = Le32(header, 16);
        EXPECT_EQ(Hex(header.left(16)), Hex(Wire().Text(kTop).Bytes({1, 0, 0, 0}).Word(7).Word(2)));
        EXPECT_EQ(Hex(header.mid(20)), Hex(Wire().Text(kEof)));
        const QByteArray rest = Read(*client, length + 8);
        ASSERT_EQ(rest.size(), qsizetype(length) + 8) << "frame " << frame;
        EXPECT_EQ(Hex(rest.right(8)), Hex(Wire().Text(kTrailer))) << "frame " << frame;

        ASSERT_GE(length, 40u);
        EXPECT_EQ(Le32(rest, 0), 40u);  // biSize
        EXPECT_EQ(static_cast<std::int32_t>(Le32(rest, 4)), param.width);
        EXPECT_EQ(static_cast<std::int32_t>(Le32(rest, 8)), param.height);
        EXPECT_EQ(Le16(rest, 12), 1);  // biPlanes
        EXPECT_EQ(Le16(rest, 14), param.bitCount);
        EXPECT_EQ(Le32(rest, 16), param.fourcc);
        const std::uint32_t colours = Le32(rest, 32);  // biClrUsed
        // The colour table and the image fill the payload exactly.
        EXPECT_EQ(40 + 4 * colours + Le32(rest, 20), length) << "frame " << frame;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, SimulatedFrames,
    testing::Values(
        // The login's format 1 asks for 320 x 240, 0 for 160 x 120.
        FrameCase{sim::SimulatedCodec::Mpeg4, 1, 320, 240, 24, 0x34504D46},  // "FMP4"
        FrameCase{sim::SimulatedCodec::Mpeg4, 0, 160, 120, 24, 0x34504D46},
        FrameCase{sim::SimulatedCodec::MsVideo1, 1, 320, 240, 16, 0x4D415243},  // "CRAM"
        // Raw video is always 160 x 120, bottom-up rows of 480 bytes.
        FrameCase{sim::SimulatedCodec::Uncompressed, 1, 160, 120, 24, 0}),
    [](const auto& caseInfo) {
        return sim::CodecName(caseInfo.param.codec).toStdString() + "_format" +
               std::to_string(caseInfo.param.loginFormat);
    });

TEST_F(SimulatedSiteBytes, ChannelStoppedNamesTheChannelNumber) {
    StartSite();
    auto client = LoggedInClient();
    Send(*client, ClientBytes(1, WordPayload(7)));
    ASSERT_EQ(ReadSiteMessage(*client)[4], 1);
    site->StopChannel(2);
    EXPECT_EQ(Hex(ReadNonVideoMessage(*client)), Hex(SiteBytes(5, 0, 2)));
}

TEST_F(SimulatedSiteBytes, EventRecordAnswersTheEventQuery) {
    const QByteArray record = Wire()
                                  .Field("Door", 30)
                                  .Field("555-0100", 30)
                                  .Field("Main St 1", 120)
                                  .Field("motion at the gate", 120);
    ASSERT_EQ(record.size(), 300);
    // The simulator's own record maker puts the four fields where a site does.
    EXPECT_EQ(
        Hex(Bytes(sim::MakeEventRecord("Door", "555-0100", "Main St 1", "motion at the gate"))),
        Hex(record));

    SiteSimulatorOptions options;
    options.eventRecord = Block(record.begin(), record.end());
    StartSite(options);
    auto client = LoggedInClient();
    Send(*client, ClientBytes(9, WordPayload(0)));
    EXPECT_EQ(Hex(ReadSiteMessage(*client)), Hex(SiteBytes(9, 0, 0, record)));

    // And as the site's own move.
    site->SendEventRecord(Block(record.begin(), record.end()));
    EXPECT_EQ(Hex(ReadSiteMessage(*client)), Hex(SiteBytes(9, 0, 0, record)));
}

// ---------------------------------------------------------------------------------------
// The simulated site's reading of hand-written client messages.

TEST_F(SimulatedSiteBytes, EveryRequestIsLoggedWithItsPayload) {
    StartSite();
    auto client = Connect();
    // All in one write: the site must find each message's end by its length.
    const QByteArray login = Wire().Field("admin", 20).Field("admin", 20).Word(0).Word(77);
    struct Sent {
        unsigned type;
        QByteArray payload;
    };
    const std::vector<Sent> requests{
        {0, login},
        {8, WordPayload(0)},
        {3, WordPayload(7)},
        {20, {}},
        {21, {}},
        {22, Wire().Text({"rk-mon\0", 7})},
        {22, {}},
        {2, WordPayload(0x01020304)},
    };
    QByteArray all;
    for (const Sent& request : requests) {
        all += ClientBytes(request.type, request.payload);
    }
    Send(*client, all);
    ASSERT_TRUE(WaitUntil([&] { return site->received().size() == requests.size(); }));
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const sim::ReceivedMessage& received = site->received()[i];
        EXPECT_EQ(received.type, requests[i].type) << "message " << i;
        EXPECT_EQ(Hex(Bytes(received.payload)), Hex(requests[i].payload)) << "message " << i;
    }
    // The login's fields were read where they are: it was accepted.
    EXPECT_EQ(site->loggedInCount(), 1);
}

TEST_F(SimulatedSiteBytes, OpenAndCloseChannelStartAndStopTheStream) {
    StartSite();
    auto client = LoggedInClient(0);

    // Split into single bytes: the site reassembles.
    const QByteArray open = ClientBytes(1, WordPayload(3));
    for (const char byte : open) {
        Send(*client, QByteArray(1, byte));
    }
    const QByteArray frame = ReadSiteMessage(*client);
    ASSERT_GE(frame.size(), 24);
    EXPECT_EQ(frame[4], 1);
    EXPECT_EQ(Le32(frame, 8), 3u);   // channel id
    EXPECT_EQ(Le32(frame, 12), 1u);  // channel number
    EXPECT_EQ(site->CountReceived(ClientMessage::OpenChannel), 1);

    Send(*client, ClientBytes(2, WordPayload(3)));
    ASSERT_TRUE(WaitUntil([&] { return site->CountReceived(ClientMessage::CloseChannel) == 1; }));
    test::Pump(100);
    client->readAll();  // frames sent before the close was read
    const long long sent = site->framesSent();
    test::Pump(400);  // four frame periods
    EXPECT_EQ(site->framesSent(), sent);
    EXPECT_EQ(client->bytesAvailable(), 0);
}

TEST_F(SimulatedSiteBytes, ARequestWithTheWrongLengthFieldIsNotTaken) {
    StartSite();
    auto client = Connect();
    // Length 5 for a 4-byte payload: the trailer is not where the header says.
    QByteArray bad = ClientBytes(8, WordPayload(0));
    bad[8] = 5;
    Send(*client, bad);
    test::Pump(100);
    Send(*client, ClientBytes(8, WordPayload(0)));
    ASSERT_TRUE(WaitUntil([&] { return site->CountReceived(ClientMessage::KeepAlive) >= 1; }));
    test::Pump(100);
    EXPECT_EQ(site->CountReceived(ClientMessage::KeepAlive), 1);
}

}  // namespace
}  // namespace orvane
