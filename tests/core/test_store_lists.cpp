// The store's lists (event log, site book, clip index): each entry's stored layout, what loading
// makes of entries other tools wrote, refusals, deletions, and the order clips are listed in.
#include "store/clip_index.h"
#include "store/event_log.h"
#include "store/registry_layout.h"
#include "store/site_book.h"
#include "support/message_guard.h"
#include "support/temp_store.h"
#include "wire/message_layout.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <map>

namespace orvane {
namespace {

const std::pair<const char*, EventLog::Field> kFields[] = {{"Name", EventLog::kNameField},
                                                           {"Tel", EventLog::kTelField},
                                                           {"Address", EventLog::kAddressField},
                                                           {"Memo", EventLog::kMemoField}};

// A 300-byte event record; each text is put at its field's start and may fill it.
std::vector<std::uint8_t> Record(const std::vector<std::string>& texts) {
    std::vector<std::uint8_t> record(kEventRecordSize, 0);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        std::copy(texts[i].begin(), texts[i].end(),
                  record.begin() + static_cast<long>(kFields[i].second.offset));
    }
    return record;
}

class EventLogTest : public test::StoreFileTest {
  protected:
    std::vector<EventLogEntry> Load() const {
        std::vector<EventLogEntry> entries;
        log.LoadEventLog(entries, CodePage());
        return entries;
    }
    RegKey Entry(const std::string& id) { return Key(kEventLogKeyPath + ("\\" + id)); }

    QDateTime now{QDate(2002, 11, 5), QTime(14, 30, 7)};
    EventLog log{store_, [this] { return now; }};
};

// The fields are stored as the site sent them, whatever follows a terminator too, in its code
// page, and decoded on loading.
TEST_F(EventLogTest, StoresTheTimeStampAndTheFourFieldsAsRawBlocks) {
    std::vector<std::uint8_t> record =
        Record({"M\xFCller", "\x80 12", "Stra\337e 5", std::string("caf\xE9\0junk", 9)});
    record[10] = 'x';
    record[299] = 'z';
    ASSERT_TRUE(log.AddEventLogEntry(record));

    const RegKey key = Entry("20021105143007");
    EXPECT_EQ(store_.QueryValue(key, "ID").value.data, "20021105143007");
    const std::string bytes(record.begin(), record.end());
    for (const auto& [name, field] : kFields) {
        EXPECT_EQ(test::Raw(store_, key, name),
                  std::pair(1u, bytes.substr(field.offset, field.size)));
    }
    EXPECT_EQ(
        Load(),
        (std::vector<EventLogEntry>{{"20021105143007", "Müller", "€ 12", "Straße 5", "café"}}));
}

TEST_F(EventLogTest, EventsOfTheSameSecondAreAllKeptUnderKeysOfTheirOwn) {
    for (const char* name : {"first", "second", "third"}) {
        ASSERT_TRUE(log.AddEventLogEntry(Record({name})));
    }
    now = now.addSecs(1);
    ASSERT_TRUE(log.AddEventLogEntry(Record({"later"})));
    EXPECT_EQ(Load(), (std::vector<EventLogEntry>{{"20021105143007", "first", "", "", ""},
                                                  {"20021105143007-2", "second", "", "", ""},
                                                  {"20021105143007-3", "third", "", "", ""},
                                                  {"20021105143008", "later", "", "", ""}}));
    EXPECT_EQ(store_.QueryValue(Entry("20021105143007-2"), "ID").value.data, "20021105143007-2");

    EXPECT_TRUE(log.DeleteEventLogEntry("20021105143007-2"));
    const test::ExpectedMessage refused(QtWarningMsg, "orvane.store", "event log entry");
    EXPECT_FALSE(log.DeleteEventLogEntry("20021105143007-2"));
    EXPECT_FALSE(log.DeleteEventLogEntry("20021105143007\\x"));
    ASSERT_EQ(Load().size(), 3u);
    EXPECT_EQ(Load()[1].name, "third");
}

// Fields without a terminator, or written longer by another tool, are cut at the field;
// values missing or of another type read as empty; records shorter than the site's are refused.
TEST_F(EventLogTest, WhatLoadsIsCutToTheFieldsAndShortRecordsAreRefused) {
    {
        const test::ExpectedMessage refused(QtWarningMsg, "orvane.store", "refused");
        EXPECT_FALSE(log.AddEventLogEntry(std::vector<std::uint8_t>(kEventRecordSize - 1, 'a')));
        EXPECT_FALSE(store_.OpenKey(KeyStore::kRoot, kEventLogKeyPath).ok());
    }
    ASSERT_TRUE(log.AddEventLogEntry(Record({std::string(30, 'N'), std::string(30, 'T'),
                                             std::string(120, 'A'), std::string(120, 'M')})));
    EXPECT_EQ(Load(),
              (std::vector<EventLogEntry>{{"20021105143007", QString(29, 'N'), QString(29, 'T'),
                                           QString(119, 'A'), QString(119, 'M')}}));
    store_.SetString(Entry("20021105143007"), "Name", std::string(300, 'L'));
    EXPECT_EQ(Load()[0].name, QString(29, 'L'));

    const RegKey partial = Entry("20021105143008");
    store_.SetString(partial, "name", "Gate");
    store_.SetDword(partial, "Tel", 555);
    Entry("20021105143009");
    EXPECT_EQ(Load()[1], (EventLogEntry{"20021105143008", "Gate", "", "", ""}));
    EXPECT_EQ(Load()[2], (EventLogEntry{"20021105143009", "", "", "", ""}));
}

constexpr std::uint32_t kAddress192_168_1_5 = 0xC0A80105;

class SiteBookTest : public test::StoreFileTest {
  protected:
    std::vector<SiteBookEntry> Load() const {
        std::vector<SiteBookEntry> entries;
        book.LoadSiteBook(entries);
        return entries;
    }
    RegKey Entry(const std::string& name) { return Key(kSiteBookKeyPath + ("\\" + name)); }

