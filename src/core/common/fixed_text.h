#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace orvane {

// Text of a fixed-size field: the bytes up to the first NUL, never past the field's end,
// so a field without a terminator is cut at its size instead of overrunning.
std::string TextFromField(std::span<const char> field);

// Cuts UTF-8 text to at most maxBytes bytes without splitting a multi-byte character.
std::string CutToBytes(std::string_view text, std::size_t maxBytes);

// Length of UTF-8 text in characters as QString and QLineEdit count them: one per UTF-16
// unit, so a character beyond the Basic Multilingual Plane counts two.
std::size_t CharCount(std::string_view text);

// Cuts UTF-8 text to at most maxChars characters, counted as CharCount does, without
// splitting a character.
std::string CutToChars(std::string_view text, std::size_t maxChars);

// The text up to its first NUL (a stored text may carry a terminating NUL or trailing padding).
std::string_view TextBeforeNul(std::string_view bytes);

}  // namespace orvane
