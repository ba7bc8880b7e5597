// Feeds arbitrary bytes to the readers of frame times: as the data of one times chunk, and as
// a clip file whose times are found through its index, past it and by a scan. Nothing a file
// holds may crash them, and no time read may make a frame or put frames out of order.
#include "file_fuzzing.h"
#include "media/clip_packets.h"
#include "media/frame_times.h"

#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>

namespace {

QTemporaryDir* folder = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    folder = &orvane::fuzz::StartFileFuzzing(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orvane;
    if (const auto chunk = FrameTimesChunk::Decode(std::span(data, size))) {
        if (FrameTimesChunk::DataBytes(chunk->utcMicros.size()) > size) {
            __builtin_trap();
        }
    }
    const QString path = fuzz::WriteInput(*folder, "input.avi", data, size);
    if (path.isEmpty()) {
        return 0;
    }
    QString error;
    const auto clip = ClipPackets::Open(path, error);
    if (!clip) {
        return 0;
    }
    const ClipTimeline& timeline = clip->timeline();
    if (timeline.frameCount() != clip->frameCount() ||
        timeline.recordedCount() > timeline.frameCount()) {
        __builtin_trap();
    }
    for (std::int64_t i = 1; i < timeline.frameCount(); ++i) {
        if (timeline.TimeOf(i) < timeline.TimeOf(i - 1)) {
            __builtin_trap();
        }
    }
    if (timeline.frameCount() > 0 && timeline.FrameAtOrBefore(timeline.TimeOf(
                                         timeline.frameCount() - 1)) != timeline.frameCount() - 1) {
        __builtin_trap();
    }
    return 0;
}
