// Live pictures at the window's size: swscale's filters converting a decoded frame straight
// to a tile, beside the way it was done before (the frame converted at its own size, then
// scaled by Qt). First prints how each filter looks: the mean absolute difference (of 255)
// from the old way with smooth scaling, on a camera-like picture and on fine lines and text.
// Then times one picture of each.
#include "camera_picture.h"
#include "media/ffmpeg_handles.h"
#include "media/picture_scaler.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>

namespace {

using namespace orvane;

struct Filter {
    const char* name;
    int flags;
};
constexpr Filter kFilters[] = {
    {"fast_bilinear", SWS_FAST_BILINEAR}, {"bilinear", SWS_BILINEAR}, {"area", SWS_AREA}};

struct Scaling {
    QSize from;
    QSize to;
};
// A third of a 1080p frame, a tile of the 4 x 4 wall, of the 8 x 8 wall, and CIF into tiles.
const Scaling kScalings[] = {{{1920, 1080}, {640, 360}}, {{1920, 1080}, {466, 243}},
                             {{1280, 720}, {226, 114}},  {{352, 288}, {240, 196}},
                             {{352, 288}, {226, 114}},   {{352, 288}, {120, 92}}};

// The picture as a decoder gives it: 4:2:0 YUV of the picture's size.
FramePtr YuvFrame(const QImage& picture) {
    FramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = picture.width();
    frame->height = picture.height();
    if (av_frame_get_buffer(frame.get(), 0) < 0) {
        std::abort();
    }
    SwsContextPtr sws(sws_getContext(picture.width(), picture.height(), AV_PIX_FMT_RGB32,
                                     picture.width(), picture.height(), AV_PIX_FMT_YUV420P,
                                     SWS_BICUBIC, nullptr, nullptr, nullptr));
    const std::uint8_t* planes[4] = {picture.constBits(), nullptr, nullptr, nullptr};
    const int strides[4] = {static_cast<int>(picture.bytesPerLine()), 0, 0, 0};
    sws_scale(sws.get(), planes, strides, 0, picture.height(), frame->data, frame->linesize);
    return frame;
}

// What the window showed before: the whole frame converted, then smoothly scaled.
QImage OldWay(const AVFrame& frame, QSize to) {
    PictureScaler full(SWS_BILINEAR);
    return full.Convert(frame, {}).scaled(to, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

double MeanDifference(const QImage& a, const QImage& b) {
    if (a.size() != b.size()) {
        return 255;
    }
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto* p = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* q = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            sum += std::abs(qRed(p[x]) - qRed(q[x])) + std::abs(qGreen(p[x]) - qGreen(q[x])) +
                   std::abs(qBlue(p[x]) - qBlue(q[x]));
        }
    }
    return sum / (3.0 * a.width() * a.height());
}

void PrintLooks() {
    std::printf("mean absolute difference from the old way (full size, then smooth scaling):\n");
    std::printf("%-24s %-14s %8s %8s\n", "scaling", "filter", "camera", "fine");
    for (const Scaling& scaling : kScalings) {
        const FramePtr camera = YuvFrame(bench::CameraLikePicture(3, scaling.from, 5));
        const FramePtr fine = YuvFrame(bench::FineDetailPicture(scaling.from));
        for (const Filter& filter : kFilters) {
            PictureScaler scaler(filter.flags);
            const double cameraDifference =
                MeanDifference(scaler.Convert(*camera, scaling.to), OldWay(*camera, scaling.to));
            const double fineDifference =
                MeanDifference(scaler.Convert(*fine, scaling.to), OldWay(*fine, scaling.to));
            std::printf("%4dx%-4d -> %4dx%-4d    %-14s %8.2f %8.2f\n", scaling.from.width(),
                        scaling.from.height(), scaling.to.width(), scaling.to.height(), filter.name,
                        cameraDifference, fineDifference);
        }
    }
    std::fflush(stdout);
}

void BM_ToTile(benchmark::State& state, Scaling scaling, int flags) {
    const FramePtr frame = YuvFrame(bench::CameraLikePicture(3, scaling.from, 5));
    PictureScaler scaler(flags);
    for (auto _ : state) {
        QImage picture = scaler.Convert(*frame, scaling.to);
        benchmark::DoNotOptimize(picture.constBits());
    }
    state.SetItemsProcessed(state.iterations());
}

// The old way as it was drawn: the full-size conversion, and Qt's scaling of it into the tile
// (as the painter did it, without smoothing).
void BM_FullSizeThenQt(benchmark::State& state, Scaling scaling) {
    const FramePtr frame = YuvFrame(bench::CameraLikePicture(3, scaling.from, 5));
    PictureScaler scaler(SWS_BILINEAR);
    QImage tile(scaling.to, QImage::Format_RGB32);
    for (auto _ : state) {
        const QImage picture = scaler.Convert(*frame, {});
        QPainter painter(&tile);
        painter.drawImage(tile.rect(), picture);
        benchmark::DoNotOptimize(tile.constBits());
    }
    state.SetItemsProcessed(state.iterations());
}

// The whole frame converted, then Qt's smooth scaling of it, on the decoding thread.
void BM_FullSizeThenSmooth(benchmark::State& state, Scaling scaling) {
    const FramePtr frame = YuvFrame(bench::CameraLikePicture(3, scaling.from, 5));
    PictureScaler scaler(SWS_BILINEAR);
    for (auto _ : state) {
        const QImage picture =
            scaler.Convert(*frame, {})
                .scaled(scaling.to, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        benchmark::DoNotOptimize(picture.constBits());
    }
    state.SetItemsProcessed(state.iterations());
}

void Register() {
    for (const Scaling& scaling : kScalings) {
        const std::string sizes = QString("%1x%2->%3x%4")
                                      .arg(scaling.from.width())
                                      .arg(scaling.from.height())
                                      .arg(scaling.to.width())
                                      .arg(scaling.to.height())
                                      .toStdString();
        for (const Filter& filter : kFilters) {
            benchmark::RegisterBenchmark(("ToTile/" + sizes + "/" + filter.name).c_str(), BM_ToTile,
                                         scaling, filter.flags);
        }
        benchmark::RegisterBenchmark(("FullSizeThenQt/" + sizes).c_str(), BM_FullSizeThenQt,
                                     scaling);
        benchmark::RegisterBenchmark(("FullSizeThenSmooth/" + sizes).c_str(), BM_FullSizeThenSmooth,
                                     scaling);
    }
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);  // fonts for the text pattern
    PrintLooks();
    Register();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
