#include "wire/byte_order.h"
#include "wire/frame_assembler.h"
#include "wire/mark_search.h"
#include "wire/message_builder.h"
#include "wire/queues.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace orvane {
namespace {

Block SiteMessageOf(std::uint8_t type, std::size_t payloadSize, std::uint8_t fill = 0x5A) {
    return BuildSiteMessage(type, 1, 2, Block(payloadSize, fill));
}

Block Concat(std::initializer_list<Block> parts) {
    Block all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// Feeds bytes in chunks of the given size through a receive queue, as a socket does, and
// collects the dispatched messages.
class Receiver {
  public:
    Receiver(std::size_t capacity, std::size_t headerSize) : assembler(capacity, headerSize) {}

    void Receive(const Block& bytes, std::size_t chunkSize) {
        for (std::size_t at = 0; at < bytes.size(); at += chunkSize) {
            const auto end = std::min(bytes.size(), at + chunkSize);
            queue.PushBack(Block(bytes.begin() + static_cast<long>(at),
                                 bytes.begin() + static_cast<long>(end)));
            Process();
        }
    }
    void Process() {
        ProcessReceivedChunks(queue, assembler, [this](std::span<const std::uint8_t> message) {
            messages.emplace_back(message.begin(), message.end());
        });
    }

    FrameAssembler assembler;
    ReceiveQueue queue;
    std::vector<Block> messages;
};

TEST(FrameAssembler, FindsEachWholeMessageAndDropsWhatIsNoMessage) {
    const Block message = SiteMessageOf(9, 300);
    const Block bare = SiteMessageOf(2, 0);
    Block falseHeader = BuildSiteHeader(1, 0, 0, 0);
    falseHeader[20] = 'X';  // no EOF at offset 20
    Block liar = SiteMessageOf(1, 10);
    liar[16] = 11;  // promises one byte more than it carries
    Block holdsTrailer(40, 0x11);
    std::memcpy(holdsTrailer.data() + 10, MessageTrailer::kBytes.data(), MessageTrailer::kSize);
    struct Row {
        const char* what;
        Block stream;
        std::vector<Block> messages;
    } const rows[] = {
        {"a message alone", message, {message}},
        {"messages back to back, in order", Concat({bare, message, bare}), {bare, message, bare}},
        {"garbage, a TOP without its NUL, a false header and a stray END before a message",
         Concat({{'x', 'T', 'O', 'P', 'x'}, falseHeader, {'E', 'N', 'D'}, message}),
         {message}},
        {"a length mismatch discards everything accumulated with it",
         Concat({liar, SiteMessageOf(3, 0)}),
         {}},
        {"a payload holding the trailer ends the message early: it is lost",
         BuildSiteMessage(1, 0, 0, holdsTrailer),
         {}},
    };
    for (const Row& row : rows) {
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{7}, std::size_t{4096}}) {
            SCOPED_TRACE(testing::Message() << row.what << ", chunks of " << chunk);
            if (chunk < 4096 && row.messages.empty()) {
                continue;  // the lost bytes may then be taken apart from what follows them
            }
            Receiver receiver(kSiteAssemblyCapacity, SiteMessageHeader::kSize);
            receiver.Receive(row.stream, chunk);
            EXPECT_EQ(receiver.messages, row.messages);
            // Whatever went before, the next message gets through.
            receiver.Receive(bare, 5);
            ASSERT_FALSE(receiver.messages.empty());
            EXPECT_EQ(receiver.messages.back(), bare);
            EXPECT_EQ(receiver.assembler.accumulated(), 0u);
        }
    }
}

// A message that fills the buffer to its last byte is taken; one byte more overflows, and the
// chunk that overflowed goes with the buffer, but a later message still gets through.
TEST(FrameAssembler, TheSiteLimitIs153600BytesTheIdentifyLimit512AndOverflowDropsTheBuffer) {
    EXPECT_EQ(kSiteAssemblyCapacity, 153600u);
    EXPECT_EQ(kIdentifyAssemblyCapacity, 512u);
    for (const std::size_t capacity : {kSiteAssemblyCapacity, kIdentifyAssemblyCapacity}) {
        SCOPED_TRACE(capacity);
        const bool site = capacity == kSiteAssemblyCapacity;
        const auto message = [&](std::size_t size) {
            return site ? SiteMessageOf(1, size - 24 - 8)
                        : Flatten(BuildMessage(104, Block(size - 16 - 8, 0)));
        };
        Receiver receiver(capacity, site ? SiteMessageHeader::kSize : MessageHeader::kSize);
        for (const std::size_t size : {capacity, capacity + 1, std::size_t{100}}) {
            receiver.Receive(message(size), 128);
        }
        EXPECT_EQ(receiver.messages, (std::vector<Block>{message(capacity), message(100)}));
    }
}

// The reassembly as designed, rescanning from the start on every chunk: the assembler must
// give exactly its results, only faster.
class ReferenceAssembler {
  public:
    ReferenceAssembler(std::size_t capacity, std::size_t headerSize)
        : capacity_(capacity), header_(headerSize) {}

    void Receive(Block chunk) {
        queue_.push_front(std::move(chunk));
        while (!queue_.empty()) {
            Block c = std::move(queue_.front());
            queue_.pop_front();
            Feed(c);
        }
    }
    std::vector<Block> messages;

