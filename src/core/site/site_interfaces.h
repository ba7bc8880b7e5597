#pragma once

#include "media/decoded_picture.h"
#include "media/live_frame.h"
#include "site/site_notice.h"
#include "wire/bitmap_info.h"

#include <QSize>
#include <QString>

#include <cstdint>
#include <span>

class QObject;

// How a site connection reaches the windows and the main frame above it. The GUI implements
// these; tests implement them with fakes. All calls come on the GUI thread. Notifications go
// up and never call back: an implementation that wants the connection to do something posts
// it instead of calling from inside the notification.
namespace orvane {

// One video channel window, as the connection sees it: something that shows pictures. What
// the channel is (its frames, its stop, its recording) is the connection's.
class ChannelWindow {
  public:
    virtual ~ChannelWindow() = default;

    // The window as a QObject, so the connection notices when it is destroyed.
    virtual QObject* object() = 0;
    virtual void DrawPicture(const DecodedPicture& picture) = 0;
    // The size in device pixels the window shows pictures at, which the pictures are made
    // at; empty for the frame's own size. A window tells its connection when it changes.
    virtual QSize displaySize() const { return {}; }
    // The site stopped the channel: show "Stop.".
    virtual void MarkStopped() = 0;
    // The feed is dead: the last picture is drawn dimmed with this mark ("No video since
    // ..."); empty when frames come again.
    virtual void MarkFeed(const QString& mark) = 0;
    // Decoding cannot keep up and this channel shows only its key frames: the picture is
    // marked "reduced" until it runs at its full rate again.
    virtual void MarkReduced(bool reduced) { (void)reduced; }
    // In alarm mode, from inside the dispatch of the frame that made the window: starts
    // recording at once and returns the recorder, which the connection hands that frame and
    // every one after (nullptr when no clip could start); the snapshot and what the operator
    // is told are posted. Started here, not posted: a link replaced before a posted call runs
    // still leaves its clip.
    virtual FrameSink* StartAlarmActions() = 0;
    // Closes the window (the window-close message).
    virtual void CloseWindow() = 0;
};

struct ChannelWindowParams {
    std::uint32_t channelId = 0;
    std::uint32_t channelNumber = 0;
    bool closePermission = false;
    BitmapInfoHeader format;  // of the channel's first frame
    QSize pictureSize;
};

// Where channel windows are made, and the main frame's services the connection uses.
class ChannelWindowHost {
  public:
    virtual ~ChannelWindowHost() = default;

    // nullptr when the window cannot be created. The host places it (the cascade is its).
    virtual ChannelWindow* CreateChannelWindow(const ChannelWindowParams& params) = 0;
    // A channel window was made or closed. Called once the connection's own state is settled;
    // a host that re-tiles does it later, never from inside this call.
    virtual void ChannelWindowsChanged() = 0;
    virtual void PlayAlarm() = 0;
    // A connection starts (the operator's, a site's call-back, one the reconnect loop made
    // again): the next new window goes to the top-left corner of the cascade again.
    virtual void ConnectionStarted() {}
};

// Where a connection's notices and status line go.
class ConnectionObserver {
  public:
    virtual ~ConnectionObserver() = default;
    // Queued, never run inside the caller: the dispatcher finishes its message first.
    virtual void Notify(SiteNotice notice) = 0;
    virtual void SetStatusLine(const QString& text) = 0;
};

// Receives event records as the site sends them (300 bytes).
class EventRecordSink {
  public:
    virtual ~EventRecordSink() = default;
    virtual void AddEventRecord(std::span<const std::uint8_t> record) = 0;
};

}  // namespace orvane
