// Clip playback on a one-hour clip: 352 x 288 MPEG-4, a key frame every 50 frames, written
// through the recorder's AVI writer with a stream rate of 25 frames per second (90,000
// frames). Measures opening it, seeking to random frames, stepping back one frame at a time
// and playing at 50 times the speed, beside the cost floor: libavcodec alone decoding one
// group of pictures. The clip is written once into a temporary folder from a short encoded
// loop, so generating it takes seconds.
#include "camera_picture.h"
#include "frame_source.h"
#include "media/avi_writer.h"
#include "media/clip_playback.h"
#include "media/ffmpeg_handles.h"
#include "media/media_graph.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace {

using namespace orvane;

const QSize kSize(352, 288);
constexpr int kLoopFrames = 100;
constexpr int kGop = 50;
constexpr int kFramesPerSecond = 25;
constexpr int kClipFrames = 3600 * kFramesPerSecond;
constexpr int kRandomSeeks = 200;
constexpr int kStepsBack = 100;
constexpr double kPlayRate = 50;
constexpr int kPlayMs = 4000;

struct Packet {
    Block data;
    bool key = false;
};

// The simulator's encoder with the longer group of pictures, on camera-like pictures.
std::vector<Packet> EncodeLoop() {
    auto encoder = sim::LiveEncoder::Create(sim::SimulatedCodec::Mpeg4, kSize, kGop);
    std::vector<Packet> packets;
    for (int i = 0; encoder && i < kLoopFrames; ++i) {
        if (auto packed = encoder->Encode(bench::CameraLikePicture(i, kSize, 4))) {
            const auto data = std::span(*packed).subspan(BitmapInfoHeader::kSize);
            packets.push_back({Block(data.begin(), data.end()), i % kGop == 0});
        }
    }
    return packets;
}

bool WriteClip(const QString& path, const std::vector<Packet>& loop) {
    BitmapInfoHeader format;
    format.biWidth = kSize.width();
    format.biHeight = kSize.height();
    format.biBitCount = 24;
    format.biCompression = MakeFourcc('F', 'M', 'P', '4');
    AviVideoStream stream = AviVideoStream::For(format, format.Bytes());
    stream.rate = kFramesPerSecond;
    QString error;
    auto writer = AviWriter::Create(path, stream, true, error);
    if (!writer) {
        return false;
    }
    for (int i = 0; i < kClipFrames; ++i) {
        const Packet& packet = loop[static_cast<std::size_t>(i) % loop.size()];
        if (!writer->WriteSample(packet.data, packet.key)) {
            return false;
        }
    }
    return writer->Close();
}

// libavcodec alone, one thread, decoding one group of pictures without conversion.
double DecodeGopMs(const std::vector<Packet>& loop) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MPEG4);
    CodecContextPtr context(avcodec_alloc_context3(codec));
    context->thread_count = 1;
    avcodec_open2(context.get(), codec, nullptr);
    PacketPtr packet(av_packet_alloc());
    FramePtr picture(av_frame_alloc());
    QElapsedTimer clock;
    clock.start();
    constexpr int kRounds = 20;
    for (int round = 0; round < kRounds; ++round) {
        avcodec_flush_buffers(context.get());
        for (int i = 0; i < kGop; ++i) {
            const Block& data = loop[static_cast<std::size_t>(i)].data;
            av_new_packet(packet.get(), static_cast<int>(data.size()));
            std::memcpy(packet->data, data.data(), data.size());
            avcodec_send_packet(context.get(), packet.get());
            av_packet_unref(packet.get());
            while (avcodec_receive_frame(context.get(), picture.get()) == 0) {
                av_frame_unref(picture.get());
            }
        }
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1e6 / kRounds;
}

