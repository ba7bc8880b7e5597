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

// A 300-byte event record; each text is put at its field's start and may fill it.
std::vector<std::uint8_t> Record(const std::string& name, const std::string& tel,
                                 const std::string& address, const std::string& memo) {
    std::vector<std::uint8_t> record(kEventRecordSize, 0);
    const auto put = [&](EventLog::Field field, const std::string& text) {
        EXPECT_LE(text.size(), field.size);
        std::copy(text.begin(), text.end(), record.begin() + static_cast<long>(field.offset));
    };
    put(EventLog::kNameField, name);
    put(EventLog::kTelField, tel);
    put(EventLog::kAddressField, address);
    put(EventLog::kMemoField, memo);
    return record;
}

std::string Bytes(const std::vector<std::uint8_t>& record, EventLog::Field field) {
    return std::string(reinterpret_cast<const char*>(record.data()) + field.offset, field.size);
}

const QDateTime kArrival(QDate(2002, 11, 5), QTime(14, 30, 7));

class EventLogTest : public testing::Test {
  protected:
    test::TempStore temp;
    KeyStore store{std::move(*KeyStore::Open(temp.path()).store)};
    QDateTime now = kArrival;
    EventLog log{store, [this] { return now; }};

    std::vector<EventLogEntry> Load(const CodePage& codePage = CodePage()) const {
        std::vector<EventLogEntry> entries;
        log.LoadEventLog(entries, codePage);
        return entries;
    }
    StoredValue Raw(const std::string& id, const char* name) const {
        const auto key = store.OpenKey(KeyStore::kRoot, std::string(kEventLogKeyPath) + "\\" + id);
        EXPECT_TRUE(key.ok()) << id;
        const auto value = store.QueryValue(key.value, name);
        EXPECT_TRUE(value.ok()) << id << ' ' << name;
        return value.value;
    }
    RegKey Entry(const std::string& id) {
        return store.CreateKey(KeyStore::kRoot, std::string(kEventLogKeyPath) + "\\" + id).value;
    }
};

// The fields are stored as the site sent them, in its code page, and decoded on loading.
TEST_F(EventLogTest, StoresTheTimeStampAndTheFourFieldsAsRawBlocks) {
    // Whatever follows a terminator inside a field is stored too.
    std::vector<std::uint8_t> record = Record("M\xFCller", "\x80 12",
                                              "Stra\xDF"
                                              "e 5",
                                              std::string("caf\xE9\0junk", 9));
    record[10] = 'x';
    record[299] = 'z';
    ASSERT_TRUE(log.AddEventLogEntry(record));

    const StoredValue id = Raw("20021105143007", "ID");
    EXPECT_EQ(id.type, static_cast<std::uint32_t>(ValueType::String));
    EXPECT_EQ(id.data, "20021105143007");
    const struct {
        const char* name;
        EventLog::Field field;
    } fields[] = {{"Name", EventLog::kNameField},
                  {"Tel", EventLog::kTelField},
                  {"Address", EventLog::kAddressField},
                  {"Memo", EventLog::kMemoField}};
    for (const auto& [name, field] : fields) {
        const StoredValue value = Raw("20021105143007", name);
        EXPECT_EQ(value.type, static_cast<std::uint32_t>(ValueType::String)) << name;
        EXPECT_EQ(value.data.size(), field.size) << name;
        EXPECT_EQ(value.data, Bytes(record, field)) << name;
    }

    const auto entries = Load();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0], (EventLogEntry{"20021105143007", QString::fromUtf8("Müller"),
                                         QString::fromUtf8("€ 12"), QString::fromUtf8("Straße 5"),
                                         QString::fromUtf8("café")}));
}

