#pragma once

namespace orvane {

class SiteConnection;

// What a video channel window asks of the main frame that holds it. A window looks the
// connection up each time it needs it: it may be gone after any wait.
class VideoWindowOwner {
  public:
    virtual ~VideoWindowOwner() = default;
    // The current site connection; null when there is none.
    virtual SiteConnection* connection() = 0;
    // "Change video size" mode: double clicks cycle the picture size.
    virtual bool videoSizeMode() const = 0;
    // Main bars shown: windows show caption and toolbar too.
    virtual bool toolbarsVisible() const = 0;
};

}  // namespace orvane
