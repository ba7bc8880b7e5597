#pragma once

#include "frame_source.h"

#include <QDateTime>
#include <QSize>
#include <QString>

#include <vector>

namespace orvane::test {

// Packed frames of a simulated channel's test pattern; a groupOfPictures of 0 keeps the codec's.
std::vector<Block> EncodeFrames(sim::SimulatedCodec codec, int count, QSize size = {320, 240},
                                int groupOfPictures = 0, int channel = 1);

// A clip as a recording of a simulated channel leaves it: the recorder's file name (start time,
// channel) in folder, the channel's pattern encoded with codec, framesPerSecond in the header.
struct SampleClip {
    sim::SimulatedCodec codec = sim::SimulatedCodec::Mpeg4;
    int frames = 50;
    QSize size{160, 120};
    QDateTime start = QDateTime(QDate(2026, 3, 14), QTime(9, 26, 53));
    int framesPerSecond = 25;
    int channel = 1;
};
// The clip's path; empty (and a test failure) when it cannot be made.
QString WriteSampleClip(const QString& folder, const SampleClip& clip);
// Cuts the clip's file short where that frame's chunk starts, as a copy or a disk that lost
// its end would: the frames before it stay whole. False (and a test failure) when it cannot.
bool CutClipAtFrame(const QString& path, std::int64_t frame);

}  // namespace orvane::test
