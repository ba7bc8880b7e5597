// Decode and conversion per frame (what the connection does for every frame), beside
// decode-only through libavcodec with one thread, for 352 x 288 MPEG-4 part 2 and MJPEG.
// With ORVANE_BENCH_DUMP=DIR it also writes the streams there, for scripts/bench to time
// `ffmpeg -threads 1 -f null` on the same frames.
#include "camera_picture.h"
#include "decode_only.h"
#include "frame_source.h"
#include "media/decoder_registry.h"
#include "media/ffmpeg_handles.h"
#include "media/video_decoder.h"

#include <QFile>
#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>

namespace {

using namespace orvane;

constexpr int kFrames = 100;
const QSize kSize(352, 288);

const std::vector<Block>& Frames(sim::SimulatedCodec codec) {
    static std::map<sim::SimulatedCodec, std::vector<Block>> cache;
    auto& frames = cache[codec];
    if (frames.empty()) {
        auto encoder = sim::LiveEncoder::Create(codec, kSize);
        for (int i = 0; i < kFrames && encoder; ++i) {
            if (auto frame = encoder->Encode(bench::CameraLikePicture(i, kSize, 5))) {
                frames.push_back(std::move(*frame));
            }
        }
    }
    return frames;
}

void BM_DecodeAndConvert(benchmark::State& state, sim::SimulatedCodec codec) {
    const auto& frames = Frames(codec);
    const auto first = ParsePackedFrame(frames.front());
    const auto choice = FindDecoder(first->header);
    for (auto _ : state) {
        state.PauseTiming();
        auto decoder = VideoDecoder::Create(*choice, first->header);
        state.ResumeTiming();
        for (const auto& packed : frames) {
            const auto frame = ParsePackedFrame(packed);
            auto picture = decoder->Decode(*frame);
            benchmark::DoNotOptimize(picture);
        }
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * frames.size()));
}

void BM_DecodeOnly(benchmark::State& state, sim::SimulatedCodec codec) {
    const auto& frames = Frames(codec);
    const auto first = ParsePackedFrame(frames.front());
    const auto id = static_cast<AVCodecID>(FindDecoder(first->header)->codecId);
    for (auto _ : state) {
        state.PauseTiming();
        CodecContextPtr context = bench::OpenDecodeOnly(id);
        state.ResumeTiming();
        bench::DecodeOnly(context.get(), frames);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * frames.size()));
}

BENCHMARK_CAPTURE(BM_DecodeAndConvert, mpeg4, sim::SimulatedCodec::Mpeg4);
BENCHMARK_CAPTURE(BM_DecodeOnly, mpeg4, sim::SimulatedCodec::Mpeg4);
BENCHMARK_CAPTURE(BM_DecodeAndConvert, mjpeg, sim::SimulatedCodec::Mjpeg);
BENCHMARK_CAPTURE(BM_DecodeOnly, mjpeg, sim::SimulatedCodec::Mjpeg);

void DumpStreams(const QString& dir) {
    for (const auto& [codec, name] : {std::pair{sim::SimulatedCodec::Mpeg4, "mpeg4.m4v"},
                                      std::pair{sim::SimulatedCodec::Mjpeg, "mjpeg.mjpeg"}}) {
        QFile file(dir + "/" + name);
        if (!file.open(QIODevice::WriteOnly)) {
            continue;
        }
        for (const auto& packed : Frames(codec)) {
            file.write(reinterpret_cast<const char*>(packed.data()) + BitmapInfoHeader::kSize,
                       qint64(packed.size() - BitmapInfoHeader::kSize));
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (const QByteArray dir = qgetenv("ORVANE_BENCH_DUMP"); !dir.isEmpty()) {
        DumpStreams(QString::fromLocal8Bit(dir));
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