TEST_F(EventLogTest, EventsOfTheSameSecondAreAllKeptUnderKeysOfTheirOwn) {
    ASSERT_TRUE(log.AddEventLogEntry(Record("first", "1", "a", "m1")));
    ASSERT_TRUE(log.AddEventLogEntry(Record("second", "2", "b", "m2")));
    ASSERT_TRUE(log.AddEventLogEntry(Record("third", "3", "c", "m3")));
    now = kArrival.addSecs(1);
    ASSERT_TRUE(log.AddEventLogEntry(Record("later", "4", "d", "m4")));

    const auto entries = Load();
    ASSERT_EQ(entries.size(), 4u);
    const QStringList expected[] = {{"20021105143007", "first"},
                                    {"20021105143007-2", "second"},
                                    {"20021105143007-3", "third"},
                                    {"20021105143008", "later"}};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].id, expected[i][0]);
        EXPECT_EQ(entries[i].name, expected[i][1]);
        EXPECT_EQ(QString::fromStdString(Raw(entries[i].id.toStdString(), "ID").data),
                  expected[i][0]);
    }

    EXPECT_TRUE(log.DeleteEventLogEntry("20021105143007-2"));
    ASSERT_EQ(Load().size(), 3u);
    EXPECT_EQ(Load()[1].name, "third");
    for (const char* id : {"20021105143007", "20021105143007-3", "20021105143008"}) {
        EXPECT_TRUE(log.DeleteEventLogEntry(id)) << id;
    }
    EXPECT_TRUE(Load().empty());
}

TEST_F(EventLogTest, FieldsWithoutTerminatorAreCutAtTheField) {
    ASSERT_TRUE(log.AddEventLogEntry(Record(std::string(30, 'N'), std::string(30, 'T'),
                                            std::string(120, 'A'), std::string(120, 'M'))));
    const auto entries = Load();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, QString(29, 'N'));
    EXPECT_EQ(entries[0].tel, QString(29, 'T'));
    EXPECT_EQ(entries[0].address, QString(119, 'A'));
    EXPECT_EQ(entries[0].memo, QString(119, 'M'));

    // Written longer by another tool: still no more than the field.
    store.SetString(Entry("20021105143007"), "Name", std::string(300, 'L'));
    EXPECT_EQ(Load()[0].name, QString(29, 'L'));
}

TEST_F(EventLogTest, MissingOrForeignValuesReadAsEmpty) {
    Entry("20010101000000");
    const RegKey partial = Entry("20010101000001");
    store.SetString(partial, "name", "Gate");
    store.SetDword(partial, "Tel", 555);
    store.SetString(partial, "Other", "ignored");

    const auto entries = Load();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0], (EventLogEntry{"20010101000000", "", "", "", ""}));
    EXPECT_EQ(entries[1], (EventLogEntry{"20010101000001", "Gate", "", "", ""}));
}

TEST_F(EventLogTest, ShortRecordsAreRefused) {
    const test::ExpectedMessage refused(QtWarningMsg, "orvane.store", "refused");
    std::vector<std::uint8_t> record = Record("Door", "1", "a", "m");
    record.pop_back();
    EXPECT_FALSE(log.AddEventLogEntry(record));
    EXPECT_FALSE(log.AddEventLogEntry({}));
    EXPECT_FALSE(store.OpenKey(KeyStore::kRoot, kEventLogKeyPath).ok());
}

TEST_F(EventLogTest, AnEmptyLogLoadsNothingAndDeletesNothing) {
    std::vector<EventLogEntry> entries{{"kept", "", "", "", ""}};
    log.LoadEventLog(entries);
    EXPECT_EQ(entries.size(), 1u);

    const test::ExpectedMessage refused(QtWarningMsg, "orvane.store", "event log entry");
    EXPECT_FALSE(log.DeleteEventLogEntry("20021105143007"));
    ASSERT_TRUE(log.AddEventLogEntry(Record("Door", "1", "a", "m")));
    EXPECT_FALSE(log.DeleteEventLogEntry(""));
    EXPECT_FALSE(log.DeleteEventLogEntry("20021105143007\\x"));
    EXPECT_EQ(Load().size(), 1u);
}

}  // namespace
}  // namespace orvane
