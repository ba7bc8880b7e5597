#include "wire/mark_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace orvane {
namespace {

// Each way of searching finds what a plain search finds, near the ends of the buffer and
// between its windows, with first bytes of the mark that are not followed by the rest.
TEST(MarkSearch, EveryWayFindsTheFirstMarkAsAPlainSearchDoes) {
    const std::uint8_t mark[] = {0xAA, 0x55, 0xAA};
    std::mt19937 random(7);
    const std::uint8_t alphabet[] = {0x00, 0xAA, 0x55, 0x13};
    for (std::size_t size = 0; size < 300; ++size) {
        std::vector<std::uint8_t> data(size);
        for (auto& byte : data) {
            byte = alphabet[random() % 4];
        }
        for (std::size_t from = 0; from <= size; from += 1 + size / 8) {
            const auto found = std::search(data.begin() + std::ptrdiff_t(from), data.end(),
                                           std::begin(mark), std::end(mark));
            const std::size_t expected =
                found == data.end() ? kMarkNotFound : std::size_t(found - data.begin());
            for (const MarkSearch search : MarkSearches()) {
                ASSERT_EQ(search(data.data(), from, size, mark), expected)
                    << "size " << size << " from " << from;
            }
        }
    }
}

}  // namespace
}  // namespace orvane
