#include "media/decode_workers.h"

#include "common/log.h"
#include "wire/bitmap_info.h"

#include <QThread>

#include <algorithm>

#include <pthread.h>

namespace orvane {

ChannelDecoding::ChannelDecoding(Made, DecodeWorkers& workers, int worker,
                                 std::unique_ptr<VideoDecoder> decoder)
    : workers_(&workers), worker_(worker), decoder_(std::move(decoder)) {}

bool ChannelDecoding::Submit(const LiveFrame& frame) {
    if (!frame.valid()) {
        return false;
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
            waiting_.clear();
            waitingBytes_ = 0;
            waitingForKey_ = true;
            behind_.store(true, std::memory_order_relaxed);
            qCWarning(lcMedia) << "live decoding fell too far behind; waiting for a key frame";
        }
        if (waitingForKey_) {
            if (!frame.keyFrame) {
                dropped_.fetch_add(1, std::memory_order_relaxed);
                return false;
            }
            waitingForKey_ = false;
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
    waiting_.front().restart = true;
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
    // A picture that a newer one will replace before anyone looks is not worth converting.
    if (newerWaiting) {
        decoder_->DecodeWithoutPicture(frame);
        return true;
    }
    auto picture = decoder_->Decode(frame, pictureSize());
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
    return std::make_shared<ChannelDecoding>(ChannelDecoding::Made{}, *this, worker,
                                             std::move(decoder));
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
    while (true) {
        std::shared_ptr<ChannelDecoding> channel;
        {
            std::unique_lock lock(worker.mutex);
            worker.wake.wait(lock, [&] { return stopping_.load() || !worker.turns.empty(); });
            if (stopping_.load()) {
                return;
            }
            channel = std::move(worker.turns.front());
            worker.turns.pop_front();
        }
        channel->DecodeNext();
    }
}

void DecodeWorkers::NotePicture() {
    if (!notifyPending_.exchange(true) && picturesReady_) {
        picturesReady_();
    }
}

}  // namespace orvane
