#include "store/clip_index.h"
#include "store/registry_layout.h"
#include "support/message_guard.h"
#include "support/temp_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>

namespace orvane {
namespace {

const std::vector<std::string> kValueOrder{"FileName", "Channel", "Location", "Open",      "SDate",
                                           "STime",    "EDate",   "ETime",    "ImageName", "Path"};

ClipRecord SampleClip(const QString& fileName) {
    ClipRecord clip;
    clip.fileName = fileName;
    clip.open = 1;
    clip.channel = -3;
    clip.startDate = "2024/02/29";
    clip.startTime = "23:58";
    clip.endDate = "2024/03/01";
    clip.endTime = "00:04";
    clip.imageName = "Kamera Süd.bmp";
    clip.path = "/home/operator/Aufnahmen/Überwachung/";
    return clip;
}

class ClipIndexTest : public testing::Test {
  protected:
    test::TempStore temp;
    KeyStore store{std::move(*KeyStore::Open(temp.path()).store)};
    std::map<std::int32_t, QString> channelNames{{-3, "Entrée Nord 北"}, {2, "Hof"}};
    ClipIndex index{store, [this](std::int32_t channel) {
                        const auto found = channelNames.find(channel);
                        return found == channelNames.end() ? QString() : found->second;
                    }};

    std::vector<ClipRecord> Load() const {
        std::vector<ClipRecord> records;
        index.LoadClipRecords(records);
        return records;
    }
    RegKey Entry(const std::string& name) {
        return store.CreateKey(KeyStore::kRoot, std::string(kClipIndexKeyPath) + "\\" + name).value;
    }
    bool IndexExists() const { return store.OpenKey(KeyStore::kRoot, kClipIndexKeyPath).ok(); }
    int EntryCount() const {
        return store.SubkeyCount(store.OpenKey(KeyStore::kRoot, kClipIndexKeyPath).value).value;
    }
};

// Entries come back as written, in name order, but for the location: the channel's name at
// the time of writing, whatever the record said, kept when the channel is renamed later and
// empty for a channel without a name.
TEST_F(ClipIndexTest, EntriesComeBackAsWrittenInNameOrderWithTheChannelsNameThen) {
    ClipRecord second = SampleClip("ch2_0401.avi");
    second.channel = 2;
    second.open = 0;
    ClipRecord first = SampleClip("Ch-3 0229.avi");
    first.location = "ignored: the lookup decides";
    ASSERT_TRUE(index.AddClipRecord(second));
    ASSERT_TRUE(index.AddClipRecord(first));
    channelNames[-3] = "Renamed";
    ClipRecord unknown = SampleClip("unknown.avi");
    unknown.channel = 9;
    unknown.location = "stale";
    ASSERT_TRUE(index.AddClipRecord(unknown));

    first.location = "Entrée Nord 北";
    second.location = "Hof";
    unknown.location = "";
    EXPECT_EQ(Load(), (std::vector<ClipRecord>{first, second, unknown}));
}

TEST_F(ClipIndexTest, TheTenValuesAreWrittenInTheirOrderAndTextsCarryNoNul) {
    const test::ValueWriteLog written(temp.path());
    const ClipRecord clip = SampleClip("Ch-3 0229.avi");
    ASSERT_TRUE(index.AddClipRecord(clip));
    EXPECT_EQ(written.names(), kValueOrder);

    const RegKey key = Entry("Ch-3 0229.avi");
    const auto names = store.ValueNames(key);
    ASSERT_TRUE(names.ok());
    EXPECT_EQ(names.value.size(), kValueOrder.size());
    const std::map<std::string, QString> texts{
        {"FileName", clip.fileName},   {"Location", "Entrée Nord 北"},
        {"SDate", clip.startDate},     {"STime", clip.startTime},
        {"EDate", clip.endDate},       {"ETime", clip.endTime},
        {"ImageName", clip.imageName}, {"Path", clip.path}};
    for (const auto& [name, text] : texts) {
        const auto value = store.QueryValue(key, name);
        ASSERT_TRUE(value.ok()) << name;
        EXPECT_EQ(value.value.type, 1u) << name;
        EXPECT_EQ(value.value.data, text.toStdString()) << name;
        EXPECT_EQ(value.value.data.size(), static_cast<std::size_t>(text.toUtf8().size())) << name;
    }
    const auto channel = store.QueryValue(key, "Channel");
    EXPECT_EQ(channel.value.type, 4u);
    EXPECT_EQ(channel.value.data, std::string("\xFD\xFF\xFF\xFF", 4));
    const auto open = store.QueryValue(key, "Open");
    EXPECT_EQ(open.value.type, 4u);
    EXPECT_EQ(open.value.data, std::string("\x01\x00\x00\x00", 4));
}

TEST_F(ClipIndexTest, WritingTheSameNameAgainReplacesEveryValueInOneKey) {
    ASSERT_TRUE(index.AddClipRecord(SampleClip("clip.avi")));
    ClipRecord replacement;
    replacement.fileName = "clip.avi";
    replacement.channel = 2;
    replacement.startDate = "2025/01/01";
    replacement.startTime = "10:00";
    replacement.endDate = "2025/01/01";
    replacement.endTime = "10:05";
    replacement.imageName = "other.bmp";
    replacement.path = "/tmp/";
    ASSERT_TRUE(index.AddClipRecord(replacement));

    EXPECT_EQ(EntryCount(), 1);
    replacement.location = "Hof";
    const auto records = Load();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], replacement);
}

