#pragma once

#include <QDateTime>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>

namespace orvane {

// When something happened: the steady clock measures how long a feed has been still (a
// wall clock set back must not revive it), the wall clock says when, as the operator reads it.
struct FeedTime {
    std::chrono::steady_clock::time_point steady;
    QDateTime wall;

    // Taken for every frame: in UTC, as the local time would cost a look at the time zone
    // (a stat of its file) each time. The watch turns it to local time when it shows it.
    static FeedTime Now() {
        return {std::chrono::steady_clock::now(), QDateTime::currentDateTimeUtc()};
    }
};
using FeedClock = std::function<FeedTime()>;

// The mark of a dead feed: "No video since hh:mm:ss", with the date ("%04d/%02d/%02d") when
// the last frame came on another day than now.
QString NoVideoSinceText(const QDateTime& lastFrame, const QDateTime& now);

// Whether one channel's feed is alive, so that a frozen picture never passes for a live one.
// A feed is dead while its link is down (lost, reconnecting) or once no frame came for
// kStillLimit; its next frame brings it back. Dead for kOutageLimit it is an outage, told
// once, and once more when it is over.
class FeedWatch {
  public:
    static constexpr std::chrono::seconds kStillLimit{5};
    static constexpr std::chrono::seconds kOutageLimit{60};

    struct Update {
        bool markChanged = false;  // mark() is new: the window draws it (or drops it)
        bool outageBegins = false;
        bool outageEnds = false;
    };

    Update Frame(const FeedTime& now);
    Update LinkDown(const FeedTime& now);
    Update Check(const FeedTime& now);

    // What the window draws over its dimmed picture; empty while the feed lives.
    const QString& mark() const { return mark_; }
    bool dead() const { return !mark_.isEmpty(); }
    bool outage() const { return outage_; }
    QDateTime lastFrame() const { return lastWall_.toLocalTime(); }

  private:
    bool started_ = false;  // a frame has come
    bool linkDown_ = false;
    bool outage_ = false;
    std::chrono::steady_clock::time_point lastSteady_;
    QDateTime lastWall_;
    QString mark_;
};

// What the operator hears of an outage: a channel's feed dead for a minute, back, or its
// window gone while dead.
struct FeedOutage {
    enum class Change { Dead, Back, Closed };
    std::uint32_t channelId = 0;
    Change change = Change::Dead;
    QDateTime lastFrame;
};

// "Channel 0003: no video since 14:03:22" and the like, for the status line and the log.
QString FeedOutageText(const FeedOutage& outage, const QDateTime& now);

}  // namespace orvane
