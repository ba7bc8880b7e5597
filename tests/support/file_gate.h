#pragma once

#include "media/clip_recorder.h"
#include "media/media_file.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

namespace orvane::test {

// Clip files on a disk the test controls; give a recorder Opener() before it starts. Shut()
// holds every write, as a disk or a network share that stops answering holds a recorder's
// writer thread, until Open(); a write never waits longer than kLongestHoldMs, so a recorder
// that waits for the disk fails its test instead of hanging. SetCapacity() makes the disk that
// size: a write past it puts down what fits and fails with "no space", as a file system does.
class FileGate {
  public:
    static constexpr int kLongestHoldMs = 10000;
    static constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

    void Shut() { Set(true); }
    void Open() { Set(false); }
    void SetCapacity(std::uint64_t bytes) { state_->capacity = bytes; }
    // Writes waiting at the gate now.
    int held() const { return state_->held; }
    // Writes that gave up waiting: a recorder that waited for the disk on the caller's thread.
    int heldTooLong() const { return state_->heldTooLong; }
    int writes() const { return state_->writes; }

    ClipRecorder::FileOpener Opener() const {
        return [state = state_](const QString& path, QString& error) -> std::unique_ptr<MediaFile> {
            auto file = OpenMediaFile(path, true, error);
            return file ? std::make_unique<GatedFile>(std::move(file), state) : nullptr;
        };
    }

  private:
    struct State {
        mutable std::mutex mutex;
        std::condition_variable changed;
        bool shut = false;
        std::atomic<int> held = 0, heldTooLong = 0, writes = 0;
        std::atomic<std::uint64_t> capacity = kUnlimited;

        void Pass() {
            std::unique_lock lock(mutex);
            ++held;
            if (!changed.wait_for(lock, std::chrono::milliseconds(kLongestHoldMs),
                                  [&] { return !shut; })) {
                ++heldTooLong;
            }
            --held;
        }
    };

    class GatedFile final : public MediaFile {
      public:
        GatedFile(std::unique_ptr<MediaFile> file, std::shared_ptr<State> state)
            : file_(std::move(file)), state_(std::move(state)) {}

        ssize_t WriteAt(std::uint64_t pos, std::span<const iovec> parts) override {
            state_->Pass();
            ++state_->writes;
            if (pos >= state_->capacity) {
                errno = ENOSPC;
                return -1;
            }
            std::uint64_t room = state_->capacity - pos;
            std::vector<iovec> fitting;
            for (const iovec& part : parts) {
                const std::size_t length = std::min<std::uint64_t>(part.iov_len, room);
                fitting.push_back({part.iov_base, length});
                room -= length;
            }
            return file_->WriteAt(pos, fitting);
        }
        bool Truncate(std::uint64_t size) override { return file_->Truncate(size); }
        void StartWriteBack() override { file_->StartWriteBack(); }
        bool Removed() const override { return file_->Removed(); }
        bool Unreachable() const override { return file_->Unreachable(); }
        bool Close() override { return file_->Close(); }
        void Discard() override { file_->Discard(); }

      private:
        std::unique_ptr<MediaFile> file_;
        std::shared_ptr<State> state_;
    };

    void Set(bool shut) {
        const std::lock_guard lock(state_->mutex);
        state_->shut = shut;
        state_->changed.notify_all();
    }

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace orvane::test
