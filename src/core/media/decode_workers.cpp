#include "media/decode_workers.h"

#include "common/log.h"
#include "wire/bitmap_info.h"

#include <QThread>

#include <algorithm>
#include <bit>

#include <pthread.h>

namespace orvane {
namespace {

// How much a new measurement moves a channel's figures: a few frames' worth of memory, so
// that a change of load shows within a review or two.
constexpr double kCostWeight = 0.2;
constexpr double kRateWeight = 0.5;

}  // namespace

ChannelDecoding::ChannelDecoding(Made, DecodeWorkers& workers, int worker,
                                 std::unique_ptr<VideoDecoder> decoder)
    : workers_(&workers), worker_(worker), decoder_(std::move(decoder)) {}

bool ChannelDecoding::Submit(const LiveFrame& frame) {
    if (!frame.valid()) {
        return false;
    }
    submitted_.fetch_add(1, std::memory_order_relaxed);
    if (frame.keyFrame) {
        submittedKeys_.fetch_add(1, std::memory_order_relaxed);
    }
    const std::size_t size = frame.packed->size();
    {
        std::lock_guard lock(mutex_);
        const bool full =
            waiting_.size() >= kMaxWaitingFrames || waitingBytes_ + size > kMaxWaitingBytes;
        if (full && !waitingForKey_) {
            // Too far behind to catch up frame by frame: what waits is dropped, and decoding
            // starts again at a frame that stands on its own.
            dropped_.fetch_add(waiting_.size(), std::memory_order_relaxed);
            skips_.fetch_add(1, std::memory_order_relaxed);
            DropKept();
            waiting_.clear();
            waitingBytes_ = 0;
            waitingForKey_ = true;
            behind_.store(true, std::memory_order_relaxed);
            qCWarning(lcMedia) << "live decoding fell too far behind; waiting for a key frame";
        }
        if (waitingForKey_) {
            if (!frame.keyFrame) {
                dropped_.fetch_add(1, std::memory_order_relaxed);
                DropKept();
                return false;
            }
            waitingForKey_ = false;
            restartNext_ = true;
        }
        if (rate_ != Rate::Full) {
            if (!frame.keyFrame) {
                Keep(frame);
                return false;
            }
            if (rate_ == Rate::FullFromNextKey) {
                rate_ = Rate::Full;
                reduced_.store(false, std::memory_order_relaxed);
            }
            DropKept();
            keptFollowKey_ = rate_ == Rate::KeyFrames;
            restartNext_ = true;
        }
        waitingBytes_ += size;
        waiting_.push_back({frame, Clock::now(), restartNext_});
        restartNext_ = false;
    }
    workers_->Enqueue(worker_, shared_from_this());
    return true;
}

void ChannelDecoding::SkipToNewestKeyFrame() {
    // Called with mutex_ held. The newest key frame waiting, if there is one after the first.
    std::size_t key = 0;
    for (std::size_t i = waiting_.size(); i-- > 1;) {
        if (waiting_[i].frame.keyFrame) {
            key = i;
            break;
        }
    }
    if (key == 0) {
        return;
    }
    for (std::size_t i = 0; i < key; ++i) {
        waitingBytes_ -= waiting_.front().frame.packed->size();
        waiting_.pop_front();
    }
    dropped_.fetch_add(key, std::memory_order_relaxed);
    skips_.fetch_add(1, std::memory_order_relaxed);
    waiting_.front().restart = true;
}

void ChannelDecoding::Reduce() {
    std::lock_guard lock(mutex_);
    if (rate_ == Rate::Full) {
        load_.reducedAt = Clock::now();
        DropKept();
        // What waits between key frames is not decoded any more; the first key frame left
        // starts afresh.
        std::deque<Job> keys;
        for (Job& job : waiting_) {
            if (job.frame.keyFrame) {
                keys.push_back(std::move(job));
            } else {
                waitingBytes_ -= job.frame.packed->size();
                dropped_.fetch_add(1, std::memory_order_relaxed);
            }
        }
        waiting_ = std::move(keys);
        if (!waiting_.empty()) {
            waiting_.front().restart = true;
        }
    }
    rate_ = Rate::KeyFrames;
    reduced_.store(true, std::memory_order_relaxed);
}

void ChannelDecoding::Restore() {
    std::size_t resumed = 0;
    {
        std::lock_guard lock(mutex_);
        if (rate_ != Rate::KeyFrames) {
            return;
        }
        if (!keptFollowKey_) {
            rate_ = Rate::FullFromNextKey;
            return;
        }
        // Decoding goes on from the newest key frame (decoded, or waiting) with the frames
        // kept since; they are owed work, not late pictures, so their wait starts now.
        const Clock::time_point now = Clock::now();
        for (LiveFrame& frame : kept_) {
            waitingBytes_ += frame.packed->size();
            waiting_.push_back({std::move(frame), now, false});
        }
        resumed = kept_.size();
        kept_.clear();
        keptBytes_ = 0;
        keptFollowKey_ = false;
        rate_ = Rate::Full;
        reduced_.store(false, std::memory_order_relaxed);
    }
    for (std::size_t i = 0; i < resumed; ++i) {
        workers_->Enqueue(worker_, shared_from_this());
    }
}

void ChannelDecoding::Keep(const LiveFrame& frame) {
    const std::size_t size = frame.packed->size();
    if (keptFollowKey_ && kept_.size() < kMaxWaitingFrames && keptBytes_ + size <= kMaxKeptBytes) {
        kept_.push_back(frame);
        keptBytes_ += size;
        return;
    }
    dropped_.fetch_add(1, std::memory_order_relaxed);
    DropKept();
}

void ChannelDecoding::DropKept() {
    dropped_.fetch_add(kept_.size(), std::memory_order_relaxed);
    kept_.clear();
    keptBytes_ = 0;
    keptFollowKey_ = false;
}

ChannelDecoding::Clock::duration ChannelDecoding::Lag() const {
    std::lock_guard lock(mutex_);
    return waiting_.empty() ? Clock::duration::zero() : Clock::now() - waiting_.front().submitted;
}

std::optional<DecodedPicture> ChannelDecoding::TakePicture() {
    std::lock_guard lock(mutex_);
    std::optional<DecodedPicture> picture = std::move(newest_);
    newest_.reset();
    return picture;
}

std::size_t ChannelDecoding::waitingFrames() const {
    std::lock_guard lock(mutex_);
    return waiting_.size();
}

void ChannelDecoding::SetPictureSize(QSize size) {
    const std::uint64_t packed =
        size.isEmpty() ? 0
                       : std::uint64_t{static_cast<std::uint32_t>(size.width())} << 32 |
                             static_cast<std::uint32_t>(size.height());
    pictureSize_.store(packed, std::memory_order_relaxed);
}

QSize ChannelDecoding::pictureSize() const {
    const std::uint64_t packed = pictureSize_.load(std::memory_order_relaxed);
    return packed == 0
               ? QSize()
               : QSize(static_cast<int>(packed >> 32), static_cast<int>(packed & 0xFFFFFFFFu));
}

bool ChannelDecoding::DecodeNext() {
    Job job;
    bool newerWaiting = false;
    bool waitingForKey = false;
    {
        std::lock_guard lock(mutex_);
        if (waiting_.empty()) {
            return false;
        }
        if (Clock::now() - waiting_.front().submitted > kBehindLimit) {
            SkipToNewestKeyFrame();
        }
        job = std::move(waiting_.front());
        waiting_.pop_front();
        waitingBytes_ -= job.frame.packed->size();
        newerWaiting = !waiting_.empty();
        waitingForKey = waitingForKey_;
    }
    behind_.store(waitingForKey || Clock::now() - job.submitted > kBehindLimit,
                  std::memory_order_relaxed);
    if (job.restart) {
        decoder_->Restart();
    }
    const PackedFrame frame = job.frame.View();
    decoded_.fetch_add(1, std::memory_order_relaxed);
    const Clock::time_point start = Clock::now();
    const auto measure = [&] {
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        double& cost = job.frame.keyFrame ? load_.keyCost : load_.interCost;
        cost = cost == 0 ? seconds : cost + kCostWeight * (seconds - cost);
    };
    // A picture that a newer one will replace before anyone looks is not worth converting.
    if (newerWaiting) {
        decoder_->DecodeWithoutPicture(frame);
        measure();
        return true;
    }
    auto picture = decoder_->Decode(frame, pictureSize());
    measure();
    if (!picture || !picture->valid()) {
        return true;
    }
    picture->source = frame.header;
    {
        std::lock_guard lock(mutex_);
        newest_ = std::move(picture);
    }
    workers_->NotePicture();
    return true;
}

DecodeWorkers::DecodeWorkers(std::function<void()> picturesReady, int threads)
    : picturesReady_(std::move(picturesReady)) {
    if (threads <= 0) {
        threads = std::max(1, QThread::idealThreadCount());
    }
    for (int i = 0; i < threads; ++i) {
        workers_.push_back(std::make_unique<Worker>());
    }
    for (auto& worker : workers_) {
        threads_.emplace_back([this, &worker = *worker] { Run(worker); });
    }
}

DecodeWorkers::~DecodeWorkers() {
    stopping_.store(true);
    for (auto& worker : workers_) {
        std::lock_guard lock(worker->mutex);
        worker->wake.notify_all();
    }
    for (auto& thread : threads_) {
        thread.join();
    }
}

std::shared_ptr<ChannelDecoding> DecodeWorkers::AddChannel(std::unique_ptr<VideoDecoder> decoder) {
    const int worker = nextWorker_;
    nextWorker_ = (nextWorker_ + 1) % static_cast<int>(workers_.size());
    auto channel = std::make_shared<ChannelDecoding>(ChannelDecoding::Made{}, *this, worker,
                                                     std::move(decoder));
    Worker& target = *workers_[static_cast<std::size_t>(worker)];
    std::lock_guard lock(target.mutex);
    target.channels.push_back(channel);
    return channel;
}

void DecodeWorkers::Enqueue(int worker, std::shared_ptr<ChannelDecoding> channel) {
    Worker& target = *workers_[static_cast<std::size_t>(worker)];
    {
        std::lock_guard lock(target.mutex);
        target.turns.push_back(std::move(channel));
    }
    target.wake.notify_one();
}

void DecodeWorkers::Run(Worker& worker) {
    // Named, so that top and a profiler tell the decoding apart from the GUI thread.
    pthread_setname_np(pthread_self(), "orvane-decode");
    worker.lastReview = ChannelDecoding::Clock::now();
    while (true) {
        std::shared_ptr<ChannelDecoding> channel;
        {
            std::unique_lock lock(worker.mutex);
            // Woken for the reviews too, which bring reduced channels back once it is idle.
            worker.wake.wait_for(lock, kReviewInterval,
                                 [&] { return stopping_.load() || !worker.turns.empty(); });
            if (stopping_.load()) {
                return;
            }
            if (!worker.turns.empty()) {
                channel = std::move(worker.turns.front());
                worker.turns.pop_front();
            }
        }
        if (channel) {
            channel->DecodeNext();
            channel.reset();
        }
        if (ChannelDecoding::Clock::now() - worker.lastReview >= kReviewInterval) {
            Review(worker);
        }
    }
}

void DecodeWorkers::Review(Worker& worker) {
    using Clock = ChannelDecoding::Clock;
    const Clock::time_point now = Clock::now();
    const double seconds = std::chrono::duration<double>(now - worker.lastReview).count();
    worker.lastReview = now;
    std::vector<std::shared_ptr<ChannelDecoding>> channels;
    {
        std::lock_guard lock(worker.mutex);
        std::erase_if(worker.channels, [](const auto& channel) { return channel.expired(); });
        for (const auto& channel : worker.channels) {
            if (auto held = channel.lock()) {
                channels.push_back(std::move(held));
            }
        }
    }
    // What the channels ask of the worker at their frame rates, and whether any lags.
    double demand = 0;
    bool behind = false;
    std::vector<std::pair<Clock::duration, ChannelDecoding*>> full;
    std::vector<ChannelDecoding*> reduced;
    for (const auto& channel : channels) {
        ChannelDecoding::Load& load = channel->load_;
        const std::uint64_t frames = channel->submitted_.load(std::memory_order_relaxed);
        const std::uint64_t keys = channel->submittedKeys_.load(std::memory_order_relaxed);
        const double rate = static_cast<double>(frames - load.countedFrames) / seconds;
        const double keyRate = static_cast<double>(keys - load.countedKeys) / seconds;
        const bool first = load.countedFrames == 0;
        load.rate = first ? rate : load.rate + kRateWeight * (rate - load.rate);
        load.keyRate = first ? keyRate : load.keyRate + kRateWeight * (keyRate - load.keyRate);
        load.countedFrames = frames;
        load.countedKeys = keys;
        ChannelDecoding::Rate state;
        {
            std::lock_guard lock(channel->mutex_);
            state = channel->rate_;
        }
        const Clock::duration lag = channel->Lag();
        const std::uint64_t skips = channel->skips_.load(std::memory_order_relaxed);
        behind = behind || lag > ChannelDecoding::kBehindLimit || skips != load.countedSkips;
        load.countedSkips = skips;
        if (state == ChannelDecoding::Rate::KeyFrames) {
            demand += load.KeysOnly();
            reduced.push_back(channel.get());
        } else {
            demand += load.Full();
            if (state == ChannelDecoding::Rate::Full) {
                full.emplace_back(lag, channel.get());
            }
        }
    }
    // Overloaded: frames wait too long (or were skipped to catch up) and the channels ask more
    // than the worker has, at two of the last four reviews (a single stall of the machine is
    // caught up with by skipping to a key frame alone). A reduction takes a moment to drain
    // what waits: the next one waits for it.
    worker.overloadedReviews =
        (worker.overloadedReviews << 1 | (behind && demand > kMostLoad ? 1u : 0u)) & 0xFu;
    const bool settled = now - worker.lastReduction > 2 * kReviewInterval;
    if (std::popcount(worker.overloadedReviews) >= 2 && settled && !full.empty()) {
        // Furthest behind first; of those level, the dearest.
        std::sort(full.begin(), full.end(), [](const auto& a, const auto& b) {
            return a.first != b.first ? a.first > b.first
                                      : a.second->load_.Full() > b.second->load_.Full();
        });
        int count = 0;
        for (const auto& [lag, channel] : full) {
            if (count > 0 && demand <= kReducedLoad) {
                break;
            }
            demand -= channel->load_.Full() - channel->load_.KeysOnly();
            channel->Reduce();
            ++count;
        }
        worker.lastReduction = now;
        worker.overloadedReviews = 0;
        qCInfo(lcMedia) << "decoding cannot keep up:" << count
                        << "more channels show only their key frames";
        return;
    }
    std::sort(reduced.begin(), reduced.end(),
              [](const auto* a, const auto* b) { return a->load_.reducedAt < b->load_.reducedAt; });
    for (ChannelDecoding* channel : reduced) {
        const double extra = channel->load_.Full() - channel->load_.KeysOnly();
        if (demand + extra <= kRestoreLoad) {
            demand += extra;
            channel->Restore();
        }
    }
}

void DecodeWorkers::NotePicture() {
    if (!notifyPending_.exchange(true) && picturesReady_) {
        picturesReady_();
    }
}

}  // namespace orvane
