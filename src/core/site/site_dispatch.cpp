// What the connection does with each message a site sends. What a message says is decided
// by DecodeSiteMessage; here it is only acted on.
#include "common/log.h"
#include "site/site_connection.h"

namespace orvane {

void SiteConnection::Dispatch(std::span<const std::uint8_t> message) {
    std::visit([this](const auto& typed) { Act(typed); }, sitemsg::DecodeSiteMessage(message));
}

void SiteConnection::Act(const sitemsg::ChannelList& list) {
    channelOpenPermission_ = list.openPermission();
    channelClosePermission_ = list.closePermission();
    std::vector<ChannelEntry> entries;
    entries.reserve(list.entries.size());
    for (const auto& entry : list.entries) {
        // Kept as the program shows it; the wire's text is the site's code page.
        entries.push_back({entry.id, codePage_.Decode(entry.name).toStdString()});
    }
    services_.channels.Replace(std::move(entries));
    Notify(SiteNotice::ChannelListChanged);
}

void SiteConnection::Act(const sitemsg::LoginAccepted&) {
    const bool again = loggingInAgain();
    loggedIn_ = true;
    // Windows kept through a reconnect get their video again, and what waited goes. The
    // first login's windows were asked for on this session already.
    if (again) {
        ReopenKeptChannels();
    }
    Notify(SiteNotice::LoginAccepted);
}

void SiteConnection::Act(const sitemsg::LoginRejected&) {
    // What waited for this login goes with it.
    awaitingLogin_.clear();
    Notify(SiteNotice::LoginRejected);
}

void SiteConnection::Act(const sitemsg::LoginAgain&) {
    Login();
}

void SiteConnection::Act(const sitemsg::ChannelStopped& stop) {
    channelSet_.MarkStopped(stop.channelNumber);
}

void SiteConnection::Act(const sitemsg::EventRecord& record) {
    if (services_.events) {
        services_.events->AddEventRecord(record.record);
    }
}

void SiteConnection::Act(const sitemsg::LimitReached&) {
    Notify(SiteNotice::LimitReached);
}

void SiteConnection::Act(const sitemsg::SiteClosing&) {
    Notify(SiteNotice::SiteClosing);
}

void SiteConnection::Act(const sitemsg::StreamError& error) {
    qCDebug(lcSite) << "unknown site message type" << error.type;
    services_.observer.SetStatusLine(sitetext::kStreamError);
}

void SiteConnection::Act(const sitemsg::Dropped& dropped) {
    // Told once a link: a faulty site sends the same thing with every frame.
    if (dropped.notable && droppedTold_.insert(dropped.reason).second) {
        qCWarning(lcSite) << "site message of type" << dropped.type << "dropped:" << dropped.reason;
    } else {
        qCDebug(lcSite) << "site message of type" << dropped.type << "dropped:" << dropped.reason;
    }
}

void SiteConnection::Act(const sitemsg::VideoFrame& frame) {
    if (noCodec_) {
        return;  // told once; the link ends as the notice is handled
    }
    if (!decoder_) {
        decoder_ = FindDecoder(frame.frame.header);
        if (!decoder_) {
            noCodec_ = true;
            qCWarning(lcSite) << "no decoder for"
                              << FourccText(frame.frame.header.biCompression).c_str();
            Notify(SiteNotice::NoCodec);
            return;
        }
        qCInfo(lcSite) << "decoding with" << decoder_->name.c_str() << "found by"
                       << decoder_->handler.c_str();
    }
    if (channelSet_.TakeFrame(frame, *decoder_, channelClosePermission_, alarmMode_)) {
        ++frameCounter_;
    }
}

}  // namespace orvane
