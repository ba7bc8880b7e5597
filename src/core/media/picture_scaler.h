#pragma once

#include "media/decoded_picture.h"
#include "media/ffmpeg_handles.h"

#include <QImage>
#include <QSize>

#include <array>
#include <cstdint>
#include <memory>

namespace orvane {

// The filter that scales live pictures to their window's size. Area averaging: a tile a third
// of the frame's width shows fine lines and text as smooth scaling of the whole picture
// would (within 1/255 on average, where the bilinear filters are 6 to 25 off and the fast one
// 40 to 60), and it is also the cheapest of the good-looking ones: bench_scale has the figures.
inline constexpr int kDisplayScaling = SWS_AREA;

// Turns decoded frames into pictures of a given size: the colour conversion and the scaling
// in one pass. Keeps a scaler context for each of the last two sizes asked for (a window
// going to its full view and back builds none), and the memory of a few pictures per size,
// used again once no one holds them. One thread at a time.
class PictureScaler {
  public:
    explicit PictureScaler(int flags = kDisplayScaling) : flags_(flags) {}

    // The frame as a picture of size (its own size when size is empty): QImage::Format_RGB32
    // with rows aligned to 64 bytes. A null picture when the frame's format or size is not
    // one the scaler takes.
    QImage Convert(const AVFrame& frame, QSize size);

  private:
    struct Context {
        int sourceWidth = 0;
        int sourceHeight = 0;
        int sourceFormat = -1;
        bool fullRange = false;
        QSize size;
        SwsContextPtr sws;
        std::array<QImage, 3> images;
        std::size_t nextImage = 0;
        std::uint64_t lastUse = 0;
    };
    Context* ContextFor(const AVFrame& frame, QSize size);

    int flags_;
    std::array<Context, 2> contexts_;
    std::uint64_t uses_ = 0;
};

// A decoded frame kept for later, shared with whoever holds its pictures; its buffers are
// reference counted, so another thread may read it while the decoder goes on.
using SharedFrame = std::shared_ptr<const AVFrame>;
// Takes over what frame refers to (frame is left empty); null when out of memory.
SharedFrame TakeFrame(AVFrame& frame);
// A frame of the picture's pixels themselves (AV_PIX_FMT_BGR0), holding the picture.
SharedFrame FrameOfPicture(const QImage& picture);

// The picture at the size of the frame it was decoded from: the picture itself when it has
// that size, otherwise converted anew from the kept frame (one scaler pass, on the caller's
// thread). Snapshots and prints are made from this.
QImage FullSizePicture(const DecodedPicture& picture);

}  // namespace orvane
