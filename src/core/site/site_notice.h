#pragma once

namespace orvane {

// What a connection tells the one above it, in its own words. Delivered later (queued),
// never from inside the dispatch of the message that caused it.
enum class SiteNotice {
    LoginAccepted,       // the site took the login: channels may be opened
    LoginRejected,       // the account or the password was refused
    LimitReached,        // the site takes no more clients
    SiteClosing,         // the site said it is closing
    NoCodec,             // no decoder reads the site's video
    ChannelListChanged,  // the site sent its channel list
    LinkLost,            // the site or the network closed the link, ReLink on: reconnect
    LinkEnded,           // the same with ReLink off: the link is over
    LinkBack,            // a reconnect has a link again (told by the session)
};

// The notice's name, for the log.
const char* SiteNoticeName(SiteNotice notice);

}  // namespace orvane
