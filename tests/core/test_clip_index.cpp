// The clip index: each clip's entry as the layout has it, what is read of entries other tools
// wrote, marks, deletions, and the order clips are listed in.
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

ClipRecord SampleClip(const QString& fileName) {
    return ClipRecord(fileName, 1, -3, "", "2024/02/29", "23:58", "2024/03/01", "00:04",
                      "Kamera Süd.bmp", "/home/operator/Aufnahmen/Überwachung/");
}

class ClipIndexTest : public test::StoreFileTest {
  protected:
    std::vector<ClipRecord> Load() const {
        std::vector<ClipRecord> records;
        index.LoadClipRecords(records);
        return records;
    }
    RegKey Entry(const std::string& name) {
        return Key(std::string(kClipIndexKeyPath) + "\\" + name);
    }

    std::map<std::int32_t, QString> channelNames{{-3, "Entrée Nord 北"}, {2, "Hof"}};
    ClipIndex index{store_, [this](std::int32_t channel) {
                        const auto found = channelNames.find(channel);
                        return found == channelNames.end() ? QString() : found->second;
                    }};
};

// Ten values in their order, texts without NUL; entries come back as written, in name order,
// but for the location: the channel's name at the time of writing, whatever the record said,
// kept when the channel is renamed later. A name written again replaces the whole entry.
TEST_F(ClipIndexTest, AnEntryIsTheTenValuesOfTheLayoutAndComesBackAsWritten) {
    const test::ValueWriteLog written(temp_.path());
    ClipRecord first = SampleClip("Ch-3 0229.avi");
    first.location = "ignored: the lookup decides";
    ASSERT_TRUE(index.AddClipRecord(first));
    EXPECT_EQ(written.names(),
              (std::vector<std::string>{"FileName", "Channel", "Location", "Open", "SDate", "STime",
                                        "EDate", "ETime", "ImageName", "Path"}));
    const RegKey key = Entry("Ch-3 0229.avi");
    const std::pair<const char*, std::string> raw[] = {
        {"FileName", "Ch-3 0229.avi"},   {"Channel", std::string("\xFD\xFF\xFF\xFF", 4)},
        {"Location", "Entrée Nord 北"},  {"Open", std::string("\x01\x00\x00\x00", 4)},
        {"SDate", "2024/02/29"},         {"STime", "23:58"},
        {"EDate", "2024/03/01"},         {"ETime", "00:04"},
        {"ImageName", "Kamera Süd.bmp"}, {"Path", "/home/operator/Aufnahmen/Überwachung/"}};
    for (const auto& [name, data] : raw) {
        const StoredValue value = store_.QueryValue(key, name).value;
        EXPECT_EQ(value.type, data.size() == 4 ? 4u : 1u) << name;
        EXPECT_EQ(value.data, data) << name;
    }

    ClipRecord second = SampleClip("ch2_0401.avi");
    second.channel = 2;
    ASSERT_TRUE(index.AddClipRecord(SampleClip("ch2_0401.avi")));
    ASSERT_TRUE(index.AddClipRecord(second));  // replaces every value of the one key
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

// Entries other tools wrote: texts read up to their NUL and within the buffer, values of the
// wrong type or missing read as nothing, any "Open" value reads as one.
TEST_F(ClipIndexTest, EntriesOfOtherWritersReadWithinTheirFields) {
    const RegKey key = Entry("foreign.avi");
    store_.SetString(key, "FileName", std::string("foreign.avi\0", 12));
    store_.SetString(key, "SDate", std::string("2024/05/06\0junk", 15));
    // 258 ASCII bytes then a two-byte character: the character would end at byte 260.
    store_.SetString(key, "Path", std::string(258, 'p') + "é/");
    store_.SetString(key, "ImageName", std::string(300, 'i'));
    store_.SetDword(key, "ETime", 5);       // a number where text belongs
    store_.SetString(key, "Channel", "7");  // text where a number belongs
    store_.SetString(key, "Open", "\x01");
    const RegKey other = Entry("other.avi");
    store_.SetDword(other, "Open", 7);
    store_.SetDword(other, "Channel", 0xFFFFFFFFu);

    ClipRecord foreign;
    foreign.fileName = "foreign.avi";
    foreign.startDate = "2024/05/06";
    foreign.path = QString(258, QLatin1Char('p'));
    foreign.imageName = QString(259, QLatin1Char('i'));
    ClipRecord unnamed;
    unnamed.open = 1;
    unnamed.channel = -1;
    EXPECT_EQ(Load(), (std::vector<ClipRecord>{foreign, unnamed}));
}

// Without an index nothing loads and nothing is marked; only the exact name is marked or
// deleted, and names that cannot be a key of their own are refused.
TEST_F(ClipIndexTest, MarksAndDeletionsTakeOnlyTheExactName) {
    EXPECT_TRUE(Load().empty());
    index.SetClipOpened("kept.avi", true);
    {
        test::ExpectedMessage refused(QtWarningMsg, "orvane.store", "not usable");
        EXPECT_FALSE(index.AddClipRecord(SampleClip("2024\\clip.avi")));
        EXPECT_FALSE(index.AddClipRecord(SampleClip("")));
        EXPECT_FALSE(store_.OpenKey(KeyStore::kRoot, kClipIndexKeyPath).ok());
        ASSERT_TRUE(index.AddClipRecord(SampleClip("b.avi")));
        EXPECT_FALSE(index.DeleteClipRecord("x\\..\\b.avi"));
    }

    ClipRecord clip = SampleClip("Clip.avi");
    clip.open = 0;
    ASSERT_TRUE(index.AddClipRecord(clip));
    index.SetClipOpened("clip.avi", true);
    EXPECT_EQ(Load()[1].open, 0u);
    index.SetClipOpened("Clip.avi", true);
    EXPECT_EQ(Load()[1].open, 1u);

    EXPECT_TRUE(index.DeleteClipRecord("b.avi"));
    test::ExpectedMessage refused(QtWarningMsg, "orvane.store", "cannot delete");
    EXPECT_FALSE(index.DeleteClipRecord("b.avi"));
    EXPECT_EQ(Load().size(), 1u);
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
