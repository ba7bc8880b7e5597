// What the connection does with each message a site sends. What a message says is decided
// by DecodeSiteMessage; here it is only acted on.
#include "common/command_ids.h"
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
}

void SiteConnection::Act(const sitemsg::LoginAccepted&) {
    loggedIn_ = true;
    // Windows kept through a reconnect get their video again.
    ReopenKeptChannels();
    services_.frame.PostCommand(cmd::kOpenChannel);
}

void SiteConnection::Act(const sitemsg::LoginRejected&) {
    services_.frame.PostCommand(cmd::kLoginError);
}

void SiteConnection::Act(const sitemsg::LoginAgain&) {
    Login();
}

void SiteConnection::Act(const sitemsg::ChannelStopped& stop) {
    ChannelLink* link = FindLinkByNumber(stop.channelNumber);
    if (link && link->hasWindow()) {
        link->stopped = true;
        link->window->MarkStopped();
    }
}

void SiteConnection::Act(const sitemsg::EventRecord& record) {
    if (services_.events) {
        services_.events->AddEventRecord(record.record);
    }
}

void SiteConnection::Act(const sitemsg::LimitReached&) {
    services_.frame.PostCommand(cmd::kLimitError);
}

void SiteConnection::Act(const sitemsg::SiteClosing&) {
    services_.frame.PostCommand(cmd::kDisconnect);
}

void SiteConnection::Act(const sitemsg::StreamError& error) {
    qCDebug(lcSite) << "unknown site message type" << error.type;
    services_.frame.SetStatusLine(sitetext::kStreamError);
}

void SiteConnection::Act(const sitemsg::Dropped& dropped) {
    qCDebug(lcSite) << "site message of type" << dropped.type << "dropped:" << dropped.reason;
}

void SiteConnection::Act(const sitemsg::VideoFrame& frame) {
    if (!decoder_) {
        decoder_ = FindDecoder(frame.frame.header);
        if (!decoder_) {
            qCWarning(lcSite) << "no decoder for"
                              << FourccText(frame.frame.header.biCompression).c_str();
            services_.frame.PostCommand(cmd::kCodecError);
            return;
        }
        qCInfo(lcSite) << "decoding with" << decoder_->name.c_str() << "found by"
                       << decoder_->handler.c_str();
    }
    ChannelLink* link = LinkForFrame(frame);
    if (!link) {
        return;
    }
    ++frameCounter_;
    if (link->frameSink) {
        link->frameSink->TakeFrame(frame.packed);
    }
    const bool keyFrame = link->StoreFrame(frame.packed);
    if (!link->decoding && !link->decoderFailed) {
        auto decoder = VideoDecoder::Create(*decoder_, frame.frame.header);
        if (!decoder) {
            // The window stays, without pictures; the frames are still kept and recorded.
            link->decoderFailed = true;
            qCWarning(lcSite) << "cannot open" << decoder_->name.c_str() << "for channel"
                              << link->channelId;
        } else {
            link->decoding = Workers().AddChannel(std::move(decoder));
        }
    }
    if (link->decoding) {
        // Pictures come back through PresentPictures, at most at the display's rate.
        link->decoding->Submit(link->latestFrame, keyFrame);
    }
}

ChannelLink* SiteConnection::LinkForFrame(const sitemsg::VideoFrame& frame) {
    ChannelLink* link = FindLinkByNumber(frame.channelNumber);
    if (link && link->hasWindow()) {
        return link;
    }
    if (link && !link->reopenRequested) {
        return nullptr;  // the operator closed this channel; frames still on the way are dropped
    }
    if (!link) {
        link = &links_.emplace_back();
        link->channelNumber = frame.channelNumber;
    }
    link->channelId = frame.channelId;
    link->reopenRequested = false;
    link->stopped = false;
    link->decoding.reset();
    link->decoderFailed = false;
    if (!MakeWindow(*link, frame.frame)) {
        // No window: the link stays closed, as if the operator had closed it.
        return nullptr;
    }
    return link;
}

bool SiteConnection::MakeWindow(ChannelLink& link, const PackedFrame& frame) {
    ChannelWindowParams params;
    params.channelId = link.channelId;
    params.channelNumber = link.channelNumber;
    params.closePermission = channelClosePermission_;
    params.format = frame.header;
    params.pictureSize = QSize(frame.width(), frame.height());
    ChannelWindow* window = services_.host.CreateChannelWindow(params);
    if (!window) {
        return false;
    }
    QObject* object = window->object();
    connect(object, &QObject::destroyed, this, [this, object] { ForgetWindow(object); });
    link.window = window;
    link.windowObject = object;
    link.windowIdentity = object;
    NoteWindowsChanged();
    if (alarmMode_) {
        services_.host.PlayAlarm();
        window->StartAlarmActions();
    }
    return true;
}

}  // namespace orvane
