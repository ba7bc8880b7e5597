// Text on the wire: the code page, fixed fields and the login's text.
#include "common/code_page.h"
#include "common/fixed_text.h"
#include "site/login_payload.h"
#include "store/settings.h"
#include "support/message_guard.h"
#include "wire/byte_order.h"

#include <QStringEncoder>

#include <gtest/gtest.h>

#include <string>

namespace orvane {
namespace {

std::string Bytes(std::span<const std::uint8_t> bytes) {
    return std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
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
// single bytes; text the named page cannot hold goes out empty; the alarm account is fixed.
TEST(LoginPayloadText, NameAndPasswordGoOutAsSingleBytesAndKeepAllTwentyCharacters) {
    Settings settings{KeyStore::OpenInMemory()};
    CallSettings call;
    call.user = "Müller";
    call.password = "äöüßäöüßäöüßäöüßäöüß";
    settings.SaveCall(call);
    LoginPayload payload = BuildLoginPayload(settings.LoadCall(), false);
    EXPECT_EQ(Bytes(std::span(payload).first(20)),
              std::string("M\xFCller", 6) + std::string(14, 0));
    EXPECT_EQ(Bytes(std::span(payload).subspan(20, 20)),
              "\xE4\xF6\xFC\xDF\xE4\xF6\xFC\xDF\xE4\xF6\xFC\xDF\xE4\xF6\xFC\xDF\xE4\xF6\xFC\xDF");
    EXPECT_EQ(ReadLe32(payload, 40), 1u);  // the field after the password is untouched

    call.user = "Dvořák";
    call.password = "pw";
    {
        const test::ExpectedMessage refused(QtWarningMsg, "orvane.site", "sent empty");
        payload = BuildLoginPayload(call, false, CodePage());
        EXPECT_EQ(Bytes(std::span(payload).first(22)), std::string(20, '\0') + "pw");
    }
    if (QStringEncoder("windows-1250").isValid()) {
        payload = BuildLoginPayload(call, false, CodePage("windows-1250"));
        EXPECT_EQ(Bytes(std::span(payload).first(7)), std::string("Dvo\xF8\xE1k\0", 7));
    }
    payload = BuildLoginPayload(call, true, CodePage());
    EXPECT_EQ(Bytes(std::span(payload).first(12)), std::string("Rua-Holdmar\0", 12));
}

TEST(FixedText, FieldsAreReadUpToTheirNulNeverPastTheirEndAndCutBetweenCharacters) {
    const char padded[8] = {'G', 'a', 't', 'e', '\0', 'x', 'y', 'z'};
    EXPECT_EQ(TextFromField(padded), "Gate");
    const char full[4] = {'Y', 'a', 'r', 'd'};
    EXPECT_EQ(TextFromField(full), "Yard");
    EXPECT_EQ(CutToBytes("abcdef", 4), "abcd");
    EXPECT_EQ(CutToBytes("abc", 4), "abc");
    // "é" is two bytes: a cut in its middle drops it whole.
    EXPECT_EQ(CutToBytes("abc\xC3\xA9", 4), "abc");
    EXPECT_EQ(CutToBytes("abc\xC3\xA9", 5), "abc\xC3\xA9");
}

}  // namespace
}  // namespace orvane
