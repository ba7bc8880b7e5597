#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace orvane {

// The single-byte character set of the text a site exchanges (login, ID code, command line,
// channel names). The program keeps text as UTF-8; this is where it becomes wire bytes and
// back. "windows-1252" is a table of our own and always there; other names are served by
// Qt's converters (ICU) when it knows them and they keep ASCII as it is, since the fields
// are NUL-terminated ASCII-compatible text. Any other name gives windows-1252, with a
// warning in the log.
class CodePage {
  public:
    // The table of our own, and the code page of a default-constructed CodePage.
    static constexpr const char* kBuiltInName = "windows-1252";

    CodePage();
    explicit CodePage(std::string_view name);

    QString name() const { return name_; }

    // The wire bytes of text; nullopt when any character has no byte sequence here (a NUL
    // included, since it would end the field early). Never substitutes.
    std::optional<std::string> Encode(const QString& text) const;
    // As Encode, cut to a fixed field of maxBytes; the cut never splits a character.
    std::optional<std::string> EncodeField(const QString& text, std::size_t maxBytes) const;
    // The text of a received field: up to its first NUL, never past its end.
    QString Decode(std::span<const char> bytes) const;

    bool CanEncode(const QString& text) const { return Encode(text).has_value(); }
    // Each character that cannot be encoded, once, in the order they first appear.
    QString UnencodableCharacters(const QString& text) const;

  private:
    bool builtIn() const { return converterName_.isEmpty(); }

    QString name_;
    QByteArray converterName_;  // empty for the built-in windows-1252
};

namespace codepagetext {
// %1: the characters, %2: the code page.
inline constexpr const char* kCannotSend =
    "\n\n The characters \"%1\" cannot be sent to a site (code page %2). \n\n";
// A password's characters are never shown, not even the ones at fault.
inline constexpr const char* kCannotSendPassword =
    "\n\n The password has characters that cannot be sent to a site (code page %1). \n\n";
}  // namespace codepagetext

// The message refusing typed text that the code page cannot hold.
QString CannotSendMessage(const CodePage& codePage, const QString& text);
QString CannotSendPasswordMessage(const CodePage& codePage);

}  // namespace orvane