double Ms(const QElapsedTimer& clock) {
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "orvane.*.info=false");
    QGuiApplication app(argc, argv);
    QTextStream out(stdout);

    QTemporaryDir dir;
    const QString path = dir.path() + "/hour.avi";
    QElapsedTimer clock;
    clock.start();
    const auto loop = EncodeLoop();
    if (loop.size() != kLoopFrames || !loop.front().key || !WriteClip(path, loop)) {
        out << "bench_playback: cannot write the clip" << Qt::endl;
        return 1;
    }
    out << "clip: " << kClipFrames << " frames of 352 x 288 MPEG-4, key frame every " << kGop
        << ", stream rate " << kFramesPerSecond << " frames per second (scale 1, rate "
        << kFramesPerSecond << "; recorded clips say 2), written in "
        << QString::number(Ms(clock) / 1000, 'f', 1) << " s" << Qt::endl;

    clock.restart();
    QString error;
    auto graph = MediaGraph::RenderFile(path, error);
    if (!graph) {
        out << "bench_playback: " << error << Qt::endl;
        return 1;
    }
    out << "RenderFile: " << QString::number(Ms(clock), 'f', 1) << " ms (duration "
        << graph->Duration() << " frames, " << graph->AvgTimePerFrame() << " s per frame)"
        << Qt::endl;

    std::mt19937_64 random(7);
    std::uniform_int_distribution<std::int64_t> anyFrame(0, graph->Duration() - 1);
    double total = 0;
    double slowest = 0;
    for (int i = 0; i < kRandomSeeks; ++i) {
        const std::int64_t frame = anyFrame(random);
        clock.restart();
        graph->SetPositions(frame);
        const double ms = Ms(clock);
        total += ms;
        slowest = std::max(slowest, ms);
    }
    out << "SetPositions to " << kRandomSeeks << " random frames: mean "
        << QString::number(total / kRandomSeeks, 'f', 2) << " ms, max "
        << QString::number(slowest, 'f', 2) << " ms" << Qt::endl;

    // From the last frame of a group, back through it and into the one before.
    const std::int64_t start = (anyFrame(random) / kGop + 2) * kGop + kGop - 1;
    graph->SetPositions(start);
    total = 0;
    slowest = 0;
    for (int i = 0; i < kStepsBack; ++i) {
        clock.restart();
        graph->SetPositions(graph->CurrentPosition() - 1);
        const double ms = Ms(clock);
        total += ms;
        slowest = std::max(slowest, ms);
    }
    out << "step back one frame " << kStepsBack << " times from frame " << start << ": mean "
        << QString::number(total / kStepsBack, 'f', 2) << " ms, max "
        << QString::number(slowest, 'f', 2) << " ms" << Qt::endl;
    const double gopMs = DecodeGopMs(loop);
    out << "cost floor, libavcodec alone decoding one group of " << kGop
        << " frames: " << QString::number(gopMs, 'f', 2) << " ms ("
        << QString::number(gopMs / kGop, 'f', 3) << " ms per frame)" << Qt::endl;

    // Playing at 50 times the speed with no surface, on the player's worker: how far the
    // position gets.
    graph.reset();
    ClipPlayback playback(path);
    QEventLoop wait;
    QObject::connect(&playback, &ClipPlayback::opened, &wait, &QEventLoop::quit);
    wait.exec();
    playback.SetRate(kPlayRate);
    playback.Run();
    const std::int64_t from = playback.CurrentPosition();
    clock.restart();
    QTimer::singleShot(kPlayMs, &wait, &QEventLoop::quit);
    wait.exec();
    const double seconds = Ms(clock) / 1000;
    playback.Stop();
    const double achieved = static_cast<double>(playback.CurrentPosition() - from) / seconds;
    out << "play at rate " << kPlayRate << " for " << QString::number(seconds, 'f', 1)
        << " s, null surface: position advanced " << QString::number(achieved, 'f', 0)
        << " frames per second, " << kFramesPerSecond * kPlayRate << " wanted (" << kFramesPerSecond
        << " x " << kPlayRate << ")" << Qt::endl;
    return 0;
}
