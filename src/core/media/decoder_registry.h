#pragma once

#include "wire/bitmap_info.h"

#include <cstdint>
#include <optional>
#include <string>

namespace orvane {

// The decoder chosen for a connection's stream. Each channel opens its own VideoDecoder of
// this kind, since a decoder with inter-frame prediction keeps state per stream.
struct DecoderChoice {
    int codecId = 0;      // AVCodecID; 0 for uncompressed frames, decoded without FFmpeg
    std::string name;     // "indeo5", "mpeg4", "bi_rgb", ...
    std::string handler;  // how it was found: "iv50", "iv32" or "locate"
    bool uncompressed() const { return codecId == 0; }
};

// Finds a decoder for a stream the way the system's codec manager was asked: first the
// handler "iv50" (Indeo 5) with a decompress query for this format, then "iv32" (Indeo 3),
// then any decoder located by the frame's FOURCC (biCompression), uncompressed BI_RGB
// included. nullopt when nothing can decode it.
std::optional<DecoderChoice> FindDecoder(const BitmapInfoHeader& format);

}  // namespace orvane
