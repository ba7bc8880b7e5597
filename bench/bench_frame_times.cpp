// What keeping each frame's time costs on a one-hour clip: 352 x 288 MPEG-4 at 25 frames per
// second (90,000 frames), written through the recorder's AVI writer with a time per frame and
// commits at the recorder's intervals. Prints the bytes the times add per hour (and what they
// would be at a commit every second), then the time to reach a frame by its time: the clip's
// index and times read (ClipPackets::Open) with FrameAtOrBefore, and `orvane-cli frame --time`
// as a shell runs it (open, find the frame, decode and show it), for random times.
#include "frame_source.h"
#include "media/avi_writer.h"
#include "media/clip_packets.h"
#include "media/clip_recorder.h"
#include "media/frame_times.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using namespace orvane;

const QSize kSize(352, 288);
constexpr int kLoopFrames = 100;
constexpr std::int64_t kFrameMicros = 40'000;
constexpr int kClipFrames = 3600 * 25;
constexpr int kLookups = 20;

struct Sample {
    Block data;
    bool key = false;
};

std::vector<Sample> EncodeLoop() {
    auto encoder = sim::LiveEncoder::Create(sim::SimulatedCodec::Mpeg4, kSize);
    std::vector<Sample> loop;
    for (int i = 0; encoder && i < kLoopFrames; ++i) {
        const auto packed = encoder->Encode(sim::TestPattern(0, i, kSize));
        const auto parsed = packed ? ParsePackedFrame(*packed) : std::nullopt;
        if (!parsed) {
            return {};
        }
        // The encoder starts every group of pictures with a VOP header of a key frame.
        loop.push_back({Block(parsed->imageData.begin(), parsed->imageData.end()), i % 50 == 0});
    }
    return loop;
}

double Ms(const QElapsedTimer& clock) {
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const auto loop = EncodeLoop();
    QTemporaryDir folder;
    if (loop.empty() || !folder.isValid()) {
        out << "cannot make the clip" << Qt::endl;
        return 1;
    }
    const QString path = folder.filePath(QStringLiteral("hour.avi"));
    BitmapInfoHeader format;
    format.biWidth = kSize.width();
    format.biHeight = kSize.height();
    format.biBitCount = 24;
    format.biCompression = MakeFourcc('F', 'M', 'P', '4');
    QString error;
    auto writer = AviWriter::Create(path, AviVideoStream::For(format, format.Bytes()), true, error);
    if (!writer) {
        out << error << Qt::endl;
        return 1;
    }
    const std::int64_t start =
        QDateTime(QDate(2026, 3, 1), QTime(10, 0)).toMSecsSinceEpoch() * 1000;
    writer->SetUtcOffsetSeconds(QDateTime::fromMSecsSinceEpoch(start / 1000).offsetFromUtc());
    std::int64_t lastCommitMs = 0;
    std::uint64_t commits = 0;
    for (int i = 0; i < kClipFrames; ++i) {
        const Sample& sample = loop[static_cast<std::size_t>(i) % loop.size()];
        if (!writer->WriteSample(sample.data, sample.key, start + i * kFrameMicros)) {
            out << writer->errorText() << Qt::endl;
            return 1;
        }
        const std::int64_t elapsedMs = (i + 1) * kFrameMicros / 1000;
        if (elapsedMs - lastCommitMs >= ClipRecorder::CommitIntervalMs(elapsedMs)) {
            writer->Commit();
            lastCommitMs = elapsedMs;
            ++commits;
        }
    }
    writer->Close();
    ++commits;  // the close writes the last
    const auto timesBytes = [](std::uint64_t chunks) {
        return 8 * std::uint64_t{kClipFrames} + chunks * (8 + FrameTimesChunk::kHeaderBytes);
    };
    out << "one hour at 25 frames per second: " << kClipFrames << " frames, "
        << QFileInfo(path).size() << " bytes" << Qt::endl;
    out << "frame times: " << timesBytes(commits) << " bytes per hour in " << commits
        << " commits (the recorder's intervals); " << timesBytes(3600)
        << " at a commit every second" << Qt::endl;

    std::mt19937 random(7);
    std::uniform_int_distribution<std::int64_t> pick(0, kClipFrames - 1);
    std::vector<double> opens;
    std::vector<double> runs;
    const QString cli = QStringLiteral(ORVANE_CLI_BINARY);
    for (int i = 0; i < kLookups; ++i) {
        const std::int64_t frame = pick(random);
        const std::int64_t time = start + frame * kFrameMicros + kFrameMicros / 2;
        QElapsedTimer clock;
        clock.start();
        const auto clip = ClipPackets::Open(path, error);
        if (!clip || clip->timeline().FrameAtOrBefore(time) != frame) {
            out << "the clip does not find frame " << frame << Qt::endl;
            return 1;
        }
        opens.push_back(Ms(clock));

        const QString text = FrameTimeText(time, clip->timeline().utcOffsetSeconds());
        QProcess shell;
        clock.restart();
        shell.start(cli, {"frame", path, "--time", text, "--png", folder.filePath("f.png")});
        if (!shell.waitForFinished(60000) || shell.exitCode() != 0 ||
            !shell.readAllStandardOutput().contains(
                QStringLiteral("frame: %1 of").arg(frame).toUtf8())) {
            out << "orvane-cli frame --time did not show frame " << frame << Qt::endl;
            return 1;
        }
        runs.push_back(Ms(clock));
    }
    const auto report = [&](const char* what, std::vector<double> ms) {
        std::sort(ms.begin(), ms.end());
        out << what << ": median " << QString::number(ms[ms.size() / 2], 'f', 1) << " ms, slowest "
            << QString::number(ms.back(), 'f', 1) << " ms (" << ms.size() << " random times)"
            << Qt::endl;
    };
    report("open the clip's index and times, find the frame of a time", opens);
    report("orvane-cli frame --time (process start, open, find, decode and save the frame)", runs);
    return 0;
}