    SiteBook book{store_};
};

// Texts without their NUL and the address as a number; names beyond ASCII (Windows-1252's)
// kept as typed; the same user name overwrites its one entry, and the entry is found again
// by that name to be deleted. Names that cannot be a key of their own are refused: the
// separator would nest "site" and "a", never to be loaded again.
TEST_F(SiteBookTest, StoresTextsWithoutTerminatorAndTheAddressAsANumber) {
    const QString name = QString::fromUtf8("J\u00FCrgen \u20AC");
    const SiteBookEntry gate{name, QString::fromUtf8("p\u00E4\u00DF"), kAddress192_168_1_5,
                             QString::fromUtf8("caf\u00E9")};
    ASSERT_TRUE(book.AddSiteBookEntry(gate));
    const RegKey key = Entry(name.toStdString());
    for (const auto& [value, data] :
         {std::pair{"Name", "J\xC3\xBCrgen \xE2\x82\xAC"},
          std::pair{"PassWord", "p\xC3\xA4\xC3\x9F"}, std::pair{"Memo", "caf\xC3\xA9"}}) {
        EXPECT_EQ(test::Raw(store_, key, value), std::pair(1u, std::string(data)));
    }
    EXPECT_EQ(test::Raw(store_, key, "Dial"), std::pair(4u, std::string("\x05\x01\xA8\xC0")));
    EXPECT_EQ(Load(), std::vector<SiteBookEntry>{gate});

    ASSERT_TRUE(book.AddSiteBookEntry({"beta", "two", 2, ""}));
    ASSERT_TRUE(book.AddSiteBookEntry({name, "new", 0x0A000001, ""}));
    EXPECT_EQ(Load(),
              (std::vector<SiteBookEntry>{{"beta", "two", 2, ""}, {name, "new", 0x0A000001, ""}}));
    EXPECT_TRUE(book.DeleteSiteBookEntry(name));
    EXPECT_EQ(Load(), (std::vector<SiteBookEntry>{{"beta", "two", 2, ""}}));
    const test::ExpectedMessage refused(QtWarningMsg, "orvane.store", "site book entry");
    EXPECT_FALSE(book.DeleteSiteBookEntry(name));
    EXPECT_FALSE(book.AddSiteBookEntry({"beta\\a", "x", 1, ""}));
    EXPECT_FALSE(book.AddSiteBookEntry({"", "x", 1, ""}));
    EXPECT_FALSE(book.DeleteSiteBookEntry("beta\\a"));
    EXPECT_EQ(Load().size(), 1u);
}

TEST_F(SiteBookTest, EntriesLeftByOtherToolsLoadWithinTheDialogsLimits) {
    // Too long for the dialog's fields, one with a terminator stored as data, a 'é' of two
    // bytes where the cut falls.
    const RegKey longOne = Entry("long");
    store_.SetString(longOne, "Name", std::string(19, 'n') + "\xC3\xA9" + "tail");
    store_.SetString(longOne, "PassWord", std::string(25, 'p'));
    store_.SetString(longOne, "Memo", std::string(80, 'm'));
    store_.SetDword(longOne, "Dial", kAddress192_168_1_5);
    // No address and no name: address 0, the key's name.
    store_.SetString(Entry("bare"), "PassWord", std::string("pw\0junk", 7));
    // An address of the wrong type counts as none.
    const RegKey odd = Entry("odd");
    store_.SetString(odd, "Name", "odd");
    store_.SetString(odd, "Dial", "192.168.1.5");

    EXPECT_EQ(Load(),
              (std::vector<SiteBookEntry>{{"bare", "pw", 0, ""},
                                          {QString(19, 'n') + QString::fromUtf8("\u00E9"),
                                           QString(20, 'p'), kAddress192_168_1_5, QString(50, 'm')},
                                          {"odd", "", 0, ""}}));
}

ClipRecord SampleClip(const QString& fileName, std::int32_t channel = -3,
                      const QString& location = "") {
    return ClipRecord(fileName, 1, channel, location, "2024/02/29", "23:58", "2024/03/01", "00:04",
                      "Kamera Süd.bmp", "/home/operator/Aufnahmen/Überwachung/", 0,
                      "[fd00::7]:1000");
}

class ClipIndexTest : public test::StoreFileTest {
  protected:
    RegKey Entry(const std::string& name) { return Key(kClipIndexKeyPath + ("\\" + name)); }

