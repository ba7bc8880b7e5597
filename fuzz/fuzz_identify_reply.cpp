// Feeds arbitrary bytes to the identify client as replies of a server.
#include "site/identify_client.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    orvane::IdentifyClient client;
    if (size == 0) {
        return 0;
    }
    const std::size_t chunk = 1 + data[0] % 128;
    for (std::size_t at = 1; at < size; at += chunk) {
        const std::size_t end = std::min(size, at + chunk);
        client.ReceiveChunk(orvane::Block(data + at, data + end));
    }
    return 0;
}
