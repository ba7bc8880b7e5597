#pragma once

#include "media/bitmap_info.h"
#include "media/decoded_picture.h"

#include <QPoint>
#include <QSize>
#include <QString>

#include <cstdint>
#include <span>

class QObject;

// How a site connection reaches the windows and the main frame above it. The GUI implements
// these; tests implement them with fakes. All calls come on the GUI thread.
namespace orvane {

// One video channel window, as the connection sees it.
class ChannelWindow {
  public:
    virtual ~ChannelWindow() = default;

    // The window as a QObject, so the connection notices when it is destroyed.
    virtual QObject* object() = 0;

    virtual bool IsRecording() const = 0;
    // The packed frame as received (BITMAPINFOHEADER, colour table, compressed data).
    virtual void RecordFrame(std::span<const std::uint8_t> packedFrame) = 0;
    // Kept as the latest compressed frame, for snapshots.
    virtual void StoreFrame(std::span<const std::uint8_t> packedFrame) = 0;
    virtual void DrawPicture(const DecodedPicture& picture) = 0;
    // The site stopped the channel: show "Stop." and close without asking the site.
    virtual void MarkStopped() = 0;
    virtual bool IsStopped() const = 0;
    // In alarm mode: start recording and take a snapshot (posted, like commands).
    virtual void StartAlarmActions() = 0;
    // Closes the window (the window-close message).
    virtual void CloseWindow() = 0;
};

struct ChannelWindowParams {
    std::uint32_t channelId = 0;
    std::uint32_t channelNumber = 0;
    bool closePermission = false;
    BitmapInfoHeader format;  // of the channel's first frame
    QSize pictureSize;
    QPoint position;  // cascade position in the video area
};

// Where channel windows are made, and the main frame's services the connection uses.
class ChannelWindowHost {
  public:
    virtual ~ChannelWindowHost() = default;

    // nullptr when the window cannot be created.
    virtual ChannelWindow* CreateChannelWindow(const ChannelWindowParams& params) = 0;
    // Client size of the video area, for the cascade.
    virtual QSize VideoAreaSize() const = 0;
    virtual void ArrangeVideoWindows() = 0;
    virtual void PlayAlarm() = 0;
};

// Commands posted to the main frame, and its status line.
class MainFrameLink {
  public:
    virtual ~MainFrameLink() = default;
    // Queued, never run inside the caller: the dispatcher finishes its message first.
    virtual void PostCommand(int commandId) = 0;
    virtual void SetStatusLine(const QString& text) = 0;
};

// Receives event records as the site sends them (300 bytes).
class EventRecordSink {
  public:
    virtual ~EventRecordSink() = default;
    virtual void AddEventRecord(std::span<const std::uint8_t> record) = 0;
};

// Values the application keeps for all video windows: the count of open channel windows,
// where the next one goes, and the fixed window.
struct VideoWindowState {
    int openWindows = 0;
    QPoint nextPosition;
    ChannelWindow* fixedWindow = nullptr;

    static constexpr int kCascadeStepX = 28;
    static constexpr int kCascadeStepY = 22;
};

}  // namespace orvane
