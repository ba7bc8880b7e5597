// Feeds arbitrary bytes, as a clip file, to the player's media graph: opening it (the AVI
// headers, the index or a scan of every sample), then showing the first frame, the middle
// one and the end, and stepping back from the end. Nothing a file holds may crash it.
#include "file_fuzzing.h"
#include "media/media_graph.h"

#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace {

QTemporaryDir* folder = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    folder = &orvane::fuzz::StartFileFuzzing(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace orvane;
    const QString path = fuzz::WriteInput(*folder, "input.avi", data, size);
    if (path.isEmpty()) {
        return 0;
    }
    QString error;
    const auto graph = MediaGraph::RenderFile(path, error);
    if (!graph) {
        return 0;
    }
    const std::int64_t duration = graph->Duration();
    if (duration <= 0) {
        __builtin_trap();
    }
    graph->SetPositions(0);
    graph->SetPositions(duration / 2);
    graph->SetPositions(duration);
    graph->SetPositions(graph->CurrentPosition() - 1);
    graph->GetCurrentImage();
    return 0;
}
