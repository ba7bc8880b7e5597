// Feeds arbitrary packed frames, as a site sends them, to what a recording reads of them:
// where the image bytes are, whether a frame is a key frame (for every codec the probe
// knows, the codec picked by the frame's own header), the frames kept since the last key
// frame, and the bitmap file a decoded frame would be saved as.
#include "media/bmp_file.h"
#include "media/key_frames.h"
#include "media/live_frame.h"
#include "wire/bitmap_info.h"

#include <QCoreApplication>

#include <cstddef>
#include <cstdint>

namespace {

constexpr std::uint32_t kFourccs[] = {
    orvane::MakeFourcc('F', 'M', 'P', '4'), orvane::MakeFourcc('H', '2', '6', '4'),
    orvane::MakeFourcc('M', 'P', '4', '3'), orvane::MakeFourcc('c', 'v', 'i', 'd'),
    orvane::MakeFourcc('I', 'V', '5', '0'), orvane::MakeFourcc('M', 'J', 'P', 'G'),
    orvane::MakeFourcc('C', 'R', 'A', 'M'), orvane::MakeFourcc('a', 'v', 'c', '1'),
    orvane::MakeFourcc('V', 'P', '8', '0'), 0};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_LOGGING_RULES", "orvane.*=false");
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orvane;
    const std::span<const std::uint8_t> frame(data, size);
    // Checked once as a channel checks it, then kept as a channel keeps it.
    if (const auto header = BitmapInfoHeader::Parse(frame)) {
        KeyFrameProbe channelProbe(*header);
        const auto shared = std::make_shared<const Block>(frame.begin(), frame.end());
        if (const auto live = ReadLiveFrame(shared, channelProbe)) {
            if (live->imageOffset + live->imageLength > size) {
                __builtin_trap();
            }
            FramesSinceKey kept;
            kept.Add(*live);
            kept.Add(*live);
        }
    }
    if (const auto image = LocateImageBytes(frame)) {
        if (image->offset + image->length > size) {
            __builtin_trap();
        }
        // The same bytes through every probe, whatever codec the header names.
        for (const std::uint32_t fourcc : kFourccs) {
            BitmapInfoHeader header;
            header.biCompression = fourcc;
            KeyFrameProbe probe(header);
            probe.IsKeyFrame(frame.subspan(image->offset, image->length));
            probe.IsKeyFrame(frame.subspan(image->offset, image->length));
        }
    }
    const Block bmp = BmpFileBytes(frame);
    if (!bmp.empty() && bmp.size() < 14) {
        __builtin_trap();
    }
    return 0;
}
