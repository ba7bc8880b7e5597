#include "common/fixed_text.h"
#include "site/channel_table.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

TEST(ChannelTable, GetChannelNameTakesTheFirstEntryWithTheId) {
    ChannelTable table;
    table.Replace({{3, "Gate"}, {7, "Yard"}, {3, "Second gate"}});
    EXPECT_EQ(table.GetChannelName(3), "Gate");
    EXPECT_EQ(table.GetChannelName(7), "Yard");
    EXPECT_EQ(table.GetChannelName(4), "");

    table.Clear();
    EXPECT_TRUE(table.empty());
    EXPECT_EQ(table.entries().capacity(), 0u);
    EXPECT_EQ(table.GetChannelName(3), "");
}

TEST(FixedText, FieldsAreReadUpToTheirNulAndNeverPastTheirEnd) {
    const char padded[8] = {'G', 'a', 't', 'e', '\0', 'x', 'y', 'z'};
    EXPECT_EQ(TextFromField(padded), "Gate");
    const char full[4] = {'Y', 'a', 'r', 'd'};
    EXPECT_EQ(TextFromField(full), "Yard");
}

TEST(FixedText, CuttingNeverSplitsACharacter) {
    EXPECT_EQ(CutToBytes("abcdef", 4), "abcd");
    EXPECT_EQ(CutToBytes("abc", 4), "abc");
    // "é" is two bytes: a cut in its middle drops it whole.
    EXPECT_EQ(CutToBytes("abc\xC3\xA9", 4), "abc");
    EXPECT_EQ(CutToBytes("abc\xC3\xA9", 5), "abc\xC3\xA9");
}

}  // namespace
}  // namespace orvane
