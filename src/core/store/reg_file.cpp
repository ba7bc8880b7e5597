#include "store/reg_file.h"

#include <QString>
#include <QStringDecoder>

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace orvane {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kRoot = "HKEY_CURRENT_USER";
// Registry Editor wraps hex lists so that no line, its trailing backslash included, passes
// 80 columns.
constexpr std::size_t kHexLineWidth = 80;

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

bool HasControlCharacter(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

std::string_view Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// 1 to maxDigits hexadecimal digits, the whole of text.
std::optional<std::uint32_t> HexNumber(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value << 4 | static_cast<std::uint32_t>(digit);
    }
    return value;
}

// UTF-16LE bytes as UTF-8; nullopt for an odd count or a surrogate without its partner, which
// no text holds.
std::optional<std::string> Utf8FromUtf16Le(std::string_view bytes) {
    if (bytes.size() % 2 != 0) {
        return std::nullopt;
    }
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size() / 2));
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        text.append(QChar(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            ++i;
        } else if (text[i].isSurrogate()) {
            return std::nullopt;
        }
    }
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), static_cast<std::size_t>(utf8.size()));
}

// UTF-8 as UTF-16, with malformed sequences replaced. A byte order mark at the start is a
// character of the value like any other: QString::fromUtf8 would drop it.
QString FromUtf8KeepingMark(std::string_view text) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder(QByteArrayView(text.data(), static_cast<qsizetype>(text.size())));
}

std::string Utf16LeFromUtf8(std::string_view text) {
    const QString decoded = FromUtf8KeepingMark(text);
    std::string out;
    out.reserve(static_cast<std::size_t>(decoded.size()) * 2);
    for (const QChar unit : decoded) {
        out.push_back(static_cast<char>(unit.unicode() & 0xFF));
        out.push_back(static_cast<char>(unit.unicode() >> 8));
    }
    return out;
}

// The whole file as UTF-8 text; nullopt when it is neither UTF-16LE with a mark nor UTF-8.
std::optional<std::string> DecodeFile(std::string_view bytes) {
    if (bytes.size() >= 2 && bytes.substr(0, 2) == "\xFF\xFE") {
        return Utf8FromUtf16Le(bytes.substr(2));
    }
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text =
        decoder(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return std::string(bytes);
}

std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line);
        if (end == std::string_view::npos) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return lines;
}

// Reads one "..." with \\ and \" escapes from the start of text, consuming it; nullopt with
// the reason in error when it is not closed or holds another escape.
std::optional<std::string> TakeQuoted(std::string_view& text, std::string& error) {
    std::string out;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            text.remove_prefix(i + 1);
            return out;
        }
        if (c == '\\') {
            if (i + 1 >= text.size() || (text[i + 1] != '\\' && text[i + 1] != '"')) {
                error = "a backslash in quotes must be followed by \\ or \"";
                return std::nullopt;
            }
            out.push_back(text[++i]);
            continue;
        }
        out.push_back(c);
    }
    error = "the closing quote is missing";
    return std::nullopt;
}

// A comma-separated list of bytes in hexadecimal.
std::optional<std::string> HexBytes(std::string_view list) {
    std::string out;
    if (Trimmed(list).empty()) {
        return out;
    }
    while (true) {
        const auto comma = list.find(',');
        const auto byte = HexNumber(Trimmed(list.substr(0, comma)), 2);
        if (!byte) {
            return std::nullopt;
        }
        out.push_back(static_cast<char>(*byte));
        if (comma == std::string_view::npos) {
            return out;
        }
        list.remove_prefix(comma + 1);
    }
}

class Parser {
  public:
    explicit Parser(std::vector<std::string_view> lines) : lines_(std::move(lines)) {}

    RegFileParse Run() {
        if (lines_.empty() || Trimmed(lines_[0]) != kHeader) {
            Fail(1, "the first line must be \"" + std::string(kHeader) + "\"");
            return std::move(result_);
        }
        for (next_ = 1; next_ < lines_.size() && result_.ok();) {
            const int number = static_cast<int>(next_) + 1;
            const std::string_view line = Trimmed(lines_[next_++]);
            if (line.empty() || line.front() == ';') {
                continue;
            }
            if (line.front() == '[') {
                Key(line, number);
            } else if (line.front() == '"' || line.front() == '@') {
                Value(line, number);
            } else {
                Fail(number, "expected [KEY], \"NAME\"=DATA or @=DATA");
            }
        }
        return std::move(result_);
    }

