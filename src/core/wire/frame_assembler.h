#pragma once

#include "common/block.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace orvane {

// Reassembles framed messages from received chunks, one chunk at a time.
//
// A message is found by its header ("TOP\0", and "EOF\0" at headerSize - 4), then by its
// trailer ("END\0EOF\0", searched from the header on), and is taken only when the header's
// payload length equals the distance between them. Bytes in front of the header stay in the
// buffer and count against the capacity. A chunk that would overflow the capacity is dropped
// together with everything accumulated; so is everything when the length test fails.
//
// At most one message completes per chunk; bytes behind its trailer are handed back so the
// caller can put them at the head of its receive queue and feed them next.
//
// The cost is linear in the bytes fed: a search resumes where the last one had to stop
// instead of rescanning bytes that are already known not to start a header or trailer.
class FrameAssembler {
  public:
    enum class Outcome { Pending, Message, Overflow, LengthMismatch };

    struct Result {
        Outcome outcome = Outcome::Pending;
        Block leftover;  // bytes behind a completed message's trailer
    };

    // Receives the complete message, header to trailer, valid only during the call.
    using Dispatch = std::function<void(std::span<const std::uint8_t> message)>;

    FrameAssembler(std::size_t capacity, std::size_t headerSize);

    Result Feed(std::span<const std::uint8_t> chunk, const Dispatch& dispatch);
    void Reset();

    std::size_t accumulated() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    std::size_t headerSize() const { return headerSize_; }

  private:
    // First position >= from where three bytes equal mark, or npos.
    std::size_t Find3(std::size_t from, const std::uint8_t* mark) const;
    // A byte of the data fed so far, during Feed: old bytes from the buffer, the chunk's own
    // bytes from the chunk (they are copied in after the searches).
    std::uint8_t ByteAt(std::size_t at) const {
        return at < newStart_ ? buffer_[at] : newBytes_[at - newStart_];
    }
    bool BytesEqual(std::size_t at, const std::uint8_t* expected, std::size_t count) const;
    bool FindHeader();
    bool FindTrailer(std::size_t& trailerPos);

    std::size_t capacity_;
    std::size_t headerSize_;
    std::unique_ptr<std::uint8_t[]> buffer_;
    std::size_t size_ = 0;
    bool headerFound_ = false;
    std::size_t headerPos_ = 0;
    std::size_t headerScanFrom_ = 0;
    std::size_t trailerScanFrom_ = 0;
    // The chunk being fed: where its bytes start in the buffer, and where they came from.
    std::size_t newStart_ = 0;
    const std::uint8_t* newBytes_ = nullptr;
};

}  // namespace orvane
