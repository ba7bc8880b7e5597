// Feeds any bytes to the reader of registry files, which import takes from wherever the
// operator found them. Checks what must always hold: a file that reads is written back as text
// that reads as the same keys and values, both as printed (UTF-8) and as a file (UTF-16LE).
#include "store/reg_file.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

bool SameKeys(const orvane::RegFileParse& a, const orvane::RegFileParse& b) {
    if (!a.ok() || !b.ok() || a.keys.size() != b.keys.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.keys.size(); ++i) {
        const auto& x = a.keys[i];
        const auto& y = b.keys[i];
        if (x.path != y.path || x.remove != y.remove || x.values.size() != y.values.size()) {
            return false;
        }
        for (std::size_t j = 0; j < x.values.size(); ++j) {
            const auto& v = x.values[j];
            const auto& w = y.values[j];
            if (v.name != w.name || v.value.has_value() != w.value.has_value() ||
                (v.value && (v.value->type != w.value->type || v.value->data != w.value->data))) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parsed =
        orvane::ParseRegFile(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!parsed.ok()) {
        return 0;
    }
    const std::string text = orvane::FormatRegText(parsed.keys);
    if (!SameKeys(parsed, orvane::ParseRegFile(text)) ||
        !SameKeys(parsed, orvane::ParseRegFile(orvane::EncodeRegFile(text)))) {
        std::abort();
    }
    return 0;
}
