#include "wire/queues.h"

#include "wire/frame_assembler.h"

namespace orvane {

bool SendQueue::Append(Block block, const BlockSender& send) {
    bytes_ += block.size();
    blocks_.push_back(std::move(block));
    return Flush(send);
}

void SendQueue::AppendMessage(MessageBlocks message, const BlockSender& send) {
    Append(std::move(message.header), send);
    if (!message.payload.empty()) {
        Append(std::move(message.payload), send);
    }
    Append(std::move(message.trailer), send);
}

bool SendQueue::Flush(const BlockSender& send) {
    while (!blocks_.empty()) {
        if (send(blocks_.front()) == SendOutcome::Blocked) {
            return false;
        }
        bytes_ -= blocks_.front().size();
        blocks_.pop_front();
    }
    return true;
}

void SendQueue::Clear() {
    blocks_.clear();
    bytes_ = 0;
}

void ReceiveQueue::PushBack(Block chunk) {
    bytes_ += chunk.size();
    chunks_.push_back(std::move(chunk));
}

void ReceiveQueue::PushFront(Block chunk) {
    bytes_ += chunk.size();
    chunks_.push_front(std::move(chunk));
}

void ReceiveQueue::DropFront() {
    bytes_ -= chunks_.front().size();
    chunks_.pop_front();
}

void ReceiveQueue::Clear() {
    chunks_.clear();
    bytes_ = 0;
}

std::optional<Block> ReceiveQueue::PopFront() {
    if (chunks_.empty()) {
        return std::nullopt;
    }
    Block chunk = std::move(chunks_.front());
    chunks_.pop_front();
    bytes_ -= chunk.size();
    return chunk;
}

void ProcessReceivedChunks(ReceiveQueue& queue, FrameAssembler& assembler,
                           const std::function<void(std::span<const std::uint8_t>)>& dispatch) {
    while (!queue.empty()) {
        auto result = assembler.Feed(queue.front(), dispatch);
        queue.DropFront();
        if (!result.leftover.empty()) {
            queue.PushFront(std::move(result.leftover));
        }
    }
}

}  // namespace orvane
