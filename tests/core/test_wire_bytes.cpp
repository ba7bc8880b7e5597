// The exact bytes of every message, in both directions, written out by hand from the message
// layouts, and the text in them. The simulated site frames and parses with the client's own
// wire code, so a layout mistake there would be shared by both sides and never seen by the
// other tests; the bytes here come from neither.
#include "common/code_page.h"
#include "common/fixed_text.h"
#include "site/identify_client.h"
#include "site/login_payload.h"
#include "support/message_guard.h"
#include "support/simulated_link.h"

#include <QStringEncoder>
#include <QtEndian>

#include <gtest/gtest.h>

#include <memory>

namespace orvane {
namespace {

using sim::SiteSimulatorOptions;
using test::WaitUntil;

const QByteArray kTop("TOP\0", 4);
const QByteArray kEof("EOF\0", 4);
const QByteArray kTrailer("END\0EOF\0", 8);

QByteArray Word(std::uint32_t value) {
    QByteArray bytes(4, '\0');
    qToLittleEndian(value, bytes.data());
    return bytes;
}

// Text NUL-padded (or cut) to a field of `size` bytes.
QByteArray Field(const QByteArray& text, qsizetype size) {
    return text.leftJustified(size, '\0', true);
}

// 16-byte header, payload, 8-byte trailer: what the client sends.
QByteArray ClientBytes(std::uint32_t type, const QByteArray& payload = {}) {
    return kTop + Word(type) + Word(std::uint32_t(payload.size())) + kEof + payload + kTrailer;
}

// 24-byte header with two parameters, payload, trailer: what a site sends.
QByteArray SiteBytes(std::uint32_t type, std::uint32_t first, std::uint32_t second,
                     const QByteArray& payload = {}) {
    return kTop + Word(type) + Word(first) + Word(second) + Word(std::uint32_t(payload.size())) +
           kEof + payload + kTrailer;
}

QByteArray LoginBytes(const QByteArray& user, const QByteArray& password, std::uint32_t format,
                      std::uint32_t quality) {
    return ClientBytes(0, Field(user, 20) + Field(password, 20) + Word(format) + Word(quality));
}

QByteArray Bytes(const Block& block) {
    return QByteArray(reinterpret_cast<const char*>(block.data()), qsizetype(block.size()));
}

// Hex, so that a mismatch shows where it is.
std::string Hex(const QByteArray& bytes) {
    return bytes.toHex(' ').toStdString();
}

std::uint32_t Le32(const QByteArray& bytes, qsizetype at) {
    return qFromLittleEndian<std::uint32_t>(bytes.constData() + at);
}

TEST(ClientToSiteBytes, EveryMessageIsLaidOutAsWritten) {
    const auto word = [](ClientMessage type, std::uint32_t value) {
        return Bytes(Flatten(BuildWordMessage(static_cast<std::uint8_t>(type), value)));
    };
    const auto bare = [](ClientMessage type, const Block& payload = {}) {
        return Bytes(Flatten(BuildMessage(static_cast<std::uint8_t>(type), payload)));
    };
    // A login with the password "secret".
    const auto login = [](const char* user, int format, int quality, bool alarmMode = false) {
        CallSettings call = test::AdminCall("secret");
        call.user = user;
        call.formatSize = format;
        call.quality = quality;
        return Bytes(Flatten(BuildMessage(static_cast<std::uint8_t>(ClientMessage::Login),
                                          BuildLoginPayload(call, alarmMode))));
    };
    struct Row {
        const char* what;
        QByteArray built, expected;
    } const rows[] = {
        {"keep-alive, byte by byte", word(ClientMessage::KeepAlive, 0),
         QByteArray::fromHex("544F5000 08000000 04000000 454F4600 00000000 454E4400 454F4600")},
        {"open channel", word(ClientMessage::OpenChannel, 3), ClientBytes(1, Word(3))},
        {"close channel", word(ClientMessage::CloseChannel, 0x01020304),
         ClientBytes(2, Word(0x01020304))},
        {"fix channel", word(ClientMessage::FixChannel, 0xFFFFFFFE),
         ClientBytes(3, Word(0xFFFFFFFE))},
        {"event query", word(ClientMessage::EventQuery, 0), ClientBytes(9, Word(0))},
        {"close site", bare(ClientMessage::CloseSite), ClientBytes(20)},
        {"reboot site", bare(ClientMessage::RebootSite), ClientBytes(21)},
        {"run program", bare(ClientMessage::RunProgram, Block{'r', 'k', '-', 's', 'r', 'v', 0}),
         ClientBytes(22, QByteArray("rk-srv\0", 7))},
        {"an empty command line goes out bare", bare(ClientMessage::RunProgram), ClientBytes(22)},
        {"login", login("admin", 1, 55), LoginBytes("admin", "secret", 1, 55)},
        {"a 20-character name fills its field, the password follows without a NUL",
         login("ABCDEFGHIJKLMNOPQRST", 1, 55), LoginBytes("ABCDEFGHIJKLMNOPQRST", "secret", 1, 55)},
        {"a longer name is cut to its field", login(std::string(25, 'u').c_str(), 1, 55),
         LoginBytes(QByteArray(20, 'u'), "secret", 1, 55)},
        {"quality above 100 goes out as 30", login("admin", 1, 150),
         LoginBytes("admin", "secret", 1, 30)},
        {"quality below 0 as 30, a format beyond 1 as 0", login("admin", 2, -1),
         LoginBytes("admin", "secret", 0, 30)},
        {"quality 0 and format 0 as they are", login("admin", 0, 0),
         LoginBytes("admin", "secret", 0, 0)},
        // Format and quality still come from the settings.
        {"the built-in account of a call-back", login("admin", 1, 100, /*alarmMode=*/true),
         LoginBytes("Rua-Holdmar", "Q-Spin", 1, 100)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(Hex(row.built), Hex(row.expected));
    }
}

// The simulated site against plain sockets: nothing of the client's wire code.
class SimulatedSiteBytes : public testing::Test {
  protected:
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
    static void Send(QTcpSocket& socket, const QByteArray& bytes) {
        socket.write(bytes);
        socket.flush();
    }
    // Exactly `count` bytes, or what came within the wait.
    static QByteArray Read(QTcpSocket& socket, qsizetype count) {
        WaitUntil([&] { return socket.bytesAvailable() >= count; });
        return socket.read(count);
    }
    // One whole site message, located by its own length field.
    static QByteArray ReadSiteMessage(QTcpSocket& socket) {
        const QByteArray header = Read(socket, 24);
        return header.size() < 24 ? header : header + Read(socket, Le32(header, 16) + 8);
    }

    std::unique_ptr<sim::SiteSimulator> site;
};

TEST_F(SimulatedSiteBytes, EachAnswerAndMoveOfTheSiteIsLaidOutAsWritten) {
    const QByteArray record = Field("Door", 30) + Field("555-0100", 30) + Field("Main St 1", 120) +
                              Field("motion at the gate", 120);
    // The simulator's own record maker puts the four fields where a site does.
    ASSERT_EQ(
        Hex(Bytes(sim::MakeEventRecord("Door", "555-0100", "Main St 1", "motion at the gate"))),
        Hex(record));
    SiteSimulatorOptions options;
    options.channels = {
        {3, 1, "Gate"}, {-4, 2, "Negative"}, {7, 3, "Gate, yard and the loading bay!"}};
    options.siteBits = 1;
    options.maxSessions = 1;
    options.eventRecord = Block(record.begin(), record.end());
    site = test::StartSite(options);

    auto wrong = Connect();
    Send(*wrong, LoginBytes("admin", "wrong", 1, 30));
    EXPECT_EQ(Hex(Read(*wrong, 32)), Hex(SiteBytes(3, 0, 0)));

    SCOPED_TRACE("an accepted login: the channel list, then LoginAccepted, then nothing");
    auto client = Connect();
    Send(*client, LoginBytes("admin", "admin", 0, 30));
    const QByteArray entries = Word(3) + Field("Gate", 32) + Word(std::uint32_t(-4)) +
                               Field("Negative", 32) + Word(7) +
                               Field("Gate, yard and the loading bay!", 32);
    const QByteArray answer = SiteBytes(0, 3, 1, entries) + SiteBytes(2, 0, 0);
    EXPECT_EQ(Hex(Read(*client, answer.size())), Hex(answer));
    test::Pump(100);
    EXPECT_EQ(client->bytesAvailable(), 0);

    auto beyondTheLimit = Connect();
    Send(*beyondTheLimit, LoginBytes("admin", "admin", 1, 30));
    EXPECT_EQ(Hex(Read(*beyondTheLimit, 32)), Hex(SiteBytes(15, 0, 0)));

    SCOPED_TRACE("an open split into single bytes starts the stream; a close stops it");
    for (const char byte : ClientBytes(1, Word(3))) {
        Send(*client, QByteArray(1, byte));
    }
    EXPECT_EQ(Hex(ReadSiteMessage(*client).left(16)), Hex(kTop + Word(1) + Word(3) + Word(1)));
    EXPECT_EQ(site->CountReceived(ClientMessage::OpenChannel), 1);
    Send(*client, ClientBytes(2, Word(3)));
    ASSERT_TRUE(WaitUntil([&] { return site->CountReceived(ClientMessage::CloseChannel) == 1; }));
    test::Pump(100);
    client->readAll();  // frames sent before the close was read
    const long long sent = site->framesSent();
    test::Pump(400);  // four frame periods
    EXPECT_EQ(site->framesSent(), sent);
    EXPECT_EQ(client->bytesAvailable(), 0);

    SCOPED_TRACE("a stopped channel is named by its number");
    Send(*client, ClientBytes(1, Word(7)));
    ASSERT_EQ(ReadSiteMessage(*client)[4], 1);
    site->StopChannel(3);
    QByteArray stopped = ReadSiteMessage(*client);
    for (int frames = 0; frames < 200 && stopped.size() > 4 && stopped[4] == 1; ++frames) {
        stopped = ReadSiteMessage(*client);  // the channel's frames sent before it stopped
    }
    EXPECT_EQ(Hex(stopped), Hex(SiteBytes(5, 0, 3)));

    SCOPED_TRACE("event record, login again and closing");
    Send(*client, ClientBytes(9, Word(0)));
    EXPECT_EQ(Hex(ReadSiteMessage(*client)), Hex(SiteBytes(9, 0, 0, record)));
    site->SendEventRecord(Block(record.begin(), record.end()));
    EXPECT_EQ(Hex(ReadSiteMessage(*client)), Hex(SiteBytes(9, 0, 0, record)));
    site->SendLoginAgain();
    EXPECT_EQ(Hex(ReadSiteMessage(*client)), Hex(SiteBytes(4, 0, 0)));
    site->SendSiteClosing();
    EXPECT_EQ(Hex(ReadSiteMessage(*client)), Hex(SiteBytes(20, 0, 0)));
}

// A site that wants the login again answers the first with LoginAgain alone. Then a frame of
// each kind, three times: its header, trailer and the bitmap info of the login's picture format (1
// asks for 320 x 240, 0 for 160 x 120; raw video is always 160 x 120); the colour table (biClrUsed
// entries) and the image fill the payload exactly.
TEST_F(SimulatedSiteBytes, FramesOfEachCodecAndPictureFormatAreLaidOutAsWritten) {
    const auto info = [](int width, int height, const char* planesAndBits, QByteArray fourcc) {
        return Word(40) + Word(width) + Word(height) + QByteArray::fromHex(planesAndBits) + fourcc;
    };
    const struct {
        sim::SimulatedCodec codec;
        std::uint32_t format;
        QByteArray info;
    } rows[] = {{sim::SimulatedCodec::Mpeg4, 1, info(320, 240, "01001800", "FMP4")},
                {sim::SimulatedCodec::Mpeg4, 0, info(160, 120, "01001800", "FMP4")},
                {sim::SimulatedCodec::MsVideo1, 1, info(320, 240, "01001000", "CRAM")},
                {sim::SimulatedCodec::Uncompressed, 1, info(160, 120, "01001800", Word(0))}};
    for (const auto& row : rows) {
        SCOPED_TRACE(Hex(row.info));
        SiteSimulatorOptions options;
        options.codec = row.codec;
        options.loginAgainFirst = true;
        site = test::StartSite(options);
        auto client = Connect();
        Send(*client, LoginBytes("admin", "admin", row.format, 30));
        EXPECT_EQ(Hex(ReadSiteMessage(*client)), Hex(SiteBytes(4, 0, 0)));
        Send(*client, LoginBytes("admin", "admin", row.format, 30));
        ReadSiteMessage(*client);                // the channel list
        ReadSiteMessage(*client);                // LoginAccepted
        Send(*client, ClientBytes(1, Word(7)));  // Yard: id 7, number 2
        for (int i = 0; i < 3; ++i) {
            const QByteArray frame = ReadSiteMessage(*client);
            ASSERT_GE(frame.size(), 24 + 40 + 8);
            EXPECT_EQ(Hex(frame.left(16)), Hex(kTop + Word(1) + Word(7) + Word(2)));
            EXPECT_EQ(Hex(frame.mid(20, 4)), Hex(kEof));
            EXPECT_EQ(Hex(frame.right(8)), Hex(kTrailer));
            EXPECT_EQ(Hex(frame.mid(24, 20)), Hex(row.info));
            EXPECT_EQ(40 + 4 * Le32(frame, 24 + 32) + Le32(frame, 24 + 20), Le32(frame, 16));
        }
    }
}

// The site's reading of hand-written client messages, all in one write: it must find each
// message's end by its length, and take none whose length field is wrong.
TEST_F(SimulatedSiteBytes, EveryRequestIsReadWithItsPayloadAndAWrongLengthIsNotTaken) {
    site = test::StartSite();
    auto client = Connect();
    QByteArray wrongLength = ClientBytes(8, Word(0));
    wrongLength[8] = 5;  // a 4-byte payload: the trailer is not where the header says
    Send(*client, wrongLength);
    test::Pump(100);
    const std::vector<std::pair<unsigned, QByteArray>> requests{
        {0, Field("admin", 20) + Field("admin", 20) + Word(0) + Word(77)},
        {8, Word(0)},
        {3, Word(7)},
        {20, {}},
        {21, {}},
        {22, QByteArray("rk-mon\0", 7)},
        {2, Word(0x01020304)},
    };
    QByteArray all;
    for (const auto& [type, payload] : requests) {
        all += ClientBytes(type, payload);
    }
    Send(*client, all);
    ASSERT_TRUE(WaitUntil([&] { return site->received().size() >= requests.size(); }));
    test::Pump(100);
    ASSERT_EQ(site->received().size(), requests.size());
    for (std::size_t i = 0; i < requests.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(site->received()[i].type, requests[i].first);
        EXPECT_EQ(Hex(Bytes(site->received()[i].payload)), Hex(requests[i].second));
    }
    // The login's fields were read where they are: it was accepted.
    EXPECT_EQ(site->loggedInCount(), 1);
}

// The identify query as a server sees it: the ID code NUL-padded in a 20-byte field.
TEST(IdentifyClient, TheQueryIsTheIdCodeInATwentyByteField) {
    QTcpServer server;  // a plain listener: it records and never answers
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QByteArray received;
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
        QTcpSocket* peer = server.nextPendingConnection();
        QObject::connect(peer, &QTcpSocket::readyRead, peer,
                         [&received, peer] { received += peer->readAll(); });
    });
    IdentifyClient client({100, 1000});  // silence ends the lookup soon
    for (const QByteArray& code : {QByteArray("SITE42"), QByteArray("ABCDEFGHIJ")}) {
        received.clear();
        EXPECT_EQ(client.Lookup(code.toStdString(), "127.0.0.1", server.serverPort()), "");
        EXPECT_EQ(Hex(received), Hex(ClientBytes(103, Field(code, 20))));
        // Silence ends the lookup, still waiting for an answer.
        EXPECT_EQ(client.replyState(), IdentifyClient::kWaiting);
    }
}

std::optional<std::string> Some(std::string bytes) {
    return bytes;
}

// Windows-1252 is the default: every byte decodes as Windows decodes it and encodes back.
TEST(CodePage, EveryByteOfWindows1252DecodesAsWindowsDoesAndEncodesBack) {
    const CodePage codePage;
    EXPECT_EQ(codePage.name(), "windows-1252");
    EXPECT_EQ(CodePage("CP1252").name(), "windows-1252");
    EXPECT_EQ(codePage.Encode(QString::fromUtf8("€ Œ ™ ÿ")), Some("\x80 \x8C \x99 \xFF"));
    EXPECT_EQ(codePage.Encode(""), Some(""));
    for (int value = 1; value < 256; ++value) {
        const char byte = static_cast<char>(value);
        const QString text = codePage.Decode(std::span(&byte, 1));
        ASSERT_EQ(text.size(), 1) << value;
        EXPECT_EQ(codePage.Encode(text), Some(std::string(1, byte))) << value;
    }
    const char undefined[] = "\x81\x8D\x8F\x90\x9D";
    EXPECT_EQ(codePage.Decode(std::span(undefined, 5)),
              QString::fromUtf16(u"\u0081\u008D\u008F\u0090\u009D"));
    const char named[] = "\x80\x9F\xE9";
    EXPECT_EQ(codePage.Decode(std::span(named, 3)), QString::fromUtf8("€Ÿé"));
    // A field's text stops at its first NUL, and a full field without one is read no further.
    const char channel[] = "Einfahrt S\xFC\x64\0garbage";
    EXPECT_EQ(codePage.Decode(std::span(channel, sizeof channel - 1)),
              QString::fromUtf8("Einfahrt Süd"));
    EXPECT_EQ(codePage.Decode(std::span(channel, 4)), "Einf");
    EXPECT_EQ(codePage.Decode({}), "");
    // Text kept as UTF-8 reads its fields the same way, and is cut between characters.
    EXPECT_EQ(TextFromField(std::span(channel, sizeof channel - 1)), "Einfahrt S\xFC\x64");
    EXPECT_EQ(TextFromField(std::span(channel, 4)), "Einf");
    EXPECT_EQ(CutToBytes("abc\xC3\xA9", 4), "abc");
    EXPECT_EQ(CutToBytes("abc\xC3\xA9", 5), "abc\xC3\xA9");
}

TEST(CodePage, TextOutsideThePageIsRefusedAndItsCharactersNamed) {
    const CodePage codePage;
    const QString text = QString::fromUtf8("Řež 漢 Ř 😀 ok");
    EXPECT_EQ(codePage.Encode(text), std::nullopt);
    EXPECT_FALSE(codePage.CanEncode(text));
    EXPECT_EQ(codePage.UnencodableCharacters(text), QString::fromUtf8("Ř漢😀"));
    EXPECT_TRUE(codePage.CanEncode(QString::fromUtf8("Straße")));
    EXPECT_EQ(codePage.UnencodableCharacters("plain"), "");
    // A NUL would end the field early.
    EXPECT_FALSE(codePage.CanEncode(QString("a") + QChar(0) + "b"));
    EXPECT_EQ(codePage.Encode(QString(QChar(0x0080))), std::nullopt);  // 0x80 is the euro sign
    EXPECT_EQ(CannotSendMessage(codePage, QString::fromUtf8("Zoë Łódź")),
              QString::fromUtf8("\n\n The characters \"Łź\" cannot be sent to a site (code page "
                                "windows-1252). \n\n"));
}

// The converter would send '?' or SUB for what a page cannot hold; a multi-byte page's field
// is cut between characters.
TEST(CodePage, OtherPagesComeFromQtAndNeverSubstituteSilently) {
    EXPECT_EQ(CodePage().EncodeField("abcdef", 4), Some("abcd"));
    const CodePage latin1("latin1");
    EXPECT_EQ(latin1.Encode(QString::fromUtf8("€")), std::nullopt);
    EXPECT_EQ(latin1.Encode("a?"), Some("a?"));
    if (!QStringEncoder("windows-1250").isValid() || !QStringEncoder("Shift_JIS").isValid()) {
        GTEST_SKIP() << "Qt without ICU code pages";
    }
    const CodePage central("windows-1250");
    EXPECT_EQ(central.name(), "windows-1250");
    EXPECT_EQ(central.Encode(QString::fromUtf8("Řež")), Some("\xD8\x65\x9E"));
    const char bytes[] = "\xD8\x65\x9E\0\xD8";
    EXPECT_EQ(central.Decode(std::span(bytes, sizeof bytes - 1)), QString::fromUtf8("Řež"));
    EXPECT_EQ(central.Encode(QString::fromUtf8("漢")), std::nullopt);
    EXPECT_EQ(central.UnencodableCharacters(QString::fromUtf8("Ř漢ñ")), QString::fromUtf8("漢ñ"));
    const CodePage japanese("Shift_JIS");
    EXPECT_EQ(japanese.EncodeField(QString::fromUtf8("ab漢字"), 5), Some("ab\x8A\xBF"));
}

TEST(CodePage, UnknownOrUnsuitableNamesFallBackToWindows1252) {
    const test::ExpectedMessage fallback(QtWarningMsg, "orvane.site", "is not available");
    for (const char* name : {"no-such-page", "UTF-16", ""}) {
        const CodePage codePage(name);
        EXPECT_EQ(codePage.name(), "windows-1252") << name;
        EXPECT_EQ(codePage.Encode("Müller"), Some("\x4D\xFC\x6C\x6C\x65\x72")) << name;
    }
    Settings settings{KeyStore::OpenInMemory()};
    EXPECT_EQ(settings.LoadNet().codePage, "windows-1252");
    settings.WriteProfileString("Net", "CodePage", "windows-1250");
    EXPECT_EQ(settings.LoadNet().codePage, "windows-1250");
    settings.WriteProfileString("Net", "CodePage", "");
    EXPECT_EQ(settings.LoadNet().codePage, "windows-1252");
}

// Stored and read back, a name and a 20-character password (40 bytes of UTF-8) go out as
// single bytes; text the named page cannot hold goes out empty.
TEST(LoginPayloadText, NameAndPasswordGoOutAsSingleBytesAndKeepAllTwentyCharacters) {
    // The name and password fields, and the format after them (untouched by a long text).
    const auto fields = [](const LoginPayload& payload) {
        return Hex(QByteArray(reinterpret_cast<const char*>(payload.data()), 44));
    };
    Settings settings{KeyStore::OpenInMemory()};
    CallSettings call;
    call.user = "Müller";
    call.password = "äöüßäöüßäöüßäöüßäöüß";
    settings.SaveCall(call);
    EXPECT_EQ(fields(BuildLoginPayload(settings.LoadCall(), false)),
              Hex(Field("M\xFCller", 20) + QByteArray("\xE4\xF6\xFC\xDF").repeated(5) + Word(1)));
    call.user = "Dvořák";
    call.password = "pw";
    const test::ExpectedMessage refused(QtWarningMsg, "orvane.site", "sent empty");
    EXPECT_EQ(fields(BuildLoginPayload(call, false, CodePage())),
              Hex(Field("", 20) + Field("pw", 20) + Word(1)));
    if (QStringEncoder("windows-1250").isValid()) {
        EXPECT_EQ(fields(BuildLoginPayload(call, false, CodePage("windows-1250"))),
                  Hex(Field("Dvo\xF8\xE1k", 20) + Field("pw", 20) + Word(1)));
    }
}

}  // namespace
}  // namespace orvane
