#include "media/media_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvane {
namespace {

class PosixMediaFile final : public MediaFile {
  public:
    PosixMediaFile(int fd, QByteArray name, bool created)
        : fd_(fd), name_(std::move(name)), created_(created) {}
    ~PosixMediaFile() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    PosixMediaFile(const PosixMediaFile&) = delete;
    PosixMediaFile& operator=(const PosixMediaFile&) = delete;

    ssize_t WriteAt(std::uint64_t pos, std::span<const iovec> parts) override {
        return ::pwritev(fd_, parts.data(), static_cast<int>(parts.size()),
                         static_cast<off_t>(pos));
    }
    bool Truncate(std::uint64_t size) override {
        return ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
    }
    void StartWriteBack() override { ::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE); }
    bool Removed() const override {
        struct stat info {};
        return fd_ >= 0 && ::fstat(fd_, &info) == 0 && info.st_nlink == 0;
    }
    bool Unreachable() const override {
        struct stat open {};
        struct stat named {};
        if (fd_ < 0 || ::fstat(fd_, &open) != 0) {
            return false;
        }
        return ::stat(name_.constData(), &named) != 0 || named.st_dev != open.st_dev ||
               named.st_ino != open.st_ino;
    }
    bool Close() override {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }
    void Discard() override {
        // Only what this open made goes: unlinking a name that was there before would take
        // away a device node or the link to someone else's file.
        const bool remove = created_ && !Removed();
        Close();
        if (remove) {
            ::unlink(name_.constData());
        }
    }

  private:
    int fd_;
    QByteArray name_;
    bool created_;
};

}  // namespace

std::unique_ptr<MediaFile> OpenMediaFile(const QString& path, bool exclusive, QString& error) {
    QByteArray name = path.toLocal8Bit();
    int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (exclusive ? O_EXCL : O_TRUNC);
    bool created = exclusive;
    if (!exclusive) {
        // Created here only when nothing answered to the name; O_EXCL makes that certain.
        struct stat info {};
        if (::lstat(name.constData(), &info) != 0 && errno == ENOENT) {
            flags |= O_EXCL;
            created = true;
        }
    }
    const int fd = ::open(name.constData(), flags, 0644);
    if (fd < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return nullptr;
    }
    return std::make_unique<PosixMediaFile>(fd, std::move(name), created);
}

}  // namespace orvane
