#pragma once

#include <QImage>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace orvane {

// The most of a clip's preview file that is read; a longer file is cut, and what is cut
// decodes to nothing.
inline constexpr std::size_t kPreviewFileLimit = 307200;

// The first kPreviewFileLimit bytes (or fewer) of the preview file at path; nullopt when it
// cannot be opened. A read that fails after the open gives no bytes rather than nullopt.
std::optional<std::vector<std::uint8_t>> ReadPreviewFile(const QString& path);

// The first frame of a clip as the recorder stored it, decoded with a decoder of its own: one
// that kept state between frames could show the previous clip's picture. A null picture when
// the bytes are no frame or give no picture (the reason is logged).
QImage DecodePreviewFile(std::span<const std::uint8_t> bytes);

}  // namespace orvane
