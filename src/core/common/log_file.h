#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvane {

// Where the program's log lives: $XDG_STATE_HOME/Quillmar-Brakken/orvane.log
// (~/.local/state when XDG_STATE_HOME is unset or not an absolute path).
std::string LogFilePath();

// A log file that outlives the run, one message a line:
//   2024-05-01 13:02:07.415 orvane.site info: connected to "10.0.0.7" port 1000
// (local time, category, type, text; further lines of a message are indented). It keeps
// kFileCount files of at most maxBytes each: when the next line would not fit, orvane.log
// becomes orvane.log.1, .1 becomes .2 and so on, and the oldest goes.
//
// Threads: Append and Flush may be called from any thread. Append never waits for the disk:
// lines go into a queue of at most kQueueLimit and a thread of this object writes them. What
// comes while the queue is full is dropped and counted; the writer then adds one line saying
// how many were lost. The writer itself never logs, so a failing disk cannot feed its own queue.
class LogFile {
  public:
    static constexpr std::int64_t kDefaultMaxBytes = 5 * 1024 * 1024;
    static constexpr int kFileCount = 5;
    static constexpr std::size_t kQueueLimit = 8192;

    // Makes the file's folder (mode 0700) and opens the file to append to it; a file that
    // cannot be opened is warned about once, and its lines are lost.
    explicit LogFile(std::string path, std::int64_t maxBytes = kDefaultMaxBytes);
    // Writes what is queued, then ends the writer.
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Queues one message, stamped with the time of this call.
    void Append(QtMsgType type, const char* category, const QString& text);
    // Returns once every line appended before the call is written to the file.
    void Flush();

    const std::string& path() const { return path_; }

  private:
    struct Entry {
        qint64 msecsSinceEpoch = 0;
        QtMsgType type = QtDebugMsg;
        QByteArray category;
        QString text;
    };

    class Descriptor {
      public:
        Descriptor() = default;
        ~Descriptor() { reset(); }
        Descriptor(const Descriptor&) = delete;
        Descriptor& operator=(const Descriptor&) = delete;
        void reset(int fd = -1);
        int get() const { return fd_; }

      private:
        int fd_ = -1;
    };

    void Run();
    void WriteBatch(const std::vector<Entry>& batch, std::uint64_t dropped);
    void WriteOut(const QByteArray& bytes);
    bool Open();
    void Rotate();

    const std::string path_;
    const std::int64_t maxBytes_;

    // Guarded by mutex_.
    std::mutex mutex_;
    std::condition_variable wake_;      // the writer: lines queued, or stopping
    std::condition_variable caughtUp_;  // Flush: the writer is done with what was queued
    std::vector<Entry> queue_;
    std::uint64_t dropped_ = 0;
    std::uint64_t queued_ = 0;  // lines ever queued
    std::uint64_t done_ = 0;    // of those, lines the writer is done with
    bool stopping_ = false;

    // The writer thread's alone once it runs.
    Descriptor fd_;
    std::int64_t size_ = 0;  // bytes in the current file

    std::thread writer_;  // last: it starts once everything above exists
};

}  // namespace orvane
