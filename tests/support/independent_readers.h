#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace orvane::test {

// Readers of what the program writes that share none of its code: a RIFF parser written from
// the AVI layout alone, and ffprobe / ffmpeg.
struct RiffChunk {
    std::string id;            // the chunk's FOURCC, or "LIST"/"RIFF"
    std::string listType;      // for LIST and RIFF: the list's FOURCC
    std::uint64_t offset = 0;  // of the chunk header
    std::uint32_t size = 0;    // as the header says
    std::vector<RiffChunk> children;
};

class RiffFile {
  public:
    static std::optional<RiffFile> Load(const std::string& path);

    const std::vector<RiffChunk>& top() const { return top_; }
    const std::string& bytes() const { return bytes_; }
    // The first chunk of this id (or list of this type), depth first.
    const RiffChunk* Find(const std::string& idOrListType) const;
    std::vector<const RiffChunk*> FindAll(const std::string& idOrListType) const;
    std::uint32_t U32(std::uint64_t offset) const;
    std::uint16_t U16(std::uint64_t offset) const;
    std::string Data(const RiffChunk& chunk) const;  // the chunk's data bytes

  private:
    std::string bytes_;
    std::vector<RiffChunk> top_;
};

// A recording's frame times as the file holds them, from the layout alone: a 'JUNK' chunk
// whose data is 'OVTM', the first sample, the count and the UTC offset (32 bits each), then
// the count times (64 bits each), all little-endian.
struct FrameTimesSeen {
    std::uint32_t firstSample = 0;
    std::int32_t utcOffsetSeconds = 0;
    std::vector<std::int64_t> times;
    // The entries of the standard index chunk right after it; -1 when none follows.
    std::int64_t nextIndexEntries = -1;
};
std::vector<FrameTimesSeen> FrameTimesIn(const RiffFile& riff);

// What ffprobe says about a file's first video stream, and the file's tags.
struct ProbedVideo {
    bool opened = false;
    std::string codecTag, codecName;
    int extradataBytes = 0;  // the decoder configuration kept apart from the frames
    double durationSeconds = 0;
    int width = 0, height = 0;
    int level = 0;                 // as the stream declares it (H.264: 10 times the level number)
    std::vector<bool> packetKeys;  // per packet, in file order
    std::string title, creationTime;  // the file's tags
};
ProbedVideo ProbeVideo(const std::string& path);

// The MD5 of every picture ffmpeg -f framemd5 decodes from a file's first video stream, in
// order, and what ffmpeg said at -v error (empty when it decoded cleanly).
struct DecodedFrames {
    std::vector<std::string> md5s;
    std::string errors;
};
DecodedFrames DecodeFrameMd5s(const QString& path);

// The picture of an image file as ffmpeg reads it: RGB rows, top first; empty (and a test
// failure) when ffmpeg cannot read it.
QByteArray ReadBackWithFfmpeg(const QString& path);
// The same rows of a picture of ours.
QByteArray Rgb24Rows(const QImage& image);

}  // namespace orvane::test
