// Feeds any bytes, as an export's manifest, to its reader, and as a clip's first frame to the
// readers of the decoder configuration an export keeps. Checks what must always hold: a
// manifest read writes itself out as one that reads the same; a configuration lies within the
// frame (MPEG-4) or is made of start codes and the frame's own units (H.264).
#include "export/export_manifest.h"
#include "export/stream_config.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orvane;
    QString error;
    const std::span<const char> text(reinterpret_cast<const char*>(data), size);
    if (const auto manifest = ExportManifest::Parse(text, error)) {
        const QByteArray written = manifest->ToBytes();
        const auto again = ExportManifest::Parse(written, error);
        if (!again || again->ToBytes() != written) {
            std::abort();
        }
    } else if (error.isEmpty()) {
        std::abort();
    }

    const std::span<const std::uint8_t> frame(data, size);
    const Block mpeg4 = Mpeg4ConfigOf(frame);
    if (!mpeg4.empty() &&
        std::search(frame.begin(), frame.end(), mpeg4.begin(), mpeg4.end()) == frame.end()) {
        std::abort();
    }
    const Block h264 = H264ConfigOf(frame);
    if (h264.size() > 4 * size + 4) {
        std::abort();
    }
    return 0;
}