  private:
    void Fail(int line, std::string message) {
        result_.errorLine = line;
        result_.error = std::move(message);
    }

    void Key(std::string_view line, int number) {
        if (line.back() != ']') {
            Fail(number, "the closing ] is missing");
            return;
        }
        std::string_view name = line.substr(1, line.size() - 2);
        RegFileKey key;
        key.line = number;
        key.remove = !name.empty() && name.front() == '-';
        if (key.remove) {
            name.remove_prefix(1);
        }
        const auto slash = name.find('\\');
        if (!EqualsIgnoringCase(name.substr(0, slash), kRoot)) {
            Fail(number, "only keys under HKEY_CURRENT_USER can be imported");
            return;
        }
        key.path =
            slash == std::string_view::npos ? std::string() : std::string(name.substr(slash + 1));
        if ((slash != std::string_view::npos && !SplitKeyPath(key.path)) ||
            HasControlCharacter(key.path)) {
            Fail(number, "invalid key name");
            return;
        }
        if (key.remove && key.path.empty()) {
            Fail(number, "HKEY_CURRENT_USER itself cannot be deleted");
            return;
        }
        result_.keys.push_back(std::move(key));
    }

    void Value(std::string_view line, int number) {
        if (result_.keys.empty() || result_.keys.back().remove) {
            Fail(number, "a value must follow the [KEY] it belongs to");
            return;
        }
        RegFileValue entry;
        entry.line = number;
        std::string error;
        if (line.front() == '@') {
            line.remove_prefix(1);
        } else if (auto name = TakeQuoted(line, error)) {
            entry.name = std::move(*name);
        } else {
            Fail(number, error);
            return;
        }
        if (entry.name.size() > KeyStore::kMaxValueNameLength || HasControlCharacter(entry.name)) {
            Fail(number, "invalid value name");
            return;
        }
        line = Trimmed(line);
        if (line.empty() || line.front() != '=') {
            Fail(number, "the = after the value name is missing");
            return;
        }
        line = Trimmed(line.substr(1));
        if (line == "-") {
            result_.keys.back().values.push_back(std::move(entry));
            return;
        }
        std::optional<StoredValue> value;
        if (!line.empty() && line.front() == '"') {
            auto text = TakeQuoted(line, error);
            if (text && !Trimmed(line).empty()) {
                error = "unexpected text after the closing quote";
            } else if (text) {
                value =
                    StoredValue{static_cast<std::uint32_t>(ValueType::String), std::move(*text)};
            }
        } else if (line.substr(0, 6) == "dword:") {
            if (const auto number32 = HexNumber(line.substr(6), 8)) {
                value = DwordValue(*number32);
            } else {
                error = "dword: takes 1 to 8 hexadecimal digits";
            }
        } else if (line.substr(0, 3) == "hex") {
            value = Hex(line, error);
        } else {
            error = "expected \"TEXT\", dword:, hex(1): or -";
        }
        if (!value) {
            if (result_.ok()) {
                Fail(number, error);
            }
            return;
        }
        entry.value = std::move(value);
        result_.keys.back().values.push_back(std::move(entry));
    }

    static StoredValue DwordValue(std::uint32_t number) {
        std::string bytes(4, '\0');
        for (std::size_t i = 0; i < 4; ++i) {
            bytes[i] = static_cast<char>(number >> (8 * i) & 0xFF);
        }
        return {static_cast<std::uint32_t>(ValueType::Dword), bytes};
    }

