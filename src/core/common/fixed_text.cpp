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

}  // namespace orvane
