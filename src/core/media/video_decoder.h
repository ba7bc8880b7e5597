#pragma once

#include "media/decoded_picture.h"
#include "media/decoder_registry.h"
#include "wire/bitmap_info.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <memory>
#include <optional>
#include <span>

namespace orvane {

// Decodes one channel's packed frames into pictures. Built for the decoder chosen for the
// connection and the first frame's format; GUI thread (or any one thread) only.
class VideoDecoder {
  public:
    virtual ~VideoDecoder() = default;

    // nullptr when the decoder cannot be opened for this format.
    static std::unique_ptr<VideoDecoder> Create(const DecoderChoice& choice,
                                                const BitmapInfoHeader& format);

    // The picture this frame completes, pictureSize pixels large (the frame's own size when
    // empty), with the decoded frame kept for a full-size picture later; nullopt when it gives
    // none (a decoder still buffering, or data it cannot decode).
    virtual std::optional<DecodedPicture> Decode(const PackedFrame& frame, QSize pictureSize) = 0;
    std::optional<DecodedPicture> Decode(const PackedFrame& frame) { return Decode(frame, {}); }
    // Decodes the frame into the decoder's state without making a picture of it, for a frame
    // a newer one will replace on screen anyway. True when it gave a picture.
    virtual bool DecodeWithoutPicture(const PackedFrame& frame) {
        return Decode(frame, {}).has_value();
    }
    // Forgets what earlier frames left behind: the next frame decoded starts afresh (frames
    // in between were dropped).
    virtual void Restart() {}
};

// One packed frame that stands alone (a stored frame, a preview file) decoded with a decoder
// of its own; a null picture when it is not a packed frame, no decoder takes it, or it gives
// no picture. why, when given, says which.
QImage DecodeSingleFrame(std::span<const std::uint8_t> packedFrame, QString* why = nullptr);

}  // namespace orvane
