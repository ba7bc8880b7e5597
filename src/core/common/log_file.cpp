#include "common/log_file.h"

#include "common/base_dirs.h"
#include "common/log.h"
#include "common/version.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace orvane {
namespace {

const char* TypeName(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return "debug";
        case QtInfoMsg:
            return "info";
        case QtWarningMsg:
            return "warning";
        case QtCriticalMsg:
            return "critical";
        case QtFatalMsg:
            return "fatal";
    }
    return "message";
}

QByteArray FormatLine(qint64 msecsSinceEpoch, QtMsgType type, const QByteArray& category,
                      QString text) {
    while (text.endsWith(u'\n')) {
        text.chop(1);
    }
    // A message of several lines stays one entry: its further lines are indented.
    text.replace(u'\n', QStringLiteral("\n    "));
    QByteArray line = QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch)
                          .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"))
                          .toLatin1();
    line.append(' ').append(category).append(' ').append(TypeName(type)).append(": ");
    line.append(text.toUtf8()).append('\n');
    return line;
}

// Makes the folders leading to path that are missing, each for its owner alone.
void MakeFolders(const std::string& path) {
    for (auto slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0700);  // one that exists stays as it is
    }
}

}  // namespace

std::string LogFilePath() {
    return BaseFolder("XDG_STATE_HOME", ".local/state") + "/" + kCompanyName + "/orvane.log";
}

void LogFile::Descriptor::reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

LogFile::LogFile(std::string path, std::int64_t maxBytes)
    : path_(std::move(path)), maxBytes_(maxBytes) {
    if (!Open()) {
        qCWarning(lcApp) << "cannot write the log file" << path_.c_str() << ":"
                         << std::strerror(errno);
    }
    writer_ = std::thread([this] { Run(); });
}

LogFile::~LogFile() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
}

void LogFile::Append(QtMsgType type, const char* category, const QString& text) {
    Entry entry{QDateTime::currentMSecsSinceEpoch(), type, QByteArray(category), text};
    {
        const std::lock_guard lock(mutex_);
        if (queue_.size() >= kQueueLimit) {
            ++dropped_;
            return;
        }
        queue_.push_back(std::move(entry));
        ++queued_;
    }
    wake_.notify_one();
}

void LogFile::Flush() {
    std::unique_lock lock(mutex_);
    const std::uint64_t target = queued_;
    caughtUp_.wait(lock, [&] { return done_ >= target; });
}

void LogFile::Run() {
    std::vector<Entry> batch;
    for (;;) {
        std::uint64_t dropped = 0;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return !queue_.empty() || dropped_ > 0 || stopping_; });
            if (queue_.empty() && dropped_ == 0) {
                return;  // stopping, and everything is written
            }
            batch.swap(queue_);
            dropped = std::exchange(dropped_, 0);
        }
        WriteBatch(batch, dropped);
        {
            const std::lock_guard lock(mutex_);
            done_ += batch.size();
        }
        caughtUp_.notify_all();
        batch.clear();
    }
}

void LogFile::WriteBatch(const std::vector<Entry>& batch, std::uint64_t dropped) {
    QByteArray pending;
    const auto add = [&](const QByteArray& line) {
        if (size_ > 0 && size_ + line.size() > maxBytes_) {
            WriteOut(pending);
            pending.clear();
            Rotate();
        }
        size_ += line.size();
        pending += line;
    };
    for (const Entry& entry : batch) {
        add(FormatLine(entry.msecsSinceEpoch, entry.type, entry.category, entry.text));
    }
    if (dropped > 0) {
        add(FormatLine(QDateTime::currentMSecsSinceEpoch(), QtWarningMsg, "orvane.app",
                       QStringLiteral("%1 log lines dropped: they came faster than the file "
                                      "took them")
                           .arg(dropped)));
    }
    WriteOut(pending);
}

void LogFile::WriteOut(const QByteArray& bytes) {
    const char* data = bytes.constData();
    auto left = static_cast<std::size_t>(bytes.size());
    while (left > 0 && fd_.get() >= 0) {
        const ssize_t written = ::write(fd_.get(), data, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // a full or failing disk loses these lines, nothing more
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
}

bool LogFile::Open() {
    MakeFolders(path_);
    fd_.reset(::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600));
    struct stat status {};
    size_ = fd_.get() >= 0 && ::fstat(fd_.get(), &status) == 0 ? status.st_size : 0;
    return fd_.get() >= 0;
}

void LogFile::Rotate() {
    fd_.reset();
    const auto numbered = [this](int n) {
        return n == 0 ? path_ : path_ + "." + std::to_string(n);
    };
    // Oldest first; renaming onto the last one drops it. A file missing is skipped.
    for (int n = kFileCount - 1; n > 0; --n) {
        ::rename(numbered(n - 1).c_str(), numbered(n).c_str());
    }
    Open();
}

}  // namespace orvane
