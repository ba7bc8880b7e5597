#include "site/site_notice.h"

namespace orvane {

const char* SiteNoticeName(SiteNotice notice) {
    switch (notice) {
        case SiteNotice::LoginAccepted:
            return "login accepted";
        case SiteNotice::LoginRejected:
            return "login rejected";
        case SiteNotice::LimitReached:
            return "limit reached";
        case SiteNotice::SiteClosing:
            return "site closing";
        case SiteNotice::NoCodec:
            return "no codec";
        case SiteNotice::ChannelListChanged:
            return "channel list changed";
        case SiteNotice::LinkLost:
            return "link lost";
        case SiteNotice::LinkEnded:
            return "link ended";
        case SiteNotice::LinkBack:
            return "link back";
    }
    return "?";
}

}  // namespace orvane
