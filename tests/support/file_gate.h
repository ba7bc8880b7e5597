#pragma once

#include "media/clip_recorder.h"
#include "media/media_file.h"
#include "support/wrapped_file.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace orvane::test {

// Clip files whose writes wait while the gate is shut: they hold a recorder's writer thread
// still, as a disk or a network share that stops answering does. Give a recorder the gate's
// Opener(), start recording (the headers are written then, so the gate is open), Shut() it,
// hand frames over, Open() it. A write never waits longer than kLongestHoldMs, so a test whose
// recorder does wait for the disk fails instead of hanging.
class FileGate {
  public:
    static constexpr int kLongestHoldMs = 10000;

    void Shut() { Set(true); }
    void Open() { Set(false); }
    // Writes waiting at the gate now.
    int held() const {
        const std::lock_guard lock(state_->mutex);
        return state_->held;
    }
    // Writes that gave up waiting: a recorder that waited for the disk on the caller's thread.
    int heldTooLong() const {
        const std::lock_guard lock(state_->mutex);
        return state_->heldTooLong;
    }

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
        int held = 0;
        int heldTooLong = 0;

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

    class GatedFile final : public WrappedFile {
      public:
        GatedFile(std::unique_ptr<MediaFile> file, std::shared_ptr<State> state)
            : WrappedFile(std::move(file)), state_(std::move(state)) {}
        ssize_t WriteAt(std::uint64_t pos, std::span<const iovec> parts) override {
            state_->Pass();
            return WrappedFile::WriteAt(pos, parts);
        }

      private:
        std::shared_ptr<State> state_;
    };

    void Set(bool shut) {
        {
            const std::lock_guard lock(state_->mutex);
            state_->shut = shut;
        }
        state_->changed.notify_all();
    }

    std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace orvane::test