TEST_F(ClipIndexTest, TextsOfOtherWritersReadUpToTheirNulAndWithinTheBuffer) {
    const RegKey key = Entry("foreign.avi");
    store.SetString(key, "FileName", std::string("foreign.avi\0", 12));
    store.SetString(key, "Location", "Tor");
    store.SetString(key, "SDate", std::string("2024/05/06\0junk", 15));
    // 258 ASCII bytes then a two-byte character: the character would end at byte 260.
    store.SetString(key, "Path", std::string(258, 'p') + "é/");
    store.SetString(key, "ImageName", std::string(300, 'i'));
    store.SetDword(key, "ETime", 5);       // a number where text belongs
    store.SetString(key, "Channel", "7");  // text where a number belongs
    store.SetString(key, "Open", "\x01");

    const auto records = Load();
    ASSERT_EQ(records.size(), 1u);
    const ClipRecord& clip = records[0];
    EXPECT_EQ(clip.fileName, "foreign.avi");
    EXPECT_EQ(clip.location, "Tor");
    EXPECT_EQ(clip.startDate, "2024/05/06");
    EXPECT_EQ(clip.path, QString(258, QLatin1Char('p')));
    EXPECT_EQ(clip.imageName, QString(259, QLatin1Char('i')));
    EXPECT_EQ(clip.endTime, "");
    EXPECT_EQ(clip.channel, 0);
    EXPECT_EQ(clip.open, 0u);
}

TEST_F(ClipIndexTest, MissingNumbersReadZeroAndAnyOpenValueReadsOne) {
    store.SetString(Entry("a.avi"), "FileName", "a.avi");
    const RegKey b = Entry("b.avi");
    store.SetDword(b, "Open", 7);
    store.SetDword(b, "Channel", 0xFFFFFFFFu);

    const auto records = Load();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].fileName, "a.avi");
    EXPECT_EQ(records[0].channel, 0);
    EXPECT_EQ(records[0].open, 0u);
    EXPECT_EQ(records[0].path, "");
    EXPECT_EQ(records[1].fileName, "");
    EXPECT_EQ(records[1].channel, -1);
    EXPECT_EQ(records[1].open, 1u);
}

TEST_F(ClipIndexTest, WithoutAnIndexKeyNothingLoadsNothingIsMarkedAndAddingCreatesIt) {
    std::vector<ClipRecord> records{SampleClip("kept.avi")};
    index.LoadClipRecords(records);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], SampleClip("kept.avi"));

    index.SetClipOpened("kept.avi", true);
    EXPECT_FALSE(IndexExists());

    ASSERT_TRUE(index.AddClipRecord(SampleClip("new.avi")));
    EXPECT_TRUE(IndexExists());
    EXPECT_EQ(Load().size(), 1u);
}

