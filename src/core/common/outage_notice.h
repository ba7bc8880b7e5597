#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <set>

namespace orvane {

// What keeps failing together: every recording that cannot write, every channel whose feed
// has died. One outage of a kind lasts from the first failure until nothing of the kind fails
// any more, and none has failed for a while (OutageNotice::SettleMs).
enum class OutageKind { Recording, DeadFeed };
inline constexpr int kOutageKinds = 2;

// Many things fail together when a folder goes, a disk fills or a site's link dies: the
// operator is told once per outage, by one notice covering everything it affects, and told
// again by the same notice when it is over. Nothing here shows anything; the main frame puts
// the notice in the status line and on the desktop. GUI thread.
//
// Keys name what failed within a kind (a recording, a channel): reporting a key twice counts
// it once.
class OutageNotice : public QObject {
    Q_OBJECT
  public:
    using Clock = std::function<QDateTime()>;

    // One cause is not found by everything it breaks at once: a folder removed under many
    // recordings is found by each at its own next batch of frames (up to a second apart), and
    // each goes on at once in a new clip. What works again this soon after the
    // last failure of its kind stays counted until the failures have stopped this long, so
    // that the next one found is counted into the same outage instead of opening its own.
    // Dead feeds need no wait: one check finds every feed that died, a minute after the fact.
    static constexpr std::int64_t SettleMs(OutageKind kind) {
        return kind == OutageKind::Recording ? 5000 : 0;
    }

    struct Told {
        OutageKind kind = OutageKind::Recording;
        bool ended = false;
        QString summary;  // a title: "Recording failed", "Recording resumed"
        QString text;     // one line: what, how many, since when
    };

    explicit OutageNotice(Clock clock = {}, QObject* parent = nullptr);

    // key of kind fails, text says how, since when it began (now when not given: a feed is
    // only called dead a while after its last frame). The first failure while none of its
    // kind is open opens an outage and is told (and logged); later ones are counted into it.
    void Report(OutageKind kind, const QString& key, const QString& text,
                const QDateTime& since = {});
    // key works again. The last one failing ends the outage, told with the time it ended;
    // within SettleMs of the last failure it is only noted, and Settle takes it out.
    void Resolve(OutageKind kind, const QString& key);
    // Takes out what works again once no failure has come for SettleMs, ending an outage
    // that nothing fails in any more. Called now and then (the main frame's tick).
    void Settle();
    // key is no longer there to fail (its recording was stopped, its window closed). The last
    // one going ends the outage without a word of recovery.
    void Withdraw(OutageKind kind, const QString& key);

    bool open(OutageKind kind) const { return !Of(kind).failing.empty(); }
    int affected(OutageKind kind) const { return static_cast<int>(Of(kind).failing.size()); }
    // The notice of kind as it stands: the open outage, or how the last one ended; empty
    // summary when there is nothing to say.
    Told Current(OutageKind kind) const;
    // Every kind's notice on one line, for the status line; empty when nothing is to say.
    QString StatusText() const;

  signals:
    // Once when an outage opens, once when it ends.
    void told(const orvane::OutageNotice::Told& notice);
    // What Current() says changed (a count, an end): the notice on screen follows.
    void changed(orvane::OutageKind kind);

  private:
    struct State {
        std::map<QString, QString> failing;  // key -> how it fails
        std::set<QString> settling;          // failing keys that work again, not yet out
        QString firstKey;                    // the failure the notice names: the first
        QString firstText;                   // one still failing
        QDateTime since;
        QDateTime lastFailure;
        QDateTime lastResolved;  // when the last of settling worked again
        // How the last outage ended; empty while one is open or none ended.
        QString endedText;
    };

    State& Of(OutageKind kind) { return states_[static_cast<std::size_t>(kind)]; }
    const State& Of(OutageKind kind) const { return states_[static_cast<std::size_t>(kind)]; }
    void Remove(OutageKind kind, const QString& key, bool recovered, const QDateTime& when = {});
    void SettleKind(OutageKind kind);
    bool Quiet(OutageKind kind) const;

    Clock clock_;
    std::array<State, kOutageKinds> states_;
};

}  // namespace orvane
