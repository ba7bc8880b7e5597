#pragma once

#include "media/media_file.h"

#include <memory>

namespace orvane::test {

// A clip file that passes every call to a real one: the disks of the tests put their
// misbehaviour in WriteAt and leave the rest as it is.
class WrappedFile : public MediaFile {
  public:
    explicit WrappedFile(std::unique_ptr<MediaFile> file) : file_(std::move(file)) {}

    ssize_t WriteAt(std::uint64_t pos, std::span<const iovec> parts) override {
        return file_->WriteAt(pos, parts);
    }
    bool Truncate(std::uint64_t size) override { return file_->Truncate(size); }
    void StartWriteBack() override { file_->StartWriteBack(); }
    bool Removed() const override { return file_->Removed(); }
    bool Unreachable() const override { return file_->Unreachable(); }
    bool Close() override { return file_->Close(); }
    void Discard() override { file_->Discard(); }

  private:
    std::unique_ptr<MediaFile> file_;
};

}  // namespace orvane::test
