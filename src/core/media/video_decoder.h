#pragma once

#include "media/bitmap_info.h"
#include "media/decoded_picture.h"
#include "media/decoder_registry.h"

#include <memory>
#include <optional>

namespace orvane {

// Decodes one channel's packed frames into pictures. Built for the decoder chosen for the
// connection and the first frame's format; GUI thread (or any one thread) only.
class VideoDecoder {
  public:
    virtual ~VideoDecoder() = default;

    // nullptr when the decoder cannot be opened for this format.
    static std::unique_ptr<VideoDecoder> Create(const DecoderChoice& choice,
                                                const BitmapInfoHeader& format);

    // The picture this frame completes; nullopt when it gives none (a decoder still
    // buffering, or data it cannot decode).
    virtual std::optional<DecodedPicture> Decode(const PackedFrame& frame) = 0;
};

}  // namespace orvane
