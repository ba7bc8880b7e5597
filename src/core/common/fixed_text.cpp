#include "common/fixed_text.h"

#include <algorithm>

namespace orvane {

std::string_view TextBeforeNul(std::string_view bytes) {
    const auto nul = bytes.find('\0');
    return nul == std::string_view::npos ? bytes : bytes.substr(0, nul);
}

std::string TextFromField(std::span<const char> field) {
    return std::string(TextBeforeNul(std::string_view(field.data(), field.size())));
}

std::string CutToBytes(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return std::string(text);
    }
    std::size_t end = maxBytes;
    // Step back over continuation bytes (10xxxxxx) so the cut lands on a character start.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return std::string(text.substr(0, end));
}

namespace {

bool IsContinuation(char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

// UTF-16 units of the character that starts with this byte: four-byte sequences lie beyond
// the Basic Multilingual Plane.
std::size_t UnitsOf(char lead) {
    return (static_cast<unsigned char>(lead) & 0xF8) == 0xF0 ? 2 : 1;
}

}  // namespace

std::size_t CharCount(std::string_view text) {
    std::size_t count = 0;
    for (const char byte : text) {
        if (!IsContinuation(byte)) {
            count += UnitsOf(byte);
        }
    }
    return count;
}

std::string CutToChars(std::string_view text, std::size_t maxChars) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (IsContinuation(text[i])) {
            continue;
        }
        count += UnitsOf(text[i]);
        if (count > maxChars) {
            return std::string(text.substr(0, i));
        }
    }
    return std::string(text);
}

}  // namespace orvane
