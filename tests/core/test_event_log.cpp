// The event log store: the stored layout, events of the same second, cutting and decoding
// fields on loading, and refusals.
#include "store/event_log.h"
#include "store/registry_layout.h"
#include "support/message_guard.h"
#include "support/temp_store.h"
#include "wire/message_layout.h"

#include <gtest/gtest.h>

namespace orvane {
namespace {

const EventLog::Field kFields[] = {EventLog::kNameField, EventLog::kTelField,
                                   EventLog::kAddressField, EventLog::kMemoField};

// A 300-byte event record; each text is put at its field's start and may fill it.
std::vector<std::uint8_t> Record(const std::vector<std::string>& texts) {
    std::vector<std::uint8_t> record(kEventRecordSize, 0);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        EXPECT_LE(texts[i].size(), kFields[i].size);
        std::copy(texts[i].begin(), texts[i].end(),
                  record.begin() + static_cast<long>(kFields[i].offset));
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
    RegKey Entry(const std::string& id) { return Key(std::string(kEventLogKeyPath) + "\\" + id); }

    QDateTime now{QDate(2002, 11, 5), QTime(14, 30, 7)};
    EventLog log{store_, [this] { return now; }};
};

// The fields are stored as the site sent them, whatever follows a terminator too, in its code
// page, and decoded on loading.
TEST_F(EventLogTest, StoresTheTimeStampAndTheFourFieldsAsRawBlocks) {
    std::vector<std::uint8_t> record = Record({"M\xFCller", "\x80 12",
                                               "Stra\xDF"
                                               "e 5",
                                               std::string("caf\xE9\0junk", 9)});
    record[10] = 'x';
    record[299] = 'z';
    ASSERT_TRUE(log.AddEventLogEntry(record));

    const RegKey key = Entry("20021105143007");
    EXPECT_EQ(store_.QueryValue(key, "ID").value.data, "20021105143007");
    for (const auto& [name, field] :
         {std::pair{"Name", kFields[0]}, std::pair{"Tel", kFields[1]},
          std::pair{"Address", kFields[2]}, std::pair{"Memo", kFields[3]}}) {
        const StoredValue value = store_.QueryValue(key, name).value;
        EXPECT_EQ(value.type, static_cast<std::uint32_t>(ValueType::String)) << name;
        EXPECT_EQ(
            value.data,
            std::string(reinterpret_cast<const char*>(record.data()) + field.offset, field.size))
            << name;
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
        EXPECT_FALSE(log.AddEventLogEntry(
            std::vector<std::uint8_t>(kEventRecordSize - 1, static_cast<std::uint8_t>('a'))));
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

}  // namespace
}  // namespace orvane
