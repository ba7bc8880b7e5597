#include "store/event_log.h"

#include "common/log.h"
#include "store/registry_layout.h"
#include "wire/message_layout.h"

#include <QByteArrayView>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

namespace orvane {
namespace {

namespace eventvalue {
constexpr const char* kId = "ID";
constexpr const char* kName = "Name";
constexpr const char* kTel = "Tel";
constexpr const char* kAddress = "Address";
constexpr const char* kMemo = "Memo";
}  // namespace eventvalue

constexpr const char* kStampFormat = "yyyyMMddHHmmss";

QByteArray Quoted(std::string_view text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::string EntryKeyPath(std::string_view id) {
    return std::string(kEventLogKeyPath) + "\\" + std::string(id);
}

// An empty id would address the log key itself, and a separator a key the log never lists.
bool UsableId(const QString& id) {
    return !id.isEmpty() && !id.contains(QLatin1Char('\\'));
}

// Value names compare as the store compares them: ASCII letters without case.
bool SameValueName(std::string_view stored, const char* name) {
    return QByteArrayView(stored).compare(QByteArrayView(name), Qt::CaseInsensitive) == 0;
}

// The text of a stored field. The browser's buffers hold one character less than the field,
// so a field filled without a terminator is cut to fit rather than read on into its
// neighbour.
QString ReadField(const SubkeyValueView& value, EventLog::Field field, const CodePage& codePage) {
    if (value.type != static_cast<std::uint32_t>(ValueType::String)) {
        return {};
    }
    const std::size_t length = std::min(value.data.size(), field.size - 1);
    return codePage.Decode(std::span(value.data.data(), length));
}

void ReadInto(EventLogEntry& entry, const SubkeyValueView& value, const CodePage& codePage) {
    if (SameValueName(value.name, eventvalue::kName)) {
        entry.name = ReadField(value, EventLog::kNameField, codePage);
    } else if (SameValueName(value.name, eventvalue::kTel)) {
        entry.tel = ReadField(value, EventLog::kTelField, codePage);
    } else if (SameValueName(value.name, eventvalue::kAddress)) {
        entry.address = ReadField(value, EventLog::kAddressField, codePage);
    } else if (SameValueName(value.name, eventvalue::kMemo)) {
        entry.memo = ReadField(value, EventLog::kMemoField, codePage);
    }
}

}  // namespace

EventLog::EventLog(KeyStore& store, Clock clock) : store_(store), clock_(std::move(clock)) {}

bool EventLog::AddEventLogEntry(std::span<const std::uint8_t> record) {
    if (record.size() < kEventRecordSize) {
        qCWarning(lcStore) << "event record refused: it holds" << record.size() << "of"
                           << kEventRecordSize << "bytes";
        return false;
    }
    const QDateTime now = clock_ ? clock_() : QDateTime::currentDateTime();
    const std::string stamp = now.toLocalTime().toString(QLatin1String(kStampFormat)).toStdString();
    const std::optional<std::string> id = UnusedId(stamp);
    if (!id) {
        return false;
    }
    // The entry and its values go in together: a reader of the log never sees an event
    // with some of its fields.
    bool created = true;
    const auto writeEntry = [&] {
        const auto key = store_.CreateKey(KeyStore::kRoot, EntryKeyPath(*id));
        if (!key.ok()) {
            qCWarning(lcStore) << "cannot create the event log entry" << Quoted(*id);
            created = false;
            return false;
        }
        const auto write = [&](const char* name, std::string_view bytes) {
            if (store_.SetString(key.value, name, bytes) != StoreStatus::Ok) {
                qCWarning(lcStore)
                    << "cannot write" << name << "of the event log entry" << Quoted(*id);
            }
        };
        // The fields go in whole, padding and all, as the site sent them.
        const auto field = [&](Field f) {
            return std::string_view(reinterpret_cast<const char*>(record.data()) + f.offset,
                                    f.size);
        };
        write(eventvalue::kId, *id);
        write(eventvalue::kName, field(kNameField));
        write(eventvalue::kTel, field(kTelField));
        write(eventvalue::kAddress, field(kAddressField));
        write(eventvalue::kMemo, field(kMemoField));
        return true;
    };
    store_.WriteTogether(writeEntry);
    return created;
}

std::optional<std::string> EventLog::UnusedId(const std::string& stamp) const {
    // A site that calls back twice within a second must not lose its first event to the
    // second: the later one is numbered after the time.
    for (int number = 1; number <= kMaxEventsPerSecond; ++number) {
        const std::string id = number == 1 ? stamp : stamp + "-" + std::to_string(number);
        const auto existing = store_.OpenKey(KeyStore::kRoot, EntryKeyPath(id));
        if (existing.status == StoreStatus::NotFound) {
            return id;
        }
        if (!existing.ok()) {
            qCWarning(lcStore) << "cannot look up the event log entry" << Quoted(id);
            return std::nullopt;
        }
    }
    qCWarning(lcStore) << "too many events stored at" << Quoted(stamp);
    return std::nullopt;
}

bool EventLog::DeleteEventLogEntry(const QString& id) {
    if (!UsableId(id)) {
        qCWarning(lcStore) << "not an event log entry:" << id;
        return false;
    }
    const std::string name = id.toStdString();
    const StoreStatus status = store_.DeleteKey(KeyStore::kRoot, EntryKeyPath(name));
    if (status != StoreStatus::Ok) {
        qCWarning(lcStore) << "cannot delete the event log entry" << Quoted(name);
        return false;
    }
    return true;
}

void EventLog::LoadEventLog(std::vector<EventLogEntry>& entries, const CodePage& codePage) const {
    const auto log = store_.OpenKey(KeyStore::kRoot, kEventLogKeyPath);
    if (!log.ok()) {
        // No event was ever stored.
        if (log.status != StoreStatus::NotFound) {
            qCWarning(lcStore) << "cannot open the event log";
        }
        return;
    }
    // The whole log in one read: entry by entry, a log of thousands of events takes minutes.
    const std::size_t first = entries.size();
    std::int64_t entry = -1;
    const StoreStatus status =
        store_.VisitSubkeyValues(log.value, [&](const SubkeyValueView& value) {
            if (value.subkeyId != entry) {
                entry = value.subkeyId;
                EventLogEntry& added = entries.emplace_back();
                added.id = QString::fromUtf8(value.subkey.data(),
                                             static_cast<qsizetype>(value.subkey.size()));
            }
            if (value.hasValue) {
                ReadInto(entries.back(), value, codePage);
            }
        });
    if (status != StoreStatus::Ok) {
        qCWarning(lcStore) << "cannot read the event log entries";
        entries.resize(first);
    }
}

}  // namespace orvane
