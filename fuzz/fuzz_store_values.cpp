// Feeds the key store values another tool may have written (any key name, any value name,
// text or number of any size) to the loaders of the site book, the event log and the clip
// index, then deletes what the site book listed, by the keys it reported.
//
// Input: records of [where][key name length][key name][value][data length][data], where
// "where" picks the book, the log or the index (and, in its top bit, a number rather than
// text) and "value" picks one of the value names those loaders read (or an unknown one).
#include "store/clip_index.h"
#include "store/event_log.h"
#include "store/key_store.h"
#include "store/registry_layout.h"
#include "store/site_book.h"

#include <QCoreApplication>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::array<const char*, 3> kWhere = {orvane::kSiteBookKeyPath, orvane::kEventLogKeyPath,
                                               orvane::kClipIndexKeyPath};
constexpr std::array<const char*, 16> kValueNames = {
    "Name", "PassWord", "Dial",  "Memo",  "ID",    "Tel",       "Address", "FileName",
    "Open", "Channel",  "SDate", "STime", "EDate", "ImageName", "Path",    "Unknown"};

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool done() const { return at_ >= size_; }
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    std::string_view Bytes(std::size_t count) {
        count = std::min(count, size_ - at_);
        const std::string_view bytes(reinterpret_cast<const char*>(data_ + at_), count);
        at_ += count;
        return bytes;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orvane;
    KeyStore store = KeyStore::OpenInMemory();
    Reader in(data, size);
    for (int record = 0; record < 64 && !in.done(); ++record) {
        const std::uint8_t where = in.Byte();
        const std::string keyName(in.Bytes(in.Byte() % 40));
        const char* valueName = kValueNames[in.Byte() % kValueNames.size()];
        const std::string_view bytes = in.Bytes(in.Byte() * 4u);
        const auto key = store.CreateKey(
            KeyStore::kRoot, std::string(kWhere[(where & 0x7f) % kWhere.size()]) + "\\" + keyName);
        if (!key.ok()) {
            continue;
        }
        if (where & 0x80) {
            std::uint32_t number = 0;
            for (std::size_t i = 0; i < std::min<std::size_t>(4, bytes.size()); ++i) {
                number |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i]))
                          << (8 * i);
            }
            store.SetDword(key.value, valueName, number);
        } else {
            store.SetString(key.value, valueName, bytes);
        }
    }

    SiteBook book(store);
    std::vector<SiteBookEntry> entries;
    book.LoadSiteBook(entries);
    for (const SiteBookEntry& entry : entries) {
        book.DeleteSiteBookEntry(entry.storeKey());
    }
    std::vector<EventLogEntry> events;
    EventLog(store).LoadEventLog(events);
    std::vector<ClipRecord> clips;
    ClipIndex(store, {}).LoadClipRecords(clips);
    return 0;
}