  private:
    void Feed(const Block& chunk) {
        if (data_.size() + chunk.size() > capacity_) {
            data_.clear();
            return;
        }
        data_.insert(data_.end(), chunk.begin(), chunk.end());
        std::size_t header = Search("TOP", 0, header_, [&](std::size_t p) {
            return data_[p + 3] == 0 && std::memcmp(&data_[p + header_ - 4], "EOF\0", 4) == 0;
        });
        if (header == kNone) {
            return;
        }
        std::size_t trailer = Search("END", header, 8, [&](std::size_t p) {
            return std::memcmp(&data_[p], "END\0EOF\0", 8) == 0;
        });
        if (trailer == kNone) {
            return;
        }
        const std::uint32_t length = ReadLe32(data_, header + header_ - 8);
        if (trailer - header >= header_ && length == trailer - header - header_) {
            messages.emplace_back(data_.begin() + static_cast<long>(header),
                                  data_.begin() + static_cast<long>(trailer + 8));
            if (trailer + 8 < data_.size()) {
                queue_.emplace_front(data_.begin() + static_cast<long>(trailer + 8), data_.end());
            }
        }
        data_.clear();
    }
    // The first mark from `from` that passes `test`; none when a mark has fewer than `need`
    // bytes after its start (the rest is still to come).
    std::size_t Search(const char* mark, std::size_t from, std::size_t need, auto test) {
        for (std::size_t p = from; p + 3 <= data_.size(); ++p) {
            if (std::memcmp(&data_[p], mark, 3) == 0 && (data_.size() - p < need || test(p))) {
                return data_.size() - p < need ? kNone : p;
            }
        }
        return kNone;
    }
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    std::size_t capacity_;
    std::size_t header_;
    Block data_;
    std::deque<Block> queue_;
};

TEST(FrameAssembler, GivesExactlyTheResultsOfTheDesignedAlgorithmOnRandomStreams) {
    std::mt19937 random(20261206);
    for (int round = 0; round < 300; ++round) {
        // Valid messages, fragments of marks, liars and noise, in random chunks.
        Block stream;
        const int pieces = 1 + static_cast<int>(random() % 12);
        for (int i = 0; i < pieces; ++i) {
            const int kind = static_cast<int>(random() % 6);
            Block piece;
            if (kind < 2) {
                piece = SiteMessageOf(static_cast<std::uint8_t>(random() % 25), random() % 400,
                                      static_cast<std::uint8_t>(random()));
            } else if (kind == 2) {
                piece = BuildSiteHeader(1, 0, 0, static_cast<std::uint32_t>(random() % 50));
            } else if (kind < 5) {  // a trailer alone, or a header's mark before a trailer's
                piece = kind == 3 ? Block{'E', 'N', 'D', 0, 'E', 'O', 'F', 0}
                                  : Block{'T', 'O', 'P', 0, 'E', 'N', 'D'};
            } else {
                piece.resize(random() % 64);
                for (auto& byte : piece) {
                    byte = static_cast<std::uint8_t>("TOPENDF\0x"[random() % 9]);
                }
            }
            stream.insert(stream.end(), piece.begin(), piece.end());
        }
        const std::size_t capacity = 256 + random() % 1024;
        Receiver fast(capacity, SiteMessageHeader::kSize);
        ReferenceAssembler reference(capacity, SiteMessageHeader::kSize);
        for (std::size_t at = 0; at < stream.size();) {
            const std::size_t size = std::min<std::size_t>(stream.size() - at, 1 + random() % 200);
            Block chunk(stream.begin() + static_cast<long>(at),
                        stream.begin() + static_cast<long>(at + size));
            // Now and then two chunks wait: what is left of the first comes before the next.
            fast.queue.PushBack(chunk);
            if (random() % 2 == 0) {
                fast.Process();
            }
            reference.Receive(chunk);
            at += size;
        }
        fast.Process();
        ASSERT_EQ(fast.messages, reference.messages) << "round " << round;
    }
}

// Each way of searching finds what a plain search finds, near the ends of the buffer and
// between its windows, with first bytes of the mark that are not followed by the rest.
TEST(MarkSearch, EveryWayFindsTheFirstMarkAsAPlainSearchDoes) {
    const std::uint8_t mark[] = {0xAA, 0x55, 0xAA};
    std::mt19937 random(7);
    const std::uint8_t alphabet[] = {0x00, 0xAA, 0x55, 0x13};
    for (std::size_t size = 0; size < 300; ++size) {
        Block data(size);
        for (auto& byte : data) {
            byte = alphabet[random() % 4];
        }
        for (std::size_t from = 0; from <= size; from += 1 + size / 8) {
            const auto found = std::search(data.begin() + std::ptrdiff_t(from), data.end(),
                                           std::begin(mark), std::end(mark));
            const std::size_t expected =
                found == data.end() ? kMarkNotFound : std::size_t(found - data.begin());
            for (const MarkSearch search : MarkSearches()) {
                ASSERT_EQ(search(data.data(), from, size, mark), expected)
                    << "size " << size << " from " << from;
            }
        }
    }
}

}  // namespace
}  // namespace orvane
