#pragma once

#include "common/block.h"
#include "media/decoded_picture.h"
#include "media/live_frame.h"
#include "media/video_decoder.h"

#include <QSize>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Live channels are decoded on worker threads, so that many channels neither stall the GUI
// thread nor leave a core idle.
//
// Threads: a DecodeWorkers and its ChannelDecoding objects are made, fed and read on one
// thread, the owner's (the GUI thread). Only the decoding itself runs on the workers; the
// picturesReady callback is the one thing called from a worker.
namespace orvane {

class DecodeWorkers;

// One channel's decoding: the frames it is given, in order, decoded on one worker (always
// the same, so the decoder's state needs no lock), and the newest picture, waiting for the
// owner to take it.
class ChannelDecoding : public std::enable_shared_from_this<ChannelDecoding> {
    struct Made {};  // only DecodeWorkers makes them

  public:
    using Clock = std::chrono::steady_clock;
    // Pictures older than this when decoding starts mean the channel is behind: from then on
    // only the newest picture is made, and when a key frame waits behind the late one,
    // decoding jumps to it (the frames between are dropped), until it has caught up.
    static constexpr std::chrono::milliseconds kBehindLimit{500};
    // Frames waiting beyond this are dropped up to the next key frame, where decoding
    // starts again cleanly; a channel so far behind shows nothing useful anyway.
    static constexpr std::size_t kMaxWaitingFrames = 250;
    static constexpr std::size_t kMaxWaitingBytes = 16u << 20;

    ChannelDecoding(Made, DecodeWorkers& workers, int worker,
                    std::unique_ptr<VideoDecoder> decoder);
    ~ChannelDecoding() = default;
    ChannelDecoding(const ChannelDecoding&) = delete;
    ChannelDecoding& operator=(const ChannelDecoding&) = delete;

    // Queues a frame for decoding. False when it was dropped (the channel is waiting for a
    // key frame to start again, or shows only its key frames).
    bool Submit(const LiveFrame& frame);
    // The newest picture made since the last call, if any.
    std::optional<DecodedPicture> TakePicture();
    // The channel's pictures lag behind the frames by more than kBehindLimit, or frames
    // were dropped and it waits for a key frame.
    bool behind() const { return behind_.load(std::memory_order_relaxed); }
    std::uint64_t decodedFrames() const { return decoded_.load(std::memory_order_relaxed); }
    std::uint64_t droppedFrames() const { return dropped_.load(std::memory_order_relaxed); }
    std::size_t waitingFrames() const;
    // Its worker could not keep up with all of its channels, and this one fell furthest
    // behind: only its key frames are decoded, until the worker has room for it again.
    bool reduced() const { return reduced_.load(std::memory_order_relaxed); }
    // The size in device pixels the channel's window shows pictures at: the pictures are
    // converted to it (an empty size: the frame's own). The window sets it whenever its
    // picture area changes; any thread.
    void SetPictureSize(QSize size);
    QSize pictureSize() const;

    // What a channel keeps while reduced, of the frames after its newest key frame.
    static constexpr std::size_t kMaxKeptBytes = 2u << 20;

  private:
    friend class DecodeWorkers;
    friend class DecodingTestAccess;
    struct Job {
        LiveFrame frame;
        Clock::time_point submitted;
        bool restart = false;  // decoding starts over here (frames before it were dropped)
    };
    // On the worker: decodes the oldest waiting frame; false when none was waiting.
    bool DecodeNext();
    void SkipToNewestKeyFrame();
    // On the worker: the rate of its frames from now on (Restore takes effect at the next key
    // frame, the first one that can be decoded with all that follows it).
    void Reduce();
    void Restore();
    // With mutex_ held: keeps a frame after the newest key frame while reduced, or drops the
    // frames kept when it cannot.
    void Keep(const LiveFrame& frame);
    void DropKept();
    // How long the oldest waiting frame has waited.
    Clock::duration Lag() const;

    // What the channel costs its worker, in seconds of decoding a second; measured and used
    // on the worker alone.
    struct Load {
        double interCost = 0;  // seconds to decode a frame that is not a key frame
        double keyCost = 0;
        double rate = 0;  // frames a second, all of them and key frames
        double keyRate = 0;
        std::uint64_t countedFrames = 0;
        std::uint64_t countedKeys = 0;
        std::uint64_t countedSkips = 0;
        Clock::time_point reducedAt;
        double Full() const { return (rate - keyRate) * interCost + keyRate * keyCost; }
        double KeysOnly() const { return keyRate * keyCost; }
    };
    Load load_;

