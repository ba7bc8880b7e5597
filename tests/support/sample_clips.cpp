#include "support/sample_clips.h"

#include "media/avi_writer.h"
#include "media/clip_packets.h"
#include "support/media_samples.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

namespace orvane::test {

std::vector<Block> EncodeFrames(sim::SimulatedCodec codec, int count, QSize size,
                                int groupOfPictures, int channel) {
    auto encoder = sim::LiveEncoder::Create(codec, size, groupOfPictures);
    if (!encoder) {
        ADD_FAILURE() << "no encoder for " << sim::CodecName(codec).toStdString();
        return {};
    }
    std::vector<Block> packed;
    // An encoder may hold the first pictures back: as many as it takes to give count frames.
    for (int index = 0; static_cast<int>(packed.size()) < count && index < count + 8; ++index) {
        if (auto frame = encoder->Encode(sim::TestPattern(channel, index, size))) {
            packed.push_back(std::move(*frame));
        }
    }
    return packed;
}

QString WriteSampleClip(const QString& folder, const SampleClip& clip) {
    const std::vector<LiveFrame> frames =
        LiveFrames(EncodeFrames(clip.codec, clip.frames, clip.size, 0, clip.channel));
    if (frames.empty()) {
        ADD_FAILURE() << "the encoder gave no frames";
        return {};
    }
    const LiveFrame& first = frames.front();
    const auto format = first.bytes().first(first.imageOffset);
    AviVideoStream stream = AviVideoStream::For(first.header, Block(format.begin(), format.end()));
    stream.rate = static_cast<std::uint32_t>(clip.framesPerSecond);
    const QString path = QDir(folder).filePath(clip.start.toString("yyyyMMddHHmmss") +
                                               QString::asprintf("%04d.avi", clip.channel));
    QString error;
    auto writer = AviWriter::Create(path, stream, true, error);
    if (!writer) {
        ADD_FAILURE() << error.toStdString();
        return {};
    }
    for (const LiveFrame& frame : frames) {
        writer->WriteSample(frame.image(), frame.keyFrame);
    }
    if (!writer->Close()) {
        ADD_FAILURE() << writer->errorText().toStdString();
        return {};
    }
    return path;
}

bool CutClipAtFrame(const QString& path, std::int64_t frame) {
    QString error;
    const auto clip = ClipPackets::Open(path, error);
    if (!clip || frame >= clip->frameCount()) {
        ADD_FAILURE() << "no frame " << frame << " in " << path.toStdString() << " "
                      << error.toStdString();
        return false;
    }
    const std::int64_t at = clip->sample(frame).position;
    QFile file(path);
    if (at <= 0 || !file.resize(at)) {
        ADD_FAILURE() << "cannot cut " << path.toStdString() << " at " << at;
        return false;
    }
    return true;
}

}  // namespace orvane::test