    // hex(N):xx,xx,... with its continuation lines (a line ending in a backslash goes on).
    std::optional<StoredValue> Hex(std::string_view line, std::string& error) {
        const auto colon = line.find(':');
        const std::string_view kind = line.substr(0, colon);
        std::optional<std::uint32_t> type;
        if (kind.size() > 5 && kind.substr(0, 4) == "hex(" && kind.back() == ')') {
            type = HexNumber(kind.substr(4, kind.size() - 5), 8);
        }
        if (colon == std::string_view::npos || (kind != "hex" && !type)) {
            error = "expected hex(N):";
            return std::nullopt;
        }
        std::string list(line.substr(colon + 1));
        while (!list.empty() && list.back() == '\\') {
            list.pop_back();
            if (next_ >= lines_.size()) {
                error = "the file ends inside a hex list";
                return std::nullopt;
            }
            list += Trimmed(lines_[next_++]);
        }
        auto bytes = HexBytes(list);
        if (!bytes) {
            error = "a hex list holds bytes of two hexadecimal digits separated by commas";
            return std::nullopt;
        }
        if (type == static_cast<std::uint32_t>(ValueType::String)) {
            auto text = Utf8FromUtf16Le(*bytes);
            if (!text) {
                error = "hex(1): must hold UTF-16LE text";
                return std::nullopt;
            }
            return StoredValue{*type, std::move(*text)};
        }
        if (type == static_cast<std::uint32_t>(ValueType::Dword) && bytes->size() == 4) {
            return StoredValue{*type, std::move(*bytes)};
        }
        error = "the store keeps only text and dword values; " + std::string(kind) + " is neither";
        return std::nullopt;
    }

    std::vector<std::string_view> lines_;
    std::size_t next_ = 0;
    RegFileParse result_;
};

std::string Quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    return out + "\"";
}

// prefix followed by the bytes as a hex list, wrapped as Registry Editor wraps it.
std::string HexLines(std::string line, std::string_view bytes) {
    std::string out;
    char token[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const bool last = i + 1 == bytes.size();
        std::snprintf(token, sizeof token, last ? "%02x" : "%02x,",
                      static_cast<unsigned char>(bytes[i]));
        if (line.size() + 3 + 1 > kHexLineWidth && line.back() == ',') {
            out += line + "\\\n";
            line = "  ";
        }
        line += token;
    }
    return out + line + "\n";
}

std::string ValueLines(const RegFileValue& entry) {
    std::string line = entry.name.empty() ? "@=" : Quoted(entry.name) + "=";
    if (!entry.value) {
        return line + "-\n";
    }
    const StoredValue& value = *entry.value;
    if (value.type == static_cast<std::uint32_t>(ValueType::String)) {
        if (value.data.find_first_of(std::string_view("\0\r\n", 3)) == std::string::npos) {
            const QByteArray text = FromUtf8KeepingMark(value.data).toUtf8();
            return line +
                   Quoted(
                       std::string_view(text.constData(), static_cast<std::size_t>(text.size()))) +
                   "\n";
        }
        return HexLines(line + "hex(1):", Utf16LeFromUtf8(value.data));
    }
    if (value.type == static_cast<std::uint32_t>(ValueType::Dword) && value.data.size() == 4) {
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i) {
            number =
                number << 8 | static_cast<unsigned char>(value.data[static_cast<std::size_t>(i)]);
        }
        char digits[16];
        std::snprintf(digits, sizeof digits, "dword:%08x", number);
        return line + digits + "\n";
    }
    char kind[24];
    std::snprintf(kind, sizeof kind, "hex(%x):", value.type);
    return HexLines(line + kind, value.data);
}

}  // namespace

RegFileParse ParseRegFile(std::string_view bytes) {
    const auto text = DecodeFile(bytes);
    if (!text) {
        RegFileParse result;
        result.error = "the file is neither UTF-16LE text with a byte order mark nor UTF-8 text";
        return result;
    }
    return Parser(SplitLines(*text)).Run();
}

std::string FormatRegText(const std::vector<RegFileKey>& keys) {
    std::string out = std::string(kHeader) + "\n\n";
    for (const RegFileKey& key : keys) {
        out += std::string(key.remove ? "[-" : "[") + std::string(kRoot) +
               (key.path.empty() ? "" : "\\" + key.path) + "]\n";
        for (const RegFileValue& value : key.values) {
            out += ValueLines(value);
        }
        out += "\n";
    }
    return out;
}

std::string EncodeRegFile(std::string_view text) {
    std::string withCrLf;
    withCrLf.reserve(text.size() + text.size() / 16);
    for (char c : text) {
        if (c == '\n') {
            withCrLf.push_back('\r');
        }
        withCrLf.push_back(c);
    }
    return "\xFF\xFE" + Utf16LeFromUtf8(withCrLf);
}

}  // namespace orvane
