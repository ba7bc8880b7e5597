#pragma once

#include "common/block.h"
#include "media/live_frame.h"

#include <QImage>
#include <QString>

#include <vector>

namespace orvane::test {

// The shared sample media beside the checkout (never copied into it), or the folder
// ORVANE_SHARED_MEDIA_DIR names.
QString MediaFolder();
// The path of a shared sample; a missing one fails the test naming the folder (a broken setup,
// not a reason to skip) and gives an empty path.
QString MediaSample(const QString& name);
// Mean absolute difference per colour channel of two pictures (255 when the sizes differ).
double MeanDifference(const QImage& a, const QImage& b);
// The picture after each packed frame when one decoder of the program is fed them in order
// (the picture before stays when a frame gives none): what a plain sequential reader shows.
std::vector<QImage> DecodeInOrder(const std::vector<Block>& packed);
// Packed frames as a channel hands them on: checked, with the key flags that a probe of the
// first frame's format decides, arriving two a second from now on (the pace a clip without
// times is played at). Frames that are not frames are left out.
std::vector<LiveFrame> LiveFrames(const std::vector<Block>& packed);
// An uncompressed packed frame (rows bottom first) turned into the same picture sent top row
// first, with a negative height, as some sites send them.
Block TopDown(const Block& bottomUp);

}  // namespace orvane::test
