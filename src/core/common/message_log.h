#pragma once

#include "common/log_file.h"

#include <string>

namespace orvane {

// Sends the run's messages to a LogFile besides the terminal: every message of the program's
// own categories (orvane.*) and the warnings and worse of any other (Qt's own). The terminal
// gets what it got before, through the message handler installed earlier.
//
// Info of orvane.app, .store, .site and .media reaches the file even while the logging rules
// (QT_LOGGING_RULES, qtlogging.ini, setFilterRules) keep it off the terminal: a category filter
// lets that info through and the handler keeps it off the terminal as the rules said. Debug
// follows the rules alone.
//
// One instance at a time. Make it before the threads that log start and destroy it after they
// end; the destructor puts the earlier handler and filter back and writes what is queued.
class MessageLog {
  public:
    explicit MessageLog(std::string path, std::int64_t maxBytes = LogFile::kDefaultMaxBytes);
    ~MessageLog();
    MessageLog(const MessageLog&) = delete;
    MessageLog& operator=(const MessageLog&) = delete;

    // Returns once everything logged before the call is in the file.
    void Flush() { file_.Flush(); }
    const std::string& path() const { return file_.path(); }

  private:
    LogFile file_;
};

}  // namespace orvane
