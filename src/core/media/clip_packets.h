#pragma once

#include "common/block.h"
#include "media/frame_times.h"
#include "wire/bitmap_info.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace orvane {

// The video samples of an AVI clip, one per frame, found once when the clip is opened:
// where each one lies in the file, its size and whether a decoder can start from it. Reads
// any frame's bytes straight from its position, so seeking costs one read per frame decoded.
class ClipPackets {
  public:
    struct Sample {
        std::int64_t position = -1;  // of the sample's data; -1 for a frame without data
        std::uint32_t size = 0;
        bool key = false;
    };

    // nullptr with a reason when the file is missing, is not an AVI, has no video stream
    // or holds no video frames.
    static std::unique_ptr<ClipPackets> Open(const QString& path, QString& error);
    ~ClipPackets();
    ClipPackets(const ClipPackets&) = delete;
    ClipPackets& operator=(const ClipPackets&) = delete;

    // The stream format as a site would send it in front of every frame; the colour table
    // of a palettised format follows it in every packed frame.
    const BitmapInfoHeader& format() const { return format_; }
    std::span<const std::uint8_t> colourTable() const { return colourTable_; }
    // Stream headers that a decoder needs before the first picture (an MPEG-4 stream that
    // keeps them out of its frames); empty when the frames carry their own.
    std::span<const std::uint8_t> streamHeaders() const { return streamHeaders_; }

    std::int64_t frameCount() const { return static_cast<std::int64_t>(samples_.size()); }
    // The frame count the clip's header gives, as its writer last counted them; 0 when it
    // gives none. More than frameCount() when the file lost frames it held (cut short).
    std::int64_t listedFrames() const { return listedFrames_; }
    const Sample& sample(std::int64_t frame) const {
        return samples_[static_cast<std::size_t>(frame)];
    }
    // The latest frame at or before this one that decoding can start from; 0 when none is
    // marked, since the first frame of a clip is where every decode can begin.
    std::int64_t KeyAtOrBefore(std::int64_t frame) const;
    double secondsPerFrame() const { return secondsPerFrame_; }
    // True when the file had no usable index and every sample header was read instead.
    bool scanned() const { return scanned_; }
    // When each frame was seen: the times the recording wrote, else estimated from the start
    // in the clip's name and its declared rate.
    const ClipTimeline& timeline() const { return timeline_; }

    // The bytes of a frame (empty for a frame without data); false when they cannot be read.
    bool Read(std::int64_t frame, Block& bytes);

  private:
    struct Input;
    ClipPackets();
    bool LoadIndex();
    bool ScanSamples();
    void ScanPastIndex();
    // Walks the chunks from at on, over lists, index chunks and padding, taking the frame
    // times it meets, and the samples too when addSamples is set.
    void WalkChunks(std::int64_t at, bool addSamples);
    // The frame times just before each standard index chunk the stream's super index lists.
    void ReadIndexedTimes();
    // Where the first 'movi' list's chunks begin; -1 when there is none.
    std::int64_t FirstMoviChunks();
    // The 'JUNK' chunk at position with size bytes of data, taken when it holds frame times.
    bool ReadTimesChunk(std::int64_t position, std::int64_t size);

    std::unique_ptr<Input> input_;
    int streamIndex_ = -1;
    std::int64_t fileSize_ = 0;
    BitmapInfoHeader format_;
    Block colourTable_;
    Block streamHeaders_;
    std::vector<Sample> samples_;
    std::vector<std::int64_t> keys_;  // ascending frame numbers of the key frames
    double secondsPerFrame_ = 0.5;
    std::int64_t listedFrames_ = 0;
    bool scanned_ = false;
    // The times read from the file, by sample; empty entries are estimated.
    std::vector<std::optional<std::int64_t>> recordedTimes_;
    std::int32_t recordedOffset_ = 0;
    ClipTimeline timeline_;
};

// The start of a clip as its file name tells it ("yyyyMMddHHmmss" in local time), in UTC
// microseconds; nullopt for a name that does not start so.
std::optional<std::int64_t> ClipStartFromName(const QString& path);

}  // namespace orvane
