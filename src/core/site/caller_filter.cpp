#include "site/caller_filter.h"

#include <QHostAddress>

#include <algorithm>
#include <charconv>
#include <optional>

namespace orvane {
namespace {

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

// A decimal of at most maxDigits digits, no sign, no blanks, at most max.
std::optional<std::uint32_t> Number(std::string_view text, std::size_t maxDigits,
                                    std::uint32_t max) {
    if (text.empty() || text.size() > maxDigits ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value <= max ? std::optional(value) : std::nullopt;
}

// Exactly four dotted decimal octets.
std::optional<std::uint32_t> DottedAddress(std::string_view text) {
    std::uint32_t address = 0;
    for (int octet = 0; octet < 4; ++octet) {
        const std::size_t dot = octet < 3 ? text.find('.') : text.size();
        if (dot == std::string_view::npos) {
            return std::nullopt;
        }
        const auto value = Number(text.substr(0, dot), 3, 255);
        if (!value) {
            return std::nullopt;
        }
        address = (address << 8) | *value;
        text.remove_prefix(std::min(text.size(), dot + 1));
    }
    return address;
}

std::optional<CallerFilter::Range> ParseEntry(std::string_view entry) {
    const std::size_t slash = entry.find('/');
    const auto address = DottedAddress(entry.substr(0, slash));
    if (!address) {
        return std::nullopt;
    }
    std::uint32_t bits = 32;
    if (slash != std::string_view::npos) {
        const auto prefix = Number(entry.substr(slash + 1), 2, 32);
        if (!prefix) {
            return std::nullopt;
        }
        bits = *prefix;
    }
    const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
    return CallerFilter::Range{*address & mask, mask};
}

}  // namespace

CallerFilter::Parsed CallerFilter::Parse(std::string_view text) {
    Parsed parsed;
    if (Trim(text).empty()) {
        return parsed;  // anyone, as without the setting
    }
    parsed.filter.anyone_ = false;
    while (true) {
        const std::size_t comma = text.find(',');
        const std::string_view entry = Trim(text.substr(0, comma));
        if (!entry.empty()) {  // "a, b," has two entries, not a third empty one
            if (const auto range = ParseEntry(entry)) {
                parsed.filter.ranges_.push_back(*range);
            } else {
                parsed.invalid.emplace_back(entry);
            }
        }
        if (comma == std::string_view::npos) {
            break;
        }
        text.remove_prefix(comma + 1);
    }
    return parsed;
}

bool CallerFilter::Admits(std::uint32_t ipv4) const {
    return anyone_ || std::any_of(ranges_.begin(), ranges_.end(), [ipv4](const Range& range) {
               return (ipv4 & range.mask) == range.network;
           });
}

bool CallerFilter::Admits(const QHostAddress& address) const {
    if (anyone_) {
        return true;
    }
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);  // ::ffff:a.b.c.d too
    return isIpv4 && Admits(static_cast<std::uint32_t>(ipv4));
}

}  // namespace orvane
