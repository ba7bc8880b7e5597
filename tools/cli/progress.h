#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QTextStream>

namespace orvane::cli {

// A progress line on a terminal: rewritten in place with '\r' at most a few times a second
// and erased at the end, so that it never mixes with what goes to stdout. Disabled, it writes
// nothing at all; main enables it only when stderr is a terminal and --quiet is absent.
class ProgressLine {
  public:
    ProgressLine(QTextStream& stream, bool enabled);
    ~ProgressLine();
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    bool enabled() const { return enabled_; }
    // Shows text unless a line was shown (or the line was made, or restarted) less than
    // kMinGapMs ago, so that work done within that time shows no line at all.
    void Show(const QString& text);
    // Erases the line, if one is on show.
    void Clear();
    // Counts the interval before the next line from now: a new piece of work begins.
    void Restart() { sinceShown_.restart(); }

    // How often a caller offers a line, and the least time between two shown; the slack
    // lets a timer of kIntervalMs show every one.
    static constexpr int kIntervalMs = 250;
    static constexpr int kMinGapMs = 200;

  private:
    QTextStream& stream_;
    bool enabled_;
    bool shown_ = false;
    QElapsedTimer sinceShown_;
};

// True when stderr is a terminal.
bool StderrIsTerminal();

// "1.5 MiB" and the like, for the progress line.
QString ByteCount(qint64 bytes);

}  // namespace orvane::cli
