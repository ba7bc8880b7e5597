#pragma once

#include "common/code_page.h"
#include "store/key_store.h"

#include <QDateTime>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace orvane {

// One stored event notification as the browser shows it. The texts are cut to what the
// browser's fields hold: 29 characters for name and telephone, 119 for address and memo.
struct EventLogEntry {
    QString id;  // the key the event is stored under: its local time of arrival
    QString name;
    QString tel;
    QString address;
    QString memo;

    friend bool operator==(const EventLogEntry&, const EventLogEntry&) = default;
};

// The event log: one key per event notification below the log key, named by the local time
// the event was stored, holding the four text fields of the site's event record as raw
// fixed-size blocks. Nothing here shows a message; failures come back as results.
class EventLog {
  public:
    using Clock = std::function<QDateTime()>;

    // Fields of the 300-byte event record: offset and size in bytes.
    struct Field {
        std::size_t offset;
        std::size_t size;
    };
    static constexpr Field kNameField{0, 30};
    static constexpr Field kTelField{30, 30};
    static constexpr Field kAddressField{60, 120};
    static constexpr Field kMemoField{180, 120};

    // clock gives the time of storing; the current time when empty.
    explicit EventLog(KeyStore& store, Clock clock = {});

    // Stores the first 300 bytes of record under the current local time. Two events of the
    // same second are both kept: the later one's key gets "-2", "-3", ... after the time.
    // False (and nothing stored) when the record is shorter or the key cannot be created.
    bool AddEventLogEntry(std::span<const std::uint8_t> record);
    // False when there is no such entry or it cannot be deleted.
    bool DeleteEventLogEntry(const QString& id);
    // Appends every entry in the store's enumeration order (time order), all read at once,
    // its texts decoded from the wire's code page. A value that is missing or not text reads
    // as empty. Nothing is appended when the log cannot be read.
    void LoadEventLog(std::vector<EventLogEntry>& entries,
                      const CodePage& codePage = CodePage()) const;

  private:
    // Beyond this many events in one second, further ones are refused.
    static constexpr int kMaxEventsPerSecond = 1000;

    // The key for an event stored at stamp: stamp itself, or the first of stamp-2, stamp-3,
    // ... not yet taken; nullopt when the log cannot be looked at or all are taken.
    std::optional<std::string> UnusedId(const std::string& stamp) const;

    KeyStore& store_;
    Clock clock_;
};

}  // namespace orvane