    std::map<std::int32_t, QString> channelNames{{-3, "Entrée Nord 北"}, {2, "Hof"}};
    ClipIndex index{store_, [this](std::int32_t channel) {
                        const auto found = channelNames.find(channel);
                        return found == channelNames.end() ? QString() : found->second;
                    }};
};

// Ten values in their order, then the site, texts without NUL (an entry of other writers
// without the site reads as from no known site); entries come back as written, in name order,
// but for the location: the channel's name at the time of writing, whatever the record said,
// kept when the channel is renamed later. A name written again replaces the whole entry.
TEST_F(ClipIndexTest, AnEntryIsTheTenValuesOfTheLayoutAndComesBackAsWritten) {
    const test::ValueWriteLog written(temp_.path());
    ASSERT_TRUE(
        index.AddClipRecord(SampleClip("Ch-3 0229.avi", -3, "ignored: the lookup decides")));
    EXPECT_EQ(written.names(),
              (std::vector<std::string>{"FileName", "Channel", "Location", "Open", "SDate", "STime",
                                        "EDate", "ETime", "ImageName", "Path", "Site"}));
    const RegKey key = Entry("Ch-3 0229.avi");
    const std::pair<const char*, std::string> raw[] = {
        {"FileName", "Ch-3 0229.avi"},   {"Channel", std::string("\xFD\xFF\xFF\xFF", 4)},
        {"Location", "Entrée Nord 北"},  {"Open", std::string("\x01\x00\x00\x00", 4)},
        {"SDate", "2024/02/29"},         {"STime", "23:58"},
        {"EDate", "2024/03/01"},         {"ETime", "00:04"},
        {"ImageName", "Kamera Süd.bmp"}, {"Path", "/home/operator/Aufnahmen/Überwachung/"},
        {"Site", "[fd00::7]:1000"}};
    for (const auto& [name, data] : raw) {
        EXPECT_EQ(test::Raw(store_, key, name), std::pair(data.size() == 4 ? 4u : 1u, data));
    }

    ASSERT_TRUE(index.AddClipRecord(SampleClip("ch2_0401.avi")));
    ASSERT_TRUE(index.AddClipRecord(SampleClip("ch2_0401.avi", 2)));  // replaces every value
    channelNames[-3] = "Renamed";
    ASSERT_TRUE(index.AddClipRecord(SampleClip("unknown.avi", 9, "stale")));
    EXPECT_EQ(Index(), (std::vector<ClipRecord>{SampleClip("Ch-3 0229.avi", -3, "Entrée Nord 北"),
                                                SampleClip("ch2_0401.avi", 2, "Hof"),
                                                SampleClip("unknown.avi", 9)}));
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

    EXPECT_EQ(Index(),
              (std::vector<ClipRecord>{ClipRecord("foreign.avi", 0, 0, "", "2024/05/06", "", "", "",
                                                  QString(259, 'i'), QString(258, 'p')),
                                       ClipRecord("", 1, -1, "", "", "", "", "", "", "")}));
}

// Without an index nothing loads and nothing is marked; only the exact name is marked or
// deleted, and names that cannot be a key of their own are refused.
TEST_F(ClipIndexTest, MarksAndDeletionsTakeOnlyTheExactName) {
    EXPECT_TRUE(Index().empty());
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
    EXPECT_EQ(Index()[1].open, 0u);
    index.SetClipOpened("Clip.avi", true);
    EXPECT_EQ(Index()[1].open, 1u);

    EXPECT_TRUE(index.DeleteClipRecord("b.avi"));
    test::ExpectedMessage refused(QtWarningMsg, "orvane.store", "cannot delete");
    EXPECT_FALSE(index.DeleteClipRecord("b.avi"));
    EXPECT_EQ(Index().size(), 1u);
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
    const auto records = Index();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].fileName, "b.avi");
    EXPECT_EQ(records[0].keep, 1u);
}

TEST(NewerClip, StartFirstThenTheSameSecondsSuffixAsANumber) {
    const std::vector<QString> newestFirst{"200212031015310003.avi",   "200212031015300003-10.avi",
                                           "200212031015300003-2.avi", "200212031015300003-1.avi",
                                           "200212031015300003.avi",   "200212031015290003-9.avi"};
    std::vector<QString> names(newestFirst.rbegin(), newestFirst.rend());
    std::sort(names.begin(), names.end(), NewerClip);
    EXPECT_EQ(names, newestFirst);
}

}  // namespace
}  // namespace orvane
