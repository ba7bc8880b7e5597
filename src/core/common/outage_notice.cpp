#include "common/outage_notice.h"

#include "common/log.h"

#include <algorithm>
#include <utility>

namespace orvane {
namespace {

QString TimeOfDay(const QDateTime& when) {
    return when.toString(QStringLiteral("HH:mm:ss"));
}

// A failure's text may run over lines (a path, then why): the notice keeps it to one.
QString OneLine(const QString& text) {
    return text.simplified();
}

struct Wording {
    const char* openSummary;
    const char* endSummary;
    const char* one;   // what fails, one of it
    const char* many;  // and more than one
    const char* failingSince;
    const char* endedAt;
};

Wording WordingOf(OutageKind kind) {
    switch (kind) {
        case OutageKind::DeadFeed:
            return {"No video",
                    "Video back",
                    "channel",
                    "channels",
                    "without video since %1",
                    "Video came back at %1 (gone since %2)."};
        case OutageKind::Recording:
            break;
    }
    return {"Recording failed", "Recording resumed", "recording",
            "recordings",       "failing since %1",  "Writing resumed at %1 (failing since %2)."};
}

}  // namespace

OutageNotice::OutageNotice(Clock clock, QObject* parent)
    : QObject(parent), clock_(std::move(clock)) {
    if (!clock_) {
        clock_ = [] { return QDateTime::currentDateTime(); };
    }
}

void OutageNotice::Report(OutageKind kind, const QString& key, const QString& text,
                          const QDateTime& since) {
    State& state = Of(kind);
    const bool opening = state.failing.empty();
    const bool counted = state.failing.insert_or_assign(key, text).second;
    state.settling.erase(key);
    state.lastFailure = clock_();
    if (opening) {
        state.firstKey = key;
        state.firstText = OneLine(text);
        state.since = since.isValid() ? since : clock_();
        state.endedText.clear();
        const Told notice = Current(kind);
        qCWarning(lcApp).noquote() << notice.summary << "-" << notice.text;
        emit told(notice);
    } else if (counted) {
        qCInfo(lcApp).noquote() << "also failing:" << OneLine(text);
    }
    if (opening || counted) {
        emit changed(kind);
    }
}

void OutageNotice::Resolve(OutageKind kind, const QString& key) {
    State& state = Of(kind);
    if (!state.failing.contains(key)) {
        return;
    }
    state.settling.insert(key);
    state.lastResolved = clock_();
    SettleKind(kind);
}

void OutageNotice::Withdraw(OutageKind kind, const QString& key) {
    Remove(kind, key, false);
}

void OutageNotice::Settle() {
    for (int kind = 0; kind < kOutageKinds; ++kind) {
        SettleKind(static_cast<OutageKind>(kind));
    }
}

void OutageNotice::SettleKind(OutageKind kind) {
    State& state = Of(kind);
    if (state.settling.empty() || !Quiet(kind)) {
        return;
    }
    // Out in turn, the last ending the outage with the time it really worked again.
    const std::set<QString> settled = std::exchange(state.settling, {});
    for (const QString& key : settled) {
        Remove(kind, key, true, state.lastResolved);
    }
}

bool OutageNotice::Quiet(OutageKind kind) const {
    const qint64 sinceFailure = Of(kind).lastFailure.msecsTo(clock_());
    // A clock set back must not hold an outage open until it gets there again.
    return sinceFailure < 0 || sinceFailure >= SettleMs(kind);
}

void OutageNotice::Remove(OutageKind kind, const QString& key, bool recovered,
                          const QDateTime& when) {
    State& state = Of(kind);
    state.settling.erase(key);
    if (state.failing.erase(key) == 0) {
        return;
    }
    if (!state.failing.empty() && key == state.firstKey) {
        // The notice never names what works again: one that still fails, if any does.
        const auto named = std::ranges::find_if(state.failing, [&](const auto& failure) {
            return !state.settling.contains(failure.first);
        });
        const auto& [firstKey, firstText] =
            named != state.failing.end() ? *named : *state.failing.begin();
        state.firstKey = firstKey;
        state.firstText = OneLine(firstText);
    }
    if (state.failing.empty()) {
        const Wording words = WordingOf(kind);
        if (recovered) {
            state.endedText =
                QString::fromLatin1(words.endedAt)
                    .arg(TimeOfDay(when.isValid() ? when : clock_()), TimeOfDay(state.since));
            const Told notice = Current(kind);
            qCInfo(lcApp).noquote() << notice.summary << "-" << notice.text;
            emit told(notice);
        } else {
            qCInfo(lcApp).noquote() << words.openSummary << "- nothing affected is left";
        }
    }
    emit changed(kind);
}

OutageNotice::Told OutageNotice::Current(OutageKind kind) const {
    const State& state = Of(kind);
    const Wording words = WordingOf(kind);
    Told notice;
    notice.kind = kind;
    if (!state.failing.empty()) {
        notice.summary = QString::fromLatin1(words.openSummary);
        notice.text = QString::number(state.failing.size()) + QLatin1Char(' ') +
                      QLatin1String(state.failing.size() == 1 ? words.one : words.many) +
                      QLatin1Char(' ') +
                      QString::fromLatin1(words.failingSince).arg(TimeOfDay(state.since)) +
                      QStringLiteral(": ") + state.firstText;
    } else if (!state.endedText.isEmpty()) {
        notice.ended = true;
        notice.summary = QString::fromLatin1(words.endSummary);
        notice.text = state.endedText;
    }
    return notice;
}

QString OutageNotice::StatusText() const {
    QStringList parts;
    for (int kind = 0; kind < kOutageKinds; ++kind) {
        const Told notice = Current(static_cast<OutageKind>(kind));
        if (!notice.summary.isEmpty()) {
            parts << notice.summary + QStringLiteral(": ") + notice.text;
        }
    }
    return parts.join(QStringLiteral("   "));
}

}  // namespace orvane