    DecodeWorkers* workers_;
    int worker_;
    std::unique_ptr<VideoDecoder> decoder_;  // the worker's alone once made

    mutable std::mutex mutex_;  // guards what follows
    std::deque<Job> waiting_;
    std::size_t waitingBytes_ = 0;
    bool waitingForKey_ = false;
    bool restartNext_ = false;
    enum class Rate { Full, KeyFrames, FullFromNextKey };
    Rate rate_ = Rate::Full;
    std::optional<DecodedPicture> newest_;
    // While reduced, the frames after the newest key frame: a channel given its frames back
    // goes on from that key frame with them at once, instead of waiting for the next one (a
    // whole group of pictures, seconds at a low frame rate). Dropped at the next key frame.
    std::deque<LiveFrame> kept_;
    std::size_t keptBytes_ = 0;
    bool keptFollowKey_ = false;  // they follow the newest key frame without a gap

    std::atomic<std::uint64_t> pictureSize_{0};  // width in the high half, height in the low
    std::atomic<bool> behind_{false};
    std::atomic<bool> reduced_{false};  // rate_ is not Full
    std::atomic<std::uint64_t> submitted_{0};
    std::atomic<std::uint64_t> submittedKeys_{0};
    std::atomic<std::uint64_t> skips_{0};  // times it skipped frames to catch up
    std::atomic<std::uint64_t> decoded_{0};
    std::atomic<std::uint64_t> dropped_{0};
};

// A fixed set of decoding threads, one per core unless told otherwise. Channels are dealt to
// the workers in turn and each stays on its own.
//
// Each worker reviews its channels twice a second: what each costs at its frame rate. When
// they ask more than the worker can give, or frames wait too long, the channels furthest
// behind are reduced to their key frames, enough of them to leave some room; when there is
// room again for a reduced channel's other frames, it gets them back (from its next key
// frame), the earliest reduced first. A channel's frames still all reach whoever records it:
// only what is decoded for the view is reduced.
class DecodeWorkers {
  public:
    static constexpr std::chrono::milliseconds kReviewInterval{500};
    // Share of a worker's time the channels may ask before some are reduced, what the
    // reductions bring it down to, and below what a reduced channel gets its frames back.
    static constexpr double kMostLoad = 0.9;
    static constexpr double kReducedLoad = 0.8;
    static constexpr double kRestoreLoad = 0.75;

    // picturesReady: called on a worker when a channel has a new picture and none was
    // waiting to be taken; it should post to the owner's thread, never block.
    explicit DecodeWorkers(std::function<void()> picturesReady, int threads = 0);
    ~DecodeWorkers();
    DecodeWorkers(const DecodeWorkers&) = delete;
    DecodeWorkers& operator=(const DecodeWorkers&) = delete;

    std::shared_ptr<ChannelDecoding> AddChannel(std::unique_ptr<VideoDecoder> decoder);
    int threadCount() const { return static_cast<int>(threads_.size()); }

  private:
    friend class ChannelDecoding;
    struct Worker {
        std::mutex mutex;
        std::condition_variable wake;
        // Channels with frames waiting, in the order their frames came; a channel appears
        // once per waiting frame, so every channel gets its turn.
        std::deque<std::shared_ptr<ChannelDecoding>> turns;
        std::vector<std::weak_ptr<ChannelDecoding>> channels;  // all of the worker's
        // The worker's own.
        ChannelDecoding::Clock::time_point lastReview;
        ChannelDecoding::Clock::time_point lastReduction;
        unsigned overloadedReviews = 0;  // the last four, newest in the lowest bit
    };
    void Enqueue(int worker, std::shared_ptr<ChannelDecoding> channel);
    void Run(Worker& worker);
    void Review(Worker& worker);
    void NotePicture();

    std::function<void()> picturesReady_;
    std::vector<std::unique_ptr<Worker>> workers_;
    std::vector<std::thread> threads_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> notifyPending_{false};
    int nextWorker_ = 0;

  public:
    // The owner took the pictures: the next new one notifies again.
    void PicturesTaken() { notifyPending_.store(false); }
};

}  // namespace orvane
