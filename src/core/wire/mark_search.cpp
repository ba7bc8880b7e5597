#include "wire/mark_search.h"

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace orvane {
namespace {

// Checks the candidates of a first-byte mask (bit i = position start + i) for the other two.
std::size_t FirstFullMatch(const std::uint8_t* data, std::size_t start, std::uint64_t mask,
                           const std::uint8_t* mark) {
    for (; mask != 0; mask &= mask - 1) {
        const std::size_t candidate = start + static_cast<std::size_t>(__builtin_ctzll(mask));
        if (data[candidate + 1] == mark[1] && data[candidate + 2] == mark[2]) {
            return candidate;
        }
    }
    return kMarkNotFound;
}

std::size_t FindScalar(const std::uint8_t* data, std::size_t at, std::size_t size,
                       const std::uint8_t* mark) {
    for (; at + 3 <= size; ++at) {
        if (data[at] == mark[0] && data[at + 1] == mark[1] && data[at + 2] == mark[2]) {
            return at;
        }
    }
    return kMarkNotFound;
}

#if defined(__x86_64__)
constexpr std::size_t kWindow = 64;

// Looks for the first byte 64 positions at a time; candidates (about one in 256 bytes of
// compressed video) are checked one by one. The last window overlaps the one before it,
// with the positions already searched masked off, so no byte is scanned twice by the loop
// and none is left to a slow tail.
template <typename WindowMask>
std::size_t FindWindowed(const std::uint8_t* data, std::size_t at, std::size_t size,
                         const std::uint8_t* mark, WindowMask windowMask) {
    if (size < kWindow + 2) {
        return FindScalar(data, at, size, mark);
    }
    for (; at + kWindow + 2 <= size; at += kWindow) {
        if (const auto hit = FirstFullMatch(data, at, windowMask(at), mark); hit != kMarkNotFound) {
            return hit;
        }
    }
    if (at + 3 > size) {
        return kMarkNotFound;
    }
    const std::size_t start = size - kWindow - 2;
    const std::size_t skip = at - start;
    return FirstFullMatch(data, start, windowMask(start) >> skip << skip, mark);
}

// The same windows with 32-byte compares; written out, since code inlined into a function
// built for AVX2 must itself be built for it.
__attribute__((target("avx2"))) std::uint64_t Avx2WindowMask(const std::uint8_t* data,
                                                             std::size_t start, __m256i first) {
    const auto low = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + start)), first)));
    const auto high = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + start + 32)), first)));
    return std::uint64_t{low} | std::uint64_t{high} << 32;
}

__attribute__((target("avx2"))) std::size_t FindAvx2(const std::uint8_t* data, std::size_t at,
                                                     std::size_t size, const std::uint8_t* mark) {
    if (size < kWindow + 2) {
        return FindScalar(data, at, size, mark);
    }
    const __m256i first = _mm256_set1_epi8(static_cast<char>(mark[0]));
    for (; at + kWindow + 2 <= size; at += kWindow) {
        if (const std::uint64_t mask = Avx2WindowMask(data, at, first); mask != 0) {
            if (const auto hit = FirstFullMatch(data, at, mask, mark); hit != kMarkNotFound) {
                return hit;
            }
        }
    }
    if (at + 3 > size) {
        return kMarkNotFound;
    }
    const std::size_t start = size - kWindow - 2;
    const std::size_t skip = at - start;
    return FirstFullMatch(data, start, Avx2WindowMask(data, start, first) >> skip << skip, mark);
}

std::size_t FindSse2(const std::uint8_t* data, std::size_t at, std::size_t size,
                     const std::uint8_t* mark) {
    const __m128i first = _mm_set1_epi8(static_cast<char>(mark[0]));
    auto part = [&](std::size_t offset) {
        return std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + offset)), first)))};
    };
    return FindWindowed(data, at, size, mark, [&](std::size_t start) {
        return part(start) | part(start + 16) << 16 | part(start + 32) << 32 |
               part(start + 48) << 48;
    });
}
#endif

}  // namespace

std::vector<MarkSearch> MarkSearches() {
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx2")) {
        return {FindAvx2, FindSse2, FindScalar};
    }
    return {FindSse2, FindScalar};
#else
    return {FindScalar};
#endif
}

std::size_t FindMark3(const std::uint8_t* data, std::size_t from, std::size_t size,
                      const std::uint8_t* mark) {
    static const MarkSearch widest = MarkSearches().front();
    return widest(data, from, size, mark);
}

}  // namespace orvane
