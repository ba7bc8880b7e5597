#pragma once

#include "common/block.h"
#include "media/decode_workers.h"
#include "media/key_frames.h"
#include "media/live_frame.h"
#include "site/feed_watch.h"
#include "site/site_interfaces.h"

#include <QObject>
#include <QPointer>

#include <cstdint>
#include <memory>
#include <span>

namespace orvane {

// One channel the site streams to this connection: its identifiers, its window (null once
// the operator closed it), its decoder and what the channel itself is: the latest frame as
// received, whether the site stopped it, and the sink that takes its frames (a recorder).
struct ChannelLink {
    std::uint32_t channelId = 0;
    std::uint32_t channelNumber = 0;  // routes frames and stops
    ChannelWindow* window = nullptr;
    QPointer<QObject> windowObject;             // notices a window destroyed behind our back
    const QObject* windowIdentity = nullptr;    // compared, never followed
    std::shared_ptr<ChannelDecoding> decoding;  // on a worker thread
    bool decoderFailed = false;                 // logged once; the window stays without pictures
    bool markedReduced = false;                 // what the window was told of its rate
    bool stopped = false;
    // The operator asked for the channel again after closing it: its next frame makes a
    // window again.
    bool reopenRequested = false;
    FrameSink* frameSink = nullptr;
    // Decides each frame's key flag once; made with the channel's first frame.
    std::unique_ptr<KeyFrameProbe> keyProbe;
    LiveFrame latestFrame;    // exactly the bytes of the latest frame, whatever its size
    FramesSinceKey sinceKey;  // what a recording started now writes first
    std::uint64_t frames = 0;
    FeedWatch feed;  // whether the window's picture is live

    bool hasWindow() const { return window && windowObject; }
    // Checks the frame the wire parsed once and copies it once: the copy is shared by the
    // latest frame, the frames since the key frame, the recorder and the decoding.
    const LiveFrame& StoreFrame(std::span<const std::uint8_t> received, const PackedFrame& parsed) {
        if (!keyProbe) {
            keyProbe = std::make_unique<KeyFrameProbe>(parsed.header);
        }
        latestFrame = MakeLiveFrame(received, parsed, *keyProbe);
        ++frames;
        sinceKey.Add(latestFrame);
        return latestFrame;
    }
};

}  // namespace orvane
