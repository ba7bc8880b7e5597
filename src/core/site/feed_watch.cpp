#include "site/feed_watch.h"

namespace orvane {

QString NoVideoSinceText(const QDateTime& lastFrame, const QDateTime& now) {
    const QTime time = lastFrame.time();
    QString when = QString::asprintf("%02d:%02d:%02d", time.hour(), time.minute(), time.second());
    if (lastFrame.date() != now.date()) {
        const QDate date = lastFrame.date();
        when = QString::asprintf("%04d/%02d/%02d ", date.year(), date.month(), date.day()) + when;
    }
    return QStringLiteral("No video since ") + when;
}

FeedWatch::Update FeedWatch::Frame(const FeedTime& now) {
    Update update;
    started_ = true;
    linkDown_ = false;
    lastSteady_ = now.steady;
    lastWall_ = now.wall;
    if (!mark_.isEmpty()) {
        mark_.clear();
        update.markChanged = true;
    }
    if (outage_) {
        outage_ = false;
        update.outageEnds = true;
    }
    return update;
}

FeedWatch::Update FeedWatch::LinkDown(const FeedTime& now) {
    linkDown_ = true;
    return Check(now);
}

FeedWatch::Update FeedWatch::Check(const FeedTime& now) {
    Update update;
    if (!started_) {
        return update;  // nothing shown yet, nothing to pass for live
    }
    const auto still = now.steady - lastSteady_;
    if (!linkDown_ && still < kStillLimit) {
        return update;
    }
    // Made again on every check: past midnight the date joins the time.
    QString mark = NoVideoSinceText(lastWall_.toLocalTime(), now.wall.toLocalTime());
    if (mark != mark_) {
        mark_ = std::move(mark);
        update.markChanged = true;
    }
    if (!outage_ && still >= kOutageLimit) {
        outage_ = true;
        update.outageBegins = true;
    }
    return update;
}

QString FeedOutageText(const FeedOutage& outage, const QDateTime& now) {
    const QString channel = QString::asprintf("Channel %04u: ", outage.channelId);
    switch (outage.change) {
        case FeedOutage::Change::Dead:
            return channel + NoVideoSinceText(outage.lastFrame, now).replace(0, 1, QChar('n'));
        case FeedOutage::Change::Back:
            return channel + QStringLiteral("video is back");
        case FeedOutage::Change::Closed:
            return channel + QStringLiteral("closed while without video");
    }
    return {};
}

}  // namespace orvane
