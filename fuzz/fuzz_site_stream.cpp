// Feeds arbitrary bytes to a started site connection, cut into chunks, and dispatches what
// reassembles: channel lists, frames (decoded for real), stops, event records, anything.
#include "site/headless_host.h"
#include "site/site_connection.h"
#include "wire/site_messages.h"

#include <QGuiApplication>

#include <cstddef>
#include <cstdint>

namespace {

class NullObserver final : public orvane::ConnectionObserver {
  public:
    void Notify(orvane::SiteNotice) override {}
    void SetStatusLine(const QString&) override {}
};

class CountingEvents final : public orvane::EventRecordSink {
  public:
    void AddEventRecord(std::span<const std::uint8_t> record) override { bytes += record.size(); }
    std::size_t bytes = 0;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "orvane.*=false");
    static QGuiApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orvane;
    if (size == 0) {
        return 0;
    }
    // The decoder alone, on the input taken as one whole message.
    const auto decoded = sitemsg::DecodeSiteMessage(std::span(data, size));
    if (const auto* list = std::get_if<sitemsg::ChannelList>(&decoded)) {
        if (list->entries.size() > size / kChannelEntrySize) {
            __builtin_trap();
        }
    }

    ChannelTable channels;
    HeadlessChannelHost host;
    NullObserver frame;
    CountingEvents events;
    SiteConnection connection({channels, host, frame, &events}, CallSettings{});
    connection.Start(false);

    // The first byte picks the chunk size, so the fuzzer explores splits as well as bytes.
    const std::size_t chunk = 1 + data[0] % 64 * 16;
    for (std::size_t at = 1; at < size; at += chunk) {
        const std::size_t end = std::min(size, at + chunk);
        connection.ReceiveChunk(Block(data + at, data + end));
        connection.Tick();
    }
    return 0;
}
