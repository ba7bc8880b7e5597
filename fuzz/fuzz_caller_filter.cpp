// Feeds any text to the parser of "Net"/"CallBackFrom" (a value any tool may have written to
// the store) and checks what it must always hold: the filter admits exactly the addresses of
// its ranges, an IPv4 caller the same whether reported plain or IPv4-mapped.
#include "site/caller_filter.h"

#include <QHostAddress>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = orvane::CallerFilter::Parse(text);
    const auto& filter = parsed.filter;
    // Addresses of the text's own ranges, and their neighbours, both ways round.
    for (const auto& range : filter.ranges()) {
        if ((range.network & ~range.mask) != 0 || !filter.Admits(range.network)) {
            std::abort();
        }
        for (const std::uint32_t address :
             {range.network - 1, range.network | ~range.mask, (range.network | ~range.mask) + 1}) {
            const bool plain = filter.Admits(QHostAddress(address));
            const bool mapped = filter.Admits(
                QHostAddress(QStringLiteral("::ffff:") + QHostAddress(address).toString()));
            if (plain != mapped || plain != filter.Admits(address)) {
                std::abort();
            }
        }
    }
    if (!filter.admitsAnyone() && filter.Admits(QHostAddress(QStringLiteral("2001:db8::1")))) {
        std::abort();
    }
    return 0;
}
