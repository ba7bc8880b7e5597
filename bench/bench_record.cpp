// Recording throughput: 150 KB frames through the clip recorder (AVI with its periodic
// commits, the preview, the index entry) beside libavformat's AVI muxer copying the same
// packets, which is what `ffmpeg -c copy` does once it has read them. Both write into the
// same temporary folder; files are replaced every few hundred megabytes, untimed. Beside them,
// a setting written while another program holds the store locked.
#include "media/clip_recorder.h"
#include "media/ffmpeg_handles.h"
#include "store/key_store.h"
#include "store/settings.h"
#include "wire/bitmap_info.h"

#include <QDir>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

namespace orvane {
namespace {

constexpr std::size_t kLargeFrameBytes = 150'000;
constexpr std::size_t kLiveFrameBytes = 10'000;  // a 352 x 288 MPEG-4 frame of the live load
constexpr int kFramesPerFile = 2000;

BitmapInfoHeader Format(std::size_t frameBytes) {
    BitmapInfoHeader format;
    format.biWidth = 704;
    format.biHeight = 576;
    format.biBitCount = 24;
    format.biCompression = MakeFourcc('F', 'M', 'P', '4');
    format.biSizeImage = static_cast<std::uint32_t>(frameBytes);
    return format;
}

// A picture header an MPEG-4 reader recognises (an inter picture), then filler.
Block ImageData(int index, std::size_t frameBytes) {
    Block data(frameBytes);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(index));
    }
    data[0] = 0;
    data[1] = 0;
    data[2] = 1;
    data[3] = 0xB6;
    data[4] = index % 12 == 0 ? 0x00 : 0x40;
    return data;
}

Block PackedFrame(int index, std::size_t frameBytes) {
    Block frame = Format(frameBytes).Bytes();
    const Block data = ImageData(index, frameBytes);
    frame.insert(frame.end(), data.begin(), data.end());
    return frame;
}

void BM_ClipRecorder(benchmark::State& state) {
    const auto frameBytes = static_cast<std::size_t>(state.range(0));
    QTemporaryDir dir;
    auto store = KeyStore::OpenInMemory();
    ClipRecorder recorder(store, {}, 1, Format(frameBytes));
    const QString folder = dir.path() + "/";
    // Checked once, as a channel hands its frames on.
    KeyFrameProbe probe(Format(frameBytes));
    std::vector<LiveFrame> frames;
    for (int i = 0; i < 12; ++i) {
        frames.push_back(
            *ReadLiveFrame(std::make_shared<const Block>(PackedFrame(i, frameBytes)), probe));
    }
    QString error;
    int written = 0;
    int seconds = 0;
    recorder.SetClock([&] { return QDateTime(QDate(2026, 1, 1), QTime(0, 0)).addSecs(seconds); });
    recorder.StartRecording(folder, {}, error);
    for (auto _ : state) {
        recorder.WriteFrame(frames[static_cast<std::size_t>(written % 12)]);
        if (++written % kFramesPerFile == 0) {
            state.PauseTiming();
            const QString done = recorder.aviFilePath();
            ++seconds;
            recorder.StartRecording(folder, {}, error);
            // The first full clip is kept for `ffmpeg -c copy` to copy in the same run.
            const QByteArray dump = qgetenv("ORVANE_BENCH_DUMP");
            const QString kept = QString::fromUtf8(dump) + "/record_150k.avi";
            if (!dump.isEmpty() && frameBytes == kLargeFrameBytes && !QFile::exists(kept)) {
                QFile::rename(done, kept);
            }
            QFile::remove(done);
            state.ResumeTiming();
        }
    }
    recorder.StopRecording();
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(frameBytes));
}
BENCHMARK(BM_ClipRecorder)
    ->Arg(kLargeFrameBytes)
    ->Arg(kLiveFrameBytes)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

struct AvioDeleter {
    void operator()(AVFormatContext* context) const {
        if (context) {
            avio_closep(&context->pb);
            avformat_free_context(context);
        }
    }
};
using MuxerPtr = std::unique_ptr<AVFormatContext, AvioDeleter>;

MuxerPtr OpenMuxer(const std::string& path, std::size_t frameBytes) {
    AVFormatContext* raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "avi", path.c_str()) < 0) {
        return nullptr;
    }
    MuxerPtr muxer(raw);
    AVStream* stream = avformat_new_stream(raw, nullptr);
    const BitmapInfoHeader format = Format(frameBytes);
    stream->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
    stream->codecpar->codec_id = AV_CODEC_ID_MPEG4;
    stream->codecpar->codec_tag = format.biCompression;
    stream->codecpar->width = format.biWidth;
    stream->codecpar->height = format.biHeight;
    stream->time_base = AVRational{1, 2};
    if (avio_open(&raw->pb, path.c_str(), AVIO_FLAG_WRITE) < 0 ||
        avformat_write_header(raw, nullptr) < 0) {
        return nullptr;
    }
    return muxer;
}

void BM_LibavformatAviCopy(benchmark::State& state) {
    const auto frameBytes = static_cast<std::size_t>(state.range(0));
    QTemporaryDir dir;
    std::vector<Block> data;
    for (int i = 0; i < 12; ++i) {
        data.push_back(ImageData(i, frameBytes));
    }
    int file = 0;
    auto path = [&] { return (dir.path() + QString("/copy%1.avi").arg(file)).toStdString(); };
    MuxerPtr muxer = OpenMuxer(path(), frameBytes);
    PacketPtr packet(av_packet_alloc());
    std::int64_t written = 0;
    for (auto _ : state) {
        const Block& bytes = data[static_cast<std::size_t>(written % 12)];
        // A packet's payload is copied into the muxer's buffer: as `ffmpeg -c copy` hands
        // over what it read.
        av_new_packet(packet.get(), static_cast<int>(bytes.size()));
        std::memcpy(packet->data, bytes.data(), bytes.size());
        packet->pts = packet->dts = written % kFramesPerFile;
        packet->flags = written % 12 == 0 ? AV_PKT_FLAG_KEY : 0;
        av_write_frame(muxer.get(), packet.get());
        av_packet_unref(packet.get());
        if (++written % kFramesPerFile == 0) {
            state.PauseTiming();
            av_write_trailer(muxer.get());
            const std::string done = path();
            muxer.reset();
            std::remove(done.c_str());
            ++file;
            muxer = OpenMuxer(path(), frameBytes);
            state.ResumeTiming();
        }
    }
    av_write_trailer(muxer.get());
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(frameBytes));
}
BENCHMARK(BM_LibavformatAviCopy)
    ->Arg(kLargeFrameBytes)
    ->Arg(kLiveFrameBytes)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();

// A setting written while another program holds the store's write lock: the write is kept for
// later, so the GUI thread's call costs what a write to memory does, not the lock's length.
void BM_SettingWriteWhileStoreLocked(benchmark::State& state) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/registry.sqlite3";
    OpenedSettings opened = OpenSettings(path);
    sqlite3* other = nullptr;
    sqlite3_open(path.c_str(), &other);
    sqlite3_exec(other, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr);
    std::int32_t value = 0;
    for (auto _ : state) {
        opened.settings.SetSetting(SettingId::CheckTimer, 10 + value++ % 290);
    }
    sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SettingWriteWhileStoreLocked)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace orvane

BENCHMARK_MAIN();
