// Reassembly of 150 KB frames received in 1,024-byte chunks, beside a plain memcpy of the
// same chunks into a buffer of the same size.
#include "wire/frame_assembler.h"
#include "wire/mark_search.h"
#include "wire/message_builder.h"
#include "wire/queues.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <deque>
#include <random>

namespace {

using namespace orvane;

constexpr std::size_t kFramePayload = 150000;
constexpr int kFrames = 16;

// Frames of random (compressed-looking) bytes, already cut into chunks.
const std::vector<Block>& Chunks() {
    static const std::vector<Block> chunks = [] {
        std::mt19937 random(7);
        Block stream;
        for (int i = 0; i < kFrames; ++i) {
            Block payload(kFramePayload);
            for (auto& byte : payload) {
                byte = static_cast<std::uint8_t>(random());
            }
            const Block message = BuildSiteMessage(1, 3, 1, payload);
            stream.insert(stream.end(), message.begin(), message.end());
        }
        std::vector<Block> cut;
        for (std::size_t at = 0; at < stream.size(); at += kSiteChunkSize) {
            const auto end = std::min(stream.size(), at + kSiteChunkSize);
            cut.emplace_back(stream.begin() + static_cast<long>(at),
                             stream.begin() + static_cast<long>(end));
        }
        return cut;
    }();
    return chunks;
}

std::size_t TotalBytes() {
    std::size_t total = 0;
    for (const auto& chunk : Chunks()) {
        total += chunk.size();
    }
    return total;
}

// Chunks are queued as they are read from the socket and reassembled together by the next
// timer tick, so both runs below queue a batch of chunks (copying each into its own block, as
// a socket read does) and then work through the batch.
constexpr std::size_t kChunksPerTick = 64;

void BM_Reassembly(benchmark::State& state) {
    FrameAssembler assembler(kSiteAssemblyCapacity, SiteMessageHeader::kSize);
    ReceiveQueue queue;
    std::size_t dispatched = 0;
    const auto& chunks = Chunks();
    for (auto _ : state) {
        for (std::size_t first = 0; first < chunks.size(); first += kChunksPerTick) {
            const std::size_t last = std::min(chunks.size(), first + kChunksPerTick);
            for (std::size_t i = first; i < last; ++i) {
                queue.PushBack(chunks[i]);
            }
            ProcessReceivedChunks(queue, assembler, [&](std::span<const std::uint8_t> message) {
                dispatched += message.size();
            });
        }
    }
    if (dispatched == 0) {
        state.SkipWithError("nothing was reassembled");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TotalBytes()));
}
BENCHMARK(BM_Reassembly);

void BM_MemcpyBaseline(benchmark::State& state) {
    std::vector<std::uint8_t> buffer(kSiteAssemblyCapacity);
    std::deque<Block> queue;
    const auto& chunks = Chunks();
    for (auto _ : state) {
        std::size_t used = 0;
        for (std::size_t first = 0; first < chunks.size(); first += kChunksPerTick) {
            const std::size_t last = std::min(chunks.size(), first + kChunksPerTick);
            for (std::size_t i = first; i < last; ++i) {
                queue.push_back(chunks[i]);
            }
            while (!queue.empty()) {
                const Block& chunk = queue.front();
                if (used + chunk.size() > buffer.size()) {
                    used = 0;
                }
                std::memcpy(buffer.data() + used, chunk.data(), chunk.size());
                used += chunk.size();
                queue.pop_front();
            }
            benchmark::DoNotOptimize(buffer.data());
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * TotalBytes()));
}
BENCHMARK(BM_MemcpyBaseline);

// The search for "END" alone over one received chunk that is already in cache.
void BM_MarkSearchInChunk(benchmark::State& state) {
    const Block& chunk = Chunks()[5];
    const std::uint8_t mark[3] = {'E', 'N', 'D'};
    for (auto _ : state) {
        std::size_t from = 0;
        std::size_t hits = 0;
        while ((from = FindMark3(chunk.data(), from, chunk.size(), mark)) != kMarkNotFound) {
            ++from;
            ++hits;
        }
        benchmark::DoNotOptimize(hits);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * chunk.size()));
}
BENCHMARK(BM_MarkSearchInChunk);

}  // namespace

BENCHMARK_MAIN();
