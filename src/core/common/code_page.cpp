#include "common/code_page.h"

#include "common/fixed_text.h"
#include "common/log.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <array>

namespace orvane {
namespace {

// Bytes 0x80..0x9F of windows-1252. The five bytes Windows leaves undefined decode to the
// C1 control of the same value, as Windows does, so every byte survives a round trip.
constexpr std::array<char16_t, 32> kHighBytes = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88..8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98..9F
};

std::optional<char> EncodeBuiltIn(char16_t c) {
    if (c == 0) {
        return std::nullopt;
    }
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        return static_cast<char>(c);
    }
    const auto* found = std::find(kHighBytes.begin(), kHighBytes.end(), c);
    if (found == kHighBytes.end()) {
        return std::nullopt;
    }
    return static_cast<char>(0x80 + (found - kHighBytes.begin()));
}

char16_t DecodeBuiltIn(unsigned char byte) {
    return byte >= 0x80 && byte < 0xA0 ? kHighBytes[byte - 0x80] : char16_t(byte);
}

bool IsBuiltInName(const QByteArray& name) {
    return name.compare(CodePage::kBuiltInName, Qt::CaseInsensitive) == 0 ||
           name.compare("cp1252", Qt::CaseInsensitive) == 0;
}

// The text split into characters: a surrogate pair stays whole.
QStringList Characters(const QString& text) {
    QStringList characters;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool pair =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        characters.append(text.mid(i, pair ? 2 : 1));
        i += pair ? 1 : 0;
    }
    return characters;
}

// Qt's converters substitute what they cannot map ('?', SUB, ...), so only text that
// decodes back to itself counts as encoded.
std::optional<std::string> EncodeWithConverter(const QByteArray& converterName,
                                               const QString& text) {
    QStringEncoder encoder(converterName.constData(), QStringConverter::Flag::Stateless);
    const QByteArray bytes = encoder.encode(text);
    if (encoder.hasError() || bytes.contains('\0')) {
        return std::nullopt;
    }
    QStringDecoder decoder(converterName.constData(), QStringConverter::Flag::Stateless);
    const QString back = decoder.decode(bytes);
    if (decoder.hasError() || back != text) {
        return std::nullopt;
    }
    return bytes.toStdString();
}

}  // namespace

CodePage::CodePage() : name_(QString::fromLatin1(kBuiltInName)) {}

CodePage::CodePage(std::string_view name) : CodePage() {
    const QByteArray requested =
        QByteArray(name.data(), static_cast<qsizetype>(name.size())).trimmed();
    if (requested.isEmpty() || IsBuiltInName(requested)) {
        return;
    }
    QStringEncoder encoder(requested.constData(), QStringConverter::Flag::Stateless);
    QStringDecoder decoder(requested.constData(), QStringConverter::Flag::Stateless);
    // Fields end at a NUL and the protocol's own words are ASCII: UTF-16 and the like
    // cannot carry them.
    const QString probe = QStringLiteral("Az09 -_.");
    if (encoder.isValid() && decoder.isValid() && encoder.encode(probe) == probe.toLatin1()) {
        converterName_ = requested;
        name_ = QString::fromLatin1(encoder.name());
        return;
    }
    qCWarning(lcSite) << "code page" << requested << "is not available for wire text; using"
                      << kBuiltInName;
}

std::optional<std::string> CodePage::Encode(const QString& text) const {
    if (!builtIn()) {
        return EncodeWithConverter(converterName_, text);
    }
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    for (const QChar c : text) {
        const auto byte = EncodeBuiltIn(c.unicode());
        if (!byte) {
            return std::nullopt;
        }
        bytes.push_back(*byte);
    }
    return bytes;
}

std::optional<std::string> CodePage::EncodeField(const QString& text, std::size_t maxBytes) const {
    auto bytes = Encode(text);
    if (!bytes || bytes->size() <= maxBytes) {
        return bytes;
    }
    if (builtIn()) {
        bytes->resize(maxBytes);  // one byte per character
        return bytes;
    }
    // A multi-byte page: drop whole characters from the end until the rest fits.
    QStringList characters = Characters(text);
    while (!characters.isEmpty()) {
        characters.removeLast();
        bytes = Encode(characters.join(QString()));
        if (bytes && bytes->size() <= maxBytes) {
            return bytes;
        }
    }
    return std::string();
}

QString CodePage::Decode(std::span<const char> bytes) const {
    const std::string_view text = TextBeforeNul(std::string_view(bytes.data(), bytes.size()));
    if (!builtIn()) {
        QStringDecoder decoder(converterName_.constData(), QStringConverter::Flag::Stateless);
        return decoder.decode(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
    }
    QString decoded;
    decoded.reserve(static_cast<qsizetype>(text.size()));
    for (const char byte : text) {
        decoded.append(QChar(DecodeBuiltIn(static_cast<unsigned char>(byte))));
    }
    return decoded;
}

QString CodePage::UnencodableCharacters(const QString& text) const {
    QString unencodable;
    for (const QString& character : Characters(text)) {
        if (!CanEncode(character) && !unencodable.contains(character)) {
            unencodable.append(character);
        }
    }
    return unencodable;
}

QString CannotSendMessage(const CodePage& codePage, const QString& text) {
    return QString::fromLatin1(codepagetext::kCannotSend)
        .arg(codePage.UnencodableCharacters(text), codePage.name());
}

QString CannotSendPasswordMessage(const CodePage& codePage) {
    return QString::fromLatin1(codepagetext::kCannotSendPassword).arg(codePage.name());
}

}  // namespace orvane
