#pragma once

#include "common/block.h"
#include "wire/message_builder.h"

#include <deque>
#include <functional>
#include <optional>
#include <span>

namespace orvane {

// What a socket did with one queued block.
enum class SendOutcome {
    Sent,     // the block went out (or counts as sent): remove it and go on
    Blocked,  // not now: keep it and everything behind it for a later flush
};

using BlockSender = std::function<SendOutcome(std::span<const std::uint8_t> block)>;

// Outgoing blocks in order. Every append flushes from the head, so a block that had to wait
// goes out, in order, with the next append. Owned and used by one socket on the GUI thread.
class SendQueue {
  public:
    // Appends and flushes; returns true when the queue is empty afterwards.
    bool Append(Block block, const BlockSender& send);
    // Appends a message's header, payload (when present) and trailer, flushing after each.
    void AppendMessage(MessageBlocks message, const BlockSender& send);
    bool Flush(const BlockSender& send);
    void Clear();

    std::size_t size() const { return blocks_.size(); }
    bool empty() const { return blocks_.empty(); }
    // Bytes of every block still waiting: what a link that stopped draining holds.
    std::size_t bytes() const { return bytes_; }

  private:
    std::deque<Block> blocks_;
    std::size_t bytes_ = 0;
};

// Received chunks waiting for reassembly. Bytes left behind a completed message go back to
// the head so they are reassembled before anything received later.
class ReceiveQueue {
  public:
    void PushBack(Block chunk);
    void PushFront(Block chunk);
    std::optional<Block> PopFront();
    const Block& front() const { return chunks_.front(); }
    void DropFront();
    void Clear();

    std::size_t size() const { return chunks_.size(); }
    bool empty() const { return chunks_.empty(); }
    // Bytes of every chunk still waiting: what the reader holds back from reading past.
    std::size_t bytes() const { return bytes_; }

  private:
    std::deque<Block> chunks_;
    std::size_t bytes_ = 0;
};

class FrameAssembler;

// Feeds every queued chunk to the assembler in order, handing complete messages to dispatch.
// The dispatcher may queue more chunks; they are processed in the same call.
void ProcessReceivedChunks(ReceiveQueue& queue, FrameAssembler& assembler,
                           const std::function<void(std::span<const std::uint8_t>)>& dispatch);

}  // namespace orvane
