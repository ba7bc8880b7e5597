#pragma once

#include "wire/message_builder.h"

#include <QIODevice>

#include <functional>

namespace orvane {

// Reads every waiting byte of a socket in chunks of at most chunkSize, handing each to take.
// Qt signals readyRead once per arrival, not once per chunk, so a receive notification reads
// everything that is there.
inline void ReadWaitingChunks(QIODevice& socket, std::size_t chunkSize,
                              const std::function<void(Block)>& take) {
    while (socket.bytesAvailable() > 0) {
        Block chunk(chunkSize);
        const qint64 got = socket.read(reinterpret_cast<char*>(chunk.data()), qint64(chunk.size()));
        if (got <= 0) {
            return;
        }
        chunk.resize(static_cast<std::size_t>(got));
        take(std::move(chunk));
    }
}

}  // namespace orvane
