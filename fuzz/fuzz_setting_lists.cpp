// Feeds any text to the parsers of the lists kept as text in the store, which any tool may
// have written: "Net"/"CallBackFrom" and the channels a start resumes. Checks what must
// always hold: the filter admits the addresses of its ranges, an IPv4 caller the same whether
// reported plain or IPv4-mapped; a channel list holds no repeats and reads back the same.
#include "site/caller_filter.h"
#include "store/key_store.h"
#include "store/settings.h"

#include <QHostAddress>

#include <algorithm>

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

    auto ids = orvane::ParseChannelIds(text);
    static orvane::Settings settings(orvane::KeyStore::OpenInMemory());
    settings.SetResumeChannels(ids);
    if (settings.ResumeChannels() != ids) {
        std::abort();
    }
    std::sort(ids.begin(), ids.end());
    if (std::adjacent_find(ids.begin(), ids.end()) != ids.end()) {
        std::abort();
    }
    return 0;
}
