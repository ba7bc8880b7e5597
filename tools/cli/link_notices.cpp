#include "link_notices.h"

#include "site/site_connection.h"

namespace orvane::cli {

QString FailureFor(SiteNotice notice) {
    switch (notice) {
        case SiteNotice::LoginRejected:
            return QStringLiteral("login rejected");
        case SiteNotice::LimitReached:
            return QStringLiteral("limit reached: the site takes no more connections");
        case SiteNotice::NoCodec:
            return QStringLiteral("no codec for the site's video");
        case SiteNotice::SiteClosing:
        case SiteNotice::LinkLost:
        case SiteNotice::LinkEnded:
            return QStringLiteral("the site closed the connection");
        case SiteNotice::LoginAccepted:
        case SiteNotice::ChannelListChanged:
        case SiteNotice::LinkBack:
            break;
    }
    return {};
}

QString TimeoutBeforeFrames(const SiteConnection& connection) {
    return connection.loggedIn() ? QStringLiteral("timeout: no frames")
                                 : QStringLiteral("timeout: the login was not answered");
}

}  // namespace orvane::cli
