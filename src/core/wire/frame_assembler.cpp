#include "wire/frame_assembler.h"

#include "wire/byte_order.h"
#include "wire/message_layout.h"

#include <algorithm>
#include <cstring>

#include "wire/mark_search.h"

namespace orvane {
namespace {

constexpr std::size_t kNotFound = kMarkNotFound;
constexpr std::uint8_t kEnd[3] = {'E', 'N', 'D'};
constexpr std::uint8_t kTop[3] = {'T', 'O', 'P'};

// Where a search that found nothing resumes: the last two bytes may begin a mark that the
// next chunk completes.
std::size_t ResumeAfterMiss(std::size_t from, std::size_t size) {
    return size >= 2 ? std::max(from, size - 2) : from;
}

}  // namespace

FrameAssembler::FrameAssembler(std::size_t capacity, std::size_t headerSize)
    : capacity_(capacity),
      headerSize_(headerSize),
      buffer_(std::make_unique_for_overwrite<std::uint8_t[]>(capacity)) {}

void FrameAssembler::Reset() {
    size_ = 0;
    headerFound_ = false;
    headerPos_ = 0;
    headerScanFrom_ = 0;
    trailerScanFrom_ = 0;
}

std::size_t FrameAssembler::Find3(std::size_t from, const std::uint8_t* mark) const {
    const std::uint8_t* data = buffer_.get();
    // Positions wholly inside bytes that were there before this chunk.
    if (from + 3 <= newStart_) {
        if (const auto hit = FindMark3(data, from, newStart_, mark); hit != kNotFound) {
            return hit;
        }
        from = newStart_ - 2;
    }
    // The two positions that straddle the old bytes and the new ones.
    for (; from < newStart_ && from + 3 <= size_; ++from) {
        if (BytesEqual(from, mark, 3)) {
            return from;
        }
    }
    // The new bytes are scanned where they came from.
    from = std::max(from, newStart_);
    const auto hit = FindMark3(newBytes_, from - newStart_, size_ - newStart_, mark);
    return hit == kNotFound ? kNotFound : hit + newStart_;
}

bool FrameAssembler::BytesEqual(std::size_t at, const std::uint8_t* expected,
                                std::size_t count) const {
    for (std::size_t i = 0; i < count; ++i) {
        if (ByteAt(at + i) != expected[i]) {
            return false;
        }
    }
    return true;
}

bool FrameAssembler::FindHeader() {
    std::size_t from = headerScanFrom_;
    while (true) {
        const std::size_t hit = Find3(from, kTop);
        if (hit == kNotFound) {
            headerScanFrom_ = ResumeAfterMiss(from, size_);
            return false;
        }
        if (size_ - hit < headerSize_) {
            headerScanFrom_ = hit;  // too short to test yet: more data is awaited
            return false;
        }
        if (ByteAt(hit + 3) == 0 &&
            BytesEqual(hit + headerSize_ - kEofMark.size(), kEofMark.data(), kEofMark.size())) {
            headerFound_ = true;
            headerPos_ = hit;
            trailerScanFrom_ = hit;
            return true;
        }
        from = hit + 1;
    }
}

bool FrameAssembler::FindTrailer(std::size_t& trailerPos) {
    std::size_t from = trailerScanFrom_;
    while (true) {
        const std::size_t hit = Find3(from, kEnd);
        if (hit == kNotFound) {
            trailerScanFrom_ = ResumeAfterMiss(from, size_);
            return false;
        }
        if (size_ - hit < MessageTrailer::kSize) {
            trailerScanFrom_ = hit;
            return false;
        }
        if (BytesEqual(hit, MessageTrailer::kBytes.data(), MessageTrailer::kSize)) {
            trailerPos = hit;
            return true;
        }
        from = hit + 1;
    }
}

FrameAssembler::Result FrameAssembler::Feed(std::span<const std::uint8_t> chunk,
                                            const Dispatch& dispatch) {
    if (chunk.size() > capacity_ - size_) {
        Reset();
        return {Outcome::Overflow, {}};
    }
    // The searches run over the old bytes in the buffer and the new ones where they are,
    // before the copy: scanning bytes just stored would wait on the stores in flight.
    newStart_ = size_;
    newBytes_ = chunk.data();
    size_ += chunk.size();
    std::size_t trailerPos = 0;
    const bool complete = (headerFound_ || FindHeader()) && FindTrailer(trailerPos);
    if (!chunk.empty()) {
        std::memcpy(buffer_.get() + newStart_, chunk.data(), chunk.size());
    }
    if (!complete) {
        return {};
    }
    const std::uint32_t length =
        ReadLe32(std::span(buffer_.get(), size_), headerPos_ + headerSize_ - 8);
    if (trailerPos - headerPos_ < headerSize_ || length != trailerPos - headerPos_ - headerSize_) {
        Reset();
        return {Outcome::LengthMismatch, {}};
    }
    const std::size_t end = trailerPos + MessageTrailer::kSize;
    dispatch(std::span<const std::uint8_t>(buffer_.get() + headerPos_, end - headerPos_));
    Result result{Outcome::Message, Block(buffer_.get() + end, buffer_.get() + size_)};
    Reset();
    return result;
}

}  // namespace orvane