TEST_F(ClipIndexTest, OnlyTheExactNameIsMarkedOpened) {
    ClipRecord clip = SampleClip("Clip.avi");
    clip.open = 0;
    ASSERT_TRUE(index.AddClipRecord(clip));

    index.SetClipOpened("clip.avi", true);
    EXPECT_EQ(Load()[0].open, 0u);
    index.SetClipOpened("Clip.avi", true);
    EXPECT_EQ(Load()[0].open, 1u);
    index.SetClipOpened("Clip.avi", false);
    EXPECT_EQ(Load()[0].open, 0u);
}

TEST_F(ClipIndexTest, DeletingRemovesOnlyThatEntry) {
    ASSERT_TRUE(index.AddClipRecord(SampleClip("a.avi")));
    ASSERT_TRUE(index.AddClipRecord(SampleClip("b.avi")));
    EXPECT_TRUE(index.DeleteClipRecord("a.avi"));
    const auto records = Load();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].fileName, "b.avi");

    test::ExpectedMessage refused(QtWarningMsg, "orvane.store", "cannot delete");
    EXPECT_FALSE(index.DeleteClipRecord("a.avi"));
}

std::atomic<int> commits{0};

// One clip's entry is one durable commit (not one per value), so that a mark another
// connection writes meanwhile lands before or after the whole entry; so is a batch of
// deletions. A "Keep" mark survives the rewrite of a running recording's entry.
TEST_F(ClipIndexTest, AnEntryAndABatchOfDeletionsAreOneCommitEachAndKeepSurvivesRewrites) {
    SetStoreCommitObserver([] { ++commits; });
    const auto committed = [](const std::function<void()>& write) {
        commits = 0;
        write();
        return commits.load();
    };
    EXPECT_EQ(committed([&] { index.AddClipRecord(SampleClip("a.avi")); }), 1);
    EXPECT_EQ(committed([&] { index.UpdateClipRecord(SampleClip("b.avi")); }), 1);
    EXPECT_EQ(committed([&] { index.AddClipRecord(SampleClip("c.avi")); }), 1);
    EXPECT_TRUE(index.SetClipKept("b.avi", true));
    EXPECT_EQ(committed([&] { index.UpdateClipRecord(SampleClip("b.avi")); }), 1);
    EXPECT_EQ(committed([&] { index.DeleteClipRecords({"a.avi", "c.avi", "never.avi"}); }), 1);
    SetStoreCommitObserver(nullptr);
    const auto records = Load();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].fileName, "b.avi");
    EXPECT_EQ(records[0].keep, 1u);
}

TEST_F(ClipIndexTest, NamesThatCannotBeAKeyAreRefused) {
    test::ExpectedMessage refused(QtWarningMsg, "orvane.store", "not usable");
    EXPECT_FALSE(index.AddClipRecord(SampleClip("2024\\clip.avi")));
    EXPECT_FALSE(index.AddClipRecord(SampleClip("")));
    EXPECT_FALSE(store.OpenKey(KeyStore::kRoot, std::string(kClipIndexKeyPath) + "\\2024").ok());
    EXPECT_TRUE(Load().empty());

    ASSERT_TRUE(index.AddClipRecord(SampleClip("clip.avi")));
    EXPECT_FALSE(index.DeleteClipRecord("x\\..\\clip.avi"));
    EXPECT_EQ(EntryCount(), 1);
}

TEST(NewerClip, StartFirstThenTheSameSecondsSuffixAsANumber) {
    std::vector<QString> names{"200212031015300003.avi",    "200212031015300003-2.avi",
                               "200212031015300003-10.avi", "200212031015310003.avi",
                               "200212031015300003-1.avi",  "200212031015290003-9.avi"};
    std::sort(names.begin(), names.end(), NewerClip);
    const std::vector<QString> newestFirst{"200212031015310003.avi",   "200212031015300003-10.avi",
                                           "200212031015300003-2.avi", "200212031015300003-1.avi",
                                           "200212031015300003.avi",   "200212031015290003-9.avi"};
    EXPECT_EQ(names, newestFirst);
}

}  // namespace
}  // namespace orvane
